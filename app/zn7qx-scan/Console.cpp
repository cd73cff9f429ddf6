#include "app/zn7qx-scan/Console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace zn7qx::cli {

namespace {

bool IsTheJournal(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat about {};
  if (stream == nullptr || fstat(fd, &about) != 0) return false;
  return std::string(stream) == std::to_string(about.st_dev) + ":" + std::to_string(about.st_ino);
}

bool g_journalErrors = false;

}  // namespace

bool StandardOutputIsTheJournal() { return IsTheJournal(STDOUT_FILENO); }

// Holds the first bytes of each line until it knows whether they are a
// priority already.
class JournalErrors::Prefixer final : public std::streambuf {
 public:
  explicit Prefixer(std::streambuf* out) : out_(out) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    if (!lineStarted_) {
      head_ += ch;
      const bool priority = head_.size() == 3 && head_[0] == '<' && head_[1] >= '0' && head_[1] <= '7' && head_[2] == '>';
      const bool stillPossible = head_[0] == '<' && head_.size() < 3 && ch != '\n';
      if (stillPossible) return c;
      if (!Emit(priority)) return traits_type::eof();
    } else if (out_->sputc(ch) == traits_type::eof()) {
      return traits_type::eof();
    }
    if (ch == '\n') lineStarted_ = false;
    return c;
  }
  int sync() override {
    if (!head_.empty() && !Emit(false)) return -1;
    return out_->pubsync();
  }

 private:
  bool Emit(bool hasPriority) {
    const std::string line = (hasPriority ? "" : "<3>") + head_;
    head_.clear();
    lineStarted_ = line.back() != '\n';
    return out_->sputn(line.data(), static_cast<std::streamsize>(line.size())) ==
           static_cast<std::streamsize>(line.size());
  }
  std::streambuf* out_;
  std::string head_;
  bool lineStarted_ = false;
};

JournalErrors::JournalErrors() {
  if (!IsTheJournal(STDERR_FILENO)) return;
  g_journalErrors = true;
  prefixer_ = std::make_unique<Prefixer>(std::cerr.rdbuf());
  before_ = std::cerr.rdbuf(prefixer_.get());
}

JournalErrors::~JournalErrors() {
  if (prefixer_ == nullptr) return;
  std::cerr.flush();
  std::cerr.rdbuf(before_);
  g_journalErrors = false;
}

bool JournalErrors::Active() { return g_journalErrors; }

std::string StandardErrorPriority(int priority) {
  return g_journalErrors ? "<" + std::to_string(priority) + ">" : "";
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
