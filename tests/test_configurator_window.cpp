// "Конфигуратор прибора" offscreen, driven by its controls' names, opened
// from the maintenance window after the login, against a devsim device that
// keeps its configuration image in a file and carries a Rielta expander.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "configurator/config_file.h"
#include "configurator/gui/config_window.h"
#include "configurator/image.h"
#include "tests/support/maintenance_desk.h"

namespace {

using namespace std::chrono_literals;
namespace cfg = configurator;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// An image the window shows without repairing anything: codes of decimal
// digits ("Код Уст" empty), loop and output types in their lists, the Rielta
// expander connected; every other byte from `seed`.
cfg::Image ShowableImage(int seed) {
  cfg::Image im{};
  for (size_t i = 0; i < im.size(); ++i) im[i] = uint8_t(i * 7 + seed);
  for (size_t r = 0; r < 20; ++r)
    for (size_t b = 0; b < 4; ++b)
      im[5 * r + b] = uint8_t(((r + b + seed) % 10) << 4 | (r * 3 + b) % 10);
  im[2] = im[3] = 0;
  const uint8_t loops[4] = {0, 5, 2, 3};
  for (int n = 0; n < 4; ++n) im[cfg::off::kLoopTypes + n] = loops[n];
  im[cfg::off::kOutput1Type] = 0x83;  // schedule arming, "Вкл. на время при снятии"
  im[cfg::off::kOutput2Type] = 2;
  im[cfg::off::kPeriodEthernet] = 15;
  im[cfg::off::kPeriodGsm] = 30;
  im[cfg::off::kOptionsA] = 0x09;  // backlight always, the Rielta expander
  im[cfg::off::kOptionsB] = 0x11;
  for (size_t i = 0; i < 4; ++i) im[cfg::off::kClearedOnWrite + i] = 0;
  return im;
}

class Configurator : public testsupport::MaintenanceDesk {
 protected:
  cfg::Image seed = ShowableImage(0);

  void Prepare() override {
    std::string why;
    ASSERT_TRUE(cfg::SaveConfigFile(dir.File("seed.dat"), 250, seed, &why)) << why;
  }
  std::vector<std::string> DeviceArgs() override {
    return {"--maint-versions", "77.10/51.39", "--maint-config-file", dir.File("seed.dat"),
            "--maint-config-out", dir.File("out.dat"), "--maint-expander", "rielta",
            "--maint-expander-delay", "300", "--maint-key-after", "1"};
  }

  cfg::gui::ConfigWindow* Config() {
    return window->findChild<cfg::gui::ConfigWindow*>("TFormConfig");
  }
  template <typename T>
  T* C(const char* name) {
    return MaintenanceDesk::W<T>(Config(), name);
  }
  QString Status() { return C<QLabel>("LabelBagRielta")->text(); }
  void ShowTab(const char* name) {
    auto* tabs = C<QTabWidget>("PageControl1");
    tabs->setCurrentWidget(C<QWidget>(name));
  }
  void Choose(QAction* a) {
    ASSERT_NE(a, nullptr);
    a->trigger();
  }
  QAction* MenuItem(QWidget* tab, const char* menu, const QString& text) {
    for (QAction* a : MaintenanceDesk::W<QMenu>(tab, menu)->actions())
      if (a->text() == text && a->isVisible()) return a;
    return nullptr;
  }
  void RightPress(QWidget* w, QPoint at = {}) {
    QTest::mousePress(w, Qt::RightButton, {}, at.isNull() ? w->rect().center() : at);
  }

