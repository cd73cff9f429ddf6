#pragma once
// The one place that knows how a ZN7QX unit's echo reply is recognised. The
// window and the command-line sweep both decide through it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zn7qx {

// A reply whose data begins with exactly these characters comes from a unit.
inline constexpr std::string_view UnitReplyPrefix = "Found.";

// The unit's own text when the data is a unit's reply, else nothing. The text
// is what follows the prefix, cut at the first NUL and at maxText bytes.
// Bytes are passed through as they are (the caller shows them as plain text).
std::optional<std::string> UnitTextFromReply(std::string_view data, std::size_t maxText = 244);

}  // namespace zn7qx
