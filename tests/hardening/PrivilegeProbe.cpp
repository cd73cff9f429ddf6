// Prints the capability sets before and after DropToLeastPrivilege, whether
// each kind of ICMP socket can still be opened (nothing is sent), and the
// sets of a child that execs grep. The privilege tests run it under file
// capabilities, as root, and setuid.
#include "net/linux/Privilege.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

// Started set-group-ID, the process cannot read its own /proc/self/environ,
// so ASAN_OPTIONS would not reach the sanitizer; and LeakSanitizer cannot
// stop the world of a process that is not dumpable. Leaks are checked by the
// rest of the suite.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

void PrintStatus(const std::string& prefix) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Cap", 0) == 0 || line.rfind("NoNewPrivs", 0) == 0)
      std::cout << prefix << ' ' << line << '\n';
  }
}

bool CanOpen(int type) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The child's own view of itself: grep reads its own /proc/self/status.
int PrintChild() {
  int out[2];
  if (::pipe(out) != 0) return -1;
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    char grep[] = "grep";
    char pattern[] = "-e";
    char cap[] = "^Cap";
    char pattern2[] = "-e";
    char nnp[] = "^NoNewPrivs";
    char file[] = "/proc/self/status";
    char* argv[] = {grep, pattern, cap, pattern2, nnp, file, nullptr};
    ::execvp("grep", argv);
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::cout << "child " << text.substr(start, end - start) << '\n';
    start = end + 1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
  PrintStatus("before");
  const zn7qx::linuxnet::PrivilegeOutcome outcome = zn7qx::linuxnet::DropToLeastPrivilege();
  if (!outcome.ok) {
    std::cout << "refused " << outcome.message << std::endl;
    return 3;
  }
  std::cout << "kept_net_raw " << outcome.keptNetRaw << '\n';
  PrintStatus("after");
  std::cout << "raw_socket " << CanOpen(SOCK_RAW) << '\n';
  std::cout << "ping_socket " << CanOpen(SOCK_DGRAM) << '\n';
  const int grep = PrintChild();
  std::cout << "child_status " << grep << std::endl;
  return 0;
}
