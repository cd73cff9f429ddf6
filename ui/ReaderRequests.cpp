#include "ui/ReaderRequests.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QEvent>

namespace zn7qx {

bool ReaderRequests::Answer() {
  if (!QAccessible::isActive()) return false;
  // The bridge's connection to the accessibility bus, and its objects there:
  // every accessible object's requests, and the cache's.
  static const std::array<QString, 2> paths{QStringLiteral("/org/a11y/atspi/accessible"),
                                            QStringLiteral("/org/a11y/atspi/cache")};
  const long before = answered_;
  for (std::size_t i = 0; i < bridge_.size(); ++i) {
    if (bridge_[i].isNull()) {
      bridge_[i] = QDBusConnection(QStringLiteral("a11y")).objectRegisteredAt(paths[i]);
      if (bridge_[i]) bridge_[i]->installEventFilter(this);
    }
    if (bridge_[i]) QCoreApplication::sendPostedEvents(bridge_[i], QEvent::MetaCall);
  }
  return answered_ != before;
}

bool ReaderRequests::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MetaCall) ++answered_;
  return QObject::eventFilter(watched, event);
}

}  // namespace zn7qx
