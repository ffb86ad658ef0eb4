// Captions over groups of a table's columns ("Взятие ШС", "Сост.Извещ."),
// kept over their columns as the table scrolls and its columns resize.
#pragma once

#include <QWidget>
#include <vector>

class QLabel;
class QTableWidget;

namespace configurator::gui {

class CaptionBar : public QWidget {
 public:
  CaptionBar(QTableWidget* table, QWidget* parent);
  // A caption over columns first..last.
  QLabel* Add(const QString& text, int first, int last);
  // `w` sits at the right end of caption `group`'s span (a state label).
  void Attach(QWidget* w, int group);
  void Place();

 protected:
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  struct Group {
    QLabel* label;
    int first, last;
    QWidget* attached = nullptr;
  };
  QTableWidget* table_;
  std::vector<Group> groups_;
};

}  // namespace configurator::gui
