// Tab "Парам. && пр.ШС": loop types and delays, the outputs and the sounder
// with their links and times, the "Я жив" periods and the option boxes. Each
// control edits the image when it is left or clicked, through the core's rules.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;

namespace configurator::gui {

class ConfigHost;
struct FormState;

class ParamsTab : public QWidget {
  Q_OBJECT

 public:
  ParamsTab(FormState& form, ConfigHost& host, QWidget* parent);

  // The image shown in the controls (already repaired for showing).
  void ShowImage();
  // The "VordaF" arrangement, on an identify answer with 250.
  void ArrangeF();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Build();
  void BindNumber(QLineEdit* field, size_t offset);
  void LeaveNumber(QLineEdit* field);
  void LoopChanged(int loop, const QString& text);
  void OutputChanged(int output, int type);
  void ShowLoops();
  void ShowOutputTime(int output, bool onShow);
  QCheckBox* Box(const char* name) const;

  FormState& form_;
  ConfigHost& host_;
  std::array<QComboBox*, 4> loops_{};
  std::array<QLineEdit*, 4> delaysOut_{};  // EditTimeIn1..4, column "Выход"
  std::array<QLineEdit*, 4> delaysIn_{};   // EditTimeOut1..4, column "Вход"
  std::array<std::array<QCheckBox*, 4>, 3> links_{};  // CheckRele1n, CheckRele2n, CheckSoundn
  std::array<QComboBox*, 2> outputs_{};
  std::array<QLineEdit*, 3> times_{};     // EditTimeRele1, EditTimeRele2, EditTimeSound
  std::array<QCheckBox*, 3> always_{};    // CheckBox1..3 "Всегда"
  std::array<QLabel*, 2> units_{};        // LabelRele1, LabelRele2
  QLineEdit* periodEthernet_ = nullptr;
  QLineEdit* periodGsm_ = nullptr;
  QLabel* label16_ = nullptr;
  QFrame* warning_ = nullptr;  // PanelVzNarSvExit
  std::vector<QWidget*> otherLayouts_;  // the siren and auto-arming controls of other variants
};

}  // namespace configurator::gui
