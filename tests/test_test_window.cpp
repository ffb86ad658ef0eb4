// The device test window "Тест" offscreen, driven by its controls' names,
// opened from the maintenance window after the login against a devsim device
// that plays the test commands: the controls, the masks of the tick boxes as
// the device reads them, the blocking options, a failed command and a retry,
// the closing, and a layout without cut or overlapping texts.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/server.h"
#include "maintenance/gui/maintenance_window.h"
#include "maintenance/gui/test_window.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/sim_output.h"
#include "tests/support/maintenance_desk.h"
#include "tests/support/scripted_asker.h"
#include "tests/support/socat_pair.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;


const char* const kChannels[12] = {"CheckBox1", "CheckBox2",  "CheckBox3",  "CheckBox4",
                                   "CheckBox5", "CheckBox6",  "CheckBox7",  "CheckBox8",
                                   "CheckBox9", "CheckBox10", "CheckBox11", "CheckBox12"};

class TestWindowFixture : public testsupport::MaintenanceDesk {
 protected:
  QWidget* test = nullptr;  // "Тест", once the login let it open

  virtual std::vector<std::string> DeviceFaults() { return {}; }
  std::vector<std::string> DeviceArgs() override { return DeviceFaults(); }
  // "Тест" is there in debug mode only.
  void BeforeWindow() override { server->Settings().GlOtladka = true; }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MaintenanceDesk::SetUp());
    ASSERT_NO_FATAL_FAILURE(OpenTest());
  }

  // "Тест" of the maintenance window, the login, and the test window.
  void OpenTest() {
    auto* button = window->findChild<QPushButton*>("Test");
    ASSERT_TRUE(button && button->isVisible());
    Login("Test");
    test = window->findChild<QWidget*>("TTestUO");
    ASSERT_NE(test, nullptr);
    ASSERT_TRUE(WaitFor([&] { return test->isVisible(); })) << Log().toStdString();
    EXPECT_FALSE(button->isEnabled()) << "stays off while the test window is open";
  }

  template <typename T>
  T* W(const char* name) {
    return MaintenanceDesk::W<T>(test, name);
  }

  // Clicks a command and waits until the session has ended it.
  void Command(const char* button) {
    W<QPushButton>(button)->click();
    ASSERT_TRUE(WaitFor([&] { return !server->Maint().Busy() && W<QPushButton>(button)->isEnabled(); }))
        << Log().toStdString();
  }

  void Tick(std::set<int> boxes) {  // 1-based, the others unticked
    for (int k = 0; k < 12; ++k) W<QCheckBox>(kChannels[k])->setChecked(boxes.count(k + 1) > 0);
  }

  // The device's note about the channel command it read.
  bool DeviceRead(const std::string& masks) {
    return !devsim->WaitForLine("test: channel mask " + masks, 5s).empty();
  }
};

TEST_F(TestWindowFixture, EveryControlWithItsCaptionAndTheClosingGivesTestBack) {
  EXPECT_EQ(test->windowTitle(), "Тест");
  struct Control {
    const char* name;
    const char* caption;
    int ticked;  // check boxes: 1 ticked at the start, 0 not; -1 for other controls
  };
  const Control controls[] = {
      {"CheckBox1", "LAN IP1", 1},   {"CheckBox4", "LAN IP4", 1},
      {"CheckBox5", "SIM1 IP1", 1},  {"CheckBox8", "SIM1 IP4", 1},
      {"CheckBox9", "SIM2 IP1", 1},  {"CheckBox12", "SIM2 IP4", 1},
      {"SpeedButton1", "Исполнить", -1}, {"SpeedButton2", "Востановить", -1},
      {"SpeedButton3", "Reset 87J60", -1}, {"BitBtn1", "Очистить", -1},
      {"C_iTransmInd", "C_iTransm", -1}, {"C_iResivInd", "C_iResiv", -1},
      {"IdentNN", "Ident:", -1},     {"Label5", "T блк.=", -1},
      {"Label7", "T перехода.=", -1}, {"Label8", "T паузы.=", -1},
      {"CheckBlockAllPacket", "Блоктровка всех пакетов", 0},
      {"CheckBlockPacket_1", "Блоктровка 1 пакета", 0},
      {"CheckBlockPacket_3", "Блоктровка 3 (Ст.Алг. 1серв.)", 0},
      {"CheckBlockPacket_41", "Блоктровка 4 пакетов", 0},
      {"CheckBlockPacket_4", "Блоктровка 5 (Ст.Алг. 2серв.)", 0},
      {"CheckBlockPacket_8", "Блоктровка 9 пакетов", 0},
      {"CheckBoxPerex", "Переход между SIM.", 0},
  };
  for (const Control& c : controls) {
    QWidget* w = W<QWidget>(c.name);
    if (!w) continue;
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    EXPECT_EQ(text, c.caption) << c.name;
    if (c.ticked >= 0) {
      EXPECT_EQ(qobject_cast<QCheckBox*>(w)->isChecked(), c.ticked == 1) << c.name;
    }
  }
  EXPECT_EQ(test->findChild<QGroupBox*>()->title(), "Тест Блок.ответа сервера по каналам");
  EXPECT_EQ(W<QLineEdit>("N_Pult")->text(), "1/0/1");

  // Closing gives "Тест" back and keeps the geometry in section "Test".
  test->setGeometry(40, 130, 640, 430);
  test->close();
  EXPECT_TRUE(window->findChild<QPushButton*>("Test")->isEnabled());
  EXPECT_FALSE(static_cast<maintenance::gui::TestWindow*>(test)->IsOpen());
  const app::Server::Geometry g = server->WindowGeometry("Test", {0, 0, 0, 0});
  EXPECT_EQ(std::vector<int>({g.left, g.top, g.width, g.height}),
            std::vector<int>({40, 130, 640, 430}));
  // It opens again after another login.
  ASSERT_NO_FATAL_FAILURE(OpenTest());
}

