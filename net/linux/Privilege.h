#pragma once
// Least privilege for the programs: called first thing in main(), before any
// thread exists, because capability sets belong to the calling thread.
//
// The probe needs at most one privilege, CAP_NET_RAW, and only where the
// unprivileged ICMP datagram ("ping") socket is not allowed. Everything else
// is dropped, nothing can be inherited, and exec can never gain anything
// again (no setuid, no file capabilities: PR_SET_NO_NEW_PRIVS).

#include <string>
#include <string_view>

namespace zn7qx::linuxnet {

struct PrivilegeOutcome {
  bool ok = false;          // false: the program must not go on
  bool keptNetRaw = false;  // CAP_NET_RAW stays permitted and effective
  std::string message;      // why it must not go on; empty when ok
};

// Refuses a set-user-ID or set-group-ID start (real, effective and saved ids
// must agree). Keeps CAP_NET_RAW only when the process holds it and the ping
// socket cannot be opened; drops every other capability from the permitted,
// effective and inheritable sets, clears the ambient set, empties the
// bounding set where allowed to (so that even a root child gains nothing)
// and sets no_new_privs.
PrivilegeOutcome DropToLeastPrivilege();

// For main(): DropToLeastPrivilege, and on failure "program: message" on
// standard error and exit with failureStatus.
void EnforceLeastPrivilege(std::string_view program, int failureStatus = 1);

// The first check of DropToLeastPrivilege on its own, for a program that
// must do some privileged set-up before it drops: refuses a set-user-ID or
// set-group-ID start the same way. Empty when the ids agree.
std::string SetIdStartProblem();
void RefuseSetIdStart(std::string_view program, int failureStatus = 1);

// Whether an unprivileged ICMP datagram socket can be opened here (nothing
// is sent).
bool PingSocketUsable();

}  // namespace zn7qx::linuxnet
