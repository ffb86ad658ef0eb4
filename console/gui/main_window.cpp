#include "console/gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "console/field_rules.h"
#include "console/gui/asker.h"
#include "console/gui/console_icon.h"
#include "console/gui/device_table_model.h"
#include "console/gui/help_window.h"
#include "console/gui/widgets.h"
#include "console/gui/screen_fit.h"
#include "console/line_format.h"
#include "console/questions.h"
#include "console/traffic_filter.h"

namespace console::gui {

namespace {

const QString kTitle = "Сервер-ретранслятор";
constexpr int kMessageLines = 1000;

enum Tab { kTabTraffic, kTabService, kTabDebug, kTabRegistration, kTabSettings, kTabSurGard };

QString NumberQText(ConsoleNumber n) { return QString::fromStdString(devlink::NumberText(n)); }

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items) {
  auto* c = new QComboBox(parent);
  c->setObjectName(name);
  c->addItems(items);
  return c;
}

// An address box holds the stored address as its single item, and takes
// typing; its list is filled with the host's adapters as it opens.
class AddressCombo final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;
  void showPopup() override {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
  }
};

QComboBox* AddressBox(QWidget* parent, const char* name) {
  auto* c = new AddressCombo(parent);
  c->setObjectName(name);
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->setMinimumContentsLength(15);
  return c;
}

void SetAddress(QComboBox* c, const std::string& address) {
  c->clear();
  c->addItem(QString::fromStdString(address));
  c->setCurrentIndex(0);
}

QPlainTextEdit* Memo(QWidget* parent, const char* name) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(name);
  m->setReadOnly(true);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  return m;
}

// The key of a key press as the field rules see it; 0 for none of theirs.
char RuleKey(const QKeyEvent* k) {
  if (k->key() == Qt::Key_Backspace) return kBackspace;
  // Editing and moving keys are not the rules' business.
  if (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return 0;
  switch (k->key()) {
    case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Tab: case Qt::Key_Backtab:
    case Qt::Key_Escape: case Qt::Key_Delete:
      return 0;
    default:
      break;
  }
  const QString t = k->text();
  if (t.size() != 1 || t[0].unicode() > 0x7F) return t.isEmpty() ? 0 : '\x7F';
  return char(t[0].unicode());
}

const char* const kHistory[] = {
    "История версий:",
    "1.0.0 от 10.12.2026 - окно оператора: вкладки, таблица приборов, значок в трее.",
    "0.3 - связь с АРМ, реестр приборов, контроль связи, работа без окон.",
    "0.2 - связь с приборами: регистрация, шифрование, квитирование событий.",
};

}  // namespace

MainWindow::MainWindow(app::Server& server, Asker& asker, QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      server_(server), asker_(asker) {
  setObjectName("TForm1");
  setWindowTitle(kTitle);
  setWindowIcon(ConsoleIcon());
  setMinimumWidth(kWidth);
  setMaximumWidth(kWidth);

  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(4, 4, 4, 4);
  row->setSpacing(6);
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName("PageControl1");
  PageControl1->addTab(BuildTrafficTab(), "Трафик");
  PageControl1->addTab(BuildServiceTab(), "Обслуживание");
  PageControl1->addTab(BuildDebugTab(), "Отладка");
  PageControl1->addTab(BuildRegistrationTab(), "Регистрация");
  PageControl1->addTab(BuildSettingsTab(), "Настройки");
  auto* surGard = new QWidget;
  surGard->setObjectName("TabSurGard");
  PageControl1->addTab(surGard, "SurGard");
  // The SurGard output stays off: its settings are carried through the file only.
  PageControl1->setTabVisible(kTabSurGard, false);
  row->addWidget(PageControl1, 1);
  row->addWidget(BuildRightSide());
  setCentralWidget(central);
  BuildMenus();
  BuildTray();
  help_ = new HelpWindow(server_, this);
  maint_ = new maintenance::gui::MaintenanceWindow(server_, asker_, files_, this);

  const Form1Settings& f = server_.Form1();
  setGeometry(FitToScreen(QRect(f.Left, f.Top, kWidth, f.Height)));
  ShowForm1(f);
  ApplyEditLock();
  ApplyDebugMode();
  connect(PageControl1, &QTabWidget::currentChanged, this, &MainWindow::OnTabChanged);

  // An apply the operator asked for reports in boxes, shown once the call is over.
  server_.SetApplyReporter([this](const std::string& text) {
    applyFailures_.push_back(QString::fromStdString(text));
    if (applyFailures_.size() == 1) QTimer::singleShot(0, this, &MainWindow::ShowApplyFailures);
  });

  pollTimer_.setInterval(50);
  connect(&pollTimer_, &QTimer::timeout, this, &MainWindow::Poll);
  frontTimer_.setSingleShot(true);
  connect(&frontTimer_, &QTimer::timeout, this, [this] {
    const int ms = server_.FrontEndWork();
    frontTimer_.start(std::min(ms, 50));
  });
  hideTimer_.setInterval(100);
  connect(&hideTimer_, &QTimer::timeout, this, [this] {
    if (++hideTicks_ < 2) return;
    hideTimer_.stop();
    HideToTray();
  });
  // A second copy is recognised two seconds after the window is made.
  QTimer::singleShot(2000, this, &MainWindow::CheckSecondCopy);
}

MainWindow::~MainWindow() {
  server_.SetApplyReporter({});
  if (model_) StringGridIpAdr->setModel(nullptr);
}

// ---- construction ---------------------------------------------------------

QWidget* MainWindow::BuildRightSide() {
  auto* side = new QWidget;
  side->setFixedWidth(330);
  auto* col = new QVBoxLayout(side);
  col->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout;
  LabelVersion = Label(side, "LabelVersion",
                       QString(" Версия %1 от %2").arg(RELAY_VERSION, RELAY_RELEASE_DATE));
  ButtonHelp = Button(side, "ButtonHelp", "Справка");
  ButtonHistory = Button(side, "ButtonHistory", "История");
  top->addWidget(LabelVersion, 1);
  top->addWidget(ButtonHelp);
  col->addLayout(top);
  auto* bar = new QHBoxLayout;
  CheckBoxStop = Check(side, "CheckBoxStop", "Стоп");
  ButtonClearMemo = Button(side, "ButtonClearMemo", "Очистить");
  bar->addWidget(CheckBoxStop);
  bar->addStretch(1);
  bar->addWidget(ButtonHistory);
  bar->addWidget(ButtonClearMemo);
  col->addLayout(bar);
  Memo1 = Memo(side, "Memo1");
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // a message is read whole
  Memo1->setMaximumBlockCount(kMessageLines);
  col->addWidget(Memo1, 1);

  connect(ButtonHelp, &QPushButton::clicked, this, [this] {
    help_->show();
    help_->raise();
  });
  connect(ButtonHistory, &QPushButton::clicked, this, [this] {
    for (const char* line : kHistory) Memo1->appendPlainText(QString::fromUtf8(line));
  });
  connect(CheckBoxStop, &QCheckBox::toggled, this,
          [this](bool on) { server_.Settings().GlMsgStop = on; });
  connect(ButtonClearMemo, &QPushButton::clicked, Memo1, &QPlainTextEdit::clear);
  return side;
}

QWidget* MainWindow::BuildTrafficTab() {
  auto* tab = new QWidget;
  tab->setObjectName("TabTrafic");
  auto* col = new QVBoxLayout(tab);
  auto* bar = new QHBoxLayout;
  ButtonPusk = Button(tab, "ButtonPusk", "Пуск");
  ButtonStop = Button(tab, "ButtonStop", "Стоп");
  ButtonPusk->setCheckable(true);
  ButtonStop->setCheckable(true);
  ButtonStop->setChecked(true);
  traceGroup_ = new QButtonGroup(tab);
  traceGroup_->setExclusive(true);
  traceGroup_->addButton(ButtonPusk);
  traceGroup_->addButton(ButtonStop);
  CheckAutoStop = Check(tab, "CheckAutoStop", "Автом. стоп", true);
  Edit2 = new QLineEdit("999", tab);
  Edit2->setObjectName("Edit2");
  Edit2->setFixedWidth(60);
  Edit2->installEventFilter(this);
  CheckFiltr = Check(tab, "CheckFiltr", "Вкл.фильтр");
  FiltrNPult = new QLineEdit(tab);
  FiltrNPult->setObjectName("FiltrNPult");
  FiltrNPult->setFixedWidth(90);
  FiltrNPult->installEventFilter(this);
  ButtonClearTrafic = Button(tab, "ButtonClearTrafic", "Очистить");
  for (QWidget* w : std::initializer_list<QWidget*>{ButtonPusk, ButtonStop, CheckAutoStop, Edit2,
                                                    CheckFiltr, FiltrNPult})
    bar->addWidget(w);
  bar->addStretch(1);
  bar->addWidget(ButtonClearTrafic);
  col->addLayout(bar);
  MemoTrafic = Memo(tab, "MemoTrafic");
  col->addWidget(MemoTrafic, 1);

  connect(ButtonPusk, &QPushButton::clicked, this, &MainWindow::OnPusk);
  connect(ButtonStop, &QPushButton::clicked, this, &MainWindow::OnStop);
  connect(CheckAutoStop, &QCheckBox::toggled, this, [this](bool on) { server_.SetAutoStop(on); });
  connect(Edit2, &QLineEdit::editingFinished, this, &MainWindow::ApplyTrafficCap);
  // Pasted text obeys the same rules as typed keys.
  Edit2->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), Edit2));
  FiltrNPult->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]*(/[0-9]*){0,2}"), FiltrNPult));
  connect(FiltrNPult, &QLineEdit::textEdited, this, &MainWindow::FilterTouched);
  connect(CheckFiltr, &QCheckBox::clicked, this, &MainWindow::OnFilterBox);
  connect(FiltrNPult, &QLineEdit::editingFinished, this, [this] {
    FilterFieldExit(FiltrNPult->text().toStdString(), server_.Settings(), server_.Sink());
  });
  connect(ButtonClearTrafic, &QPushButton::clicked, MemoTrafic, &QPlainTextEdit::clear);
  return tab;
}

