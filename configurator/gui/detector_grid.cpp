#include "configurator/gui/detector_grid.h"

#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "configurator/gui/caption_bar.h"
#include "configurator/gui/config_host.h"
#include "configurator/gui/text.h"
#include "console/gui/asker.h"

namespace configurator::gui {

namespace {

// Column widths by what the columns hold; "Рез." of Astra-RR is a hairline.
constexpr std::array<int, kColumns> kRieltaWidths = {34, 40, 34, 40, 104, 48, 44,
                                                     50, 38, 30, 30, 36, 48, 42};
constexpr std::array<int, kColumns> kAstraWidths = {34, 34, 40, 150, 48, 44, 50,
                                                    36, 30, 30, 34, 70, 42, 2};
constexpr int kOwnerWidth = 26;

}  // namespace

DetectorGrid::DetectorGrid(Expander e, ConfigHost& host, QWidget* parent)
    : QWidget(parent), e_(e), host_(host) {
  const bool rielta = e == Expander::kRielta;
  table_ = new QTableWidget(kSlots, kColumns, this);
  table_->setObjectName(rielta ? "StringGrid_TypeRielta" : "StringGrid_Astra");
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  table_->horizontalHeader()->setHighlightSections(false);
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QStringList headings;
  for (std::string_view h : Headings(e)) headings << Q(h);
  table_->setHorizontalHeaderLabels(headings);
  const auto& widths = rielta ? kRieltaWidths : kAstraWidths;
  for (int c = 0; c < kColumns; ++c) table_->setColumnWidth(c, widths[c]);
  // The names take what the other columns leave.
  table_->horizontalHeader()->setSectionResizeMode(Layout(e).name, QHeaderView::Stretch);
  for (int r = 0; r < kSlots; ++r)
    for (int c = 0; c < kColumns; ++c) table_->setItem(r, c, new QTableWidgetItem);

  captions_ = new CaptionBar(table_, this);
  const auto& groups = configurator::GroupCaptions(e);
  for (const GroupCaption& g : groups) captions_->Add(Q(g.text), g.first, g.last);
  stateLabel_ = new QLabel(this);
  stateLabel_->setObjectName(rielta ? "Label47" : "Label53");
  stateLabel_->setFixedWidth(fontMetrics().horizontalAdvance("OK") + 6);
  captions_->Attach(stateLabel_, 2);

  auto* col = new QVBoxLayout(this);
  col->setContentsMargins(0, 0, 0, 0);
  col->setSpacing(0);
  col->addWidget(captions_);
  col->addWidget(table_, 1);

  const TableLayout& l = Layout(e);
  for (int i = 0; i < kSlots; ++i) {
    auto* owner = new QLineEdit(table_->viewport());
    owner->setObjectName(QString("EditOwner%1").arg(i + 1));
    owner->setToolTip(Q(kOwnerHint));
    owner->setMaxLength(kOwnerMaxDigits);
    owner->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString("[0-9]{0,%1}").arg(kOwnerMaxDigits)), owner));
    owner->setFixedWidth(kOwnerWidth);
    owner->hide();
    connect(owner, &QLineEdit::textEdited, this,
            [this, i](const QString& t) {
              host_.Edited();
              rows_[i].owner = t.toStdString();
            });
    owners_[i] = owner;
    auto* fob = new QLabel(Q(kFobLabel), table_->viewport());
    fob->setObjectName(QString("LabelVS%1").arg(i + 1));
    fob->setAttribute(Qt::WA_TransparentForMouseEvents);
    fob->hide();
    fobLabels_[i] = fob;
    // The mark of a key fob's row shows beside its label.
    table_->item(i, l.tamper)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }

  list_ = new QComboBox(table_->viewport());
  list_->setObjectName(rielta ? "ComboBox2" : "ComboBox1");
  list_->hide();
  connect(list_, &QComboBox::activated, this, &DetectorGrid::ListChosen);

  table_->viewport()->installEventFilter(this);
  connect(table_, &QTableWidget::currentCellChanged, this,
          [this](int row, int column) { OpenList(row, column); });
  connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { PlaceOverlays(); });
  connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this,
          [this] { PlaceOverlays(); });
  Clear();
}

