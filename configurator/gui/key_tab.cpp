#include "configurator/gui/key_tab.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "configurator/gui/caption_bar.h"
#include "configurator/gui/config_host.h"
#include "configurator/gui/form_state.h"
#include "configurator/gui/text.h"
#include "configurator/gui/typed_key.h"
#include "console/gui/asker.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

namespace {

using console::gui::Button;
using console::gui::Check;
using console::gui::Label;

constexpr int kKeyColumn = 1, kFirstMark = 2, kMarks = 8, kWideKeyColumn = 10;

}  // namespace

KeyTab::KeyTab(FormState& form, ConfigHost& host, QWidget* parent)
    : QWidget(parent), form_(form), host_(host) {
  setObjectName("TabSheetKey");
  StringGridKey = new QTableWidget(int(off::kKeyCount), 11, this);
  StringGridKey->setObjectName("StringGridKey");
  StringGridKey->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGridKey->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGridKey->verticalHeader()->hide();
  StringGridKey->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  StringGridKey->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGridKey->setHorizontalHeaderLabels(
      {"", "Код", " 1", " 2", " 3", " 4", " 1", " 2", " 3", " 4", ""});
  StringGridKey->setColumnWidth(0, 34);
  StringGridKey->setColumnWidth(kKeyColumn, fontMetrics().horizontalAdvance("DDDDDDDD") + 16);
  for (int c = kFirstMark; c < kFirstMark + kMarks; ++c) StringGridKey->setColumnWidth(c, 26);
  // The key names of the "VordaGSM" layout; this window never edits that layout.
  StringGridKey->setColumnHidden(kWideKeyColumn, true);
  for (int r = 0; r < StringGridKey->rowCount(); ++r)
    for (int c = 0; c < StringGridKey->columnCount(); ++c)
      StringGridKey->setItem(r, c, new QTableWidgetItem);
  StringGridKey->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  int width = 2 * StringGridKey->frameWidth();
  for (int c = 0; c < kWideKeyColumn; ++c) width += StringGridKey->columnWidth(c);
  StringGridKey->setFixedSize(width, StringGridKey->horizontalHeader()->sizeHint().height() +
                                         int(off::kKeyCount) * (fontMetrics().height() + 4) +
                                         2 * StringGridKey->frameWidth());
  auto* captions = new CaptionBar(StringGridKey, this);
  captions->Add("Взятие ШС", 2, 5);
  captions->Add("Снятие  ШС", 6, 9);
  captions->setFixedWidth(width);

  ButtonKey = Button(this, "ButtonKey", "Считать ключ");
  Button2 = Button(this, "Button2", "Удалить");

  PanelKey = new QFrame(this);
  PanelKey->setObjectName("PanelKey");
  PanelKey->setFrameShape(QFrame::Panel);
  PanelKey->setFrameShadow(QFrame::Raised);
  auto* pk = new QVBoxLayout(PanelKey);
  EditKey = console::gui::Field(PanelKey, "EditKey");
  EditKey->setMaxLength(16);
  EditKey->setMinimumWidth(fontMetrics().horizontalAdvance("DDDDDDDDDDDDDDDD") + 12);
  pk->addWidget(EditKey);
  PanelSetKey = new QFrame(PanelKey);
  PanelSetKey->setObjectName("PanelSetKey");
  auto* prompt = new QVBoxLayout(PanelSetKey);
  prompt->setContentsMargins(0, 0, 0, 0);
  prompt->setSpacing(0);
  for (const char* line : {"Поднесите ключ", "к считывателю", "или введите код", "из 16 символов",
                           "и нажмите \"Enter\"."})
    prompt->addWidget(new QLabel(line, PanelSetKey));
  pk->addWidget(PanelSetKey);
  ButtonStopKey = Button(PanelKey, "ButtonStopKey", "Остановить");
  ButtonWriteKey = Button(PanelKey, "ButtonWriteKey", "Записать");
  pk->addWidget(ButtonStopKey);
  pk->addWidget(ButtonWriteKey);
  PanelKey->hide();

  KeyDS1990 = Check(this, "KeyDS1990", "Поддержка ключей DS1990");
  BrelokCheck = Check(this, "BrelokCheck", "Брелок");
  Label41 = Label(this, "Label41", "Прежде чем прописывать брелок или ТМ,");
  Label42 = Label(this, "Label42", "требуется записать данную установку в УО.");
  for (QLabel* l : {Label41, Label42}) {
    l->setStyleSheet("color: #ff0000;");
    l->hide();
  }

  auto* row = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  left->setSpacing(0);
  left->addWidget(captions);
  left->addWidget(StringGridKey);
  left->addStretch();
  row->addLayout(left);
  auto* right = new QVBoxLayout;
  right->addWidget(ButtonKey);
  right->addWidget(Button2);
  right->addWidget(PanelKey);
  right->addSpacing(8);
  right->addWidget(KeyDS1990);
  right->addWidget(BrelokCheck);
  right->addWidget(Label41);
  right->addWidget(Label42);
  right->addStretch();
  row->addLayout(right, 1);

  connect(ButtonKey, &QPushButton::clicked, this, [this] {
    if (SelectedRow() >= 0) emit PollAsked();
  });
  connect(ButtonStopKey, &QPushButton::clicked, this, &KeyTab::StopAsked);
  connect(ButtonWriteKey, &QPushButton::clicked, this, &KeyTab::WriteKey);
  connect(Button2, &QPushButton::clicked, this, &KeyTab::DeleteKey);
  connect(KeyDS1990, &QCheckBox::clicked, this, [this](bool on) {
    host_.Edited();
    ClickDs1990(form_.image, on);
    ShowBoxes();
  });
  connect(BrelokCheck, &QCheckBox::clicked, this, [this](bool on) {
    host_.Edited();
    ClickKeyFob(form_.image, on);
    ShowBoxes();
    Label41->show();
    Label42->show();
  });
  EditKey->installEventFilter(this);
  StringGridKey->viewport()->installEventFilter(this);
  Renumber(false);
}

