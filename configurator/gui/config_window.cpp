#include "configurator/gui/config_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "configurator/config_file.h"
#include "configurator/gui/code_tab.h"
#include "configurator/gui/deletion_window.h"
#include "configurator/gui/expander_tab.h"
#include "configurator/gui/key_tab.h"
#include "configurator/gui/params_tab.h"
#include "configurator/gui/text.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

namespace {

using console::gui::Button;
using console::gui::Label;

const char kSection[] = "Config";
constexpr int kWidth = 670;
constexpr int kHeightF = 670;  // once a "Гравен-Net" device identified
constexpr int kProgressMax = 256;
const QString kFilter = "*.dat (*.dat)";

// Why an image of another layout is only kept, not edited nor written.
QString ForeignLayoutLine(uint8_t variant) {
  if (variant == kVariantGsm)
    return "Конфигурация \"Ворда-GSM\" (тип 251): в этом окне не правится и в прибор не "
           "записывается; сохраняется в файл без изменений.";
  return QString("Конфигурация неизвестного типа (%1): в этом окне не правится и в прибор не "
                 "записывается.")
      .arg(variant);
}

}  // namespace

ConfigWindow::ConfigWindow(app::Server& server, console::gui::Asker& asker,
                           console::gui::FileChooser& files, QWidget* parent)
    : QMainWindow(parent, Qt::Window), server_(server), asker_(asker), files_(files) {
  setObjectName("TFormConfig");
  setWindowTitle("Конфигуратор прибора");

  const auto [load, save] = console::gui::AddFileMenu(this);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* col = new QVBoxLayout(central);
  auto* top = new QHBoxLayout;
  ButtonRead = Button(central, "ButtonRead", "Считать");
  ButtonWrite = Button(central, "ButtonWrite", "Записать в УО");
  ProgressBar1 = new QProgressBar(central);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, kProgressMax);
  ProgressBar1->setTextVisible(false);
  top->addWidget(ButtonRead);
  top->addWidget(ButtonWrite);
  top->addWidget(ProgressBar1, 1);
  col->addLayout(top);
  auto* lines = new QHBoxLayout;
  Label6 = Label(central, "Label6", "");
  LabelTmp = Label(central, "LabelTmp", "");
  LabelTmp->hide();
  LabelBagRielta = Label(central, "LabelBagRielta", "");
  LabelBagRielta->setStyleSheet("color: #800000;");
  lines->addWidget(Label6, 1);
  lines->addWidget(LabelBagRielta);
  col->addLayout(lines);
  LabelVariant = Label(central, "LabelVariant", "");
  LabelVariant->setWordWrap(true);
  LabelVariant->setStyleSheet("color: #ff0000;");
  LabelVariant->hide();
  col->addWidget(LabelVariant);

  deletion_ = new DeletionWindow(*this, this);
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName("PageControl1");
  params_ = new ParamsTab(form_, *this, PageControl1);
  keys_ = new KeyTab(form_, *this, PageControl1);
  codes_ = new CodeTab(form_, *this, PageControl1);
  rielta_ = new ExpanderTab(Expander::kRielta, form_, *this, *deletion_, PageControl1);
  astra_ = new ExpanderTab(Expander::kAstra, form_, *this, *deletion_, PageControl1);
  PageControl1->addTab(params_, "Парам. && пр.ШС");
  PageControl1->addTab(keys_, "Ключи");
  const int codesTab = PageControl1->addTab(codes_, "Коды");
  PageControl1->addTab(rielta_, "БРШС \"Риэлта\"");
  PageControl1->addTab(astra_, "\"Астра - РР\"");
  // "Коды" belongs to the "VordaF" layout: shown once such a device identified.
  PageControl1->setTabVisible(codesTab, false);
  PageControl1->hide();
  col->addWidget(PageControl1, 1);

  connect(ButtonRead, &QPushButton::clicked, this, &ConfigWindow::Read);
  connect(ButtonWrite, &QPushButton::clicked, this, &ConfigWindow::Write);
  connect(load, &QAction::triggered, this, &ConfigWindow::LoadFile);
  connect(save, &QAction::triggered, this, &ConfigWindow::SaveFile);
  connect(keys_, &KeyTab::PollAsked, this, &ConfigWindow::StartKeyPolling);
  connect(keys_, &KeyTab::StopAsked, this, &ConfigWindow::StopKeyPolling);
  connect(keys_, &KeyTab::KeyTyped, this, [this] {
    Post(Command(ConfigCommand::Kind::kStop));
    EnableTransfer(true);
  });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    // A change of tab ends key polling; the state cycle stops.
    if (keys_->Polling()) StopKeyPolling();
    StopStateCycle();
  });
  // The two expanders are never connected together.
  connect(rielta_, &ExpanderTab::BoxClicked, this, [this](bool on) {
    if (on) astra_->UncheckedByOther();
  });
  connect(astra_, &ExpanderTab::BoxClicked, this, [this](bool on) {
    if (on) rielta_->UncheckedByOther();
  });

  pump_.setInterval(50);
  connect(&pump_, &QTimer::timeout, this, [this] {
    if (!channel_) return;
    for (const ConfigNotice& n : channel_->Drain(0)) Take(n);
  });
  timer2_.setInterval(1000);
  connect(&timer2_, &QTimer::timeout, this, &ConfigWindow::SettlingTick);
  timer3_.setInterval(10'000);
  connect(&timer3_, &QTimer::timeout, this, [this] {
    for (ExpanderTab* t : {rielta_, astra_})
      if (t->Cycling()) t->QueryStates();
  });

  const app::Server::Geometry g = server_.WindowGeometry(kSection, {27, 104, 638, 800});
  setGeometry(g.left, g.top, kWidth, g.height);
}

