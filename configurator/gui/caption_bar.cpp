#include "configurator/gui/caption_bar.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <algorithm>

namespace configurator::gui {

CaptionBar::CaptionBar(QTableWidget* table, QWidget* parent) : QWidget(parent), table_(table) {
  setFixedHeight(fontMetrics().height() + 6);
  connect(table->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { Place(); });
  connect(table->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { Place(); });
  table->installEventFilter(this);
}

QLabel* CaptionBar::Add(const QString& text, int first, int last) {
  auto* l = new QLabel(text, this);
  l->setAlignment(Qt::AlignCenter);
  l->setFrameShape(QFrame::Panel);
  l->setFrameShadow(QFrame::Raised);
  groups_.push_back({l, first, last});
  Place();
  return l;
}

void CaptionBar::Attach(QWidget* w, int group) {
  w->setParent(this);
  groups_[group].attached = w;
  Place();
}

void CaptionBar::Place() {
  const QHeaderView* h = table_->horizontalHeader();
  // The table's columns start where its viewport does.
  const int origin = table_->mapTo(parentWidget(), table_->viewport()->pos()).x() - x();
  for (Group& g : groups_) {
    const int left = origin + h->sectionViewportPosition(g.first);
    const int right = origin + h->sectionViewportPosition(g.last) + h->sectionSize(g.last);
    g.label->setGeometry(left, 0, std::max(0, right - left), height());
    if (g.attached) {
      const int w = g.attached->sizeHint().width();
      g.attached->setGeometry(right - w - 4, 2, w, height() - 4);
      g.attached->raise();
    }
  }
}

void CaptionBar::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Place();
}

bool CaptionBar::eventFilter(QObject* watched, QEvent* e) {
  if (watched == table_ && (e->type() == QEvent::Resize || e->type() == QEvent::Move ||
                            e->type() == QEvent::Show || e->type() == QEvent::LayoutRequest))
    Place();
  return QWidget::eventFilter(watched, e);
}

}  // namespace configurator::gui
