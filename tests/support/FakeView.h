#pragma once
// A ScanView over plain containers, recording what the controller showed, so
// the controller can be driven without a display.

#include <string>
#include <vector>

#include "ui/ScanView.h"

namespace zn7qx::test {

class FakeTextList final : public TextList {
 public:
  void Append(const std::string& text) override { items.push_back(text); }
  std::string Item(int index) const override { return items.at(static_cast<std::size_t>(index)); }
  void Remove(int index) override {
    (void)items.at(static_cast<std::size_t>(index));  // out of range throws
    items.erase(items.begin() + index);
  }
  int Count() const override { return static_cast<int>(items.size()); }
  void Clear() override { items.clear(); }

  std::vector<std::string> items;
};

class FakeView final : public ScanView {
 public:
  std::string StartText() const override { return start; }
  void SetStartText(const std::string& text) override { start = text; }
  std::string EndText() const override { return end; }
  void SetEndText(const std::string& text) override { end = text; }
  TextList& Queue() override { return queue; }
  TextList& Units() override { return units; }
  TextList& Others() override { return others; }
  void SetStatusText(const std::string& text) override { status = text; }
  void SetLastErrorText(const std::string& text) override { lastError = text; }
  void ShowMessage(const MessageBoxRequest& request) override { messages.push_back(request); }
  void SetTimerEnabled(int index) override { timersEnabled.push_back(index); }

  std::string start = "192.168.1.1", end = "192.168.1.254";
  FakeTextList queue, units, others;
  std::string status = "Waiting to begin scan...", lastError;
  std::vector<MessageBoxRequest> messages;
  std::vector<int> timersEnabled;
};

}  // namespace zn7qx::test
