#include "configurator/gui/params_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

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
using console::gui::Field;
using console::gui::Label;

const char kOffset[] = "offset";  // the image offset a control edits (the form's tag)
const char kBit[] = "bit";
const char kOptionA[] = "optionA";

QLineEdit* Number(QWidget* parent, const char* name) {
  QLineEdit* e = Field(parent, name);
  e->setFixedWidth(e->fontMetrics().horizontalAdvance("0000") + 14);
  return e;
}

// A box standing for one bit of the image.
QCheckBox* BitBox(QWidget* parent, const char* name, const QString& text, size_t offset, int bit) {
  QCheckBox* c = Check(parent, name, text);
  c->setProperty(kOffset, qulonglong(offset));
  c->setProperty(kBit, bit);
  return c;
}

QLabel* Heading(QWidget* parent, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setAlignment(Qt::AlignCenter);
  return l;
}

}  // namespace

ParamsTab::ParamsTab(FormState& form, ConfigHost& host, QWidget* parent)
    : QWidget(parent), form_(form), host_(host) {
  setObjectName("TabSheetParams");
  Build();
}

void ParamsTab::Build() {
  auto* col = new QVBoxLayout(this);

  // Loops.
  auto* loops = new QGridLayout;
  loops->setHorizontalSpacing(10);
  loops->addWidget(Heading(this, "Тип шл./раздела"), 0, 1);
  loops->addWidget(Heading(this, "Время в секундах"), 0, 2, 1, 2);
  loops->addWidget(Heading(this, "Вых."), 0, 4, 1, 2);
  loops->addWidget(Heading(this, "Внутр."), 0, 6);
  loops->addWidget(Heading(this, "Выход"), 1, 2);
  loops->addWidget(Heading(this, "Вход"), 1, 3);
  loops->addWidget(Heading(this, "1    2"), 1, 4, 1, 2);
  loops->addWidget(Heading(this, "зв. сигн."), 1, 6);
  for (int n = 1; n <= kLoops; ++n) {
    const int i = n - 1, row = n + 1;
    loops->addWidget(new QLabel(QString("ШС%1").arg(n), this), row, 0);
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString("ComboBoxTypeShl%1").arg(n));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (std::string_view t : LoopTypeTexts(n)) combo->addItem(Q(t));
    combo->setProperty(kOffset, qulonglong(off::kLoopTypes + i));
    loops_[i] = combo;
    loops->addWidget(combo, row, 1);
    connect(combo, &QComboBox::textActivated, this,
            [this, n](const QString& t) { LoopChanged(n, t); });
    connect(combo->lineEdit(), &QLineEdit::editingFinished, this,
            [this, n] { LoopChanged(n, loops_[n - 1]->currentText()); });
    delaysOut_[i] = Number(this, QString("EditTimeIn%1").arg(n).toUtf8().constData());
    delaysIn_[i] = Number(this, QString("EditTimeOut%1").arg(n).toUtf8().constData());
    BindNumber(delaysOut_[i], off::kDelaysOut + i);
    BindNumber(delaysIn_[i], off::kDelaysIn + i);
    loops->addWidget(delaysOut_[i], row, 2, Qt::AlignHCenter);
    loops->addWidget(delaysIn_[i], row, 3, Qt::AlignHCenter);
    const size_t linkOffsets[3] = {off::kOutput1Links, off::kOutput2Links, off::kSounderLinks};
    const char* linkNames[3] = {"CheckRele1%1", "CheckRele2%1", "CheckSound%1"};
    for (int k = 0; k < 3; ++k) {
      links_[k][i] = BitBox(this, QString(linkNames[k]).arg(n).toUtf8().constData(), "",
                            linkOffsets[k], i);
      loops->addWidget(links_[k][i], row, 4 + k, Qt::AlignHCenter);
    }
  }
  loops->setColumnStretch(7, 1);
  col->addLayout(loops);

  // Outputs, the sounder, and the controls of other variants (hidden here).
  auto* outs = new QGridLayout;
  outs->setHorizontalSpacing(8);
  outs->addWidget(Heading(this, "Время"), 0, 3);
  for (int o = 1; o <= 2; ++o) {
    const int i = o - 1;
    outs->addWidget(new QLabel(QString("Вых.%1").arg(o), this), o, 0);
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString("ComboBoxTypeRele%1").arg(o));
    for (std::string_view t : OutputTypeTexts()) combo->addItem(Q(t));
    outputs_[i] = combo;
    outs->addWidget(combo, o, 1);
    connect(combo, &QComboBox::activated, this, [this, o](int type) { OutputChanged(o, type); });
    times_[i] = Number(this, QString("EditTimeRele%1").arg(o).toUtf8().constData());
    outs->addWidget(times_[i], o, 3);
    units_[i] = Label(this, QString("LabelRele%1").arg(o).toUtf8().constData(), "c");
    units_[i]->setMinimumWidth(fontMetrics().horizontalAdvance("c/16") + 4);
    outs->addWidget(units_[i], o, 4);
    always_[i] = Check(this, QString("CheckBox%1").arg(o).toUtf8().constData(), "Всегда");
    outs->addWidget(always_[i], o, 5);
  }
  outs->addWidget(new QLabel("Внутренний звуковой сигн.", this), 3, 0, 1, 3);
  times_[2] = Number(this, "EditTimeSound");
  outs->addWidget(times_[2], 3, 3);
  outs->addWidget(new QLabel("с", this), 3, 4);
  always_[2] = Check(this, "CheckBox3", "Всегда");
  outs->addWidget(always_[2], 3, 5);
  const size_t timeOffsets[3] = {off::kOutput1Time, off::kOutput2Time, off::kSounderTime};
  for (int k = 0; k < 3; ++k) {
    BindNumber(times_[k], timeOffsets[k]);
    connect(always_[k], &QCheckBox::clicked, this, [this, k](bool on) {
      host_.Edited();
      if (!on) return;
      // The field takes "255" and the image takes it as when the field is left.
      times_[k]->setText(Q(kAlwaysText));
      LeaveNumber(times_[k]);
    });
  }
  {
    auto* siren = new QHBoxLayout;
    QLabel* label79 = Label(this, "Label79", "Сирена");
    QLineEdit* sir = Number(this, "EditTimeSir");
    QLabel* sirLabel = Label(this, "LabelSir", "Время");
    QLabel* sirLabel2 = Label(this, "LabelSir2", "с");
    siren->addWidget(label79);
    siren->addWidget(sirLabel);
    siren->addWidget(sir);
    siren->addWidget(sirLabel2);
    otherLayouts_ = {label79, sir, sirLabel, sirLabel2};
    for (int n = 1; n <= 4; ++n) {
      QCheckBox* b = Check(this, QString("CheckBoxSir%1").arg(n).toUtf8().constData(),
                           QString::number(n));
      siren->addWidget(b);
      otherLayouts_.push_back(b);
    }
    QLabel* autoLabel = Label(this, "LabelTimeAuto", "Задержка авт.взятия");
    QLabel* label100 = Label(this, "Label100", "после тревоги");
    QLineEdit* autoTime = Number(this, "EditTimeAuto");
    siren->addWidget(autoLabel);
    siren->addWidget(label100);
    siren->addWidget(autoTime);
    siren->addStretch();
    otherLayouts_.insert(otherLayouts_.end(), {autoLabel, label100, autoTime});
    outs->addLayout(siren, 4, 0, 1, 7);
  }
  outs->setColumnStretch(6, 1);
  col->addSpacing(6);
  col->addLayout(outs);

  // "Я жив" periods.
  auto* periods = new QGridLayout;
  periodEthernet_ = Number(this, "PeriodEthern");
  periodGsm_ = Number(this, "PeriodGSM");
  periods->addWidget(new QLabel("Период Ethernet Тлг.", this), 0, 0);
  periods->addWidget(periodEthernet_, 0, 1);
  periods->addWidget(new QLabel("с", this), 0, 2);
  periods->addWidget(new QLabel("Период GSM Тлг.", this), 1, 0);
  periods->addWidget(periodGsm_, 1, 1);
  periods->addWidget(new QLabel("с", this), 1, 2);
  label16_ = Label(this, "Label16", "");
  label16_->setStyleSheet("color: #ff0000;");
  label16_->hide();
  periods->addWidget(label16_, 0, 3);
  periods->setColumnStretch(3, 1);
  col->addSpacing(6);
  col->addLayout(periods);
  for (QLineEdit* p : {periodEthernet_, periodGsm_}) {
    p->installEventFilter(this);
    connect(p, &QLineEdit::editingFinished, this, [this, p] {
      host_.Edited();
      std::string shown;
      const Period which = p == periodEthernet_ ? Period::kEthernet : Period::kGsm;
      if (const auto error = StorePeriod(form_.image, which, p->text().toStdString(), &shown)) {
        host_.Asker().Notice(window(), window()->windowTitle(), QString::fromStdString(*error));
        return;
      }
      p->setText(QString::fromStdString(shown));
    });
  }

  // Option boxes.
  auto* options = new QHBoxLayout;
  auto* backlight = new QGroupBox("Подсветка дисплея ", this);
  auto* bl = new QVBoxLayout(backlight);
  const struct {
    const char* name;
    const char* text;
    int bit;
  } lights[] = {{"Vsegda", "Вкл. всегда", kBacklightAlways},
                {"PoKnopkam", "по клавиатуре", kBacklightOnKeys},
                {"PoSobit", "по событиям", kBacklightOnEvents}};
  for (const auto& l : lights) {
    QCheckBox* b = BitBox(backlight, l.name, l.text, off::kOptionsA, l.bit);
    b->setProperty(kOptionA, true);
    bl->addWidget(b);
  }
  bl->addStretch();
  options->addWidget(backlight, 0, Qt::AlignTop);
  auto* opts = new QVBoxLayout;
  opts->setSpacing(2);
  opts->addWidget(BitBox(this, "AnalTamper", "Взятие с \"Открытым корпусом\"", off::kOptionsB,
                         kArmOpenCase));
  opts->addWidget(BitBox(this, "CheckVzNarSv", "Взятие с \"Нарушением связи\"", off::kOptionsB,
                         kArmLinkFailure));
  opts->addWidget(BitBox(this, "CheckNapadenAvt", "Автомат. перевзятие после \"Нападения\"",
                         off::kOptionsB, kAutoRearm));
  opts->addWidget(BitBox(this, "CheckGrafikOxr", "Взятие согласно \"Графика охраны\".",
                         off::kOutput1Type, kScheduleArmingBit));
  opts->addWidget(BitBox(this, "CheckRemoteLight", "Инверсия выносного светодиода",
                         off::kOptionsB, kRemoteLedInverted));
  opts->addWidget(BitBox(this, "CheckBoxSob_Avar", "Откл. выдачу события после Аварии",
                         off::kOptionsB, kNoEventAfterFailure));
  opts->addWidget(BitBox(this, "CheckBoxSurGardEn", "SurGard (Разделы Вкл.)", off::kOptionsB,
                         kSurGardPartitions));
  options->addLayout(opts, 1);
  col->addSpacing(6);
  col->addLayout(options);
  col->addStretch();

  // Every box of one bit: only its own bit changes.
  for (QCheckBox* b : findChildren<QCheckBox*>()) {
    if (!b->property(kOffset).isValid()) continue;
    connect(b, &QCheckBox::clicked, this, [this, b](bool on) {
      host_.Edited();
      const size_t offset = b->property(kOffset).toULongLong();
      const int bit = b->property(kBit).toInt();
      if (b->property(kOptionA).toBool()) LeaveOptionABox(form_.image, bit, on);
      else SetFlag(form_.image, offset, bit, on);
    });
  }

  warning_ = new QFrame(this);
  warning_->setObjectName("PanelVzNarSvExit");
  warning_->setFrameShape(QFrame::Panel);
  warning_->setFrameShadow(QFrame::Raised);
  warning_->setAutoFillBackground(true);
  auto* w = new QVBoxLayout(warning_);
  QLabel* attention = new QLabel("Внимание!", warning_);
  attention->setStyleSheet("color: #ff0000; font-weight: bold;");
  w->addWidget(attention, 0, Qt::AlignHCenter);
  w->addWidget(new QLabel("Взятие с наруш.связи только для", warning_));
  w->addWidget(new QLabel("отладки и \"Автономного режима\".", warning_));
  QPushButton* ok = Button(warning_, "ButtonVzNarSvOk", "OK");
  w->addWidget(ok, 0, Qt::AlignHCenter);
  warning_->hide();
  connect(ok, &QPushButton::clicked, warning_, &QWidget::hide);
  connect(Box("CheckVzNarSv"), &QCheckBox::clicked, this, [this](bool on) {
    if (!on) return;
    warning_->adjustSize();
    warning_->move((width() - warning_->width()) / 2, (height() - warning_->height()) / 2);
    warning_->show();
    warning_->raise();
  });
}

