#pragma once
// What the scan controller needs from the window. The window implements it
// with its widgets; tests implement it with plain containers.

#include <string>

#include "net/ICMPPing.h"

namespace zn7qx {

// An ordered list of texts: item 0 is the oldest, items stay in append order.
class TextList {
 public:
  virtual ~TextList() = default;
  virtual void Append(const std::string& text) = 0;
  // Precondition: 0 <= index < Count().
  virtual std::string Item(int index) const = 0;
  // Later items move up by one. Precondition: 0 <= index < Count().
  virtual void Remove(int index) = 0;
  virtual int Count() const = 0;
  virtual void Clear() = 0;
};

enum class MessageIcon { None, Critical, Warning };

// A modal box with a single OK button. Lines in text are separated by CRLF.
struct MessageBoxRequest {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::None;
};

class ScanView {
 public:
  virtual ~ScanView() = default;

  virtual std::string StartText() const = 0;
  virtual void SetStartText(const std::string& text) = 0;
  virtual std::string EndText() const = 0;
  virtual void SetEndText(const std::string& text) = 0;

  virtual TextList& Queue() = 0;   // lstIpToScan
  virtual TextList& Units() = 0;   // lstIpZN7QX
  virtual TextList& Others() = 0;  // lstIpOther

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetLastErrorText(const std::string& text) = 0;

  // Returns once the user has dismissed the box.
  virtual void ShowMessage(const MessageBoxRequest& request) = 0;

  // Enables element index of tmrPing; an element already running keeps its pace.
  virtual void SetTimerEnabled(int index) = 0;

  // What to do while a probe waits for its reply (see PingWaitHook), empty
  // when nothing: no handler of the window may run there, only what must not
  // wait for the probe, such as a screen reader's questions.
  virtual PingWaitHook WhileProbeWaits() { return {}; }
};

}  // namespace zn7qx