TEST_F(TestWindowFixture, TheDeviceReadsTheTickedBoxesAsItsMasks) {
  // All twelve ticked: 0x0F and 0xFF; the LAN mask logged in upper case.
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton1"));
  EXPECT_TRUE(DeviceRead("LAN 0F SIM FF"));
  EXPECT_TRUE(Log().contains("Отправить->\",HEX Регистр:->F\n")) << Log().toStdString();
  EXPECT_TRUE(Log().contains("OK \"Блок.<-\",HEX Регистр:->F")) << Log().toStdString();
  EXPECT_FALSE(devsim->WaitForLine("end of test exchange", 5s).empty());

  // Only "SIM2 IP4": 0x00 and 0x80.
  Tick({12});
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton1"));
  EXPECT_TRUE(DeviceRead("LAN 00 SIM 80"));

  // "Востановить" after unticking everything: LAN IP1..4, SIM1 IP1 and IP2.
  Tick({});
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton2"));
  EXPECT_TRUE(DeviceRead("LAN 0F SIM 03"));
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(W<QCheckBox>(kChannels[k])->isChecked(), k < 6) << kChannels[k];

  // The Ethernet controller's reset: sent, nothing logged.
  const QString before = Log();
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton3"));
  EXPECT_FALSE(devsim->WaitForLine("Ethernet controller reset", 5s).empty());
  EXPECT_EQ(Log(), before);
}

TEST_F(TestWindowFixture, BlockingOptionsUntickTheFirstSixOfAnotherTag) {
  EXPECT_EQ(W<QLineEdit>("CountPacket")->text(), "");
  struct Step {
    const char* click;
    std::set<std::string> ticked;  // every blocking option ticked afterwards
  };
  const Step steps[] = {
      {"CheckBlockPacket_2", {"CheckBlockPacket_2"}},
      {"CheckBlockPacket_3", {"CheckBlockPacket_3"}},
      // 7..9 packets are never unticked, and untick nothing themselves but 1..6.
      {"CheckBlockPacket_6", {"CheckBlockPacket_6"}},
      {"CheckBlockPacket_7", {"CheckBlockPacket_6", "CheckBlockPacket_7"}},
      {"CheckBlockAllPacket", {"CheckBlockAllPacket", "CheckBlockPacket_6", "CheckBlockPacket_7"}},
      {"CheckBlockPacket_1", {"CheckBlockPacket_1", "CheckBlockPacket_6", "CheckBlockPacket_7"}},
      // Tag 4 twice: "4 пакетов" and "5 (Ст.Алг. 2серв.)" stay together.
      {"CheckBlockPacket_4", {"CheckBlockPacket_4", "CheckBlockPacket_6", "CheckBlockPacket_7"}},
      {"CheckBlockPacket_41",
       {"CheckBlockPacket_4", "CheckBlockPacket_41", "CheckBlockPacket_6", "CheckBlockPacket_7"}},
      // Tag 5: "Переход между SIM." and "6 пакетов".
      {"CheckBoxPerex", {"CheckBlockPacket_41", "CheckBoxPerex", "CheckBlockPacket_6", "CheckBlockPacket_7"}},
      {"CheckBlockPacket_5",
       {"CheckBlockPacket_41", "CheckBoxPerex", "CheckBlockPacket_5", "CheckBlockPacket_6",
        "CheckBlockPacket_7"}},
  };
  const char* all[] = {"CheckBlockAllPacket", "CheckBlockPacket_1", "CheckBlockPacket_2",
                       "CheckBlockPacket_3",  "CheckBlockPacket_41", "CheckBlockPacket_4",
                       "CheckBlockPacket_5",  "CheckBlockPacket_6", "CheckBlockPacket_7",
                       "CheckBlockPacket_8",  "CheckBoxPerex"};
  for (const Step& s : steps) {
    W<QCheckBox>(s.click)->click();
    for (const char* name : all)
      EXPECT_EQ(W<QCheckBox>(name)->isChecked(), s.ticked.count(name) > 0)
          << "after " << s.click << ": " << name;
  }
  // A click shows the packet counter; "Очистить" sets it to 0.
  EXPECT_EQ(W<QLineEdit>("CountPacket")->text(), "0");
  W<QLineEdit>("CountPacket")->clear();
  W<QPushButton>("BitBtn1")->click();
  EXPECT_EQ(W<QLineEdit>("CountPacket")->text(), "0");
}