  // "Конфиг.прибора" after the login, the device identified; then read,
  // until the expander's table shows a name in slot 0.
  void OpenAndRead(const char* table = "StringGrid_TypeRielta", int nameColumn = 4) {
    ASSERT_NO_FATAL_FAILURE(Login("ConfigPribor"));
    ASSERT_TRUE(WaitFor([&] { return Config() && Config()->isVisible(); })) << Log().toStdString();
    ASSERT_TRUE(WaitFor([&] { return C<QLabel>("Label6")->text().contains("Гравен"); }));
    EXPECT_EQ(C<QLabel>("Label6")->text(), "<Пульт. номер - 1/0/1> \"Гравен-Net\"");
    EXPECT_FALSE(W<QPushButton>(window.get(), "ConfigPribor")->isEnabled())
        << "the maintenance actions wait for the configurator";
    C<QPushButton>("ButtonRead")->click();
    // The image, then the expander's settings.
    ASSERT_TRUE(WaitFor([&] {
      return Status() == "Чтение OK." && !Cell(table, 0, nameColumn).isEmpty();
    })) << Status().toStdString() << "\n" << Log().toStdString();
    ASSERT_TRUE(C<QTabWidget>("PageControl1")->isVisible());
  }
  QString Cell(const char* table, int row, int column) {
    QTableWidgetItem* item = C<QTableWidget>(table)->item(row, column);
    return item ? item->text() : QString();
  }
  QString RieltaCell(int row, int column) { return Cell("StringGrid_TypeRielta", row, column); }
};

// The params tab and the code and key tabs edit the image; a write sends it,
// and the device's image differs in exactly the edited bytes.
TEST_F(Configurator, EditsOnTheTabsAreWhatTheWriteChanges) {
  ASSERT_NO_FATAL_FAILURE(OpenAndRead());
  EXPECT_EQ(C<QComboBox>("ComboBoxTypeShl2")->currentText(), "Вход");
  EXPECT_EQ(C<QComboBox>("ComboBoxTypeRele1")->currentText(), "Вкл. на время при снятии");
  EXPECT_EQ(C<QLabel>("LabelRele1")->text(), "c/16");
  EXPECT_TRUE(C<QCheckBox>("CheckGrafikOxr")->isChecked());
  EXPECT_EQ(C<QLineEdit>("PeriodGSM")->text(), "30");

  // A period typed as "456" keeps two digits, stored when the field is left.
  auto* gsm = C<QLineEdit>("PeriodGSM");
  gsm->clear();
  QTest::keyClicks(gsm, "456");
  QTest::keyClick(gsm, Qt::Key_Return);
  EXPECT_EQ(gsm->text(), "45");

  // A code typed into row 3: only digits are taken.
  ShowTab("TabSheetCode");
  auto* codes = C<QTableWidget>("StringGridCode");
  codes->setCurrentCell(2, 1);
  codes->editItem(codes->item(2, 1));
  auto* editor = codes->findChild<QLineEdit*>("CodeEditor");
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "12x34");
  QTest::keyClick(editor, Qt::Key_Return);
  // The editor commits once the events run.
  EXPECT_TRUE(WaitFor([&] { return codes->item(2, 1)->text() == "1234"; }))
      << codes->item(2, 1)->text().toStdString();

  // A key read at the device's reader, placed into row 2.
  ShowTab("TabSheetKey");
  auto* keys = C<QTableWidget>("StringGridKey");
  QTest::mousePress(keys->viewport(), Qt::LeftButton, {},
                    keys->visualItemRect(keys->item(1, 1)).center());
  EXPECT_TRUE(C<QWidget>("PanelKey")->isVisible());
  ASSERT_TRUE(WaitFor([&] { return C<QPushButton>("ButtonWriteKey")->isVisible(); }));
  EXPECT_EQ(C<QLineEdit>("EditKey")->text(), "930007E1963C5A01");
  C<QPushButton>("ButtonWriteKey")->click();
  EXPECT_EQ(keys->item(1, 1)->text(), "E1963C5A");
  EXPECT_TRUE(C<QWidget>("PanelKey")->isVisible()) << "the key stays at hand for another row";

  ASSERT_TRUE(C<QPushButton>("ButtonWrite")->isEnabled());
  C<QPushButton>("ButtonWrite")->click();
  ASSERT_TRUE(WaitFor([&] { return Status() == "Запись - OK."; }))
      << Status().toStdString() << "\n" << Log().toStdString();

  Config()->close();
  EXPECT_TRUE(WaitFor([&] { return W<QPushButton>(window.get(), "ConfigPribor")->isEnabled(); }));
  ASSERT_EQ(devsim->Terminate(), 0);
  const std::vector<uint8_t> out = ReadAll(dir.File("out.dat"));
  ASSERT_EQ(out.size(), 356u);
  std::set<size_t> changed;
  for (size_t i = 0; i < 256; ++i)
    if (out[100 + i] != seed[i]) changed.insert(i);
  EXPECT_EQ(changed, (std::set<size_t>{10, 11, 123, 160, 161, 162, 163}));
  EXPECT_EQ(out[100 + 10], 0x21);
  EXPECT_EQ(out[100 + 11], 0x43);
  EXPECT_EQ(out[100 + 123], 45);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 260, out.begin() + 264),
            (std::vector<uint8_t>{0x5A, 0x3C, 0x96, 0xE1}));
}