QCheckBox* ParamsTab::Box(const char* name) const { return findChild<QCheckBox*>(name); }

void ParamsTab::BindNumber(QLineEdit* field, size_t offset) {
  field->setProperty(kOffset, qulonglong(offset));
  connect(field, &QLineEdit::editingFinished, this, [this, field] { LeaveNumber(field); });
}

void ParamsTab::LeaveNumber(QLineEdit* field) {
  host_.Edited();
  const size_t offset = field->property(kOffset).toULongLong();
  std::string shown;
  if (const auto error = StoreNumber(form_.image, offset, field->text().toStdString(), &shown)) {
    host_.Asker().Notice(window(), window()->windowTitle(), QString::fromStdString(*error));
    return;
  }
  field->setText(QString::fromStdString(shown));
  for (int k = 0; k < 3; ++k)
    if (times_[k] == field && HasAlwaysBox(offset))
      always_[k]->setChecked(AlwaysChecked(form_.image, offset));
}

void ParamsTab::LoopChanged(int loop, const QString& text) {
  const uint8_t type = LoopTypeIndex(loop, text.toStdString());
  if (type == form_.image[off::kLoopTypes + loop - 1]) return;
  host_.Edited();
  SetLoopType(form_.image, loop, type);
  ShowLoops();
}

