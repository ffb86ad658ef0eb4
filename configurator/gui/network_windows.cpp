#include "configurator/gui/network_windows.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include "configurator/gui/config_host.h"
#include "configurator/gui/text.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

namespace {

// A field that only its arrows change.
QSpinBox* UpDown(QWidget* parent, const char* name, Range r) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setRange(r.min, r.max);
  s->findChild<QLineEdit*>()->setReadOnly(true);
  s->setMinimumWidth(64);
  return s;
}

QLabel* MessageLine(QWidget* parent) {
  QLabel* l = console::gui::Label(parent, "LabelMes", "");
  l->setStyleSheet("color: #ff0000;");
  l->setMinimumHeight(l->fontMetrics().height());
  return l;
}

}  // namespace

// ---- Rielta

RieltaNetworkWindow::RieltaNetworkWindow(ConfigHost& host, QWidget* parent)
    : OperationWindow(host, "TFormLitera_Nnet", "Установка параметров сети.",
                      kRieltaNetworkSeconds, parent) {
  auto* g = new QGridLayout;
  EditNet = UpDown(this, "EditNet", kRieltaNetRange);
  EditLitera = UpDown(this, "EditLitera", kRieltaLiteraRange);
  ComboSeans = new QComboBox(this);
  ComboSeans->setObjectName("ComboSeans");
  for (std::string_view item : kPeriodItems) ComboSeans->addItem(Q(item));
  EditMissed = UpDown(this, "EditMissed", kRieltaMissedRange);
  LabelPeriod = console::gui::Label(this, "LabelPeriod", "");
  g->addWidget(new QLabel("Номер сети:", this), 0, 0);
  g->addWidget(EditNet, 0, 1);
  g->addWidget(new QLabel("Литера:", this), 1, 0);
  g->addWidget(EditLitera, 1, 1);
  g->addWidget(new QLabel("Сеанс связи:", this), 2, 0);
  g->addWidget(ComboSeans, 2, 1);
  g->addWidget(new QLabel("Допуст. кол. пропущенных\nподряд сеансов связи.:", this), 3, 0);
  g->addWidget(EditMissed, 3, 1);
  g->addWidget(new QLabel("Период контроля:", this), 4, 0);
  g->addWidget(LabelPeriod, 4, 1);
  body_->addLayout(g);
  LabelMes = MessageLine(this);
  body_->addWidget(LabelMes);
  ButtonSet = console::gui::Button(this, "ButtonSet", "Установить");
  body_->addWidget(ButtonSet, 0, Qt::AlignLeft);

  connect(ComboSeans, &QComboBox::currentIndexChanged, this, [this] { ShowPeriod(); });
  connect(EditMissed, &QSpinBox::valueChanged, this, [this] { ShowPeriod(); });
  connect(ButtonSet, &QPushButton::clicked, this, &RieltaNetworkWindow::Set);
  connect(ButtonEnd, &QPushButton::clicked, this, [this] {
    Restart(false);
    ButtonEnd->setEnabled(false);
    host_.GiveButtonsBack();
  });
}

void RieltaNetworkWindow::Open(const ExpanderBlocks& blocks) {
  Restart(false);
  LabelMes->clear();
  const RieltaNetwork n = RieltaNetworkOf(blocks);
  EditNet->setValue(n.net);
  EditLitera->setValue(n.litera);
  EditMissed->setValue(n.missed);
  // A stored index that no item has selects none.
  ComboSeans->setCurrentIndex(n.periodIndex < ComboSeans->count() ? n.periodIndex : -1);
  storedPeriod_ = n.periodIndex;
  ShowPeriod();
  ButtonEnd->setEnabled(false);
  show();
  raise();
}

void RieltaNetworkWindow::ShowPeriod() {
  LabelPeriod->setText(
      QString::fromStdString(ControlPeriodText(ComboSeans->currentIndex(), EditMissed->value())));
}

int RieltaNetworkWindow::Value(QSpinBox* field, int which) {
  bool ok = false;
  const int v = field->text().toInt(&ok);
  if (!ok) {
    LabelMes->setText(Q(kRieltaConvertErrors[which]));
    return last_[which];
  }
  last_[which] = v;
  return v;
}