ConfigWindow::~ConfigWindow() = default;

bool ConfigWindow::Open(const QString& number, std::string* error) {
  if (open_) {
    *error = "окно \"Конфигуратор прибора\" уже открыто";
    return false;
  }
  auto channel = std::make_shared<ConfigChannel>();
  const std::string line = ConsoleLine(number.toStdString());
  if (!server_.StartWindowMaintenance("конфигуратор", ConfiguratorJob(channel, line), error))
    return false;
  channel_ = std::move(channel);
  open_ = true;
  LabelTmp->setText(QString::fromStdString(line));
  Prepare();
  pump_.start();
  show();
  raise();
  return true;
}

void ConfigWindow::Prepare() {
  PageControl1->hide();
  Label6->clear();
  LabelBagRielta->clear();
  LabelVariant->hide();
  ProgressBar1->setValue(0);
  ButtonRead->setEnabled(true);
  keys_->ButtonKey->setEnabled(true);
  writeOffered_ = false;
  RefreshWrite();
  keys_->PollingStopped();
  // Nothing of a previous device's expander is kept: a write sends only what was read now.
  for (ExpanderTab* t : {rielta_, astra_}) t->Prepare();
  StopStateCycle();
  timer2_.stop();
  holdWriteOk_ = false;
  astraWriteFollows_ = false;
}

// ---- ConfigHost

void ConfigWindow::Post(ConfigCommand c) {
  if (channel_) channel_->Post(std::move(c));
}

bool ConfigWindow::ReReadArmed() const { return channel_ && channel_->ReReadArmed(); }

void ConfigWindow::GiveButtonsBack() {
  ButtonRead->setEnabled(true);
  writeOffered_ = true;
  RefreshWrite();
}

void ConfigWindow::Edited() { ProgressBar1->setValue(0); }

void ConfigWindow::StartStateCycle() { timer3_.start(); }

void ConfigWindow::StopStateCycle() {
  timer3_.stop();
  for (ExpanderTab* t : {rielta_, astra_}) t->StopCycling();
}

std::optional<Expander> ConfigWindow::ActiveExpander() const {
  if (astra_->Active()) return Expander::kAstra;
  if (rielta_->Active()) return Expander::kRielta;
  return std::nullopt;
}

void ConfigWindow::ActiveChanged() {
  ConfigCommand c;
  c.kind = ConfigCommand::Kind::kSetActive;
  c.expander = ActiveExpander();
  Post(std::move(c));
}

ExpanderTab* ConfigWindow::Tab(Expander e) const {
  return e == Expander::kRielta ? rielta_ : astra_;
}

// ---- Buttons

void ConfigWindow::EnableTransfer(bool on) {
  ButtonRead->setEnabled(on);
  keys_->ButtonKey->setEnabled(on);
  writeOffered_ = on;
  RefreshWrite();
}

void ConfigWindow::RefreshWrite() {
  ButtonWrite->setEnabled(writeOffered_ && HasFLayout(form_.variant));
}

void ConfigWindow::Read() {
  ReadBegins();
  Post(Command(ConfigCommand::Kind::kRead));
}

// What a read does to the window, whether the button or the run began it.
void ConfigWindow::ReadBegins() {
  ProgressBar1->setValue(0);
  EnableTransfer(false);
  LabelBagRielta->clear();
  StopStateCycle();
}

