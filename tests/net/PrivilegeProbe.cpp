// Drops to least privilege and prints the capability sets before and after,
// whether each kind of ICMP socket can still be opened (nothing is sent),
// and the sets of a child that execs grep. Run by PrivilegeTest.cpp.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/linux/Privilege.h"

// LeakSanitizer cannot stop a process that is not dumpable (file
// capabilities, set-ID), and a set-group-ID start cannot read ASAN_OPTIONS.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

int Shell(const char* command) {
  std::fflush(stdout);
  const int status = std::system(command);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool CanOpen(int type) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace

int main() {
  // Ours is read here by sed, a child: /proc/PID names this process.
  const std::string sets = "grep -e ^Cap -e ^NoNewPrivs /proc/" + std::to_string(::getpid()) + "/status | sed 's/^/";
  Shell((sets + "before /'").c_str());
  const zn7qx::linuxnet::PrivilegeOutcome outcome = zn7qx::linuxnet::DropToLeastPrivilege();
  if (!outcome.ok) {
    std::printf("refused %s\n", outcome.message.c_str());
    return 3;
  }
  Shell((sets + "after /'").c_str());
  std::printf("raw_socket %d\nping_socket %d\n", CanOpen(SOCK_RAW), CanOpen(SOCK_DGRAM));
  // The child's own: grep reads its own /proc/self/status.
  const int child = Shell("grep -e ^Cap -e ^NoNewPrivs /proc/self/status | sed 's/^/child /'");
  std::printf("child_status %d\n", child);
  return 0;
}
