#include "ui/AccessibleWindow.h"

#include <QAccessibleWidget>
#include <QList>
#include <QWidget>

#include "ui/frmMain.h"

namespace zn7qx {

namespace {

class AccessibleWindow final : public QAccessibleWidget {
 public:
  explicit AccessibleWindow(QWidget* window) : QAccessibleWidget(window) {}

  int childCount() const override { return static_cast<int>(Shown().size()); }

  QAccessibleInterface* child(int index) const override {
    const QList<QWidget*> shown = Shown();
    return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown[index]) : nullptr;
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    return child == nullptr ? -1 : static_cast<int>(Shown().indexOf(qobject_cast<QWidget*>(child->object())));
  }

 private:
  QList<QWidget*> Shown() const {
    QList<QWidget*> shown;
    for (QObject* object : widget()->children()) {
      auto* child = qobject_cast<QWidget*>(object);
      if (child != nullptr && !child->isWindow() && !child->isHidden()) shown.append(child);
    }
    return shown;
  }
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  auto* window = qobject_cast<frmMain*>(object);
  return window == nullptr ? nullptr : new AccessibleWindow(window);
}

}  // namespace

void InstallAccessibleWindow() {
  static const bool installed = (QAccessible::installFactory(Factory), true);
  (void)installed;
}

}  // namespace zn7qx