// Files: each layout saves back byte for byte; a file for another device is
// reported; "VordaGSM" is kept but neither edited nor written; a loaded image
// never goes out with the detectors read from the device before it.
TEST_F(Configurator, FilesSaveBackByteForByteAndForeignOnesAreOnlyKept) {
  ASSERT_NO_FATAL_FAILURE(OpenAndRead());
  std::string why;
  struct Golden {
    uint8_t variant;
    std::string file;
    const char* folder;
  };
  const Golden goldens[] = {{250, dir.File("g250.dat"), "/VordaF"},
                            {252, dir.File("g252.dat"), "/VordaF"},
                            {251, dir.File("g251.dat"), "/VordaF2AT"}};
  for (const Golden& g : goldens)
    ASSERT_TRUE(cfg::SaveConfigFile(g.file, g.variant, ShowableImage(g.variant), &why)) << why;

  for (const Golden& g : goldens) {
    SCOPED_TRACE(int(g.variant));
    files.open = QString::fromStdString(g.file);
    Choose(Config()->findChild<QAction*>("N2"));
    // The dialog opens in the folder of the layout shown before.
    EXPECT_EQ(files.folders.back(), QString::fromStdString(dir.Path()) + g.folder);
    EXPECT_EQ(asker.notices.size(), size_t(g.variant == 250 ? 0 : g.variant == 252 ? 1 : 2));
    if (g.variant != 250) {
      EXPECT_EQ(asker.notices.back(), "Неверный формат файла|Ошибка");
    }
    EXPECT_EQ(C<QTabWidget>("PageControl1")->isVisible(), g.variant != 251);
    EXPECT_EQ(C<QLabel>("LabelVariant")->isVisible(), g.variant == 251);
    EXPECT_EQ(C<QPushButton>("ButtonWrite")->isEnabled(), g.variant != 251);
    EXPECT_TRUE(RieltaCell(0, 4).isEmpty()) << "the device's detectors are not the file's";

    files.save = QString::fromStdString(dir.File("copy.dat"));
    Choose(Config()->findChild<QAction*>("N3"));
    EXPECT_EQ(ReadAll(dir.File("copy.dat")), ReadAll(g.file));

    if (g.variant == 250) {
      // Written without the expander's settings: they were not read for this image.
      C<QPushButton>("ButtonWrite")->click();
      ASSERT_TRUE(WaitFor([&] { return Status() == "Запись OK."; }))
          << Status().toStdString() << "\n" << Log().toStdString();
    }
  }
  EXPECT_TRUE(files.folders.back().endsWith("/VordaGSM/VordaGSM.dat"))
      << files.folders.back().toStdString();
}