QWidget* MainWindow::BuildServiceTab() {
  auto* tab = new QWidget;
  tab->setObjectName("TabObsl");
  auto* col = new QVBoxLayout(tab);
  auto* bar = new QHBoxLayout;
  LabelGrid = Label(tab, "LabelGrid", "");
  ButtonRefreshGrid = Button(tab, "ButtonRefreshGrid", "Обновить таблицу");
  bar->addWidget(LabelGrid, 1);
  bar->addWidget(ButtonRefreshGrid);
  col->addLayout(bar);
  StringGridIpAdr = new QTableView(tab);
  StringGridIpAdr->setObjectName("StringGridIpAdr");
  model_ = new DeviceTableModel(server_.Store().Grid(), this);
  StringGridIpAdr->setModel(model_);
  StringGridIpAdr->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGridIpAdr->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGridIpAdr->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGridIpAdr->verticalHeader()->hide();
  StringGridIpAdr->verticalHeader()->setDefaultSectionSize(20);
  StringGridIpAdr->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < DeviceGrid::kColumns; ++c)
    StringGridIpAdr->setColumnWidth(c, DeviceTableModel::ColumnWidth(c));
  StringGridIpAdr->setContextMenuPolicy(Qt::CustomContextMenu);
  StringGridIpAdr->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
  col->addWidget(StringGridIpAdr, 1);

  connect(ButtonRefreshGrid, &QPushButton::clicked, this, &MainWindow::RefreshGrid);
  connect(StringGridIpAdr, &QWidget::customContextMenuRequested, this, &MainWindow::OnGridMenu);
  connect(StringGridIpAdr->horizontalHeader(), &QWidget::customContextMenuRequested, this,
          &MainWindow::OnHeaderMenu);
  return tab;
}

QWidget* MainWindow::BuildDebugTab() {
  auto* tab = new QWidget;
  tab->setObjectName("TabOtladka");
  auto* col = new QVBoxLayout(tab);
  CheckOutEthern = Check(tab, "CheckOutEthern", "Вывод телеграмм Ethernet", true);
  CheckOutCrypt = Check(tab, "CheckOutCrypt", "Вывод шифрованных телеграмм");
  CheckOutCom = Check(tab, "CheckOutCom", "Вывод телеграмм Com");
  CheckComPustOff = Check(tab, "CheckComPustOff", "Циклический опрос Выкл.");
  CheckOtladka = Check(tab, "CheckOtladka", "Режим отладки Прогр.Обеспеч.");
  for (QWidget* w : std::initializer_list<QWidget*>{CheckOutEthern, CheckOutCrypt, CheckOutCom,
                                                    CheckComPustOff, CheckOtladka})
    col->addWidget(w);
  GroupMetric = new QGroupBox("Управление интерфейсами", tab);
  GroupMetric->setObjectName("GroupMetric");
  auto* metrics = new QHBoxLayout(GroupMetric);
  for (int k = 1; k <= 3; ++k) {
    auto* b = Button(GroupMetric, "", QString("Метрика %1").arg(k));
    b->setObjectName(QString("ButtonMetric%1").arg(k));
    connect(b, &QPushButton::clicked, this, [this, k] {
      server_.MoveDefaultRoute(k - 1);
      ShowActiveInterface();
    });
    metrics->addWidget(b);
  }
  col->addWidget(GroupMetric);
  col->addStretch(1);

  console::ConsoleSettings& s = server_.Settings();
  connect(CheckOutEthern, &QCheckBox::toggled, this, [&s](bool on) { s.GlOutEthern = on; });
  connect(CheckOutCrypt, &QCheckBox::toggled, this, [&s](bool on) { s.GlOutCrypt = on; });
  connect(CheckOutCom, &QCheckBox::toggled, this, [&s](bool on) { s.GlOutCom = on; });
  connect(CheckComPustOff, &QCheckBox::toggled, this, [&s](bool on) { s.GlComPustOff = on; });
  connect(CheckOtladka, &QCheckBox::toggled, this, [this, &s](bool on) {
    s.GlOtladka = on;
    CheckBoxStop->setChecked(false);
    s.GlMsgStop = false;
    ApplyDebugMode();
  });
  return tab;
}

