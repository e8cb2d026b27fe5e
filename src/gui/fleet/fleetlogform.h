// TFleetLogForm: "Журнал доставок", every delivery attempt of the register's
// log (start and end, board, groups, line, operator, set, image size and
// SHA-256, attempt, outcome and the exact message), narrowed by a board, a
// group and a period, and exported to a CSV file for a spreadsheet.
//
// The CSV file is UTF-8 with a byte-order mark and semicolons between the
// fields: a spreadsheet on a Russian desktop (Excel and LibreOffice alike)
// opens it in columns with the Cyrillic intact, where plain UTF-8 or commas
// would give one garbled column. It is written whole or not at all.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "fleet/register.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;

namespace lentar::gui {

class TFleetLogForm : public QWidget {
  Q_OBJECT

 public:
  // reg: the register the fleet window works with (used on this thread).
  TFleetLogForm(QWidget* parent, fleet::Register& reg);

  // Reads the log again with the filter as set.
  void Reload();
  const std::vector<fleet::LogEntry>& Entries() const { return entries_; }
  // The CSV file's bytes for the entries shown.
  std::string CsvText() const;
  // "Экспорт в CSV...": asks for the file and writes it.
  void Export();

 private:
  void FillChoices();

  fleet::Register& register_;
  std::vector<fleet::LogEntry> entries_;
  QComboBox* boardBox_ = nullptr;
  QComboBox* groupBox_ = nullptr;
  QCheckBox* periodBox_ = nullptr;
  QDateEdit* fromEdit_ = nullptr;
  QDateEdit* toEdit_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* countLabel_ = nullptr;
  bool filling_ = false;
};

}  // namespace lentar::gui
