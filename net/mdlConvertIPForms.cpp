#include "net/mdlConvertIPForms.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace zn7qx {

NetworkAddress DottedToNetwork(std::string_view text) {
  // inet_addr reads up to the first NUL; a text with one inside would be
  // accepted for its prefix, so refuse it like any other unparsable text.
  if (text.find('\0') != std::string_view::npos) return kParseFailure;
  const std::string zeroTerminated(text);
  const in_addr_t parsed = inet_addr(zeroTerminated.c_str());
  return static_cast<NetworkAddress>(parsed);
}

std::string NetworkToDotted(NetworkAddress address) {
  in_addr in{};
  in.s_addr = static_cast<in_addr_t>(address);
  // inet_ntoa returns a static buffer that its next call reuses: copy at once.
  return StringFromPointer(inet_ntoa(in));
}

std::string StringFromPointer(const char* pointer) {
  if (pointer == nullptr) return {};
  return std::string(pointer, std::strlen(pointer));
}

}  // namespace zn7qx