QWidget* MainWindow::BuildRegistrationTab() {
  auto* tab = new QWidget;
  tab->setObjectName("TabReg");
  auto* grid = new QGridLayout(tab);
  RegOne = new QRadioButton("Регистр. одного - по номеру", tab);
  RegOne->setObjectName("RegOne");
  RegOne->setChecked(true);
  RegOll = new QRadioButton("Регистр. Всех", tab);
  RegOll->setObjectName("RegOll");
  EditRegOne = new QLineEdit(tab);
  EditRegOne->setObjectName("EditRegOne");
  EditRegOne->setFixedWidth(100);
  EditRegOne->installEventFilter(this);
  CheckBox3 = Check(tab, "CheckBox3", "Разрешить новую регистрацию");
  CheckDelOne = Check(tab, "CheckDelOne", "Разрешить удаление одной зарег.");
  CheckPodmena = Check(tab, "CheckPodmena", "Разрешить замену одного прибора");
  CheckAutoPodmena = Check(tab, "CheckAutoPodmena", "Автоматич. разрешать подмену", true);
  LabelRegPermanent = Label(tab, "LabelRegPermanent", "Постоянная регистрация");
  CheckRegPermanent = Check(tab, "CheckRegPermanent", "");
  LabelRegPermanent->hide();
  CheckRegPermanent->hide();
  auto* number = new QHBoxLayout;
  number->addWidget(RegOne);
  number->addWidget(EditRegOne);
  number->addStretch(1);
  int r = 0;
  grid->addLayout(number, r++, 0);
  grid->addWidget(RegOll, r++, 0);
  grid->addWidget(CheckBox3, r++, 0);
  grid->addWidget(CheckDelOne, r++, 0);
  grid->addWidget(CheckPodmena, r++, 0);
  grid->addWidget(CheckAutoPodmena, r++, 0);
  grid->addWidget(LabelRegPermanent, r, 0);
  grid->addWidget(CheckRegPermanent, r++, 0);
  grid->setRowStretch(r, 1);

  struct Debug {
    const char* name;
    const char* text;
  };
  const Debug debug[] = {{"ButtonDelAll", "Удалить все зарегистрированные"},
                         {"ButtonClearUnused", "Удалить не занятые ячейки"},
                         {"ButtonCompare", "Сравнить Файл и память"},
                         {"ButtonLoad", "Загрузить с диска"},
                         {"ButtonSave", "Записать на диск после регистрации"}};
  for (int k = 0; k < 5; ++k) {
    debugButtons_[k] = Button(tab, debug[k].name, QString::fromUtf8(debug[k].text));
    grid->addWidget(debugButtons_[k], k, 1);
  }
  auto* exportButton = Button(tab, "ButtonExport", "Выгрузить список зарегистрированных");
  grid->addWidget(exportButton, 5, 1);

  connect(RegOne, &QRadioButton::clicked, this, &MainWindow::OnRegMode);
  connect(RegOll, &QRadioButton::clicked, this, &MainWindow::OnRegMode);
  EditRegOne->setValidator(new QRegularExpressionValidator(
      QRegularExpression("([0-9]{1,2}(/[0-9]{0,2}){0,2})?"), EditRegOne));
  connect(EditRegOne, &QLineEdit::textEdited, this, &MainWindow::RegTouched);
  connect(EditRegOne, &QLineEdit::editingFinished, this, [this] {
    RegNumberFieldExit(EditRegOne->text().toStdString(), server_.Settings(), server_.Sink());
  });
  connect(CheckBox3, &QCheckBox::clicked, this, &MainWindow::OnRegBox);
  connect(CheckDelOne, &QCheckBox::clicked, this, [this](bool on) { server_.AllowDeleteOne(on); });
  connect(CheckAutoPodmena, &QCheckBox::toggled, this,
          [this](bool on) { server_.Settings().GlAutoPodmena = on; });
  connect(debugButtons_[0], &QPushButton::clicked, this, [this] {
    if (Ask(console::kAskDeleteAll))
      server_.DeleteAllRegistrations();
  });
  connect(debugButtons_[1], &QPushButton::clicked, this, [this] { server_.ClearUnusedRecords(); });
  connect(debugButtons_[2], &QPushButton::clicked, this, [this] { server_.CompareRegistry(); });
  connect(debugButtons_[3], &QPushButton::clicked, this, [this] { server_.LoadRegistry(); });
  connect(debugButtons_[4], &QPushButton::clicked, this, [this] { server_.SaveRegistry(); });
  connect(exportButton, &QPushButton::clicked, this, [this] { server_.ExportRegistered(); });
  return tab;
}

