#pragma once
// Unit texts and user input come from outside: shown on a terminal or in a
// CSV file they must not carry control bytes.

#include <string>
#include <string_view>

namespace zn7qx::scan {

// Printable ASCII stays; backslash becomes "\\"; every other byte (controls,
// DEL, bytes above 127) becomes "\xNN".
std::string EscapeText(std::string_view bytes);

// Each byte as the character of the same number (ISO 8859-1), in UTF-8, so
// that any reply data makes valid JSON text without losing a byte.
std::string Latin1ToUtf8(std::string_view bytes);

// JSON text (UTF-8) with every control character inside its strings written
// as a \u escape: C0 (\n too), DEL, C1 and the Unicode line and paragraph
// separators, so that the text neither acts on a terminal nor splits a line
// for readers that split on Unicode line breaks. Outside strings it is left
// as it is.
std::string EscapeJsonControls(std::string_view json);

}  // namespace zn7qx::scan
