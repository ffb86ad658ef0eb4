#include "configurator/gui/expander_tab.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "configurator/gui/config_host.h"
#include "configurator/gui/deletion_window.h"
#include "configurator/gui/detector_grid.h"
#include "configurator/gui/form_state.h"
#include "configurator/gui/network_windows.h"
#include "configurator/gui/registration_window.h"
#include "configurator/gui/text.h"
#include "console/gui/asker.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

namespace {

using console::gui::Button;
using console::gui::Check;
using console::gui::Field;
using console::gui::Label;

QLineEdit* NetworkField(QWidget* parent, const char* name) {
  QLineEdit* f = Field(parent, name);
  f->setReadOnly(true);
  f->setFixedWidth(f->fontMetrics().horizontalAdvance("0000") + 12);
  f->setContextMenuPolicy(Qt::NoContextMenu);
  return f;
}

int BoxBit(Expander e) { return e == Expander::kRielta ? kRieltaExpander : kAstraExpander; }

}  // namespace

ExpanderTab::ExpanderTab(Expander e, FormState& form, ConfigHost& host, DeletionWindow& deletion,
                         QWidget* parent)
    : QWidget(parent), e_(e), form_(form), host_(host), deletion_(deletion) {
  const bool rielta = e == Expander::kRielta;
  setObjectName(rielta ? "TabSheetRielta" : "TabSheetAstra");
  auto* col = new QVBoxLayout(this);
  auto* top = new QWidget(this);
  col->addWidget(top);
  grid_ = new DetectorGrid(e, host, this);
  if (rielta) BuildRielta(top);
  else BuildAstra(top);

  detectorMenu_ = new QMenu(this);
  detectorMenu_->setObjectName("PopupMenu1");
  deleteOne_ = detectorMenu_->addAction(Q(kMenuDeleteOne), this, &ExpanderTab::DeleteOne);
  register_ = detectorMenu_->addAction(Q(kMenuRegister), this, &ExpanderTab::Register);
  deleteAll_ = detectorMenu_->addAction(Q(kMenuDeleteAll), this, &ExpanderTab::DeleteAll);
  networkMenu_ = new QMenu(this);
  networkMenu_->setObjectName("PopupMenu2");
  networkMenu_->addAction(Q(kMenuNetwork), this, &ExpanderTab::NetworkWindow);
  for (QLineEdit* f : network_) f->installEventFilter(this);
  connect(grid_, &DetectorGrid::MenuRequested, this, &ExpanderTab::DetectorMenu);

  connect(box_, &QCheckBox::clicked, this, &ExpanderTab::OnBoxClicked);
  connect(states_, &QPushButton::clicked, this, [this] {
    QueryStates();
    host_.StopStateCycle();
  });
  connect(cycle_, &QCheckBox::clicked, this, [this](bool on) {
    if (on) host_.StartStateCycle();
  });

  if (rielta) {
    rieltaRegistration_ = new RegistrationWindow(host, this);
    rieltaNetwork_ = new RieltaNetworkWindow(host, this);
  } else {
    astraNetwork_ = new AstraNetworkWindow(host, this);
  }
  Prepare();
  FollowBox();
}

ExpanderTab::~ExpanderTab() = default;

void ExpanderTab::BuildRielta(QWidget* top) {
  auto* g = new QGridLayout(top);
  g->setContentsMargins(0, 0, 0, 0);
  box_ = Check(top, "CheckBRHSen", "Подключить БРШС");
  g->addWidget(box_, 0, 0, 1, 2);
  auto* address = new QHBoxLayout;
  addressLabels_[0] = Label(top, "LabelRielta1", "Адрес БРШС:");
  address->addWidget(addressLabels_[0]);
  const char* labels[3] = {"LabelRielta2", "LabelRielta3", "LabelRielta4"};
  const char* boxes[3] = {"CheckAdrRielt_0", "CheckAdrRielt_1", "CheckAdrRielt_2"};
  for (int k = 0; k < 3; ++k) {
    addressLabels_[k + 1] = Label(top, labels[k], QString(" %1").arg(k + 1));
    address_[k] = Check(top, boxes[k], "");
    address->addWidget(addressLabels_[k + 1]);
    address->addWidget(address_[k]);
    connect(address_[k], &QCheckBox::clicked, this, [this, k](bool on) {
      host_.Edited();
      LeaveOptionABox(form_.image, kExpanderAddress1 + k, on);
    });
  }
  address->addStretch();
  g->addLayout(address, 0, 2, 1, 4);
  networkLabels_[0] = Label(top, "Label49", " N-Сети");
  network_[0] = NetworkField(top, "N_Net_BRHS");
  networkLabels_[1] = Label(top, "Label48", " N-Литеры");
  network_[1] = NetworkField(top, "N_Litera");
  auto* net = new QHBoxLayout;
  for (int k = 0; k < 2; ++k) {
    net->addWidget(networkLabels_[k]);
    net->addWidget(network_[k]);
  }
  net->addStretch();
  states_ = Button(top, "SpeedButton2", "Чт.Сост.");
  cycle_ = Check(top, "CheckBox5", "Цикл Чт.Сост.");
  net->addWidget(states_);
  net->addWidget(cycle_);
  g->addLayout(net, 1, 0, 1, 6);

  // PageControl2: the detector table.
  tableArea_ = new QWidget(this);
  tableArea_->setObjectName("PageControl2");
  auto* area = new QVBoxLayout(tableArea_);
  area->setContentsMargins(0, 0, 0, 0);
  area->addWidget(grid_);
  static_cast<QVBoxLayout*>(layout())->addWidget(tableArea_, 1);
}

