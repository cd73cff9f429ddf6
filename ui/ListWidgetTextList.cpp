#include "ui/ListWidgetTextList.h"

#include <QByteArray>
#include <QListWidgetItem>

namespace zn7qx {

QString VisibleText(const std::string& bytes) {
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = QChar(QChar::ReplacementCharacter);
  }
  return text;
}

void ListWidgetTextList::Append(const std::string& text) {
  auto* item = new QListWidgetItem(VisibleText(text));
  item->setData(Qt::UserRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  if (itemColour_) item->setForeground(*itemColour_);
  list_.addItem(item);
}

std::string ListWidgetTextList::Item(int index) const {
  const QListWidgetItem* item = list_.item(index);
  if (item == nullptr) return {};
  return item->data(Qt::UserRole).toByteArray().toStdString();
}

void ListWidgetTextList::Remove(int index) { delete list_.takeItem(index); }

int ListWidgetTextList::Count() const { return list_.count(); }

void ListWidgetTextList::Clear() { list_.clear(); }

}  // namespace zn7qx
