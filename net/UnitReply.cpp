#include "net/UnitReply.h"

#include <algorithm>

namespace zn7qx {

std::optional<std::string> UnitTextFromReply(std::string_view data, std::size_t maxText) {
  if (data.substr(0, UnitReplyPrefix.size()) != UnitReplyPrefix) return std::nullopt;
  std::string_view text = data.substr(UnitReplyPrefix.size());
  text = text.substr(0, std::min({text.find('\0'), maxText, text.size()}));
  return std::string(text);
}

}  // namespace zn7qx
