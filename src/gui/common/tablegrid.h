// TTableGrid: a string grid with proportional columns and row management,
// used by the font bank, loader and layout windows.
//
// Rows are numbered as the windows count them: row 0 is the header row (the
// grid's horizontal header), data rows are 1 .. RowCount() - 1 and sit in the
// underlying QTableWidget's row (r - 1). An empty grid shows one blank data
// row but holds no data (IsEmpty()); the first AddRow() after Clear() fills
// row 1.
//
// Each column has a share of the width (the shares sum to 1). When the grid
// is resized the widths follow the shares; when the user drags a column
// border the neighbouring column gives up or receives exactly the change and
// the shares are recomputed, so the new proportions survive later resizes.
#pragma once

#include <QFont>
#include <QString>
#include <QTableWidget>
#include <vector>

namespace lentar::gui {

class TTableGrid : public QTableWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxColumns = 1024;
  static constexpr int kDefaultRowHeight = 16;

  explicit TTableGrid(QWidget* parent = nullptr);
  ~TTableGrid() override;

  // Column count, at most kMaxColumns; new columns get share 0.
  void SetColumnCount(int count);
  int ColumnCount() const { return columnCount(); }

  // Columns 0..min(highIndex, columns - 1): a value above 0.0001 replaces the
  // column's share, others keep theirs. The shares are then normalised to sum
  // 1 and, once the grid has been sized, applied at once.
  void SetColumnShares(const double* shares, int highIndex);
  // The same with whole numbers taken as thousandths; a value of at least 1
  // replaces the share.
  void SetColumnPermille(const int* permille, int highIndex);
  double ColumnShare(int column) const;

  // The header row: the column titles as one text separated by line breaks
  // (CR LF, LF or CR).
  void SetHeaderText(const QString& titles);
  void SetHeaderFont(const QFont& font);
  QFont HeaderFont() const { return headerFont_; }
  // Font of the data cells; the default row height becomes |pixel height| + 6
  // for a font of 10 pixels or more, else 16.
  void SetCellFont(const QFont& font);
  QFont CellFont() const { return cellFont_; }

  // Two rows (header and one blank data row), the cell values cleared, the
  // grid empty.
  void Clear();
  // Appends a row unless the grid is empty, blanks the last row, clears the
  // empty flag and returns the row's index.
  int AddRow();
  // Ignored unless 1 <= row < RowCount(); with one data row left the grid is
  // cleared instead; otherwise the following rows move up one.
  void DeleteRow(int row);
  // Copies every cell text and value of row `from` to row `to` (data rows).
  void CopyRow(int from, int to);
  bool IsEmpty() const { return empty_; }

  // Rows including the header row.
  int RowCount() const { return rowCount() + 1; }
  // Cell text and value of a data row (row >= 1); out of range: empty /
  // kNoValue.
  QString Cell(int column, int row) const;
  void SetCell(int column, int row, const QString& text);
  // Each cell may carry a whole number that is not shown: the window's own
  // index of what the row lists (a directory entry, a position in a list).
  // A cell that was given none carries kNoValue.
  static constexpr int kNoValue = -1;
  int CellValue(int column, int row) const;
  void SetCellValue(int column, int row, int value);
  // The value of the row's first cell.
  int RowValue(int row) const { return CellValue(0, row); }
  void SetRowValue(int row, int value) { SetCellValue(0, row, value); }
  // The data row of the current cell (>= 1), or 0 when none.
  int CurrentRow() const;
  void SelectRow(int row);

  // Width shares as the grid currently applies them to the columns.
  void ApplyShares();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool viewportEvent(QEvent* event) override;

  // Draws one data cell. A selected cell is filled aqua and its text drawn 2
  // pixels right of and below the cell's corner in the cell font; others are
  // drawn the ordinary way in the cell font. Grids that draw their cells
  // differently override this.
  virtual void PaintCell(QPainter* painter, const class QStyleOptionViewItem& option,
                         const QModelIndex& index) const;
  void PaintSelectedCell(QPainter* painter, const QRect& rect, const QString& text,
                         const QFont& font) const;
  void PaintOrdinaryCell(QPainter* painter, const class QStyleOptionViewItem& option,
                         const QModelIndex& index, const QFont& font) const;

 private:
  class CellDelegate;
  friend class CellDelegate;

  void SectionResized(int column, int oldWidth, int newWidth);
  void SyncShareCount();
  void RecomputeSharesFromWidths();
  void NormaliseShares();
  int AvailableWidth() const;
  QTableWidgetItem* ItemAt(int column, int row, bool create);
  void BlankRow(int qtRow);

  std::vector<double> shares_;
  QFont headerFont_;
  QFont cellFont_;
  bool empty_ = true;
  bool sizedOnce_ = false;
  bool adjusting_ = false;
};

}  // namespace lentar::gui
