#include "configurator/gui/registration_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "configurator/gui/config_host.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

namespace {
const char* const kLines[6] = {"Режим связывания предназначен для регистрации ",
                               "радиоканальных устройств в БРШС.",
                               "Подготовьте радиоканальное уст-во в соответствии",
                               "с инструкцией .",
                               "Инициируйте процесс регистрации нажатием на кнопку",
                               "\"Связать\" в соответствии с типом устройства."};
}  // namespace

RegistrationWindow::RegistrationWindow(ConfigHost& host, QWidget* parent)
    : RegistrationWindow(host, "TToConectRieltIzv", parent) {}

RegistrationWindow::RegistrationWindow(ConfigHost& host, const char* name, QWidget* parent)
    : OperationWindow(host, name, "Зарегистрировать извещатели (\"Риелта\").",
                      kRegistrationSeconds, parent) {
  for (int k = 0; k < 6; ++k) {
    Lines[k] = console::gui::Label(this, QString("LabelLine%1").arg(k + 1).toUtf8().constData(),
                                   kLines[k]);
    body_->addWidget(Lines[k]);
  }
  auto* modes = new QGridLayout;
  Connect_1 = console::gui::Button(this, "Connect_1", "Связать Извещ.и датчики");
  Connect_2 = console::gui::Button(this, "Connect_2", "Связать Интерфейсные уст-ва.");
  Caption2 = new QLabel("(Брелки, Клавиатуры)", this);
  modes->addWidget(new QLabel("(Извещат., датчики)", this), 0, 0);
  modes->addWidget(Connect_1, 0, 1);
  modes->addWidget(Caption2, 1, 0);
  modes->addWidget(Connect_2, 1, 1);
  body_->addLayout(modes);
  Prompt =
      console::gui::Label(this, "LabelPrompt", "Инициируйте связывание со стороны устройства! ");
  Prompt->setStyleSheet("color: #ff0000;");
  QSizePolicy keep = Prompt->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  Prompt->setSizePolicy(keep);
  body_->addWidget(Prompt);

  connect(Connect_1, &QPushButton::clicked, this, [this] { Connect(kDetectorsAndSensors); });
  connect(Connect_2, &QPushButton::clicked, this, [this] { Connect(kInterfaceDevices); });
  connect(ButtonEnd, &QPushButton::clicked, this, [this] {
    Stop();
    host_.EndOperation(sendsEnd_ ? EndRegistrationRequest() : std::vector<uint8_t>{});
    host_.GiveButtonsBack();
  });
  Prompt->hide();
  ButtonEnd->hide();
}

void RegistrationWindow::Open() {
  Restart(false);
  Stop();
  show();
  raise();
}

void RegistrationWindow::Connect(RegistrationMode mode) {
  Prompt->show();
  ButtonEnd->show();
  Connect_1->setEnabled(false);
  Connect_2->setEnabled(false);
  Restart(true);
  host_.StartOperation(StartRegistrationRequest(mode));
}

void RegistrationWindow::Stop() {
  Prompt->hide();
  ButtonEnd->hide();
  timer_.stop();
  Connect_1->setEnabled(true);
  Connect_2->setEnabled(true);
}

void RegistrationWindow::Tick() {
  if (!Count()) {
    Stop();
    if (sendsEnd_) host_.EndOperation(EndRegistrationRequest());
  }
  if (!host_.ReReadArmed()) close();
}

void RegistrationWindow::closeEvent(QCloseEvent* e) {
  Stop();
  OperationWindow::closeEvent(e);
}

AstraRegistrationWindow::AstraRegistrationWindow(ConfigHost& host, QWidget* parent)
    : RegistrationWindow(host, "TToConectAstraIzv", parent) {
  sendsEnd_ = false;
  Connect_1->setText("Регистрировать радиоустройство");
  Connect_2->hide();
  Caption2->hide();
  Lines[1]->setText("радиоканальных устройств в Астра-РР.");
  Lines[5]->setText("\"Регистрировать радиоустройство.\"");
}

}  // namespace configurator::gui
