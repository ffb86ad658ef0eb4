#include "maintenance/gui/test_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <array>

#include "console/gui/widgets.h"
#include "maintenance/device_test.h"
#include "maintenance/gui/maintenance_window.h"

namespace maintenance::gui {

namespace {

using console::gui::Button;
using console::gui::Check;
using console::gui::Field;
using console::gui::Label;

const char kSection[] = "Test";

struct Channel {
  const char* name;
  const char* caption;
};
// In the order of their bits: LAN mask bits 0..3, SIM mask bits 0..7.
const Channel kChannels[12] = {
    {"CheckBox1", "LAN IP1"},   {"CheckBox2", "LAN IP2"},   {"CheckBox3", "LAN IP3"},
    {"CheckBox4", "LAN IP4"},   {"CheckBox5", "SIM1 IP1"},  {"CheckBox6", "SIM1 IP2"},
    {"CheckBox7", "SIM1 IP3"},  {"CheckBox8", "SIM1 IP4"},  {"CheckBox9", "SIM2 IP1"},
    {"CheckBox10", "SIM2 IP2"}, {"CheckBox11", "SIM2 IP3"}, {"CheckBox12", "SIM2 IP4"},
};

// "Востановить" ticks these (LAN IP1..IP4, SIM1 IP1, SIM1 IP2) and leaves the rest.
constexpr int kRestored = 6;

struct Blocking {
  const char* name;
  const char* caption;
  int tag;
  bool exclusive;  // unticked by a click on a box of another tag
};
const Blocking kBlocking[11] = {
    {"CheckBlockAllPacket", "Блоктровка всех пакетов", 0, true},
    {"CheckBlockPacket_1", "Блоктровка 1 пакета", 1, true},
    {"CheckBlockPacket_2", "Блоктровка 2 пакетов", 2, true},
    {"CheckBlockPacket_3", "Блоктровка 3 (Ст.Алг. 1серв.)", 3, true},
    {"CheckBlockPacket_41", "Блоктровка 4 пакетов", 4, false},
    {"CheckBlockPacket_4", "Блоктровка 5 (Ст.Алг. 2серв.)", 4, true},
    {"CheckBlockPacket_5", "Блоктровка 6 пакетов", 5, true},
    {"CheckBlockPacket_6", "Блоктровка 7 пакетов", 6, false},
    {"CheckBlockPacket_7", "Блоктровка 8 пакетов", 7, false},
    {"CheckBlockPacket_8", "Блоктровка 9 пакетов", 8, false},
    {"CheckBoxPerex", "Переход между SIM.", 5, false},
};

QFrame* Rule(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

struct TestWindow::Impl {
  app::Server& server;
  MaintenanceWindow& owner;
  bool open = false;  // the window-open flag
  // The packet counter and the blocking flags: kept and shown, but nothing in
  // this server counts packets or blocks its answers to a device.
  int packets = 0;
  std::array<bool, 11> blockingFlags{};

  std::array<QCheckBox*, 12> channels{};
  std::array<QCheckBox*, 11> blocking{};
  QPushButton* run = nullptr;
  QPushButton* restore = nullptr;
  QPushButton* reset = nullptr;
  QLineEdit* pult = nullptr;
  QLineEdit* counter = nullptr;

  Impl(app::Server& s, MaintenanceWindow& o) : server(s), owner(o) {}

  void EnableCommands(bool on) {
    for (QPushButton* b : {run, restore, reset}) b->setEnabled(on);
  }

  // A command as a job of the maintenance session; one at a time.
  void Start(const char* what, Maintenance::Job job) {
    EnableCommands(false);
    if (!owner.Run(what, std::move(job), [this](bool) { EnableCommands(true); }))
      EnableCommands(true);
  }

  void RunChannels() {
    std::array<bool, 12> ticked{};
    for (size_t k = 0; k < ticked.size(); ++k) ticked[k] = channels[k]->isChecked();
    const ChannelMasks m = MasksOf(ticked);
    Start("тест каналов", [m](Exchange& x) { return RunChannelTest(x, m); });
  }

  void Restore() {
    for (int k = 0; k < kRestored; ++k) channels[size_t(k)]->setChecked(true);
    RunChannels();
  }

  void ShowCounter() { counter->setText(QString::number(packets)); }

  void OnBlocking(int tag) {
    ShowCounter();
    for (size_t k = 0; k < blocking.size(); ++k)
      if (kBlocking[k].exclusive && kBlocking[k].tag != tag) blocking[k]->setChecked(false);
    for (size_t k = 0; k < blocking.size(); ++k) blockingFlags[k] = blocking[k]->isChecked();
  }
};

TestWindow::TestWindow(app::Server& server, MaintenanceWindow& owner, console::gui::Asker&,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), d_(new Impl(server, owner)) {
  setObjectName("TTestUO");
  setWindowTitle("Тест");

  auto* outer = new QVBoxLayout(this);
  auto* group = new QGroupBox("Тест Блок.ответа сервера по каналам", this);
  outer->addWidget(group);
  auto* col = new QVBoxLayout(group);

  // The twelve channels, a row per carrier, and the three commands beside them.
  auto* top = new QHBoxLayout;
  auto* grid = new QGridLayout;
  for (size_t k = 0; k < d_->channels.size(); ++k) {
    d_->channels[k] = Check(group, kChannels[k].name, kChannels[k].caption, true);
    grid->addWidget(d_->channels[k], int(k / 4), int(k % 4));
  }
  top->addLayout(grid);
  top->addStretch(1);
  auto* commands = new QVBoxLayout;
  d_->run = Button(group, "SpeedButton1", "Исполнить");
  d_->restore = Button(group, "SpeedButton2", "Востановить");
  d_->reset = Button(group, "SpeedButton3", "Reset 87J60");
  for (QPushButton* b : {d_->run, d_->restore, d_->reset}) commands->addWidget(b);
  top->addLayout(commands);
  col->addLayout(top);
  col->addWidget(Rule(group));

  auto* numbers = new QHBoxLayout;
  d_->pult = Field(group, "N_Pult");
  d_->counter = Field(group, "CountPacket");
  for (QLineEdit* e : {d_->pult, d_->counter}) {
    e->setReadOnly(true);
    e->setFixedWidth(90);
  }
  numbers->addWidget(new QLabel("Пульт.N", group));
  numbers->addWidget(d_->pult);
  numbers->addSpacing(16);
  numbers->addWidget(new QLabel("Счетчик пакетов", group));
  numbers->addWidget(d_->counter);
  QPushButton* clear = Button(group, "BitBtn1", "Очистить");
  numbers->addWidget(clear);
  numbers->addStretch(1);
  col->addLayout(numbers);

  // Value lines of the device's test state; nothing in this server fills them.
  auto* values = new QGridLayout;
  const std::pair<const char*, const char*> kValues[] = {
      {"C_iTransmInd", "C_iTransm"}, {"C_iResivInd", "C_iResiv"}, {"IdentNN", "Ident:"},
      {"Label5", "T блк.="},         {"Label7", "T перехода.="},  {"Label8", "T паузы.="},
  };
  for (size_t k = 0; k < std::size(kValues); ++k)
    values->addWidget(Label(group, kValues[k].first, kValues[k].second), int(k / 3), int(k % 3));
  col->addLayout(values);
  col->addWidget(Rule(group));

  auto* blocking = new QGridLayout;
  for (size_t k = 0; k < d_->blocking.size(); ++k) {
    d_->blocking[k] = Check(group, kBlocking[k].name, kBlocking[k].caption);
    blocking->addWidget(d_->blocking[k], int(k % 6), int(k / 6));
    const int tag = kBlocking[k].tag;
    connect(d_->blocking[k], &QCheckBox::clicked, this, [this, tag] { d_->OnBlocking(tag); });
  }
  col->addLayout(blocking);
  col->addStretch(1);

  connect(d_->run, &QPushButton::clicked, this, [this] { d_->RunChannels(); });
  connect(d_->restore, &QPushButton::clicked, this, [this] { d_->Restore(); });
  connect(d_->reset, &QPushButton::clicked, this, [this] {
    d_->Start("сброс 87J60", [](Exchange& x) { return ResetEthernetController(x); });
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    d_->packets = 0;
    d_->ShowCounter();
  });

  const app::Server::Geometry g = server.WindowGeometry(kSection, {27, 104, 625, 419});
  setGeometry(g.left, g.top, g.width, g.height);
}

TestWindow::~TestWindow() { delete d_; }

void TestWindow::Open() {
  d_->open = true;
  d_->pult->setText(d_->owner.edtHost->text());
  d_->EnableCommands(true);
  show();
  raise();
}

bool TestWindow::IsOpen() const { return d_->open; }

void TestWindow::closeEvent(QCloseEvent* e) {
  d_->owner.EnableTest(true);
  const QRect r = geometry();
  d_->server.SetWindowGeometry(kSection, {r.x(), r.y(), r.width(), r.height()});
  d_->open = false;
  QWidget::closeEvent(e);
}

}  // namespace maintenance::gui