void KeyTab::Renumber(bool imageShown) {
  for (int r = 0; r < StringGridKey->rowCount(); ++r)
    StringGridKey->item(r, 0)->setText(QString::fromStdString(KeyRowNumber(r + 1, imageShown)));
}

void KeyTab::ShowImage() {
  keys_ = KeysFromImage(form_.image, form_.variant);
  ShowRows();
  Renumber(true);
  ShowBoxes();
}

void KeyTab::ShowBoxes() {
  KeyDS1990->setChecked(Flag(form_.image, off::kOptionsB, kDs1990Keys));
  BrelokCheck->setChecked(Flag(form_.image, off::kOptionsB, kKeyFob));
}

void KeyTab::ShowRows() {
  for (int r = 0; r < int(keys_.size()); ++r) {
    StringGridKey->item(r, kKeyColumn)->setText(QString::fromStdString(keys_[r].hex));
    for (int b = 0; b < kMarks; ++b)
      StringGridKey->item(r, kFirstMark + b)->setText(keys_[r].marks[b] ? Q(kMarkText) : QString());
  }
}

void KeyTab::Encode() {
  if (form_.tablesFromImage) KeysIntoImage(keys_, form_.image, form_.variant);
}

int KeyTab::SelectedRow() const { return StringGridKey->currentRow(); }

void KeyTab::PollingStarted() {
  polling_ = true;
  EditKey->clear();
  ButtonStopKey->show();
  PanelSetKey->show();
  ButtonWriteKey->hide();
  PanelKey->show();
}

void KeyTab::PollingStopped() {
  polling_ = false;
  PanelSetKey->hide();
  PanelKey->hide();
}

void KeyTab::TakeKey(std::span<const uint8_t> data) {
  polling_ = false;
  const PolledKey k = KeyBufferFromReply(data, buffer_);
  buffer_ = k.buffer;
  EditKey->setText(QString::fromStdString(k.text));
  ButtonWriteKey->show();
  PanelSetKey->hide();
  ButtonStopKey->hide();
}

void KeyTab::WriteKey() {
  const int row = SelectedRow();
  if (row < 0) return;
  host_.Edited();
  const std::string text = KeyTextFromBuffer(buffer_, form_.variant);
  for (int r : RowsHoldingKey(keys_, text)) {
    if (!host_.Asker().Ask(this, Q(kDuplicateKeyCaption), Q(kDuplicateKeyQuestion))) {
      ShowRows();
      return;
    }
    keys_[r].hex.clear();
  }
  keys_[row].hex = text;
  ShowRows();
  Encode();
}

void KeyTab::DeleteKey() {
  const int row = SelectedRow();
  if (row < 0) return;
  host_.Edited();
  keys_[row].hex.clear();
  ShowRows();
  Encode();
}

bool KeyTab::eventFilter(QObject* watched, QEvent* e) {
  if (watched == StringGridKey->viewport() && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    const QModelIndex at =
        StringGridKey->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
    if (!at.isValid()) return false;
    StringGridKey->setCurrentCell(at.row(), at.column());
    if (at.column() == kKeyColumn && ButtonKey->isEnabled()) emit PollAsked();
    // The rights of keys are the "VordaF" layout's only.
    if (at.column() >= kFirstMark && at.column() < kFirstMark + kMarks &&
        form_.variant == kVariantF) {
      host_.Edited();
      bool& mark = keys_[at.row()].marks[at.column() - kFirstMark];
      mark = !mark;
      ShowRows();
      Encode();
    }
    return true;
  }
  if (watched == EditKey && e->type() == QEvent::KeyPress) {
    const std::optional<char> key = TypedKey(*static_cast<QKeyEvent*>(e));
    if (!key) return false;
    if (!KeyEntryKey(EditKey->text().toStdString(), *key)) return true;
    if (*key != kEnter) return false;
    if (const std::optional<KeyBuffer> typed = ParseKeyEntry(EditKey->text().toStdString())) {
      buffer_ = *typed;
      polling_ = false;
      PanelSetKey->hide();
      ButtonStopKey->hide();
      ButtonWriteKey->show();
      emit KeyTyped();
    }
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace configurator::gui