void ParamsTab::OutputChanged(int output, int type) {
  host_.Edited();
  SetOutputType(form_.image, output, uint8_t(type));
  ShowOutputTime(output, false);
}

void ParamsTab::ShowOutputTime(int output, bool onShow) {
  const uint8_t type = OutputType(form_.image, output);
  const std::optional<OutputTimeView> v = onShow ? OutputTimeOnShow(form_.variant, output, type)
                                                 : OutputTimeOnChange(form_.variant, output, type);
  if (!v) return;
  const int i = output - 1;
  units_[i]->setText(QString::fromStdString(v->unit));
  times_[i]->setVisible(v->shown);
  always_[i]->setVisible(v->shown);
}

void ParamsTab::ShowLoops() {
  const Image& im = form_.image;
  for (int i = 0; i < kLoops; ++i) {
    delaysOut_[i]->setText(QString::number(im[off::kDelaysOut + i]));
    delaysIn_[i]->setText(QString::number(im[off::kDelaysIn + i]));
    for (auto& column : links_) {
      QCheckBox* b = column[i];
      b->setChecked(Flag(im, b->property(kOffset).toULongLong(), b->property(kBit).toInt()));
    }
  }
}

void ParamsTab::ShowImage() {
  const Image& im = form_.image;
  for (int i = 0; i < kLoops; ++i) loops_[i]->setCurrentIndex(im[off::kLoopTypes + i]);
  ShowLoops();
  const size_t timeOffsets[3] = {off::kOutput1Time, off::kOutput2Time, off::kSounderTime};
  for (int k = 0; k < 3; ++k) {
    times_[k]->setText(QString::number(im[timeOffsets[k]]));
    always_[k]->setChecked(AlwaysChecked(im, timeOffsets[k]));
  }
  for (int o = 1; o <= 2; ++o) {
    ShowOutputTime(o, true);
    outputs_[o - 1]->setCurrentIndex(OutputType(im, o));
  }
  periodEthernet_->setText(QString::number(im[off::kPeriodEthernet]));
  periodGsm_->setText(QString::number(im[off::kPeriodGsm]));
  label16_->hide();
  for (QCheckBox* b : findChildren<QCheckBox*>()) {
    if (!b->property(kOffset).isValid()) continue;
    const int bit = b->property(kBit).toInt();
    b->setChecked(b->property(kOptionA).toBool()
                      ? OptionABoxShown(im, bit)
                      : Flag(im, b->property(kOffset).toULongLong(), bit));
  }
  warning_->hide();
}

