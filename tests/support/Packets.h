#pragma once
// ICMP messages and IPv4 packets as they stand on the wire, built by hand
// here (checksums summed long-hand) so that the parsers are checked against
// bytes they did not make themselves.

#include <linux/errqueue.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zn7qx::test {

using Bytes = std::vector<unsigned char>;

inline void Put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v & 0xFF);
}

inline void FixChecksum(Bytes& b, std::size_t from, std::size_t at) {
  Put16(b, at, 0);
  unsigned long sum = 0;
  for (std::size_t i = from; i < b.size(); i += 2) sum += b[i] * 256u + (i + 1 < b.size() ? b[i + 1] : 0u);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  Put16(b, at, static_cast<unsigned>(~sum & 0xFFFF));
}

inline Bytes Icmp(unsigned type, unsigned code, unsigned id, unsigned seq, const std::string& data) {
  Bytes b(8 + data.size());
  b[0] = static_cast<unsigned char>(type);
  b[1] = static_cast<unsigned char>(code);
  Put16(b, 4, id);
  Put16(b, 6, seq);
  std::copy(data.begin(), data.end(), b.begin() + 8);
  FixChecksum(b, 0, 2);
  return b;
}

// A header of 20 bytes plus optionWords of NOP options, then the body.
inline Bytes Ip(std::uint32_t src, std::uint32_t dst, const Bytes& body, unsigned protocol = 1,
                unsigned optionWords = 0) {
  const std::size_t ihl = 20 + optionWords * 4;
  Bytes b(ihl + body.size(), 1);  // NOP options
  b[0] = static_cast<unsigned char>(0x40 | (ihl / 4));
  b[1] = 0x10;  // TOS
  Put16(b, 2, static_cast<unsigned>(ihl + body.size()));
  Put16(b, 4, 0);
  Put16(b, 6, 0x4000);  // don't fragment
  b[8] = 57;            // TTL
  b[9] = static_cast<unsigned char>(protocol);
  Put16(b, 10, 0);
  std::memcpy(b.data() + 12, &src, 4);
  std::memcpy(b.data() + 16, &dst, 4);
  std::copy(body.begin(), body.end(), b.begin() + static_cast<std::ptrdiff_t>(ihl));
  return b;
}

// An ICMP error of this type and code, sent by `from`, quoting `quoted`.
inline Bytes ErrorPacket(unsigned type, unsigned code, std::uint32_t from, std::uint32_t to, const Bytes& quoted) {
  return Ip(from, to, Icmp(type, code, 0, 0, std::string(quoted.begin(), quoted.end())));
}

// What a ping socket's error queue hands over: the extended error, and the
// offender's address when one came.
inline Bytes ExtendedError(std::uint8_t origin, std::uint8_t type, std::uint8_t code, std::uint32_t error,
                           std::optional<std::uint32_t> offender) {
  sock_extended_err ee{};
  ee.ee_errno = error;
  ee.ee_origin = origin;
  ee.ee_type = type;
  ee.ee_code = code;
  Bytes b(sizeof ee);
  std::memcpy(b.data(), &ee, sizeof ee);
  if (offender) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = *offender;
    b.resize(b.size() + sizeof sin);
    std::memcpy(b.data() + sizeof ee, &sin, sizeof sin);
  }
  return b;
}

}  // namespace zn7qx::test