TEST_F(TestWindowFixture, ClosingTheMaintenanceWindowClosesIt) {
  window->close();
  EXPECT_FALSE(test->isVisible());
  EXPECT_FALSE(static_cast<maintenance::gui::TestWindow*>(test)->IsOpen());
}

// Every control of the window shows its whole text and overlaps no other at
// the default size; with RELAY_SCREENSHOT=FILE.png the window is saved there.
TEST_F(TestWindowFixture, LaidOutWithoutCutOrOverlappingTexts) {
  QTest::qWait(50);
  EXPECT_EQ(test->size(), QSize(625, 419)) << "the window's default size holds everything";
  std::vector<QWidget*> controls;
  for (QWidget* w : test->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w))
      controls.push_back(w);
  }
  ASSERT_GE(controls.size(), 12u + 3 + 11);
  for (QWidget* w : controls) {
    if (!qobject_cast<QLineEdit*>(w)) {
      EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString() << " is cut";
    }
    EXPECT_TRUE(test->rect().contains(QRect(w->mapTo(test, QPoint(0, 0)), w->size())))
        << w->objectName().toStdString() << " lies outside the window";
  }
  for (size_t a = 0; a < controls.size(); ++a) {
    const QRect ra(controls[a]->mapTo(test, QPoint(0, 0)), controls[a]->size());
    for (size_t b = a + 1; b < controls.size(); ++b) {
      const QRect rb(controls[b]->mapTo(test, QPoint(0, 0)), controls[b]->size());
      EXPECT_FALSE(ra.intersects(rb)) << controls[a]->objectName().toStdString() << " overlaps "
                                      << controls[b]->objectName().toStdString();
    }
  }
  const QByteArray shot = qgetenv("RELAY_SCREENSHOT");
  if (!shot.isEmpty()) {
    test->raise();
    QTest::qWait(200);
    EXPECT_TRUE(test->grab().save(QString::fromLocal8Bit(shot)));
  }
}

// A device that leaves the channel command unanswered.
class SilentDevice : public TestWindowFixture {
  std::vector<std::string> DeviceFaults() override { return {"--maint-test-silent"}; }
};

TEST_F(SilentDevice, ThreeTriesThenTheProcedureStopsAndATryAgainRuns) {
  const QString silent = "Нет ответа на ком.(Тест)\"Блок. ответа Сервера по каналам.\"";
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton1"));
  EXPECT_EQ(Log().count(silent), 3) << Log().toStdString();
  EXPECT_TRUE(Log().endsWith("Обрыв связи с прибором\nПроцедура прервана, попробуйте вновь."))
      << Log().toStdString();
  EXPECT_TRUE(test->isVisible());
  // The abort the failure left does not end the next command unseen.
  ASSERT_NO_FATAL_FAILURE(Command("SpeedButton1"));
  EXPECT_EQ(Log().count(silent), 6) << Log().toStdString();
  EXPECT_EQ(devsim->Count("left unanswered"), 6u);
}

}  // namespace