void ConfigWindow::Write() {
  if (!HasFLayout(form_.variant)) return;
  PrepareForWrite(form_.image);
  WriteBegins();
  ConfigCommand c;
  c.kind = ConfigCommand::Kind::kWrite;
  c.image.assign(form_.image.begin(), form_.image.begin() + kWriteEnd);
  c.imageVariant = form_.variant;
  c.expander = ActiveExpander();
  if (c.expander) {
    const ExpanderTab* t = Tab(*c.expander);
    c.expanderSettingsRead = t->SettingsRead();
    c.blocks = t->Encoded();
  }
  astraWriteFollows_ = c.expander == Expander::kAstra && c.expanderSettingsRead;
  Post(std::move(c));
}

// What a write does to the window, whether the button or the run began it.
void ConfigWindow::WriteBegins() {
  ReadBegins();
  keys_->Label41->hide();
  keys_->Label42->hide();
  timer2_.stop();
  holdWriteOk_ = false;
}

void ConfigWindow::StartKeyPolling() {
  if (!keys_->ButtonKey->isEnabled()) return;
  keys_->PollingStarted();
  EnableTransfer(false);
  Post(Command(ConfigCommand::Kind::kKeyPoll));
}

void ConfigWindow::StopKeyPolling() {
  keys_->PollingStopped();
  EnableTransfer(true);
  Post(Command(ConfigCommand::Kind::kStop));
}

// ---- The run's notices

void ConfigWindow::Take(const ConfigNotice& n) {
  using K = ConfigNotice::Kind;
  switch (n.kind) {
    case K::kTransfer: TakeTransfer(n.transfer); break;
    case K::kExpanderRead: Tab(n.expander)->TakeBlocks(n.blocks, n.blocksArrived, n.ok); break;
    case K::kExpanderWritten:
      if (n.expander != Expander::kAstra) break;
      astraWriteFollows_ = false;
      if (n.ok) {
        StartSettling();
      } else {
        ButtonRead->setEnabled(true);
        writeOffered_ = true;
        RefreshWrite();
      }
      break;
    case K::kStates: Tab(n.expander)->TakeStates(n.data); break;
    case K::kStatus:
      if (holdWriteOk_ && n.text == Profile(Expander::kAstra).writeOkLabel) break;
      LabelBagRielta->setText(QString::fromStdString(n.text));
      break;
    case K::kReReadStarted: ReadBegins(); break;
    case K::kWriteBackStarted:
      WriteBegins();
      astraWriteFollows_ = n.expander == Expander::kAstra;
      break;
    case K::kReReadDone:
      for (ExpanderTab* t : {rielta_, astra_}) t->ReReadDone();
      deletion_->CheckDone();
      break;
    case K::kRefused:
      LabelBagRielta->setText(QString::fromStdString(n.text));
      emit Message(QString::fromStdString(n.text));
      EnableTransfer(true);
      break;
    case K::kEnded:
      // The run is over (the maintenance window closed or the session ended it).
      if (open_) {
        EnableTransfer(false);
        channel_.reset();
      }
      break;
  }
}

void ConfigWindow::TakeTransfer(const ConfigEvent& e) {
  using K = ConfigEvent::Kind;
  switch (e.kind) {
    case K::kProgress: ProgressBar1->setValue(std::min(e.pos, ProgressBar1->maximum())); break;
    case K::kIdentified:
      form_.variant = deviceVariant_ = e.variant;
      Label6->setText(QString::fromStdString(e.text));
      if (e.variant == kVariantAccepted) {
        ArrangeF();
        ProgressBar1->setRange(0, kProgressMax);
        ButtonRead->setEnabled(true);
      }
      RefreshWrite();
      break;
    case K::kReadDone: {
      std::copy(e.bytes.begin(), e.bytes.end(), form_.image.begin());
      EnableTransfer(true);
      if (e.bytes.size() <= 255) break;
      // What was read has the layout of the device it came from.
      form_.variant = deviceVariant_;
      ShowImage();
      for (ExpanderTab* t : {rielta_, astra_}) t->AfterImageRead();
      break;
    }
    case K::kWriteDone:
      EnableTransfer(true);
      if (astraWriteFollows_) {
        ButtonRead->setEnabled(false);
        ButtonWrite->setEnabled(false);
      }
      if (astra_->BoxChecked() && !astra_->Active()) StartSettling();
      break;
    case K::kKeyRead:
      keys_->TakeKey(e.bytes);
      EnableTransfer(true);
      break;
    case K::kAsk: {
      // Nothing else of the run is shown while the question is open.
      pump_.stop();
      ConfigCommand c = Command(ConfigCommand::Kind::kAnswer);
      c.goOn = asker_.Confirm(this, "Прибор не отвечает", "Продолжить?");
      Post(std::move(c));
      if (open_) pump_.start();
      break;
    }
    case K::kGaveUp: EnableTransfer(true); break;
  }
}

