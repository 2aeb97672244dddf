// The layout the two history views share: the date range at the top, a page
// of entries between dividers, and the paging buttons. The views fill the
// entries from edu.db; this file only places and pages them.
#pragma once

#include <QColor>
#include <QDate>
#include <QPoint>
#include <QSize>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QDateEdit;
class QLabel;
class QPushButton;

namespace panels {

// A horizontal line across the whole surface.
void addDivider(QWidget* surface, int top, int thickness);
// A small flat button with a thin frame.
QPushButton* flatButton(QWidget* parent, const char* name, const QPoint& at, const QSize& size,
                        const std::string& text);

// What one entry shows: its first line, the two notes below it, and the
// colour of its round marker (invalid: none).
struct EntryTexts {
  std::string line;
  std::string firstNote;
  std::string secondNote;
  QColor marker;
};

// Where a view's entries and paging stand.
struct HistoryGeometry {
  int entries = 5;    // per page
  int firstTop = 70;  // top of the first entry
  int height = 70;    // from one entry to the next
  int textLeft = 12;  // the first line and the first note
  int secondLeft = 210;
  bool markers = false;
  QPoint previous, number, next;  // "<", the page number, ">"
};

// The paged list of a history view: "DateTimePicker1", "Label7" ("至"),
// "DateTimePicker2" and the ">>" button "FlatButton3" that applies the date
// range; the entries; "FlatButton1" ("<"), the page number "Label18" and
// "FlatButton2" (">").
class HistoryList : public QObject {
  Q_OBJECT

 public:
  HistoryList(QWidget* surface, const HistoryGeometry& geometry);

  // The entries of every page, newest first, each with the date it belongs
  // to. The page shown stays where it was when it still exists.
  void setEntries(std::vector<std::pair<QDate, EntryTexts>> entries);

  int pageCount() const;
  int currentPage() const { return page_; }  // from 0
  void showPage(int page);
  // Only entries from `from` to `to` (both included); the ">>" button takes
  // them from the date pickers.
  void setDateRange(const QDate& from, const QDate& to);
  // The texts shown now, for the entries of the current page.
  std::vector<EntryTexts> shownEntries() const;

  QPushButton* previousButton = nullptr;
  QPushButton* nextButton = nullptr;
  QLabel* pageNumber = nullptr;
  QDateEdit* fromPicker = nullptr;
  QDateEdit* toPicker = nullptr;
  QPushButton* rangeButton = nullptr;

 private:
  struct Row {
    QWidget* marker = nullptr;
    QLabel* line = nullptr;
    QLabel* firstNote = nullptr;
    QLabel* secondNote = nullptr;
  };
  std::vector<const EntryTexts*> visible() const;

  HistoryGeometry geometry_;
  std::vector<Row> rows_;
  std::vector<std::pair<QDate, EntryTexts>> entries_;
  QDate from_, to_;
  int page_ = 0;
};

// "2026-12-10  09:05 周四": date, time and weekday of a stored local time
// ("yyyy-MM-dd HH:mm:ss"), in GBK.
std::string entryDateText(const std::string& localTime);
QDate entryDate(const std::string& localTime);

}  // namespace panels
