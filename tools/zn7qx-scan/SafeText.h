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

}  // namespace zn7qx::scan
