#pragma once
// A screen reader's requests, answered on their own while the window's
// thread is busy: Qt's accessibility bridge receives them from the bus on a
// thread of its own and posts them to this one as calls to its two objects.
// Only those calls are delivered here; no input, timer or other event comes
// with them, so none of the window's handlers runs.

#include <QObject>
#include <QPointer>
#include <array>

namespace zn7qx {

class ReaderRequests final : public QObject {
 public:
  // Answers what the reader has asked so far; whether there was anything.
  bool Answer();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QPointer<QObject>, 2> bridge_;
  long answered_ = 0;
};

}  // namespace zn7qx