void ParamsTab::ArrangeF() {
  for (QWidget* w : otherLayouts_) w->hide();
  for (int k = 0; k < 2; ++k) {
    times_[k]->show();
    always_[k]->show();
  }
  for (int i = 1; i < kLoops; ++i) {
    delaysOut_[i]->show();
    delaysIn_[i]->show();
  }
}

bool ParamsTab::eventFilter(QObject* watched, QEvent* e) {
  auto* field = qobject_cast<QLineEdit*>(watched);
  if (e->type() != QEvent::KeyPress || (field != periodEthernet_ && field != periodGsm_))
    return QWidget::eventFilter(watched, e);
  const std::optional<char> key = TypedKey(*static_cast<QKeyEvent*>(e));
  if (!key || *key == kEnter) return false;
  // The key goes where the field's text ends.
  QString text = field->text();
  if (field->hasSelectedText()) text.remove(field->selectionStart(), field->selectedText().size());
  const PeriodKeyResult r = PeriodKey(field == periodEthernet_ ? Period::kEthernet : Period::kGsm,
                                      text.toStdString(), *key);
  if (r.label16) {
    label16_->setText(QString::fromStdString(*r.label16));
    label16_->setVisible(!r.label16->empty());
  }
  if (r.accepted) host_.Edited();
  return !r.accepted;
}

}  // namespace configurator::gui
