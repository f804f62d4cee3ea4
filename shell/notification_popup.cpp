#include "shell/notification_popup.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace lun {

int PopupSlots::Take() {
  int slot = 0;
  for (int i = 0; i < kCount; ++i) {
    if (!taken_[i]) {
      slot = i;
      break;
    }
  }
  taken_[slot] = true;
  return slot;
}

void PopupSlots::Free(int slot) {
  if (slot >= 0 && slot < kCount) taken_[slot] = false;
}

QPoint NotificationPopup::StartPosition(const QRect& work_area, int slot) {
  // Slot 0 rises to stand on the bottom of the work area, each further slot
  // one popup (and a pixel) higher. The popup ends wholly visible, above a
  // panel at the bottom, rather than partly below the screen's edge.
  const int x = work_area.right() + 1 - kWidth;
  const int y = work_area.bottom() + 1 - (kHeight + 1) * slot;
  return QPoint(x, y);
}

NotificationPopup::NotificationPopup(const QString& title, const QString& message, int slot,
                                     const QIcon& icon)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      title_(title),
      message_(message),
      slot_(slot),
      icon_(icon),
      fade_(this, "windowOpacity") {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kWidth, kHeight);
  setCursor(Qt::PointingHandCursor);
  slide_timer_.setInterval(kTickMs);
  connect(&slide_timer_, &QTimer::timeout, this, &NotificationPopup::Rise);
  stay_timer_.setSingleShot(true);
  stay_timer_.setInterval(kShowMs);
  connect(&stay_timer_, &QTimer::timeout, this, &NotificationPopup::FadeOut);
  connect(&fade_, &QPropertyAnimation::finished, this, &QWidget::close);
}

void NotificationPopup::Start(const QRect& work_area) {
  move(StartPosition(work_area, slot_));
  show();
  slide_timer_.start();
}

void NotificationPopup::Rise() {
  const int step = std::min(kRisePerTick, kHeight - risen_);
  risen_ += step;
  move(x(), y() - step);
  if (risen_ >= kHeight) {
    slide_timer_.stop();
    stay_timer_.start();
  }
}

void NotificationPopup::FadeOut() {
  if (fading_) return;
  fading_ = true;
  const bool sliding = slide_timer_.isActive();
  slide_timer_.stop();
  stay_timer_.stop();
  fade_.setDuration(sliding ? kEarlyFadeMs : kFadeMs);
  fade_.setStartValue(1.0);
  fade_.setEndValue(0.0);
  fade_.start();
  emit Closed(slot_);
}

void NotificationPopup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0, QColor(0xCC, 0xFF, 0xCC));
  gradient.setColorAt(1, QColor(0x33, 0x99, 0x33));
  p.fillRect(rect(), gradient);
  icon_.paint(&p, QRect(8, 12, 32, 32));
  QFont title_font = font();
  title_font.setPixelSize(14);
  title_font.setWeight(QFont::Bold);
  p.setFont(title_font);
  p.setPen(Qt::blue);
  const QRect title_box(40, 12, width() - 40, 32);
  p.drawText(title_box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
             p.fontMetrics().elidedText(title_, Qt::ElideRight, title_box.width()));
  QFont text_font = font();
  text_font.setPixelSize(12);
  text_font.setWeight(QFont::Normal);
  p.setFont(text_font);
  p.setPen(Qt::black);
  p.drawText(QRect(16, 50, width() - 24, height() - 58), Qt::AlignLeft | Qt::TextWordWrap,
             message_);
}

void NotificationPopup::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  FadeOut();
  emit Clicked();
}

PopupCenter::PopupCenter(QIcon icon, QObject* parent) : QObject(parent), icon_(std::move(icon)) {}

PopupCenter::~PopupCenter() { CloseAll(); }

NotificationPopup* PopupCenter::Show(const QString& title, const QString& message) {
  const int slot = slots_.Take();
  auto* popup = new NotificationPopup(title, message, slot, icon_);
  connect(popup, &NotificationPopup::Closed, this, [this](int freed) { slots_.Free(freed); });
  connect(popup, &NotificationPopup::Clicked, this, [this, title] { emit Clicked(title); });
  std::erase_if(open_, [](const QPointer<NotificationPopup>& p) { return p.isNull(); });
  open_.emplace_back(popup);
  const QScreen* screen = QGuiApplication::primaryScreen();
  popup->Start(screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
  return popup;
}

void PopupCenter::CloseAll() {
  for (const QPointer<NotificationPopup>& popup : open_) {
    if (popup) popup->close();
  }
  open_.clear();
}

}  // namespace lun