QWidget* MainWindow::BuildSettingsTab() {
  auto* tab = new QWidget;
  tab->setObjectName("TabNastr");
  auto* grid = new QGridLayout(tab);
  grid->setVerticalSpacing(2);
  grid->setHorizontalSpacing(6);
  grid->setContentsMargins(6, 4, 6, 4);

  VklRedParam = Check(tab, "VklRedParam", "  Вкл. Редактирование");
  IpPortApply = Button(tab, "IpPortApply", "Применить");
  SpeedButton9 = Button(tab, "SpeedButton9", "Сохр. настр.");
  auto* top = new QHBoxLayout;
  top->addWidget(VklRedParam);
  top->addStretch(1);
  top->addWidget(IpPortApply);
  top->addWidget(SpeedButton9);
  int r = 0;
  grid->addLayout(top, r++, 0, 1, 6);

  // The three interfaces: in use, address and port, gateway, default-route mark.
  LabelGateWay = Label(tab, "LabelGateWay", "Шлюз");
  LabelActive = Label(tab, "LabelActive", "Активн.");
  grid->addWidget(LabelGateWay, r, 4);
  grid->addWidget(LabelActive, r++, 5);
  const char* karta[3] = {"SetKarta_11", "SetKarta_22", "GSM_Modem"};
  const char* karteText[3] = {"Сеть 1", "Сеть 2", "GSM модем"};
  const char* labels[3] = {"LabelServ1", "LabelServ2", "LabelGsm"};
  const char* ips[3] = {"IpAdrrServ_1", "IpAdrrServ_2", "IpAdrrGsm"};
  const char* ports[3] = {"EditPortServ1", "EditPortServ2", "EditPortGSM"};
  const char* gates[3] = {"GateWay1", "GateWay2", "GateWayGSM"};
  for (int k = 0; k < 3; ++k) {
    SetKarta[k] = Check(tab, karta[k], QString::fromUtf8(karteText[k]));
    LabelIface[k] = Label(tab, labels[k], "IP и порт:");
    IpAdrr[k] = AddressBox(tab, ips[k]);
    EditPort[k] = new QLineEdit(tab);
    EditPort[k]->setObjectName(ports[k]);
    EditPort[k]->setFixedWidth(60);
    EditPort[k]->installEventFilter(this);
    EditPort[k]->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), EditPort[k]));
    GateWay[k] = AddressBox(tab, gates[k]);
    Active[k] = Label(tab, "", "");
    Active[k]->setObjectName(QString("Active%1").arg(k + 1));
    Active[k]->setFixedSize(14, 14);
    Active[k]->setFrameShape(QFrame::Box);
    grid->addWidget(SetKarta[k], r, 0);
    grid->addWidget(LabelIface[k], r, 1);
    grid->addWidget(IpAdrr[k], r, 2);
    grid->addWidget(EditPort[k], r, 3);
    grid->addWidget(GateWay[k], r, 4);
    grid->addWidget(Active[k], r++, 5, Qt::AlignCenter);
  }

  CheckBoxMetric = Check(tab, "CheckBoxMetric", "Управл. Интерфейсами");
  QStringList cncb, com;
  for (int k = 0; k < 8; ++k) cncb << QString("CNCB%1").arg(k);
  for (int k = 1; k <= 15; ++k) com << QString("COM%1").arg(k);
  ComboBox1 = Combo(tab, "ComboBox1", cncb);
  ComboBox2 = Combo(tab, "ComboBox2", com);
  auto* label1 = Label(tab, "LabelComboBox1", "Виртуальный порт");
  auto* label2 = Label(tab, "LabelComboBox2", "Порт АРМ");
  auto* ports2 = new QHBoxLayout;
  ports2->addWidget(label1);
  ports2->addWidget(ComboBox1);
  ports2->addSpacing(10);
  ports2->addWidget(label2);
  ports2->addWidget(ComboBox2);
  ports2->addStretch(1);
  grid->addWidget(CheckBoxMetric, r, 0, 1, 2);
  grid->addLayout(ports2, r++, 2, 1, 4);

  auto* labelNaruch = Label(tab, "LabelNaruchUO", "\"Наруш. связи с УО\" ");
  ComboBoxNaruchUO = Combo(tab, "ComboBoxNaruchUO", {" 2 мин.", " 2 мин. 30 сек."});
  CheckBoxBalanseGsm = Check(tab, "CheckBoxBalanseGsm", "Откл. пакетов \"Баланс GSM\"");
  auto* naruch = new QHBoxLayout;
  naruch->addWidget(labelNaruch);
  naruch->addWidget(ComboBoxNaruchUO);
  naruch->addSpacing(10);
  naruch->addWidget(CheckBoxBalanseGsm);
  naruch->addStretch(1);
  grid->addLayout(naruch, r++, 0, 1, 6);

  CheckPOVTORTLG = Check(tab, "CheckPOVTORTLG", "   Вкл.повтор запросн.Тлг.");
  LabelNPovtor = Label(tab, "LabelNPovtor", "Кол. повторов запросн. Тлг.");
  LabelTimePovtor = Label(tab, "LabelTimePovtor", "Период повторов запросн. Тлг.");
  BoxNPovtor = Combo(tab, "BoxNPovtor", {" 1 повтор", " 2 повтора", " 3 повтора"});
  BoxTimePovtor = Combo(tab, "BoxTimePovtor", {" 5 сек.", " 10 сек.", " 15 сек."});
  auto* repeat = new QGridLayout;
  repeat->setVerticalSpacing(2);
  repeat->addWidget(CheckPOVTORTLG, 0, 0);
  repeat->addWidget(LabelNPovtor, 0, 1, Qt::AlignRight);
  repeat->addWidget(BoxNPovtor, 0, 2);
  repeat->addWidget(LabelTimePovtor, 1, 1, Qt::AlignRight);
  repeat->addWidget(BoxTimePovtor, 1, 2);
  repeat->setColumnStretch(3, 1);
  grid->addLayout(repeat, r++, 0, 1, 6);

  CheckBox_Internet = Check(tab, "CheckBox_Internet", "Проверка наличия \"Интернета\".");
  CheckDopFunc = Check(tab, "CheckDopFunc", " Доп. Функции", true);
  auto* inet = new QHBoxLayout;
  inet->addWidget(CheckBox_Internet);
  inet->addSpacing(10);
  inet->addWidget(CheckDopFunc);
  inet->addStretch(1);
  grid->addLayout(inet, r++, 0, 1, 6);
  CheckAvarOrvane =
      Check(tab, "CheckAvarOrvane", "Блокировка Аварий при отсутствии Интернета - \"Орвейн\".");
  grid->addWidget(CheckAvarOrvane, r++, 0, 1, 6);
  CheckMoteKTS = Check(tab, "CheckMoteKTS", "Два и более КТС на одном УО - \"Орвейн\".");
  grid->addWidget(CheckMoteKTS, r++, 0, 1, 6);

  FrameSostAvar =
      new QGroupBox("Возможно вкл.,если у всех приборов версия 4620 выше v-39", tab);
  FrameSostAvar->setObjectName("FrameSostAvar");
  auto* frame = new QHBoxLayout(FrameSostAvar);
  frame->setContentsMargins(6, 2, 6, 2);
  CheckSostAvar =
      Check(FrameSostAvar, "CheckSostAvar", "Запрет событий УО после \"Аварии\" - \"Кестар\"");
  frame->addWidget(CheckSostAvar);
  grid->addWidget(FrameSostAvar, r++, 0, 1, 6);
  grid->setRowStretch(r, 1);
  grid->setColumnStretch(2, 1);
  grid->setColumnStretch(4, 1);

  // The warning after "Сохр. настр." with "Запрет событий УО после Аварии" on.
  PanelWarning = new QFrame(tab);
  PanelWarning->setObjectName("PanelWarning");
  PanelWarning->setFrameShape(QFrame::Panel);
  PanelWarning->setFrameShadow(QFrame::Raised);
  PanelWarning->setAutoFillBackground(true);
  auto* warn = new QVBoxLayout(PanelWarning);
  for (const char* line : {"Режим-возможен,если у всех приборов версия 4620 выше v-39",
                           "Если это не так -Выкл. \"Состояние после Аварии на вкладке \"Настройки\"",
                           "Приборы со старыми прошивками с включенными опциями ",
                           "не будут регистрироваться."})
    warn->addWidget(new QLabel(QString::fromUtf8(line), PanelWarning));
  auto* close = Button(PanelWarning, "ButtonCloseWarning", "Закрыть");
  warn->addWidget(close, 0, Qt::AlignRight);
  PanelWarning->hide();
  connect(close, &QPushButton::clicked, PanelWarning, &QWidget::hide);

  lockedControls_ = {CheckBoxMetric, ComboBox1,      ComboBox2,     ComboBoxNaruchUO,
                     CheckPOVTORTLG, CheckBoxBalanseGsm, CheckDopFunc, CheckSostAvar,
                     CheckMoteKTS,   CheckBox_Internet,  IpPortApply,  SpeedButton9,
                     label1,         label2,             labelNaruch};
  for (int k = 0; k < 3; ++k)
    lockedControls_ << SetKarta[k] << LabelIface[k] << IpAdrr[k] << EditPort[k] << GateWay[k];
  lockedControls_ << LabelGateWay;

  // Option boxes follow at a click; combo boxes and fields when left.
  const std::pair<QCheckBox*, Form1Control> boxes[] = {
      {CheckPOVTORTLG, Form1Control::kCheckPOVTORTLG},
      {CheckBoxBalanseGsm, Form1Control::kCheckBoxBalanseGsm},
      {CheckSostAvar, Form1Control::kCheckSostAvar},
      {CheckMoteKTS, Form1Control::kCheckMoteKTS},
      {CheckBox_Internet, Form1Control::kCheckBox_Internet},
      {CheckAvarOrvane, Form1Control::kCheckAvarOrvane},
      {CheckBoxMetric, Form1Control::kCheckBoxMetric},
      {SetKarta[0], Form1Control::kOther},
      {SetKarta[1], Form1Control::kOther},
      {SetKarta[2], Form1Control::kOther},
      {CheckDopFunc, Form1Control::kOther}};
  for (const auto& [box, control] : boxes) {
    connect(box, &QCheckBox::toggled, this, [this, control = control] {
      if (showingForm_) return;
      Edit(control);
      ApplyEditLock();
    });
  }
  for (QComboBox* c : {ComboBoxNaruchUO, BoxNPovtor, BoxTimePovtor, ComboBox1, ComboBox2})
    c->installEventFilter(this);
  for (int k = 0; k < 3; ++k) {
    IpAdrr[k]->installEventFilter(this);
    GateWay[k]->installEventFilter(this);
    connect(EditPort[k], &QLineEdit::editingFinished, this, [this] { Edit(Form1Control::kOther); });
    connect(EditPort[k], &QLineEdit::returnPressed, this, &MainWindow::OnQuickRebind);
    static_cast<AddressCombo*>(IpAdrr[k])->beforePopup = [this, k] { FillAdapters(k); };
    connect(IpAdrr[k], &QComboBox::activated, this, [this, k](int item) {
      if (item >= 0 && size_t(item) < adapterGateways_[k].size())
        GateWay[k]->setEditText(QString::fromStdString(adapterGateways_[k][size_t(item)]));
    });
  }
  connect(ComboBox1, &QComboBox::activated, this, [this](int item) {
    if (!server_.ChangeWorkstationPort(item)) ComboBox1->setCurrentIndex(server_.Form1().NnPort);
    Edit(Form1Control::kOther);
  });
  connect(ComboBox2, &QComboBox::activated, this, [this](int item) {
    Edit(Form1Control::kOther);
    server_.RenameWorkstationEnd(item);
  });
  connect(VklRedParam, &QCheckBox::toggled, this, [this](bool on) {
    if (!showingForm_) SetEditLock(on);
  });
  connect(IpPortApply, &QPushButton::clicked, this, [this] {
    Edit(Form1Control::kOther);
    server_.ApplyNetwork();
  });
  connect(SpeedButton9, &QPushButton::clicked, this, [this] {
    Edit(Form1Control::kOther);
    server_.WriteSettings();
    if (CheckSostAvar->isChecked()) {
      PanelWarning->adjustSize();
      PanelWarning->move(20, 40);
      PanelWarning->show();
      PanelWarning->raise();
    }
  });
  return tab;
}

