#include "app/zn7qx-scan/Console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace zn7qx::cli {

bool StandardOutputIsTheJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat about {};
  if (stream == nullptr || fstat(STDOUT_FILENO, &about) != 0) return false;
  return std::string(stream) == std::to_string(about.st_dev) + ":" + std::to_string(about.st_ino);
}

bool TerminalDrawsProgress() {
  if (isatty(STDERR_FILENO) != 1) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

int Fail(int status, const std::string& message) {
  std::cerr << "zn7qx-scan: " << message << '\n';
  return status;
}

bool WrittenOut() {
  std::cout.flush();
  if (std::cout) return true;
  static bool said = false;
  if (!std::exchange(said, true))
    std::cerr << "zn7qx-scan: write error on standard output: " << (errno != 0 ? std::strerror(errno) : "write error")
              << '\n';
  return false;
}

}  // namespace zn7qx::cli