// The Rielta table after a read; a registration's window closes once the
// device's notice brought the re-read; "Параметры сети" opens the window of
// the table's own expander even while that expander is not marked active.
TEST_F(Configurator, RieltaTableRegistrationAndNetworkWindow) {
  ASSERT_NO_FATAL_FAILURE(OpenAndRead());
  ShowTab("TabSheetRielta");
  QWidget* tab = C<QWidget>("TabSheetRielta");
  auto* table = C<QTableWidget>("StringGrid_TypeRielta");
  EXPECT_EQ(table->horizontalHeaderItem(4)->text(), "Имя");
  EXPECT_TRUE(MaintenanceDesk::W<QLineEdit>(tab, "EditOwner3")->isVisible())
      << "slot 2 holds a key fob";
  EXPECT_FALSE(MaintenanceDesk::W<QLineEdit>(tab, "EditOwner1")->isVisible());
  EXPECT_TRUE(MaintenanceDesk::W<QLabel>(tab, "LabelVS3")->isVisible());

  RightPress(table->viewport(), table->visualItemRect(table->item(0, 2)).center());
  EXPECT_TRUE(MaintenanceDesk::W<QMenu>(tab, "PopupMenu1")->isVisible());
  EXPECT_EQ(MenuItem(tab, "PopupMenu1", "Удалить все извещатели"), nullptr)
      << "deleting all is Astra-RR's";
  Choose(MenuItem(tab, "PopupMenu1", "Зарегистрировать извещ."));
  auto* registration = C<QWidget>("TToConectRieltIzv");
  ASSERT_TRUE(registration->isVisible());
  MaintenanceDesk::W<QPushButton>(registration, "Connect_1")->click();
  EXPECT_TRUE(MaintenanceDesk::W<QLabel>(registration, "LabelPrompt")->isVisible());
  EXPECT_TRUE(WaitFor([&] { return !registration->isVisible(); }, 20s)) << Log().toStdString();
  EXPECT_FALSE(Config()->ReReadArmed());
  ASSERT_TRUE(WaitFor([&] { return Status() == "Запись - OK."; }, 20s))
      << Status().toStdString() << "\n" << Log().toStdString();

  // The box clicked off and on: the Rielta expander is no longer marked active.
  C<QCheckBox>("CheckBRHSen")->click();
  EXPECT_FALSE(C<QLineEdit>("N_Net_BRHS")->isVisible());
  C<QCheckBox>("CheckBRHSen")->click();
  ASSERT_TRUE(C<QLineEdit>("N_Net_BRHS")->isVisible());
  RightPress(C<QLineEdit>("N_Net_BRHS"));
  Choose(MenuItem(tab, "PopupMenu2", "Параметры сети"));
  EXPECT_TRUE(C<QWidget>("TFormLitera_Nnet")->isVisible());
  EXPECT_FALSE(C<QWidget>("TFormLitera_NnetAstra")->isVisible());
}

// The same device with an Astra-RR expander: its table, the popup's
// delete-all item, and a deletion whose window closes once the device's
// notice has been followed by the re-read and the write back.
class AstraConfigurator : public Configurator {
 protected:
  void Prepare() override {
    seed[cfg::off::kOptionsA] = 0x81;  // backlight always, the Astra-RR expander
    Configurator::Prepare();
  }
  std::vector<std::string> DeviceArgs() override {
    std::vector<std::string> a = Configurator::DeviceArgs();
    std::replace(a.begin(), a.end(), std::string("rielta"), std::string("astra"));
    return a;
  }
};

TEST_F(AstraConfigurator, TableAndADeletionFollowedByTheReRead) {
  ASSERT_NO_FATAL_FAILURE(OpenAndRead("StringGrid_Astra", 3));
  ShowTab("TabSheetAstra");
  QWidget* tab = C<QWidget>("TabSheetAstra");
  auto* table = C<QTableWidget>("StringGrid_Astra");
  EXPECT_EQ(table->horizontalHeaderItem(11)->text(), "Pсиг(RSSI)");
  EXPECT_FALSE(C<QCheckBox>("CheckBRHSen")->isChecked()) << "one expander at a time";
  const QString name = Cell("StringGrid_Astra", 0, 3);
  const QString channel = Cell("StringGrid_Astra", 0, 2);

  RightPress(table->viewport(), table->visualItemRect(table->item(0, 1)).center());
  EXPECT_NE(MenuItem(tab, "PopupMenu1", "Удалить все извещатели"), nullptr);
  asker.answers.push_back(true);
  Choose(MenuItem(tab, "PopupMenu1", "Удалить этот извещ."));
  ASSERT_FALSE(asker.asked.empty());
  EXPECT_EQ(asker.asked.back(), "\"Конфигуратор прибора\".|Извещатель: \"" + name +
                                    "\"; N-канала: \"" + channel +
                                    "\"- Будет Удален! Исполнить?");
  auto* deletion = C<QWidget>("TFormDelIzv");
  EXPECT_TRUE(deletion->isVisible());
  EXPECT_TRUE(WaitFor([&] { return !deletion->isVisible(); }, 20s)) << Log().toStdString();
  // Row 1 went as index 1, slot 0 on the device: the re-read shows it empty.
  EXPECT_TRUE(WaitFor([&] { return Cell("StringGrid_Astra", 0, 3).isEmpty(); }, 20s));
  ASSERT_TRUE(WaitFor([&] { return Status() == "Запись - OK."; }, 20s))
      << Status().toStdString() << "\n" << Log().toStdString();
}

}  // namespace
