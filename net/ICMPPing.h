#pragma once
// The echo probe: sockets start-up pair, one ICMP echo with the discovery
// payload, and the table of status texts.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zn7qx {

// The echo request data: 98 bytes, no terminator.
inline constexpr std::string_view ProbePayload =
    "Finding Morvalent ZN7QX.abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!@#$%^&*(){}";
static_assert(ProbePayload.size() == 98);

inline constexpr int PingTimeoutMs = 300;

// IP status codes.
inline constexpr std::int32_t IP_SUCCESS = 0;
inline constexpr std::int32_t IP_BUF_TOO_SMALL = 11001;
inline constexpr std::int32_t IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr std::int32_t IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr std::int32_t IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr std::int32_t IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr std::int32_t IP_NO_RESOURCES = 11006;
inline constexpr std::int32_t IP_BAD_OPTION = 11007;
inline constexpr std::int32_t IP_HW_ERROR = 11008;
inline constexpr std::int32_t IP_PACKET_TOO_BIG = 11009;
inline constexpr std::int32_t IP_REQ_TIMED_OUT = 11010;
inline constexpr std::int32_t IP_BAD_REQ = 11011;
inline constexpr std::int32_t IP_BAD_ROUTE = 11012;
inline constexpr std::int32_t IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr std::int32_t IP_TTL_EXPIRED_REASSEM = 11014;
inline constexpr std::int32_t IP_PARAM_PROBLEM = 11015;
inline constexpr std::int32_t IP_SOURCE_QUENCH = 11016;
inline constexpr std::int32_t IP_OPTION_TOO_BIG = 11017;
inline constexpr std::int32_t IP_BAD_DESTINATION = 11018;
inline constexpr std::int32_t IP_NEGOTIATING_IPSEC = 11032;
inline constexpr std::int32_t IP_GENERAL_FAILURE = 11050;

#pragma pack(push, 1)
struct IP_OPTION_INFORMATION {
  std::uint8_t Ttl;
  std::uint8_t Tos;
  std::uint8_t Flags;
  std::uint8_t OptionsSize;
  std::uint32_t OptionsData;
};

// The reply record a probe fills. Callers read Status and Data.
struct ICMP_ECHO_REPLY {
  std::uint32_t Address;  // network byte order
  std::int32_t Status;
  std::uint32_t RoundTripTime;
  std::uint16_t DataSize;
  std::uint16_t Reserved;
  std::uint32_t DataPointer;
  IP_OPTION_INFORMATION Options;
  char Data[250];  // reply data, zero-filled after its end
};
#pragma pack(pop)
static_assert(sizeof(ICMP_ECHO_REPLY) == 278);

// Linux needs no start-up; the count keeps callers' pairing honest.
bool SocketsInitialize();
void SocketsCleanup();
// Start-ups not yet released (never below 0).
int SocketsStartupCount();

// Called every few milliseconds while a probe waits for its reply, on the
// probing thread; it tells whether it found anything to do, and is then
// called again soon.
using PingWaitHook = std::function<bool()>;

// One echo request with ProbePayload to the dotted-quad address, up to 300 ms.
// Clears and fills reply; returns reply.Status, or -1 when nothing was sent.
std::int32_t Ping(const std::string& address, ICMP_ECHO_REPLY& reply, const PingWaitHook& whileWaiting = {});

std::string GetStatusText(std::int32_t status);

// Whether this process may open any ICMP echo socket (ping socket or raw).
bool EchoPermitted();
// What a user can do about it; shown by the window and the sweep alike.
std::string_view EchoPermissionAdvice();

}  // namespace zn7qx