void ExpanderTab::BuildAstra(QWidget* top) {
  auto* g = new QGridLayout(top);
  g->setContentsMargins(0, 0, 0, 0);
  box_ = Check(top, "CheckAstraEn", "Подключить  \"Астра - РР\"");
  g->addWidget(box_, 0, 0, 1, 4);
  networkLabels_[0] = Label(top, "Label56", " N-Литеры");
  network_[0] = NetworkField(top, "Litera_Astra");
  networkLabels_[1] = Label(top, "Label57", "Период контроля (*10 сек.)");
  network_[1] = NetworkField(top, "Par_Sviaz_Astra");
  auto* net = new QHBoxLayout;
  for (int k = 0; k < 2; ++k) {
    net->addWidget(networkLabels_[k]);
    net->addWidget(network_[k]);
  }
  net->addStretch();
  g->addLayout(net, 1, 0, 1, 4);
  states_ = Button(top, "SpeedButton1", "Чт.Сост.");
  cycle_ = Check(top, "CheckBox4", "Цикл Чт.Сост.");
  auto* st = new QHBoxLayout;
  st->addWidget(states_);
  st->addWidget(cycle_);
  st->addStretch();
  g->addLayout(st, 2, 0, 1, 4);

  rssi_ = new QGroupBox(" RSSI  dbm", top);
  rssi_->setObjectName("GroupBox1");
  auto* legend = new QVBoxLayout(rssi_);
  legend->setSpacing(0);
  for (const char* line : {" отличный > -35", " очень хор.от -53 до -35", " хор. от -81 до -50",
                           " плохой от -82 "})
    legend->addWidget(new QLabel(line, rssi_));
  g->addWidget(rssi_, 0, 4, 3, 1);
  g->setColumnStretch(3, 1);

  auto* zones = new QGroupBox("Разделы/Зоны", this);
  zones->setObjectName("GroupBox3");
  auto* area = new QVBoxLayout(zones);
  area->setContentsMargins(2, 2, 2, 2);
  area->addWidget(grid_);
  tableArea_ = zones;
  static_cast<QVBoxLayout*>(layout())->addWidget(tableArea_, 1);
}

void ExpanderTab::Prepare() {
  active_ = false;
  settingsRead_ = false;
  blocks_ = {};
  grid_->Clear();
  for (QLineEdit* f : network_) f->clear();
  cycle_->setChecked(false);
  detectorMenu_->hide();
}

bool ExpanderTab::BoxChecked() const { return box_->isChecked(); }

void ExpanderTab::ShowOptions() {
  box_->setChecked(OptionABoxShown(form_.image, BoxBit(e_)));
  active_ = box_->isChecked();
  for (int k = 0; k < 3; ++k)
    if (address_[k]) address_[k]->setChecked(OptionABoxShown(form_.image, kExpanderAddress1 + k));
  astraBitShown_ = Flag(form_.image, off::kOptionsA, kAstraExpander);
  FollowBox();
}

void ExpanderTab::AfterImageRead() {
  if (!BoxChecked()) return;
  settingsRead_ = false;
  FollowBox();
}

// A failed read leaves the blocks that did not come as they were.
void ExpanderTab::TakeBlocks(const ExpanderBlocks& blocks, int arrived, bool ok) {
  if (arrived > 0) blocks_.table = blocks.table;
  if (arrived > 1) blocks_.settings = blocks.settings;
  if (arrived > 2) blocks_.owners = blocks.owners;
  if (arrived > 0) {
    grid_->Show(RowsFromBlocks(e_, blocks_));
    ShowNetwork();
  }
  settingsRead_ = ok;
}

void ExpanderTab::TakeStates(std::span<const uint8_t> data) { grid_->ShowStates(data); }

