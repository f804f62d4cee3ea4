// The Foxmail mail source: every message of the user's Foxmail mailboxes
// becomes one record of the document table, of type "FOXMAIL" in category
// "邮件". Mailboxes are read when the scan walks the Foxmail directories and
// again whenever their files change.
//
// Foxmail keeps no registry here: its directory is the setting
// "Foxmail目录" (empty: not installed, nothing is indexed). The file layouts
// are in foxmail_format.h; the readers check every length against the file.
//
// A message's key (its "完整路径") is the key Foxmail gives it in the mailbox
// index, so writing one message never replaces another.
//
// Thread safety: all members may be called from any thread. One mailbox is
// read at a time: a mailbox asked for while another is being read is read
// right after it, by the caller that is reading.
#ifndef LUN_CRAWLER_FOXMAIL_H_
#define LUN_CRAWLER_FOXMAIL_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory_watcher.h"

namespace lun {

class DocumentWriter;
class ScanScope;
struct ProcessEntry;

inline constexpr char kFoxmailDirectoryKey[] = "Foxmail目录";

struct FoxmailMessage {
  uint32_t position = 0;
  uint32_t size = 0;
  double date = 0;  // date value (days since 1899-12-30)
  std::string key;
  std::string name;
};

// The mail directories named by accounts.cfg (the bytes of the file) in
// `foxmail_directory`: each account's directory when it exists, then
// `foxmail_directory`/mail/<folder> when that exists.
std::vector<std::string> FoxmailDirectories(std::string_view accounts_cfg,
                                            const std::string& foxmail_directory);

// The message records of a mailbox index (the bytes of a .IND file).
// Records whose texts run past their 176 bytes end at the record's end.
std::vector<FoxmailMessage> ReadFoxmailIndex(std::string_view index);

// The MD5 of a text's UTF-16LE bytes as 32 lower-case hex digits.
std::string Md5OfText(std::u16string_view text);

// A count-down message box for the user: caption, text, how long it stays
// (milliseconds). May block while the box is shown.
using CountdownBox =
    std::function<void(std::string_view caption, std::string_view text, int milliseconds)>;

inline constexpr char kFoxmailMonitorCaption[] = "FoxMail监控";
inline constexpr int kFoxmailMonitorBoxMs = 3000;

struct FoxmailOptions {
  // Told about every mail directory that cannot be watched (caption
  // "FoxMail监控", the system's text for the error, 3000 ms).
  CountdownBox countdown;
  // Tests: watching a directory fails with the errno value this returns
  // for it (0: watch as usual).
  std::function<int(const std::string& directory)> fail_watch_for_testing;
};

class FoxmailSource {
 public:
  // `foxmail_directory` empty: the source indexes nothing. Everything given
  // must outlive the source.
  FoxmailSource(std::string foxmail_directory, DocumentWriter& writer, ScanScope& scope,
                FoxmailOptions options = {});
  ~FoxmailSource();

  // The mail directories of the installation.
  std::vector<std::string> Directories() const;

  // Reads every mailbox below the mail directories (the scan's walk).
  void IndexAll();
  // Reads the messages of one mailbox index (a .IND file) and writes the
  // new and changed ones. While another mailbox is being read, it is queued
  // for the reader and this returns at once. A running Foxmail (it may be
  // rewriting the files) ends the pass; the mailbox is read again at its
  // next change.
  void IndexMailbox(const std::string& index_path);

  // Watches the mail directories and re-reads a mailbox when its files
  // change; nothing when already watching. A directory that cannot be
  // watched shows the count-down box and is skipped, the others are
  // watched. Returns a report of the directories that could not be watched,
  // one line each with the reason.
  std::string StartMonitor();
  void StopMonitor();
  bool monitoring() const;

  // Stops a running pass early (shutdown, a scan starting).
  std::atomic<bool> stop{false};

 private:
  void Walk(const std::string& directory);

  std::string foxmail_directory_;
  DocumentWriter& writer_;
  ScanScope& scope_;
  FoxmailOptions options_;
  // Reads the messages of one mailbox (IndexMailbox without the queue).
  void ReadMailbox(const std::string& index_path);

  std::mutex queue_mutex_;  // guards reading_ and queued_
  bool reading_ = false;
  std::set<std::string> queued_;  // mailboxes that wait for the reader
  std::unique_ptr<ChangeCallbackHandler> handler_;
  mutable std::mutex monitor_mutex_;  // guards watcher_
  std::unique_ptr<DirectoryWatcher> watcher_;
};

// True when `process` is Foxmail: its name is "Foxmail.exe" or "foxmail"
// (any case), or its program, or under Wine the Windows program that a
// "wine..." loader runs, is a file "Foxmail.exe" (any case; "/" and "\\"
// both separate the path).
bool IsFoxmailProcess(const ProcessEntry& process);

// True when a Foxmail process runs.
bool FoxmailRunning();

}  // namespace lun

#endif  // LUN_CRAWLER_FOXMAIL_H_
