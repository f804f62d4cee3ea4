#include "shell/countdown_box.h"

#include <QAbstractButton>

namespace lun {

namespace {

QMessageBox::StandardButtons ButtonsOf(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::kYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case BoxButtons::kOk:
      break;
  }
  return QMessageBox::Ok;
}

int AnswerOf(int result) {
  switch (result) {
    case QMessageBox::Ok:
      return kAnswerOk;
    case QMessageBox::Yes:
      return kAnswerYes;
    case QMessageBox::No:
      return kAnswerNo;
    case QMessageBox::Cancel:
      return kAnswerCancel;
    default:
      return kTimedOut;
  }
}

}  // namespace

QString CountdownCaption(const QString& caption, int seconds_left) {
  return QStringLiteral("%1, 剩余时间: %2秒").arg(caption).arg(seconds_left);
}

CountdownBox::CountdownBox(const QString& caption, const QString& text, int milliseconds,
                           BoxButtons buttons, QMessageBox::Icon icon, QWidget* parent)
    : QMessageBox(icon, caption, text, ButtonsOf(buttons), parent),
      caption_(caption),
      seconds_left_(milliseconds / 1000) {
  setWindowModality(Qt::ApplicationModal);
  setWindowFlag(Qt::WindowStaysOnTopHint);
  // The program speaks Chinese whatever the locale's Qt translations are.
  const struct {
    QMessageBox::StandardButton button;
    const char* text;
  } kTexts[] = {{QMessageBox::Yes, "是(&Y)"},
                {QMessageBox::No, "否(&N)"},
                {QMessageBox::Cancel, "取消"},
                {QMessageBox::Ok, "确定"}};
  for (const auto& t : kTexts) {
    if (QAbstractButton* b = button(t.button)) b->setText(QString::fromUtf8(t.text));
  }
  if (milliseconds <= 0) return;
  // A time-out under one second still counts down once.
  if (seconds_left_ < 1) seconds_left_ = 1;
  setWindowTitle(CountdownCaption(caption_, seconds_left_));
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &CountdownBox::Tick);
  timer_.start();
}

void CountdownBox::Tick() {
  --seconds_left_;
  if (seconds_left_ <= 0) {
    timer_.stop();
    done(kTimedOut);
    return;
  }
  setWindowTitle(CountdownCaption(caption_, seconds_left_));
}

int CountdownBox::Run() { return AnswerOf(exec()); }

int ShowCountdown(const QString& caption, const QString& text, int milliseconds, BoxButtons buttons,
                  QMessageBox::Icon icon) {
  CountdownBox box(caption, text, milliseconds, buttons, icon);
  return box.Run();
}

}  // namespace lun
