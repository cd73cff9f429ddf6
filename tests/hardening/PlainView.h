#pragma once
// The window's lists as plain vectors, so that the controller can be driven
// tick by tick without a display.

#include <string>
#include <vector>

#include "ui/ScanView.h"

namespace zn7qx::hardening {

class PlainList : public TextList {
 public:
  void Append(const std::string& text) override { items.push_back(text); }
  std::string Item(int index) const override { return items.at(static_cast<std::size_t>(index)); }
  void Remove(int index) override { items.erase(items.begin() + index); }
  int Count() const override { return static_cast<int>(items.size()); }
  void Clear() override { items.clear(); }
  std::vector<std::string> items;
};

class PlainView : public ScanView {
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
  void SetTimerEnabled(int) override {}

  std::string start, end, status, lastError;
  PlainList queue, units, others;
  std::vector<MessageBoxRequest> messages;
};

}  // namespace zn7qx::hardening