void RieltaNetworkWindow::Set() {
  LabelMes->clear();
  const int net = Value(EditNet, 0), litera = Value(EditLitera, 1), missed = Value(EditMissed, 2);
  const int period = ComboSeans->currentIndex() >= 0 ? ComboSeans->currentIndex() : storedPeriod_;
  Restart(true);
  host_.StartOperation(
      RieltaNetworkRequest(uint8_t(net), uint8_t(litera), uint8_t(period), uint8_t(missed)));
  ButtonEnd->setEnabled(true);
}

void RieltaNetworkWindow::Tick() {
  Count();
  if (!host_.ReReadArmed()) close();
}

// ---- Astra-RR

AstraNetworkWindow::AstraNetworkWindow(ConfigHost& host, QWidget* parent)
    : OperationWindow(host, "TFormLitera_NnetAstra", "Установка параметров сети. (Tвып=~45сек.)",
                      kAstraNetworkSeconds, parent) {
  auto* g = new QGridLayout;
  EditLitera = UpDown(this, "EditLitera", kAstraLiteraRange);
  EditPeriod = UpDown(this, "EditPeriod", kAstraPeriodRange);
  // The period is typed as well; below 18 it becomes 18 when left.
  EditPeriod->findChild<QLineEdit*>()->setReadOnly(false);
  EditPeriod->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  EditPeriod->findChild<QLineEdit*>()->installEventFilter(this);
  g->addWidget(new QLabel("Литера:", this), 0, 0);
  g->addWidget(EditLitera, 0, 1);
  g->addWidget(new QLabel("Период контроля (*10 сек) :", this), 1, 0);
  g->addWidget(EditPeriod, 1, 1);
  body_->addLayout(g);
  LabelMes = MessageLine(this);
  body_->addWidget(LabelMes);
  ButtonSet = console::gui::Button(this, "ButtonSet", "Установить");
  body_->addWidget(ButtonSet, 0, Qt::AlignLeft);

  connect(EditPeriod, &QSpinBox::editingFinished, this, [this] {
    const FieldOnLeave r = AstraPeriodLeave(EditPeriod->text().toStdString());
    EditPeriod->setValue(QString::fromStdString(r.text).toInt());
    if (!r.message.empty()) LabelMes->setText(Q(r.message));
  });
  connect(ButtonSet, &QPushButton::clicked, this, [this] {
    LabelMes->clear();
    Restart(true);
    host_.StartOperation(
        AstraNetworkRequest(uint8_t(EditLitera->value()), uint8_t(EditPeriod->value())));
    ButtonEnd->setEnabled(true);
    ButtonSet->setEnabled(false);
  });
  connect(ButtonEnd, &QPushButton::clicked, this, [this] {
    Restart(false);
    ButtonEnd->setEnabled(false);
    ButtonSet->setEnabled(true);
    host_.GiveButtonsBack();
  });
}

void AstraNetworkWindow::Open(const QString& litera, const QString& period) {
  Restart(false);
  LabelMes->clear();
  EditLitera->setValue(litera.toInt());
  EditPeriod->setValue(period.toInt());
  ButtonEnd->setEnabled(false);
  ButtonSet->setEnabled(true);
  show();
  raise();
}

void AstraNetworkWindow::Tick() {
  if (!Count()) {
    ButtonEnd->setEnabled(false);
    ButtonSet->setEnabled(true);
  }
  if (!host_.ReReadArmed()) close();
}

bool AstraNetworkWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress) return OperationWindow::eventFilter(watched, e);
  auto* edit = qobject_cast<QLineEdit*>(watched);
  auto* k = static_cast<QKeyEvent*>(e);
  // Deletions and keys that type nothing are the field's own.
  if (!edit || k->key() == Qt::Key_Backspace || k->key() == Qt::Key_Delete || k->text().isEmpty() ||
      k->text().front() < QChar(0x20))
    return OperationWindow::eventFilter(watched, e);
  QString candidate = edit->text();
  if (edit->hasSelectedText())
    candidate.remove(edit->selectionStart(), edit->selectedText().size());
  const int at = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
  candidate.insert(at, k->text());
  const FieldVerdict v = AstraPeriodEdit(candidate.toStdString());
  LabelMes->setText(Q(v.message));
  return !v.accept;
}

}  // namespace configurator::gui