ExpanderBlocks ExpanderTab::Encoded() const {
  ExpanderBlocks b = blocks_;
  RowsIntoBlocks(e_, grid_->Rows(), b);
  return b;
}

void ExpanderTab::ShowNetwork() {
  const std::array<std::string, 2> f = NetworkFields(e_, blocks_);
  for (int k = 0; k < 2; ++k) network_[k]->setText(QString::fromStdString(f[k]));
}

void ExpanderTab::OnBoxClicked(bool checked) {
  host_.Edited();
  LeaveOptionABox(form_.image, BoxBit(e_), checked);
  active_ = false;
  FollowBox();
  emit BoxClicked(checked);
  host_.ActiveChanged();
}

void ExpanderTab::UncheckedByOther() {
  box_->setChecked(false);
  active_ = false;
  FollowBox();
  if (rieltaRegistration_) rieltaRegistration_->close();
  if (astraRegistration_) astraRegistration_->close();
}

void ExpanderTab::FollowBox() {
  const bool on = box_->isChecked();
  for (QCheckBox* b : address_)
    if (b) b->setEnabled(on);
  for (QLabel* l : addressLabels_)
    if (l) l->setEnabled(on);
  for (int k = 0; k < 2; ++k) {
    network_[k]->setVisible(on);
    networkLabels_[k]->setVisible(on);
  }
  tableArea_->setVisible(on);
  if (rssi_) rssi_->setVisible(on);
}

bool ExpanderTab::Cycling() const { return cycle_->isChecked(); }

void ExpanderTab::StopCycling() { cycle_->setChecked(false); }

void ExpanderTab::QueryStates() {
  grid_->StateLabel()->clear();
  ConfigCommand c;
  c.kind = ConfigCommand::Kind::kStates;
  c.expander = e_;
  host_.Post(std::move(c));
}

void ExpanderTab::ReReadDone() {
  for (OperationWindow* w : {static_cast<OperationWindow*>(rieltaRegistration_),
                             static_cast<OperationWindow*>(astraRegistration_.data()),
                             static_cast<OperationWindow*>(rieltaNetwork_),
                             static_cast<OperationWindow*>(astraNetwork_)})
    if (w) w->CheckDone();
}

void ExpanderTab::CloseOperationWindows() {
  for (QWidget* w : {static_cast<QWidget*>(rieltaRegistration_),
                     static_cast<QWidget*>(astraRegistration_.data()),
                     static_cast<QWidget*>(rieltaNetwork_), static_cast<QWidget*>(astraNetwork_)})
    if (w) w->close();
}

void ExpanderTab::DetectorMenu(int slot, const QPoint& at) {
  menuSlot_ = slot;
  const std::vector<std::string_view> items = configurator::DetectorMenu(e_, astraBitShown_);
  const auto offered = [&](std::string_view t) {
    return std::find(items.begin(), items.end(), t) != items.end();
  };
  deleteOne_->setVisible(offered(kMenuDeleteOne));
  register_->setVisible(offered(kMenuRegister));
  deleteAll_->setVisible(offered(kMenuDeleteAll));
  detectorMenu_->popup(at);
}

void ExpanderTab::DeleteOne() {
  const DeletionTarget t = DeletionFor(e_, grid_->Rows(), menuSlot_);
  if (!t.known) {
    host_.Asker().Notice(this, Q(kDeletionCaption), Q(kUnknownDetector));
    return;
  }
  if (!host_.Asker().Ask(this, Q(kQuestionCaption), QString::fromStdString(t.question))) return;
  host_.StartOperation(DeleteOneRequest(t.index));
  deletion_.Open();
}

void ExpanderTab::DeleteAll() {
  if (!host_.Asker().Ask(this, Q(kQuestionCaption), Q(kDeleteAllQuestion))) return;
  host_.StartOperation(DeleteAllRequest());
  deletion_.Open();
}

void ExpanderTab::Register() {
  if (e_ == Expander::kRielta) {
    rieltaRegistration_->Open();
    return;
  }
  if (!astraRegistration_) {
    astraRegistration_ = new AstraRegistrationWindow(host_, this);
    astraRegistration_->setAttribute(Qt::WA_DeleteOnClose);
  }
  astraRegistration_->Open();
}

void ExpanderTab::NetworkWindow() {
  if (e_ == Expander::kRielta) rieltaNetwork_->Open(blocks_);
  else astraNetwork_->Open(network_[0]->text(), network_[1]->text());
}

bool ExpanderTab::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::RightButton &&
      std::find(network_.begin(), network_.end(), watched) != network_.end()) {
    networkMenu_->popup(static_cast<QMouseEvent*>(e)->globalPosition().toPoint());
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace configurator::gui
