#include "gui/common/tablegrid.h"

#include <QEvent>
#include <QFontInfo>
#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace lentar::gui {

namespace {

const QColor kHighlight(0, 255, 255);  // aqua
constexpr int kMinAvailableWidth = 40;

}  // namespace

class TTableGrid::CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(TTableGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    grid_->PaintCell(painter, option, index);
  }

  void PaintDefault(QPainter* painter, const QStyleOptionViewItem& option,
                    const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
  }

 private:
  TTableGrid* grid_;
};

TTableGrid::TTableGrid(QWidget* parent) : QTableWidget(parent) {
  setItemDelegate(new CellDelegate(this));
  headerFont_ = font();
  cellFont_ = font();
  setColumnCount(4);
  shares_.assign(4, 0.0);
  setRowCount(1);  // the header row is the horizontal header
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setHighlightSections(false);
  setShowGrid(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  QPalette colours = palette();
  colours.setColor(QPalette::Highlight, kHighlight);
  colours.setColor(QPalette::HighlightedText, Qt::black);
  setPalette(colours);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int column, int oldWidth, int newWidth) {
            SectionResized(column, oldWidth, newWidth);
          });
}

TTableGrid::~TTableGrid() {
  adjusting_ = true;  // no bookkeeping while the header goes away
  Clear();
}

void TTableGrid::SetColumnCount(int count) {
  count = std::clamp(count, 1, kMaxColumns);
  adjusting_ = true;
  setColumnCount(count);
  adjusting_ = false;
  shares_.resize(static_cast<size_t>(count), 0.0);
  if (sizedOnce_) ApplyShares();
}

double TTableGrid::ColumnShare(int column) const {
  if (column < 0 || column >= static_cast<int>(shares_.size())) return 0.0;
  return shares_[static_cast<size_t>(column)];
}

void TTableGrid::NormaliseShares() {
  double sum = std::accumulate(shares_.begin(), shares_.end(), 0.0);
  if (sum <= 0) sum = 1;
  for (double& share : shares_) share /= sum;
}

void TTableGrid::SetColumnShares(const double* shares, int highIndex) {
  SyncShareCount();
  const int last = std::min(highIndex, columnCount() - 1);
  for (int c = 0; shares && c <= last; ++c) {
    if (shares[c] > 0.0001) shares_[static_cast<size_t>(c)] = shares[c];
  }
  NormaliseShares();
  if (sizedOnce_) ApplyShares();
}

void TTableGrid::SetColumnPermille(const int* permille, int highIndex) {
  SyncShareCount();
  const int last = std::min(highIndex, columnCount() - 1);
  for (int c = 0; permille && c <= last; ++c) {
    if (permille[c] >= 1) shares_[static_cast<size_t>(c)] = permille[c] / 1000.0;
  }
  NormaliseShares();
  if (sizedOnce_) ApplyShares();
}

void TTableGrid::SetHeaderText(const QString& titles) {
  QString text = titles;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList items = text.split(QLatin1Char('\n'));
  while (items.size() > columnCount()) items.removeLast();
  while (items.size() < columnCount()) items.append(QString());
  setHorizontalHeaderLabels(items);
}

void TTableGrid::SetHeaderFont(const QFont& font) {
  headerFont_ = font;
  horizontalHeader()->setFont(font);
}

void TTableGrid::SetCellFont(const QFont& font) {
  cellFont_ = font;
  horizontalHeader()->setFont(headerFont_);  // keep the header's own font
  setFont(font);
  const int pixels = std::abs(QFontInfo(font).pixelSize());
  verticalHeader()->setDefaultSectionSize(pixels >= 10 ? pixels + 6 : kDefaultRowHeight);
}

void TTableGrid::SyncShareCount() {
  // The column count may also have been changed through QTableWidget itself.
  const size_t columns = static_cast<size_t>(std::max(columnCount(), 0));
  if (shares_.size() != columns) shares_.resize(columns, 0.0);
}

int TTableGrid::AvailableWidth() const {
  return std::max(viewport()->width(), kMinAvailableWidth);
}

void TTableGrid::RecomputeSharesFromWidths() {
  SyncShareCount();
  double sum = 0;
  for (int c = 0; c < columnCount(); ++c) sum += columnWidth(c);
  if (sum <= 0) return;
  for (int c = 0; c < columnCount(); ++c) {
    shares_[static_cast<size_t>(c)] = columnWidth(c) / sum;
  }
}

void TTableGrid::ApplyShares() {
  SyncShareCount();
  const int n = columnCount();
  if (n <= 0) return;
  const int available = AvailableWidth();
  adjusting_ = true;
  int used = 0;
  for (int c = 0; c + 1 < n; ++c) {
    const int width = static_cast<int>(std::lround(shares_[static_cast<size_t>(c)] * available));
    setColumnWidth(c, width);
    used += width;
  }
  setColumnWidth(n - 1, std::max(available - used, 1));
  adjusting_ = false;
}

