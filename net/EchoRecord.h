#pragma once
// Filling the caller's reply record from what the echo socket received.

#include <cstdint>

#include "net/ICMPPing.h"
#include "net/linux/IcmpPacket.h"

namespace zn7qx {

// Address, status, round trip, TTL/TOS/flags and data. Data longer than the
// record's 250-byte area is cut there, and DataSize says how many bytes were
// kept; the rest of the area stays as it was (zeros after a clear).
void FillEchoReply(ICMP_ECHO_REPLY& reply, const linuxnet::EchoEvent& event, std::uint32_t roundTripMs);

}  // namespace zn7qx
