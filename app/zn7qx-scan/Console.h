#pragma once
// What the program writes besides its results, and how it knows where its
// output goes.

#include <iostream>
#include <string>

namespace zn7qx::cli {

// Whether standard output is the system journal (systemd's JOURNAL_STREAM
// names its device and inode), which reads a "<N>" priority before a line.
bool StandardOutputIsTheJournal();

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
  void Say(const std::string& message) const {
    std::cerr << (progress ? "\r\033[K" : "") << "zn7qx-scan: " << message << '\n' << std::flush;
  }
  void Clear() const {
    if (progress) std::cerr << "\r\033[K" << std::flush;
  }
};

}  // namespace zn7qx::cli
