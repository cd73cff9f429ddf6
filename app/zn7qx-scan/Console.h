#pragma once
// What the program writes besides its results, and how it knows where its
// output goes.

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

namespace zn7qx::cli {

// Whether standard output is the system journal (systemd's JOURNAL_STREAM
// names its device and inode), which reads a "<N>" priority before a line.
bool StandardOutputIsTheJournal();

// While one lives, and standard error is the journal, each line written to
// std::cerr that does not begin with a "<N>" priority gets "<3>" (err), so
// that journalctl -p warning shows why a run stopped.
class JournalErrors {
 public:
  JournalErrors();
  ~JournalErrors();
  JournalErrors(const JournalErrors&) = delete;
  JournalErrors& operator=(const JournalErrors&) = delete;
  // Whether standard error is the journal, where "<N>" prefixes are read.
  static bool Active();

 private:
  class Prefixer;
  std::streambuf* before_ = nullptr;
  std::unique_ptr<Prefixer> prefixer_;
};

// "<N>" where standard error is the journal, else nothing: for a line of
// another priority than err.
std::string StandardErrorPriority(int priority);

// Whether the terminal on standard error can take the progress line's
// carriage return and erase-line code.
bool TerminalDrawsProgress();

// Writes "zn7qx-scan: message" on standard error; returns status.
int Fail(int status, const std::string& message);

// Whether everything written to standard output since errno was cleared got
// out; says why not, once.
bool WrittenOut();

// What the run writes besides its results: a line on standard error, which
// first clears the progress line where one is drawn.
struct Voice {
  bool progress = false;
  // An error unless priority says otherwise (4, a warning).
  void Say(const std::string& message, int priority = 3) const {
    std::cerr << (progress ? "\r\033[K" : "") << StandardErrorPriority(priority) << "zn7qx-scan: " << message << '\n'
              << std::flush;
  }
  void Clear() const {
    if (progress) std::cerr << "\r\033[K" << std::flush;
  }
};

}  // namespace zn7qx::cli