void MainWindow::BuildMenus() {
  gridMenu_ = new QMenu(this);
  gridMenu_->setObjectName("PopupGrid");
  const auto item = [this](const char* name, const QString& text) {
    QAction* a = gridMenu_->addAction(text);
    a->setObjectName(name);
    return a;
  };
  ActionOpenMaint = item("ActionOpenMaint", "Открыть окно \"Обслуживание\"");
  connect(ActionOpenMaint, &QAction::triggered, this, [this] {
    if (server_.MaintenanceOpen()) {
      asker_.Notice(this, kTitle, "\"Удаленное обслуживание\" - уже открыто.");
      return;
    }
    if (!MenuDevice()) return;
    if (!Ask("На время обслуживания (ОБНОВЛЕНИЕ ПРОШИВКИ) - возможен сбой в доставке извещений! "
             "Исполнить?",
             "Внимание-возможен пропуск извещений при обновлении прошивки!"))
      return;
    maint_->OpenFor(menuDevice_);
  });
  ActionDeleteReg = item("ActionDeleteReg", "Удалить регистрацию");
  ActionPodmena = item("ActionPodmena", " Разрешить Подмену прибора");
  const char* requests[5] = {"Запросить тип канала LAN/GSM", "Запросить уровень сигн. SIM1",
                             "Запросить уровень сигн. SIM2", "Запросить баланс SIM1",
                             "Запросить баланс SIM2"};
  const char* names[5] = {"ActionReqChannel", "ActionReqSignal1", "ActionReqSignal2",
                          "ActionReqBalance1", "ActionReqBalance2"};
  for (int k = 0; k < 5; ++k) {
    ActionRequest[k] = item(names[k], QString::fromUtf8(requests[k]));
    connect(ActionRequest[k], &QAction::triggered, this, [this, k] {
      if (MenuDevice()) server_.ServiceRequest(menuDevice_, k);
    });
  }
  ActionSwitchOff = item("ActionSwitchOff", "Выключить УОО за неуплату");
  ActionSwitchOn = item("ActionSwitchOn", "Включить УОО");
  ActionSetFilter = item("ActionSetFilter", "Установить фильтр трафика");

  connect(ActionDeleteReg, &QAction::triggered, this, [this] {
    if (!Ask(console::kAskDeleteOne)) return;
    if (menuRow_ == RowDevice::kBadIndex)
      server_.Sink().DebugLine("Ошибка преобразования номера структуры");
    if (menuRow_ == RowDevice::kDevice) server_.DeleteRegistration(menuDevice_);
    server_.AllowDeleteOne(false);
    CheckDelOne->setChecked(false);
  });
  connect(ActionPodmena, &QAction::triggered, this, [this] {
    if (MenuDevice() && server_.PermitSubstitution(menuDevice_))
      CheckPodmena->setChecked(false);
  });
  connect(ActionSwitchOff, &QAction::triggered, this, [this] {
    if (!Ask(console::kAskSwitchOff)) return;
    if (MenuDevice()) server_.SwitchOff(menuDevice_);
  });
  connect(ActionSwitchOn, &QAction::triggered, this, [this] {
    if (MenuDevice()) server_.SwitchOn(menuDevice_);
  });
  connect(ActionSetFilter, &QAction::triggered, this, [this] {
    if (!MenuDevice() || !server_.SetTrafficFilter(menuDevice_)) return;
    FiltrNPult->setText(NumberQText(menuDevice_.number));
  });

  headerMenu_ = new QMenu(this);
  headerMenu_->setObjectName("PopupHeader");
  ActionSortAsc = headerMenu_->addAction("Сортировка по \"Возрастанию\"");
  ActionSortAsc->setObjectName("ActionSortAsc");
  ActionSortDesc = headerMenu_->addAction("Сортировка по \"Убыванию\"");
  ActionSortDesc->setObjectName("ActionSortDesc");
  connect(ActionSortAsc, &QAction::triggered, this,
          [this] { server_.SortGrid(headerColumn_, true); });
  connect(ActionSortDesc, &QAction::triggered, this,
          [this] { server_.SortGrid(headerColumn_, false); });
}

