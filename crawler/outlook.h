// The Outlook and Outlook Express mail sources.
//
// Both clients keep their mail in stores that only their own Windows
// components open (Outlook's automation server, the Outlook Express store
// namespace). Neither exists on Linux, so a pass finds no store and indexes
// nothing, quietly: no error, no log line. The sources keep their place
// (the tokens "|OUTLOOK|" and "|OUTLOOKEXPRESS|" and a polling thread each)
// so that settings, start-up and shutdown behave the same on every system.
//
// A polling thread runs its pass, then waits for the poll interval (one
// minute); a pass request ends the wait early, the stop flag ends the
// thread. The wait is interruptible, so stopping never waits for the rest
// of an interval.
#ifndef LUN_CRAWLER_OUTLOOK_H_
#define LUN_CRAWLER_OUTLOOK_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lun {

enum class MailPassResult {
  kHeld,     // the index is being cleared or built for the first time: no pass now
  kNoStore,  // the client's store is not there: nothing indexed
};

// One pass over every message of the client's store. `held`: the index is
// being cleared or built for the first time.
MailPassResult OutlookPass(bool held);
MailPassResult OutlookExpressPass(bool held);

inline constexpr std::chrono::milliseconds kMailPollInterval{60000};

// Thread safety: all members may be called from any thread.
class MailPollThread {
 public:
  // `pass` runs on the thread, once right after Start and then once per
  // `interval` or pass request.
  explicit MailPollThread(std::function<void()> pass,
                          std::chrono::milliseconds interval = kMailPollInterval);
  ~MailPollThread();  // Stop
  MailPollThread(const MailPollThread&) = delete;
  MailPollThread& operator=(const MailPollThread&) = delete;

  // Starts the thread; nothing when it runs.
  void Start();
  // Raises the stop flag and waits for the thread to end (a pass under way
  // is finished first); nothing when it does not run.
  void Stop();
  // The next pass starts now instead of at the end of the interval (once
  // per request, however many requests arrive meanwhile).
  void RequestPass();
  bool running() const;

 private:
  void Run();

  const std::function<void()> pass_;
  const std::chrono::milliseconds interval_;
  std::mutex control_mutex_;  // one Start or Stop at a time
  mutable std::mutex mutex_;  // guards the flags and thread_
  std::condition_variable wake_;
  bool stop_ = false;
  bool pass_requested_ = false;
  std::thread thread_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_OUTLOOK_H_
