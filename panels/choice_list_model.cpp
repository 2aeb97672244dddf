#include "panels/choice_list_model.h"

#include "store/row_set.h"
#include "sys/qt_text.h"

namespace panels {

ChoiceListModel::ChoiceListModel(QObject* parent) : QAbstractListModel(parent) {}

void ChoiceListModel::show(const QStringList& fixed, const DB_Func::RowSet* rows, size_t column) {
  beginResetModel();
  // Built beside the old items and swapped in, so the old block is freed
  // whole and the new one is exactly as large as it needs to be.
  QString text;
  std::vector<qsizetype> ends;
  const size_t rowCount = rows ? rows->rowCount() : 0;
  ends.reserve(static_cast<size_t>(fixed.size()) + rowCount);
  for (const QString& item : fixed) {
    text += item;
    ends.push_back(text.size());
  }
  for (size_t row = 0; row < rowCount; ++row) {
    text += text::toQString(rows->at(row, column));
    ends.push_back(text.size());
  }
  text.squeeze();
  text_.swap(text);
  ends_.swap(ends);
  endResetModel();
}

int ChoiceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(ends_.size());
}

QVariant ChoiceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  const size_t item = static_cast<size_t>(index.row());
  const qsizetype begin = item == 0 ? 0 : ends_[item - 1];
  return text_.mid(begin, ends_[item] - begin);
}

}  // namespace panels