void DetectorGrid::Clear() {
  DetectorRows rows;
  for (int i = 0; i < kSlots; ++i) rows[i].cells[0] = std::to_string(i + 1);
  Show(rows);
  stateLabel_->clear();
}

void DetectorGrid::Show(const DetectorRows& rows) {
  rows_ = rows;
  list_->hide();
  listKind_ = ListKind::kNone;
  for (int i = 0; i < kSlots; ++i) ShowRow(i);
  PlaceOverlays();
}

void DetectorGrid::ShowStates(std::span<const uint8_t> stateData) {
  ApplyStates(e_, stateData, rows_);
  for (int i = 0; i < kSlots; ++i) ShowRow(i);
  stateLabel_->setText("OK");
}

void DetectorGrid::ShowRow(int slot) {
  const DetectorRow& row = rows_[slot];
  for (int c = 0; c < kColumns; ++c)
    table_->item(slot, c)->setText(QString::fromStdString(row.cells[c]));
  owners_[slot]->setVisible(row.keyFob);
  fobLabels_[slot]->setVisible(row.keyFob);
  if (row.keyFob) owners_[slot]->setText(QString::fromStdString(row.owner));
}

void DetectorGrid::PlaceOverlays() {
  const TableLayout& l = Layout(e_);
  for (int i = 0; i < kSlots; ++i) {
    if (!rows_[i].keyFob) continue;
    const QRect owner = table_->visualRect(table_->model()->index(i, l.ownerOver));
    owners_[i]->setGeometry(owner.right() - kOwnerWidth + 1, owner.top(), kOwnerWidth,
                            owner.height());
    const QRect fob = table_->visualRect(table_->model()->index(i, l.fobLabelOver));
    fobLabels_[i]->setGeometry(fob.left() + 2, fob.top(), fob.width() / 2, fob.height());
  }
  if (listKind_ != ListKind::kNone)
    list_->setGeometry(table_->visualRect(table_->model()->index(listSlot_, listColumn_)));
}

void DetectorGrid::OpenList(int slot, int column) {
  list_->hide();
  listKind_ = ListKind::kNone;
  if (slot < 0 || slot >= kSlots) return;
  const ListKind k = ListFor(e_, rows_[slot], column);
  if (k == ListKind::kNone) return;
  listKind_ = k;
  listSlot_ = slot;
  listColumn_ = column;
  list_->clear();
  for (std::string_view item : ListItems(k)) list_->addItem(Q(item));
  list_->setCurrentIndex(Preselect(k, rows_[slot].cells[column]));
  PlaceOverlays();
  list_->show();
  list_->setFocus();
}

void DetectorGrid::ListChosen(int item) {
  if (listKind_ == ListKind::kNone) return;
  host_.Edited();
  if (listKind_ == ListKind::kZone)
    for (std::string_view w : ZoneWarnings(e_, rows_, listSlot_, item))
      host_.Asker().Notice(this, Q(kWarningCaption), Q(w));
  WriteChoice(e_, rows_[listSlot_], listKind_, item);
  ShowRow(listSlot_);
  list_->hide();
  listKind_ = ListKind::kNone;
  table_->setFocus();
}

bool DetectorGrid::eventFilter(QObject* watched, QEvent* e) {
  if (watched == table_->viewport()) {
    if (e->type() == QEvent::Resize) PlaceOverlays();
    if (e->type() == QEvent::MouseButtonPress) {
      auto* m = static_cast<QMouseEvent*>(e);
      const QModelIndex at = table_->indexAt(m->position().toPoint());
      if (at.isValid() && m->button() == Qt::LeftButton) {
        if (PressToggles(e_, rows_[at.row()], at.column())) {
          host_.Edited();
          ShowRow(at.row());
        }
        // A press on the cell already selected places its list again.
        if (at.row() == table_->currentRow() && at.column() == table_->currentColumn())
          OpenList(at.row(), at.column());
      }
      if (at.isValid() && m->button() == Qt::RightButton && OpensDetectorMenu(e_, at.column())) {
        table_->setCurrentCell(at.row(), at.column());
        emit MenuRequested(at.row(), m->globalPosition().toPoint());
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace configurator::gui
