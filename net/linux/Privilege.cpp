#include "net/linux/Privilege.h"

#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace zn7qx::linuxnet {
namespace {

PrivilegeOutcome Refuse(std::string message) {
  return PrivilegeOutcome{false, false, std::move(message)};
}

std::string Failure(const char* what) {
  return std::string(what) + " failed: " + std::strerror(errno);
}

bool HasFlag(cap_t caps, cap_value_t cap, cap_flag_t flag) {
  cap_flag_value_t value = CAP_CLEAR;
  return cap_get_flag(caps, cap, flag, &value) == 0 && value == CAP_SET;
}

}  // namespace

bool PingSocketUsable() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string SetIdStartProblem() {
  uid_t ruid = 0, euid = 0, suid = 0;
  gid_t rgid = 0, egid = 0, sgid = 0;
  if (::getresuid(&ruid, &euid, &suid) != 0 || ::getresgid(&rgid, &egid, &sgid) != 0)
    return Failure("reading the user and group ids");
  if (ruid != euid || ruid != suid)
    return "refusing to run set-user-ID (real user " + std::to_string(ruid) + ", effective user " +
           std::to_string(euid) +
           "); remove the setuid bit: the program needs no more than CAP_NET_RAW, "
           "and only where ping sockets are not allowed";
  if (rgid != egid || rgid != sgid)
    return "refusing to run set-group-ID (real group " + std::to_string(rgid) + ", effective group " +
           std::to_string(egid) +
           "); remove the setgid bit: the program needs no more than CAP_NET_RAW, "
           "and only where ping sockets are not allowed";
  return {};
}

PrivilegeOutcome DropToLeastPrivilege() {
  if (std::string problem = SetIdStartProblem(); !problem.empty()) return Refuse(std::move(problem));

  cap_t current = cap_get_proc();
  if (current == nullptr) return Refuse(Failure("reading the capabilities"));
  const bool hasNetRaw = HasFlag(current, CAP_NET_RAW, CAP_PERMITTED);
  const bool canShrinkBounding = HasFlag(current, CAP_SETPCAP, CAP_EFFECTIVE);
  cap_free(current);

  // The ping socket needs no capability; the raw socket is the fallback only.
  const bool keepNetRaw = hasNetRaw && !PingSocketUsable();

  // Without the bounding set a child of root gains nothing at exec either.
  // Only a process holding CAP_SETPCAP (root) can shrink it; for everyone
  // else empty inheritable and ambient sets already leave children bare.
  if (canShrinkBounding) {
    for (cap_value_t cap = 0; cap < static_cast<cap_value_t>(cap_max_bits()); ++cap) {
      if (CAP_IS_SUPPORTED(cap) && cap_drop_bound(cap) != 0)
        return Refuse(Failure("shrinking the capability bounding set"));
    }
  }

  if (cap_reset_ambient() != 0 && errno != EINVAL)
    return Refuse(Failure("clearing the ambient capabilities"));

  cap_t next = cap_init();  // all three sets empty
  if (next == nullptr) return Refuse(Failure("preparing the capabilities"));
  if (keepNetRaw) {
    const cap_value_t raw[] = {CAP_NET_RAW};
    if (cap_set_flag(next, CAP_PERMITTED, 1, raw, CAP_SET) != 0 ||
        cap_set_flag(next, CAP_EFFECTIVE, 1, raw, CAP_SET) != 0) {
      cap_free(next);
      return Refuse(Failure("preparing the capabilities"));
    }
  }
  const int set = cap_set_proc(next);
  cap_free(next);
  if (set != 0) return Refuse(Failure("dropping capabilities"));

  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return Refuse(Failure("setting no_new_privs"));

  return PrivilegeOutcome{true, keepNetRaw, {}};
}

namespace {

// At once: a start refused runs nothing more, not even exit handlers.
[[noreturn]] void Stop(std::string_view program, const std::string& message, int failureStatus) {
  // Through std::cerr, where a program may mark its lines for the journal.
  std::cerr << program << ": " << message << std::endl;
  std::_Exit(failureStatus);
}

}  // namespace

void EnforceLeastPrivilege(std::string_view program, int failureStatus) {
  const PrivilegeOutcome outcome = DropToLeastPrivilege();
  if (!outcome.ok) Stop(program, outcome.message, failureStatus);
}

void RefuseSetIdStart(std::string_view program, int failureStatus) {
  if (std::string problem = SetIdStartProblem(); !problem.empty()) Stop(program, problem, failureStatus);
}

}  // namespace zn7qx::linuxnet