void MainWindow::BuildTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(ConsoleIcon(), this);
  tray_->setObjectName("TrayIcon");
  tray_->setToolTip(kTitle);
  auto* menu = new QMenu(this);
  QAction* show = menu->addAction(" Показать");
  show->setObjectName("ActionTrayShow");
  QAction* exit = menu->addAction(" Выход");
  exit->setObjectName("ActionTrayExit");
  connect(show, &QAction::triggered, this, &MainWindow::ShowFromTray);
  connect(exit, &QAction::triggered, this, [this] {
    QCoreApplication::processEvents();
    if (Shutdown(true)) close();
  });
  tray_->setContextMenu(menu);
  tray_->show();
}

// ---- start-up and shutdown ------------------------------------------------

void MainWindow::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (GlSkipShow) {
    GlSkipShow = false;
    return;
  }
  if (!startedUp_) StartUp();
}

void MainWindow::StartUp() {
  startedUp_ = true;
  console::ConsoleSettings& s = server_.Settings();
  s.GlAutoPodmena = CheckAutoPodmena->isChecked();
  s.GlTraficRun = false;
  s.GlOutEthern = CheckOutEthern->isChecked();
  s.GlOutCrypt = CheckOutCrypt->isChecked();
  s.GlOutCom = CheckOutCom->isChecked();
  s.GlComPustOff = CheckComPustOff->isChecked();
  s.GlOtladka = CheckOtladka->isChecked();
  s.GlTraficLines = 999;
  Edit2->setText("999");
  MemoTrafic->setMaximumBlockCount(999 + 1);
  CheckRegPermanent->setChecked(false);
  std::string error;
  if (!server_.Start(&error)) {
    asker_.Notice(this, kTitle, QString::fromStdString(error));
    return;
  }
  s.GlMsgStop = CheckBoxStop->isChecked();
  ApplyEditLock();
  LabelGrid->setText("Зарегистрированные приборы");
  pollTimer_.start();
  frontTimer_.start(0);
  hideTicks_ = 0;
  hideTimer_.start();
  Poll();
}

void MainWindow::ShowApplyFailures() {
  if (asking_) {
    QTimer::singleShot(500, this, &MainWindow::ShowApplyFailures);  // after the open question
    return;
  }
  while (!applyFailures_.empty() && !shutDown_) {
    const QString text = applyFailures_.front();
    asking_ = true;
    server_.SetFrontEndBusy(true);
    asker_.Notice(isVisible() && !isMinimized() ? this : nullptr, kTitle, text);
    server_.SetFrontEndBusy(false);
    asking_ = false;
    applyFailures_.erase(applyFailures_.begin());
  }
  applyFailures_.clear();
}

void MainWindow::FillAdapters(int k) {
  QComboBox* box = IpAdrr[k];
  const QString typed = box->currentText();
  box->clear();
  adapterGateways_[k].clear();
  for (const platform::AdapterAddress& a : server_.Adapters()) {
    box->addItem(QString::fromStdString(a.address));
    adapterGateways_[k].push_back(a.gateway);
  }
  // The text stays until the operator picks an item.
  box->setEditText(typed);
}

void MainWindow::OnQuickRebind() {
  const std::string port2 = server_.QuickRebind(EditPort[0]->text().toStdString());
  EditPort[1]->setText(QString::fromStdString(port2));
  Edit(Form1Control::kOther);
}

void MainWindow::ShowActiveInterface() {
  const int active = server_.DefaultRouteInterface();
  for (int k = 0; k < 3; ++k) {
    const bool on = k == active;
    if (Active[k]->property("active").toBool() == on) continue;
    Active[k]->setProperty("active", on);
    Active[k]->setStyleSheet(on ? "background-color: #00b000;" : "");
    Active[k]->setToolTip(on ? "Маршрут по умолчанию идёт через этот интерфейс" : "");
  }
}

void MainWindow::CheckSecondCopy() {
  if (shutDown_ || !server_.SecondCopy()) return;
  if (asking_) {
    QTimer::singleShot(500, this, &MainWindow::CheckSecondCopy);  // after the open question
    return;
  }
  GlSecondCopy = true;
  if (Shutdown(true)) close();
}

bool MainWindow::Ask(const QString& question, const QString& caption) {
  // While the box is open its own event loop runs the timers: they must not
  // change what the operator is answering about, nor ask again.
  // The control socket's requests wait for the answer as well.
  asking_ = true;
  server_.SetFrontEndBusy(true);
  const bool yes =
      asker_.Ask(isVisible() && !isMinimized() ? this : nullptr,
                 caption.isEmpty() ? kTitle : caption, question);
  server_.SetFrontEndBusy(false);
  asking_ = false;
  return yes;
}

bool MainWindow::Shutdown(bool ask) {
  if (shutDown_) return true;
  if (ask) {
    if (asking_) return false;  // one question at a time
    const bool yes = Ask(GlSecondCopy ? "Внимание - Запущен второй экземпляр программы! Закрыть?"
                                      : "Внимание - связь с приборами будет нарушена! Исполнить?");
    // A signal may have ended everything while the question was open.
    if (shutDown_) return true;
    if (!yes) return false;
  }
  if (help_->isVisible()) help_->close();
  // The maintenance window ends its job and tells the workstation the end.
  if (server_.MaintenanceOpen()) maint_->close();
  // The geometry goes into the settings that the stop writes.
  Form1Settings f = FormFromControls();
  const QRect g = isMinimized() || !isVisible() ? normalGeometry() : geometry();
  if (g.isValid()) {
    f.Left = g.x();
    f.Top = g.y();
    f.Width = kWidth;
    f.Height = g.height();
  }
  server_.EditSettings(f, Form1Control::kOther);
  pollTimer_.stop();
  frontTimer_.stop();
  hideTimer_.stop();
  server_.Stop();
  Poll();
  if (tray_) tray_->hide();
  shutDown_ = true;
  QCoreApplication::quit();
  return true;
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (shutDown_ || Shutdown(true)) {
    e->accept();
  } else {
    e->ignore();
  }
}

// ---- tray ------------------------------------------------------------------

bool MainWindow::TrayAvailable() const {
  return tray_ && QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::HideToTray() {
  // Where no tray exists the window is only minimised, so it can be found again.
  if (TrayAvailable()) {
    hide();
  } else {
    showMinimized();
  }
}

void MainWindow::ShowFromTray() {
  QCoreApplication::processEvents();
  if (isVisible() && !isMinimized()) return;
  GlSkipShow = true;
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable())
    QTimer::singleShot(0, this, [this] {
      if (isMinimized() && TrayAvailable()) hide();
    });
}

void MainWindow::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (width() != kWidth) resize(kWidth, height());
}