void TTableGrid::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  if (sizedOnce_) RecomputeSharesFromWidths();
  ApplyShares();
  sizedOnce_ = true;
}

bool TTableGrid::viewportEvent(QEvent* event) {
  const bool result = QTableWidget::viewportEvent(event);
  // The client width also changes when the vertical scroll bar comes or goes.
  if (event->type() == QEvent::Resize && sizedOnce_ && !adjusting_) {
    RecomputeSharesFromWidths();
    ApplyShares();
  }
  return result;
}

void TTableGrid::SectionResized(int column, int oldWidth, int newWidth) {
  if (adjusting_) return;
  const int n = columnCount();
  adjusting_ = true;
  if (column < 0 || column >= n - 1) {
    // The last column keeps the rest of the width.
    if (column == n - 1) setColumnWidth(column, oldWidth);
    adjusting_ = false;
    return;
  }
  const int nextOld = columnWidth(column + 1);
  const int limit = oldWidth + nextOld - 2;
  const int width = std::min(newWidth, limit);
  if (width != newWidth) setColumnWidth(column, width);
  setColumnWidth(column + 1, nextOld - (width - oldWidth));
  adjusting_ = false;
  RecomputeSharesFromWidths();
}

QTableWidgetItem* TTableGrid::ItemAt(int column, int row, bool create) {
  if (column < 0 || column >= columnCount() || row < 1 || row > rowCount()) return nullptr;
  QTableWidgetItem* cell = item(row - 1, column);
  if (!cell && create) {
    cell = new QTableWidgetItem;
    setItem(row - 1, column, cell);
  }
  return cell;
}

QString TTableGrid::Cell(int column, int row) const {
  if (column < 0 || column >= columnCount() || row < 1 || row > rowCount()) return {};
  const QTableWidgetItem* cell = item(row - 1, column);
  return cell ? cell->text() : QString();
}

void TTableGrid::SetCell(int column, int row, const QString& text) {
  if (QTableWidgetItem* cell = ItemAt(column, row, true)) cell->setText(text);
}

int TTableGrid::CellValue(int column, int row) const {
  if (column < 0 || column >= columnCount() || row < 1 || row > rowCount()) return kNoValue;
  const QTableWidgetItem* cell = item(row - 1, column);
  if (!cell) return kNoValue;
  const QVariant value = cell->data(Qt::UserRole);
  return value.isValid() ? value.toInt() : kNoValue;
}

void TTableGrid::SetCellValue(int column, int row, int value) {
  if (QTableWidgetItem* cell = ItemAt(column, row, true)) cell->setData(Qt::UserRole, value);
}

void TTableGrid::BlankRow(int qtRow) {
  for (int c = 0; c < columnCount(); ++c) delete takeItem(qtRow, c);
}

void TTableGrid::Clear() {
  clearContents();
  setRowCount(1);
  BlankRow(0);
  empty_ = true;
}

int TTableGrid::AddRow() {
  if (!empty_) setRowCount(rowCount() + 1);
  BlankRow(rowCount() - 1);
  empty_ = false;
  return rowCount();  // the last data row
}

void TTableGrid::DeleteRow(int row) {
  if (row < 1 || row >= RowCount()) return;
  if (rowCount() <= 1) {
    Clear();
    return;
  }
  removeRow(row - 1);
}

void TTableGrid::CopyRow(int from, int to) {
  if (from < 1 || from > rowCount() || to < 1 || to > rowCount() || from == to) return;
  for (int c = 0; c < columnCount(); ++c) {
    const QTableWidgetItem* source = item(from - 1, c);
    if (source) {
      setItem(to - 1, c, source->clone());
    } else {
      delete takeItem(to - 1, c);
    }
  }
}

int TTableGrid::CurrentRow() const {
  const int row = currentRow();
  return row >= 0 ? row + 1 : 0;
}

void TTableGrid::SelectRow(int row) {
  if (row < 1 || row > rowCount()) return;
  setCurrentCell(row - 1, std::max(currentColumn(), 0));
  if (selectionBehavior() == QAbstractItemView::SelectRows) selectRow(row - 1);
}

void TTableGrid::PaintCell(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  if (option.state & QStyle::State_Selected) {
    PaintSelectedCell(painter, option.rect, index.data(Qt::DisplayRole).toString(), cellFont_);
  } else {
    PaintOrdinaryCell(painter, option, index, cellFont_);
  }
}

void TTableGrid::PaintSelectedCell(QPainter* painter, const QRect& rect, const QString& text,
                                   const QFont& font) const {
  painter->save();
  painter->fillRect(rect, kHighlight);
  painter->setFont(font);
  painter->setPen(Qt::black);
  const QRect textRect = rect.adjusted(2, 2, 0, 0);
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  painter->restore();
}

void TTableGrid::PaintOrdinaryCell(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index, const QFont& font) const {
  QStyleOptionViewItem copy(option);
  copy.font = font;
  static_cast<const CellDelegate*>(itemDelegate())->PaintDefault(painter, copy, index);
}

}  // namespace lentar::gui
