#pragma once
// SIGINT and SIGTERM end a sweep or a watch. They are blocked everywhere but
// inside the sweep's waits, where the handler sets the stop flag: one that
// comes just before a wait ends it at once, and none cuts a write short.
// Once the output is written, the program dies by the signal, so that a
// shell script that ran it stops too.

#include <signal.h>

#include <atomic>

namespace zn7qx::scan {

class StopSignals {
 public:
  // Installs the handler and blocks both signals, each unless it was
  // ignored from the start. One per process.
  StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  const std::atomic<bool>& stop() const;
  // The signal mask for the waits: the one before, both signals let through.
  const sigset_t& waitMask() const { return waitMask_; }
  // The signal that ended the run, caught or still pending; 0 for none.
  int Received() const;
  // Dies by the signal received, if any, as its default action does.
  void DieIfReceived() const;

 private:
  sigset_t waitMask_{};
};

}  // namespace zn7qx::scan
