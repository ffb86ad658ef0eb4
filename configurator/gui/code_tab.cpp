#include "configurator/gui/code_tab.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "configurator/gui/caption_bar.h"
#include "configurator/gui/config_host.h"
#include "configurator/gui/form_state.h"
#include "configurator/gui/text.h"
#include "configurator/gui/typed_key.h"

namespace configurator::gui {

namespace {

constexpr int kCode = 1, kSecond = 2, kFirstMark = 3, kMarks = 8;

// The code cells' editor: each key goes through the tab's filter first.
class CodeCellDelegate : public QStyledItemDelegate {
 public:
  CodeCellDelegate(QObject* filter, QObject* parent)
      : QStyledItemDelegate(parent), filter_(filter) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& o,
                        const QModelIndex& i) const override {
    QWidget* w = QStyledItemDelegate::createEditor(parent, o, i);
    w->setObjectName("CodeEditor");
    w->installEventFilter(filter_);
    return w;
  }

 private:
  QObject* filter_;
};

}  // namespace

CodeTab::CodeTab(FormState& form, ConfigHost& host, QWidget* parent)
    : QWidget(parent), form_(form), host_(host) {
  setObjectName("TabSheetCode");
  const int rows = int(off::kCodeRecords);
  StringGridCode = new QTableWidget(rows, 11, this);
  StringGridCode->setObjectName("StringGridCode");
  StringGridCode->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGridCode->setEditTriggers(QAbstractItemView::DoubleClicked |
                                  QAbstractItemView::SelectedClicked |
                                  QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed);
  StringGridCode->setItemDelegate(new CodeCellDelegate(this, StringGridCode));
  StringGridCode->verticalHeader()->hide();
  const int rowHeight = fontMetrics().height() + 4;
  StringGridCode->verticalHeader()->setDefaultSectionSize(rowHeight);
  StringGridCode->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGridCode->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGridCode->setHorizontalHeaderLabels(
      {"п/н", "Код", "К.Прин.", " 1", " 2", " 3", " 4", " 1", " 2", " 3", " 4"});
  StringGridCode->setColumnWidth(0, 36);
  StringGridCode->setColumnWidth(kCode, 64);
  StringGridCode->setColumnWidth(kSecond, 64);
  for (int c = kFirstMark; c < kFirstMark + kMarks; ++c) StringGridCode->setColumnWidth(c, 28);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < StringGridCode->columnCount(); ++c) {
      auto* item = new QTableWidgetItem;
      if (c != kCode && c != kSecond) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      StringGridCode->setItem(r, c, item);
    }
  StringGridCode->item(0, kSecond)->setFlags(StringGridCode->item(0, kSecond)->flags() &
                                             ~Qt::ItemIsEditable);
  for (int r = 0; r < rows; ++r)
    StringGridCode->item(r, 0)->setText(QString::fromStdString(CodeRowNumber(r + 1)));
  int width = 2 * StringGridCode->frameWidth();
  for (int c = 0; c < StringGridCode->columnCount(); ++c) width += StringGridCode->columnWidth(c);
  StringGridCode->setFixedSize(width, StringGridCode->horizontalHeader()->sizeHint().height() +
                                          rows * rowHeight + 2 * StringGridCode->frameWidth());
  auto* captions = new CaptionBar(StringGridCode, this);
  captions->Add("Взятие", 3, 6);
  captions->Add("Снятие", 7, 10);

  auto* col = new QVBoxLayout(this);
  col->setSpacing(0);
  col->addWidget(captions);
  col->addWidget(StringGridCode);
  col->addStretch();
  captions->setFixedWidth(width);

  connect(StringGridCode, &QTableWidget::itemChanged, this, &CodeTab::CellEdited);
  StringGridCode->viewport()->installEventFilter(this);
  StringGridCode->installEventFilter(this);
  ShowRows();
}

void CodeTab::ShowImage() {
  codes_ = CodesFromImage(form_.image);
  ShowRows();
}

void CodeTab::ShowRows() {
  showing_ = true;
  for (int r = 0; r < int(codes_.size()); ++r) {
    StringGridCode->item(r, kCode)->setText(QString::fromStdString(codes_[r].code));
    StringGridCode->item(r, kSecond)->setText(r == 0 ? Q(kInstallerCodeText)
                                                     : QString::fromStdString(codes_[r].second));
    for (int b = 0; b < kMarks; ++b)
      StringGridCode->item(r, kFirstMark + b)
          ->setText(codes_[r].marks[b] ? Q(kMarkText) : QString());
  }
  showing_ = false;
}

void CodeTab::CellEdited(QTableWidgetItem* item) {
  if (showing_) return;
  const int r = item->row(), c = item->column();
  if (c == kCode) codes_[r].code = item->text().toStdString();
  else if (c == kSecond && r > 0) codes_[r].second = item->text().toStdString();
  else return;
  host_.Edited();
  Encode();
}

void CodeTab::Toggle(int row, int column) {
  bool& mark = codes_[row].marks[column - kFirstMark];
  mark = !mark;
  ShowRows();
  host_.Edited();
  Encode();
}

void CodeTab::Encode() {
  if (form_.tablesFromImage) CodesIntoImage(codes_, form_.image);
}

bool CodeTab::eventFilter(QObject* watched, QEvent* e) {
  const auto isMark = [](int column) {
    return column >= kFirstMark && column < kFirstMark + kMarks;
  };
  if (watched == StringGridCode->viewport() && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    const QModelIndex at =
        StringGridCode->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
    if (at.isValid() && isMark(at.column())) {
      StringGridCode->setCurrentCell(at.row(), at.column());
      Toggle(at.row(), at.column());
      return true;
    }
    return false;
  }
  if (e->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, e);
  const auto& k = *static_cast<QKeyEvent*>(e);
  if (watched == StringGridCode) {
    if (k.key() == Qt::Key_Space && isMark(StringGridCode->currentColumn())) {
      Toggle(StringGridCode->currentRow(), StringGridCode->currentColumn());
      return true;
    }
    return false;
  }
  // A code cell's editor: digits up to four, and backspace.
  auto* editor = qobject_cast<QLineEdit*>(watched);
  const std::optional<char> key = TypedKey(k);
  if (!editor || !key || *key == kEnter) return false;
  QString text = editor->text();
  if (editor->hasSelectedText())
    text.remove(editor->selectionStart(), editor->selectedText().size());
  return !CodeCellKey(text.toStdString(), *key);
}

}  // namespace configurator::gui
