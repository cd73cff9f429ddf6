#include "scan/StopSignals.h"

namespace zn7qx::scan {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};

extern "C" void OnStopSignal(int signal) {
  g_signal.store(signal);
  g_stop.store(true);
}

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigset_t both;
  sigemptyset(&both);
  for (const int signal : kSignals) {
    // One ignored from the start stays so, as a shell's background job has
    // SIGINT: Ctrl-C is not meant for it.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
    sigaddset(&both, signal);
  }
  sigprocmask(SIG_BLOCK, &both, &waitMask_);
  for (const int signal : kSignals)
    if (sigismember(&both, signal) == 1) sigdelset(&waitMask_, signal);
}

const std::atomic<bool>& StopSignals::stop() const { return g_stop; }

int StopSignals::Received() const {
  if (const int caught = g_signal.load()) return caught;
  sigset_t pending;
  sigpending(&pending);
  for (const int signal : kSignals)
    if (sigismember(&pending, signal) == 1) return signal;
  return 0;
}

void StopSignals::DieIfReceived() const {
  const int signal = Received();
  if (signal == 0) return;
  // Pending while blocked, then delivered with the default action.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

}  // namespace zn7qx::scan
