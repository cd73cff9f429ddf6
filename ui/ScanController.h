#pragma once
// The window's handlers: scan commands, the scan tick, opening, closing and
// the default range. No toolkit here; the window forwards its events.

#include "ui/ScanSeams.h"
#include "ui/ScanView.h"

namespace zn7qx {

inline constexpr int kMaxScanAddresses = 512;

class ScanController {
 public:
  ScanController(ScanView& view, ScanSeams seams);
  ~ScanController();
  ScanController(const ScanController&) = delete;
  ScanController& operator=(const ScanController&) = delete;

  void BeginScan();
  void CancelScan();
  void PingTick(int index);
  void SetDefaultRange();

  // Window opened: sockets start-up, adapter message sink, default range.
  void OnOpen();
  // Once after opening: tells the user when no ICMP echo socket can be opened,
  // since every probe would fail and a scan would look like an empty network.
  void NotifyIfEchoNotPermitted();
  // Window closed: ends a scan in progress and releases what OnOpen took.
  // Safe to call more than once.
  void OnClose();

 private:
  void ShowCritical(const std::string& title, const std::string& text);

  ScanView& view_;
  ScanSeams seams_;
  bool open_ = false;
};

}  // namespace zn7qx
