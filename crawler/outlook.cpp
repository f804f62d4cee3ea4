#include "crawler/outlook.h"

namespace lun {

// Outlook is reached through its automation server "Outlook.Application"
// and Outlook Express through its store namespace; this system has neither,
// so there is never a store to open.
MailPassResult OutlookPass(bool held) {
  return held ? MailPassResult::kHeld : MailPassResult::kNoStore;
}

MailPassResult OutlookExpressPass(bool held) {
  return held ? MailPassResult::kHeld : MailPassResult::kNoStore;
}

MailPollThread::MailPollThread(std::function<void()> pass, std::chrono::milliseconds interval)
    : pass_(std::move(pass)), interval_(interval) {}

MailPollThread::~MailPollThread() { Stop(); }

void MailPollThread::Start() {
  std::lock_guard control(control_mutex_);
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stop_ = false;
  pass_requested_ = false;
  thread_ = std::thread(&MailPollThread::Run, this);
}

void MailPollThread::Stop() {
  std::lock_guard control(control_mutex_);
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void MailPollThread::RequestPass() {
  {
    std::lock_guard lock(mutex_);
    pass_requested_ = true;
  }
  wake_.notify_all();
}

bool MailPollThread::running() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable();
}

void MailPollThread::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    pass_requested_ = false;
    lock.unlock();
    pass_();
    lock.lock();
    wake_.wait_for(lock, interval_, [&] { return stop_ || pass_requested_; });
  }
}

}  // namespace lun
