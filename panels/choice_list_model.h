// The items behind a page's drop-down list: a few fixed texts (the
// placeholder, or a running lesson's name) followed by one column of a row
// set. The server's lists can run to a hundred thousand names, refilled at
// every login; they are held as one block of text with the end of each
// item, not as an item object each, so a refill costs two allocations and
// gives its memory back whole instead of scattering the heap.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>
#include <vector>

namespace DB_Func {
class RowSet;
}

namespace panels {

class ChoiceListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit ChoiceListModel(QObject* parent = nullptr);

  // Replaces every item: `fixed` first, then the `column` of each row in
  // order (none when rows is null). The rows are copied; they need not
  // outlive the call.
  void show(const QStringList& fixed, const DB_Func::RowSet* rows = nullptr, size_t column = 0);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  QString text_;                 // every item, one after another
  std::vector<qsizetype> ends_;  // where each item ends in text_
};

}  // namespace panels