// ---- lines and state ------------------------------------------------------

void MainWindow::Poll() {
  AppendLines();
  if (asking_) return;  // the boxes stay as the operator left them until the answer
  const console::ConsoleSettings& s = server_.Settings();
  // Settings and the registration mode may change through the control socket.
  if (settingsShown_ != server_.SettingsGeneration()) {
    settingsShown_ = server_.SettingsGeneration();
    ShowForm1(server_.Form1());
    ApplyEditLock();
  }
  if (s.GlRegOn && s.GlRegOne != RegOne->isChecked()) {
    QSignalBlocker r1(RegOne), r2(RegOll);
    (s.GlRegOne ? RegOne : RegOll)->setChecked(true);
    EditRegOne->setVisible(s.GlRegOne);
  }
  if (s.GlRegOne && s.GlRegOn) {
    const QString shown = NumberQText(s.GlRegNPult.Load());
    if (EditRegOne->text() != shown && !EditRegOne->hasFocus()) EditRegOne->setText(shown);
  }
  QSignalBlocker b1(CheckBox3), b2(CheckDelOne);
  CheckBox3->setChecked(s.GlRegOn);
  CheckDelOne->setChecked(server_.DeleteOneAllowed());
  if (s.GlTraficRun != ButtonPusk->isChecked())
    (s.GlTraficRun ? ButtonPusk : ButtonStop)->setChecked(true);
  ShowActiveInterface();
}

void MainWindow::AppendLines() {
  std::vector<console::Line> lines;
  server_.Sink().Drain(lines, 0);
  if (lines.empty()) return;
  QString messages, traffic;
  for (const console::Line& l : lines) {
    QString& to = l.window == Window::Message ? messages : traffic;
    if (!to.isEmpty()) to += '\n';
    to += QString::fromStdString(l.text);
  }
  // One append per window and batch: a burst of trace lines costs one layout.
  if (!messages.isEmpty()) Memo1->appendPlainText(messages);
  if (!traffic.isEmpty()) MemoTrafic->appendPlainText(traffic);
}

// ---- settings tab ---------------------------------------------------------

void MainWindow::ShowForm1(const Form1Settings& f) {
  showingForm_ = true;
  SetKarta[0]->setChecked(f.SetKarta_11);
  SetKarta[1]->setChecked(f.SetKarta_22);
  SetKarta[2]->setChecked(f.GSM_Modem);
  SetAddress(IpAdrr[0], f.IpAdrrServ_1);
  SetAddress(IpAdrr[1], f.IpAdrrServ_2);
  SetAddress(IpAdrr[2], f.IpAdrrGsm);
  SetAddress(GateWay[0], f.GateWay1);
  SetAddress(GateWay[1], f.GateWay2);
  SetAddress(GateWay[2], f.GateWayGSM);
  EditPort[0]->setText(QString::fromStdString(f.EditPortServ1));
  EditPort[1]->setText(QString::fromStdString(f.EditPortServ2));
  EditPort[2]->setText(QString::fromStdString(f.EditPortGSM));
  ComboBox1->setCurrentIndex(f.NnPort);
  ComboBox2->setCurrentIndex(f.PortArm);
  ComboBoxNaruchUO->setCurrentIndex(f.NaruchUO);
  BoxNPovtor->setCurrentIndex(f.BoxNPovtor);
  BoxTimePovtor->setCurrentIndex(f.BoxTimePovtor);
  CheckBoxMetric->setChecked(f.CheckBoxMetric);
  CheckPOVTORTLG->setChecked(f.CheckPOVTORTLG);
  CheckSostAvar->setChecked(f.CheckSostAvar);
  CheckMoteKTS->setChecked(f.CheckMoteKTS);
  CheckBox_Internet->setChecked(f.CheckBox_Internet);
  CheckAvarOrvane->setChecked(f.CheckAvarOrvane);
  CheckBoxBalanseGsm->setChecked(f.CheckBoxBalanseGsm);
  showingForm_ = false;
}

Form1Settings MainWindow::FormFromControls() const {
  Form1Settings f = server_.Form1();
  f.SetKarta_11 = SetKarta[0]->isChecked();
  f.SetKarta_22 = SetKarta[1]->isChecked();
  f.GSM_Modem = SetKarta[2]->isChecked();
  f.IpAdrrServ_1 = IpAdrr[0]->currentText().toStdString();
  f.IpAdrrServ_2 = IpAdrr[1]->currentText().toStdString();
  f.IpAdrrGsm = IpAdrr[2]->currentText().toStdString();
  f.GateWay1 = GateWay[0]->currentText().toStdString();
  f.GateWay2 = GateWay[1]->currentText().toStdString();
  f.GateWayGSM = GateWay[2]->currentText().toStdString();
  f.EditPortServ1 = EditPort[0]->text().toStdString();
  f.EditPortServ2 = EditPort[1]->text().toStdString();
  f.EditPortGSM = EditPort[2]->text().toStdString();
  f.NnPort = ComboBox1->currentIndex();
  f.PortArm = ComboBox2->currentIndex();
  f.NaruchUO = ComboBoxNaruchUO->currentIndex();
  f.BoxNPovtor = BoxNPovtor->currentIndex();
  f.BoxTimePovtor = BoxTimePovtor->currentIndex();
  f.CheckBoxMetric = CheckBoxMetric->isChecked();
  f.CheckPOVTORTLG = CheckPOVTORTLG->isChecked();
  f.CheckSostAvar = CheckSostAvar->isChecked();
  f.CheckMoteKTS = CheckMoteKTS->isChecked();
  f.CheckBox_Internet = CheckBox_Internet->isChecked();
  f.CheckAvarOrvane = CheckAvarOrvane->isChecked();
  f.CheckBoxBalanseGsm = CheckBoxBalanseGsm->isChecked();
  f.CheckBox3 = server_.Settings().GlRegOn;  // written, never read back
  return f;
}

void MainWindow::Edit(Form1Control control) {
  server_.EditSettings(FormFromControls(), control);
  // The core may change what depends on the control (the blocking box).
  QSignalBlocker block(CheckAvarOrvane);
  CheckAvarOrvane->setChecked(server_.Form1().CheckAvarOrvane);
}

void MainWindow::ApplyEditLock() {
  const bool on = VklRedParam->isChecked();
  for (QWidget* w : lockedControls_) w->setEnabled(on);
  const bool repeat = on && CheckPOVTORTLG->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{BoxNPovtor, BoxTimePovtor, LabelNPovtor,
                                                    LabelTimePovtor})
    w->setEnabled(repeat);
  CheckAvarOrvane->setEnabled(on && CheckBox_Internet->isChecked());

  const bool metric = CheckBoxMetric->isChecked();
  LabelGateWay->setVisible(metric);
  LabelActive->setVisible(metric);
  for (int k = 0; k < 3; ++k) {
    const bool used = SetKarta[k]->isChecked();
    LabelIface[k]->setVisible(used);
    IpAdrr[k]->setVisible(used);
    EditPort[k]->setVisible(used);
    GateWay[k]->setVisible(used && metric);
    Active[k]->setVisible(metric);
  }
}

