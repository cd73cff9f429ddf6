#pragma once
// A QListWidget seen as the controller's ordered list of texts.

#include <QColor>
#include <QListWidget>
#include <QString>
#include <optional>
#include <string>

#include "ui/ScanView.h"

namespace zn7qx {

// Each byte of a text is one Latin-1 character, so any reply bytes survive the
// round trip; control characters are drawn as U+FFFD so a unit's text can
// neither break lines nor hide characters. The exact bytes stay in Qt::UserRole.
QString VisibleText(const std::string& bytes);

class ListWidgetTextList final : public TextList {
 public:
  explicit ListWidgetTextList(QListWidget& list, std::optional<QColor> itemColour = std::nullopt)
      : list_(list), itemColour_(itemColour) {}

  void Append(const std::string& text) override;
  std::string Item(int index) const override;
  void Remove(int index) override;
  int Count() const override;
  void Clear() override;

 private:
  QListWidget& list_;
  std::optional<QColor> itemColour_;
};

}  // namespace zn7qx