// ---- Showing the image

void ConfigWindow::ArrangeF() {
  params_->ArrangeF();
  PageControl1->setTabVisible(PageControl1->indexOf(codes_), true);
  resize(width(), kHeightF);
  keys_->Renumber(false);
}

void ConfigWindow::ShowImage() {
  show();
  if (HasFLayout(form_.variant)) {
    RepairForShow(form_.image);
    keys_->ShowImage();
    codes_->ShowImage();
    form_.tablesFromImage = true;
    params_->ShowImage();
    for (ExpanderTab* t : {rielta_, astra_}) t->ShowOptions();
    keys_->Label41->hide();
    keys_->Label42->hide();
    LabelVariant->hide();
    PageControl1->show();
  } else {
    // Kept byte for byte: nothing here edits this layout or sends it.
    form_.tablesFromImage = false;
    PageControl1->hide();
    LabelVariant->setText(ForeignLayoutLine(form_.variant));
    LabelVariant->show();
  }
  RefreshWrite();
  ActiveChanged();
}

// ---- Files

QString ConfigWindow::Folder() {
  const std::string dataDir =
      QFile::encodeName(QFileInfo(QString::fromStdString(server_.IniPath())).absolutePath())
          .toStdString();
  std::string why;
  const std::string folder = ConfigFolder(dataDir, form_.variant, &why);
  if (folder.empty()) emit Message(QString::fromStdString(why));
  return QFile::decodeName(folder.c_str());
}

void ConfigWindow::LoadFile() {
  const QString folder = Folder();
  if (folder.isEmpty()) return;
  const QString path = files_.OpenFile(this, folder, kFilter);
  if (path.isEmpty()) return;
  LoadedConfig loaded =
      LoadConfigFile(QFile::encodeName(path).toStdString(), form_.image, form_.variant);
  form_.image = loaded.image;
  form_.variant = loaded.variant;
  // The image is another now: neither the tables nor an expander's settings are its.
  form_.tablesFromImage = false;
  for (ExpanderTab* t : {rielta_, astra_}) t->Prepare();
  if (loaded.formatError) {
    if (!loaded.why.empty()) emit Message(QString::fromStdString(loaded.why));
    asker_.Notice(this, Q(kFormatErrorCaption), Q(kFormatErrorText));
  }
  ShowImage();
}

void ConfigWindow::SaveFile() {
  const std::optional<VariantFiles> files = FilesOfVariant(form_.variant);
  if (!files) {
    asker_.Notice(
        this, windowTitle(),
        QString("Конфигурация неизвестного типа (%1) не сохраняется.").arg(form_.variant));
    return;
  }
  const QString folder = Folder();
  if (folder.isEmpty()) return;
  // Keys entered but not yet committed go into the file too.
  keys_->Encode();
  QString path = files_.SaveFile(this, folder + "/" + Q(files->defaultName), kFilter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += ".dat";
  std::string why;
  if (!SaveConfigFile(QFile::encodeName(path).toStdString(), form_.variant, form_.image, &why))
    asker_.Notice(this, windowTitle(), QString::fromStdString(why));
}

// ---- The Astra-RR settling display

void ConfigWindow::StartSettling() {
  holdWriteOk_ = true;
  settling_ = 0;
  ButtonRead->setEnabled(false);
  ButtonWrite->setEnabled(false);
  timer2_.start();
}

void ConfigWindow::SettlingTick() {
  if (!configurator::SettlingTick(settling_, ProgressBar1->maximum())) {
    ProgressBar1->setValue(std::min(settling_, ProgressBar1->maximum()));
    return;
  }
  timer2_.stop();
  holdWriteOk_ = false;
  LabelBagRielta->setText(Q(Profile(Expander::kAstra).writeOkLabel));
  ButtonRead->setEnabled(true);
  writeOffered_ = true;
  RefreshWrite();
}

// ---- Closing and size

void ConfigWindow::closeEvent(QCloseEvent* e) {
  if (open_) {
    ButtonRead->setEnabled(false);
    Post(Command(ConfigCommand::Kind::kClose));
    const QRect g = geometry();
    server_.SetWindowGeometry(kSection, {g.x(), g.y(), g.width(), g.height()});
    open_ = false;
    pump_.stop();
    channel_.reset();
    for (ExpanderTab* t : {rielta_, astra_}) t->CloseOperationWindows();
    deletion_->close();
    StopStateCycle();
    timer2_.stop();
    keys_->PollingStopped();
    emit Closed();
  }
  QMainWindow::closeEvent(e);
}

void ConfigWindow::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (width() != kWidth) resize(kWidth, height());
}

}  // namespace configurator::gui