void MainWindow::SetEditLock(bool on) {
  server_.SetSettingsEditing(on);
  if (!on) {
    // Leaving the editing writes the settings and applies the network settings.
    Edit(Form1Control::kOther);
    server_.WriteSettings();
    server_.ApplyNetwork();
  }
  ApplyEditLock();
}

void MainWindow::OnTabChanged(int index) {
  OnStop();
  ButtonStop->setChecked(true);
  if (VklRedParam->isChecked()) {
    if (lastTab_ == kTabService || lastTab_ == kTabSettings) {
      VklRedParam->setChecked(false);  // writes the file and applies the network
    } else {
      Edit(Form1Control::kOther);
      server_.WriteSettings();
    }
  }
  lastTab_ = index;
}

// ---- traffic tab -----------------------------------------------------------

void MainWindow::OnPusk() {
  server_.TraceStart();
  ApplyTrafficCap();
}

void MainWindow::OnStop() { server_.TraceStop(); }

void MainWindow::ApplyTrafficCap() {
  const uint16_t cap = TrafficCapOf(Edit2->text().toStdString());
  server_.Settings().GlTraficLines = cap;
  Edit2->setText(QString::number(cap));
  // The window keeps the cap's lines and one more; a lower cap trims it now.
  MemoTrafic->setMaximumBlockCount(int(cap) + 1);
}

void MainWindow::OnFilterBox(bool on) {
  server_.Settings().GlFiltrOn = on;
  FiltrNPult->setText(NumberQText(server_.Settings().GlFiltrNPult.Load()));
  if (!on) {
    ButtonStop->setChecked(true);
    OnStop();
  }
}

void MainWindow::FilterTouched() {
  ButtonStop->setChecked(true);
  OnStop();
  CheckFiltr->setChecked(false);
  server_.Settings().GlFiltrOn = false;
}

// ---- registration tab -------------------------------------------------------

void MainWindow::OnRegMode() {
  server_.Settings().GlRegOne = RegOne->isChecked();
  EditRegOne->setVisible(RegOne->isChecked());
  RegTouched();
}

void MainWindow::RegTouched() {
  if (CheckBox3->isChecked() || server_.Settings().GlRegOn) {
    CheckBox3->setChecked(false);
    server_.CloseRegistration();
  }
}

void MainWindow::OnRegBox(bool on) {
  if (!on) {
    server_.CloseRegistration();
    return;
  }
  const bool one = RegOne->isChecked();
  const QString question = one ? console::kAskRegisterOne : console::kAskRegisterAll;
  if (!Ask(question)) {
    // A second copy's permanent state is never cleared here.
    CheckBox3->setChecked(false);
    server_.Settings().GlRegOn = false;
    return;
  }
  if (one) {
    RegNumberFieldExit(EditRegOne->text().toStdString(), server_.Settings(), server_.Sink());
    const ConsoleNumber n = server_.Settings().GlRegNPult.Load();
    server_.OpenRegistrationOne(n);
    EditRegOne->setText(NumberQText(n));
  } else {
    server_.OpenRegistrationAll();
  }
}

// ---- the grid -----------------------------------------------------------------

void MainWindow::RefreshGrid() { server_.RefreshGrid(); }

QMenu* MainWindow::PrepareGridMenu(int row) {
  if (row >= 0) StringGridIpAdr->selectRow(row);
  menuRow_ = row >= 0 ? DeviceOfRow(server_.Store().Grid(), DeviceTableModel::GridRow(row),
                                    &menuDevice_)
                      : RowDevice::kEmpty;
  ActionDeleteReg->setVisible(server_.DeleteOneAllowed());
  ActionPodmena->setVisible(CheckPodmena->isChecked());
  const bool extra = CheckDopFunc->isChecked();
  for (QAction* a : ActionRequest) a->setVisible(extra);
  ActionSwitchOff->setVisible(extra);
  ActionSwitchOn->setVisible(extra);
  return gridMenu_;
}

QMenu* MainWindow::PrepareHeaderMenu(int column) {
  headerColumn_ = column;
  const bool sortable = column == DeviceGrid::kNumberColumn || column == DeviceGrid::kIndexColumn;
  ActionSortAsc->setEnabled(sortable);
  ActionSortDesc->setEnabled(sortable);
  return headerMenu_;
}

void MainWindow::OnGridMenu(const QPoint& pos) {
  const QModelIndex at = StringGridIpAdr->indexAt(pos);
  PrepareGridMenu(at.isValid() ? at.row() : -1)
      ->popup(StringGridIpAdr->viewport()->mapToGlobal(pos));
}

void MainWindow::OnHeaderMenu(const QPoint& pos) {
  QHeaderView* header = StringGridIpAdr->horizontalHeader();
  PrepareHeaderMenu(header->logicalIndexAt(pos))->popup(header->mapToGlobal(pos));
}

bool MainWindow::MenuDevice() {
  if (menuRow_ == RowDevice::kBadIndex)
    server_.Sink().DebugLine("Ошибка преобразования \"GlNumStruct\"");
  return menuRow_ == RowDevice::kDevice;
}

// ---- debug mode ----------------------------------------------------------------

void MainWindow::ApplyDebugMode() {
  const bool on = CheckOtladka->isChecked();
  GroupMetric->setVisible(on);
  CheckAutoPodmena->setVisible(on);
  ButtonHistory->setVisible(on);
  for (QPushButton* b : debugButtons_) b->setVisible(on);
}

// ---- key rules and exits of the fields -------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const auto* k = static_cast<QKeyEvent*>(e);
    const char key = RuleKey(k);
    const auto text = [](QObject* o) { return static_cast<QLineEdit*>(o)->text().toStdString(); };
    if (key != 0) {
      if (watched == EditRegOne) {
        if (!RegNumberKeyAccepted(text(watched), key)) return true;
        RegTouched();
      } else if (watched == FiltrNPult) {
        if (!FilterKeyAccepted(text(watched), key)) return true;
        FilterTouched();
      } else if (watched == Edit2) {
        if (!TrafficCapKeyAccepted(text(watched), key)) return true;
      } else if (std::find(std::begin(EditPort), std::end(EditPort), watched) !=
                 std::end(EditPort)) {
        if (!PortKeyAccepted(text(watched), key)) return true;
      }
    }
  } else if (e->type() == QEvent::MouseButtonPress) {
    if (watched == EditRegOne) RegTouched();
    if (watched == FiltrNPult) FilterTouched();
  } else if (e->type() == QEvent::FocusOut) {
    if (watched == ComboBoxNaruchUO) Edit(Form1Control::kNaruchUO);
    else if (watched == BoxNPovtor) Edit(Form1Control::kBoxNPovtor);
    else if (watched == BoxTimePovtor) Edit(Form1Control::kBoxTimePovtor);
    else if (qobject_cast<QComboBox*>(watched)) Edit(Form1Control::kOther);
  }
  return QMainWindow::eventFilter(watched, e);
}

}  // namespace console::gui
