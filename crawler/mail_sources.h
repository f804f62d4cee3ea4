// The owner of the mail sources: each is on or off as the document-type list
// ("文档类型") says, and all of them stop in the order shutdown needs.
//
//   token              source when on
//   "|FOXMAIL|"        the Foxmail monitor (foxmail.h)
//   "|OUTLOOK|"        the Outlook polling thread (outlook.h)
//   "|OUTLOOKEXPRESS|" the Outlook Express polling thread (outlook.h)
//   "|THUNDERBIRD|"    the local-mail monitor: Thunderbird mbox files and
//                      Maildir folders (local_mail.h)
//
// Tokens are compared without regard to case, on the list as the settings
// hold it ("foxmail|doc" counts as "|FOXMAIL|DOC|").
//
// Thread safety: all members may be called from any thread; Apply and Stop
// run one at a time.
#ifndef LUN_CRAWLER_MAIL_SOURCES_H_
#define LUN_CRAWLER_MAIL_SOURCES_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "crawler/foxmail.h"
#include "crawler/local_mail.h"
#include "crawler/outlook.h"

namespace lun {

class DocumentWriter;
class ScanScope;
class SearchService;

struct MailSourcesEnvironment {
  DocumentWriter* writer = nullptr;
  SearchService* search = nullptr;
  ScanScope* scope = nullptr;
  std::string foxmail_directory;      // setting "Foxmail目录"; empty: not installed
  std::string home;                   // the user's home: Thunderbird profiles, ~/Maildir
  std::vector<std::string> maildirs;  // setting "Maildir目录", split at "|"
  // True while the index is being cleared or built for the first time; the
  // polled stores skip their passes meanwhile.
  std::function<bool()> passes_held;
  // The count-down box of a Foxmail directory that cannot be watched.
  CountdownBox countdown;
  std::chrono::milliseconds poll_interval = kMailPollInterval;
  // Tests: see FoxmailOptions.
  std::function<int(const std::string& directory)> fail_watch_for_testing;
};

class MailSources {
 public:
  // `writer`, `search` and `scope` of `env` must be set and outlive the
  // sources.
  explicit MailSources(MailSourcesEnvironment env);
  ~MailSources();  // Stop
  MailSources(const MailSources&) = delete;
  MailSources& operator=(const MailSources&) = delete;

  // Starts the sources that `document_types` lists and that are off (in the
  // order Foxmail, Outlook, Outlook Express, local mail), stops the ones
  // that are on and no longer listed: at start-up and whenever "文档类型"
  // changes. Returns the directories that could not be watched, one line
  // each with the reason.
  std::string Apply(const std::string& document_types);

  // Shutdown: stops Outlook Express, Outlook, the Foxmail monitor, then
  // local mail. Passes under way end early; a later Apply starts afresh.
  void Stop();

  // Reads the mailboxes of Foxmail and local mail, when on, once: the
  // scan's pass over the mail (the polled stores read on their threads).
  void IndexAll();

  bool foxmail_on() const { return foxmail_on_; }
  bool outlook_on() const { return outlook_.running(); }
  bool outlook_express_on() const { return outlook_express_.running(); }
  bool local_mail_on() const { return local_on_; }

 private:
  bool Held() const { return env_.passes_held && env_.passes_held(); }
  void StopFoxmail();
  void StopLocalMail();

  MailSourcesEnvironment env_;
  FoxmailSource foxmail_;
  LocalMailSource local_;
  MailPollThread outlook_;
  MailPollThread outlook_express_;
  std::mutex mutex_;  // one Apply or Stop at a time
  std::atomic<bool> foxmail_on_{false};
  std::atomic<bool> local_on_{false};
};

}  // namespace lun

#endif  // LUN_CRAWLER_MAIL_SOURCES_H_
