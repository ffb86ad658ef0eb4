// The tab of one radio expander ("БРШС \"Риэлта\"" or "\"Астра - РР\""): its
// box in option byte A, the network fields, the detector table with its
// menus, the state query, and the operation windows it opens. Everything it
// sends concerns its own expander, whichever one happens to be active.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <span>

#include "configurator/expander_blocks.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace configurator::gui {

class ConfigHost;
class DetectorGrid;
class DeletionWindow;
class RieltaNetworkWindow;
class AstraNetworkWindow;
class RegistrationWindow;
struct FormState;

class ExpanderTab : public QWidget {
  Q_OBJECT

 public:
  ExpanderTab(Expander e, FormState& form, ConfigHost& host, DeletionWindow& deletion,
              QWidget* parent);
  ~ExpanderTab() override;

  // On every showing of the window and every loaded file: nothing read,
  // nothing shown, not active.
  void Prepare();
  // The image was shown: the box, the address boxes and the active mark from it.
  void ShowOptions();
  // A configuration read completed: with the box checked the settings are
  // unread until the expander's read that follows.
  void AfterImageRead();
  // The expander's read ended; `ok` when every block came.
  void TakeBlocks(const ExpanderBlocks& blocks, int arrived, bool ok);
  void TakeStates(std::span<const uint8_t> data);

  bool BoxChecked() const;
  bool Active() const { return active_; }
  bool SettingsRead() const { return settingsRead_; }
  // The blocks with the table's edits, for a write.
  ExpanderBlocks Encoded() const;

  // The other expander's box was checked: this one is unchecked as by a click.
  void UncheckedByOther();
  // "Цикл Чт.Сост.".
  bool Cycling() const;
  void StopCycling();
  // Label47/Label53 cleared and the state query sent.
  void QueryStates();
  // The re-read after an operation is done: its window closes.
  void ReReadDone();
  void CloseOperationWindows();

 signals:
  // The operator clicked the expander box.
  void BoxClicked(bool checked);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildRielta(QWidget* top);
  void BuildAstra(QWidget* top);
  void OnBoxClicked(bool checked);
  // The table, network fields and address boxes follow the box.
  void FollowBox();
  void ShowNetwork();
  void DetectorMenu(int slot, const QPoint& at);
  void DeleteOne();
  void DeleteAll();
  void Register();
  void NetworkWindow();
  bool ImageHasAstraBit() const;

  Expander e_;
  FormState& form_;
  ConfigHost& host_;
  DeletionWindow& deletion_;
  bool active_ = false;
  bool settingsRead_ = false;
  ExpanderBlocks blocks_{};
  int menuSlot_ = -1;
  bool astraBitShown_ = false;  // the shown image has the Astra-RR bit: "Удалить все" offered

  QCheckBox* box_ = nullptr;                // CheckBRHSen / CheckAstraEn
  QCheckBox* cycle_ = nullptr;              // CheckBox5 / CheckBox4 "Цикл Чт.Сост."
  QPushButton* states_ = nullptr;           // SpeedButton2 / SpeedButton1 "Чт.Сост."
  std::array<QLineEdit*, 2> network_{};     // N_Net_BRHS, N_Litera / Litera_Astra, Par_Sviaz_Astra
  std::array<QLabel*, 2> networkLabels_{};  // Label49, Label48 / Label56, Label57
  std::array<QCheckBox*, 3> address_{};     // CheckAdrRielt_0..2
  std::array<QLabel*, 4> addressLabels_{};  // LabelRielta1..4
  QWidget* tableArea_ = nullptr;            // PageControl2 / GroupBox3
  QGroupBox* rssi_ = nullptr;               // GroupBox1
  DetectorGrid* grid_ = nullptr;
  QMenu* detectorMenu_ = nullptr;           // PopupMenu1
  QMenu* networkMenu_ = nullptr;            // PopupMenu2
  QAction* deleteOne_ = nullptr;
  QAction* register_ = nullptr;
  QAction* deleteAll_ = nullptr;

  RegistrationWindow* rieltaRegistration_ = nullptr;
  QPointer<RegistrationWindow> astraRegistration_;  // made when needed, gone when closed
  RieltaNetworkWindow* rieltaNetwork_ = nullptr;
  AstraNetworkWindow* astraNetwork_ = nullptr;
};

}  // namespace configurator::gui
