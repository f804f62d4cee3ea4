// Local mail on Linux: Thunderbird's mbox files and Maildir folders.
//
// Active when the document types contain "|THUNDERBIRD|". Every message
// becomes one record of category "邮件": type "THUNDERBIRD" for a message of
// an mbox file of a Thunderbird profile (~/.thunderbird/*/Mail/** and
// ImapMail/**: the files without extension that have a ".msf" beside them),
// "MAILDIR" for a message file of a Maildir folder (~/Maildir and the
// folders listed in the setting "Maildir目录", separated by "|"). The name
// is the subject, the dates are the message's Date header, the text is the
// message read as mail (subject, addresses, text parts).
//
// A message's key ("完整路径") is its folder + "#" + its Message-ID, or the
// folder + "@" + its byte offset (mbox) or file name (Maildir) when it has
// none, so no message ever replaces another; "路径" is the folder. When a
// folder is read, the records of its messages that are no longer there are
// deleted (records of other folders are never touched); a folder that could
// not be read whole (a file unreadable, the pass stopped) deletes nothing.
// Messages above 64 MiB are indexed by their headers only.
//
// Thread safety: all members may be called from any thread; one mailbox is
// read at a time.
#ifndef LUN_CRAWLER_LOCAL_MAIL_H_
#define LUN_CRAWLER_LOCAL_MAIL_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory_watcher.h"

namespace lun {

class DocumentWriter;
class SearchService;

inline constexpr char kMaildirSettingKey[] = "Maildir目录";

// Where each message of an mbox file starts and how long it is. A message
// starts at a line beginning with "From " at the start of the file or after
// a line break; text before the first such line is not a message.
struct MboxMessage {
  size_t offset;
  size_t length;
};
std::vector<MboxMessage> SplitMbox(std::string_view mbox);

struct MailHeaders {
  std::string subject;     // decoded, UTF-8
  std::string message_id;  // without the angle brackets
  double date = 0;         // date value; 0 when the message has none
};
MailHeaders ReadMailHeaders(std::string_view message);

class LocalMailSource {
 public:
  // `home`: the user's home directory; `maildirs`: further Maildir folders.
  // `writer` and `search` (over the same project) must outlive the source.
  LocalMailSource(std::string home, std::vector<std::string> maildirs, DocumentWriter& writer,
                  SearchService& search);
  ~LocalMailSource();

  // The mbox files of the Thunderbird profiles and the Maildir folders.
  std::vector<std::string> MboxFiles() const;
  std::vector<std::string> Maildirs() const;

  // Reads every mailbox (the scan's pass).
  void IndexAll();
  // Reads one mbox file; when it no longer exists, its records are deleted.
  void IndexMbox(const std::string& path);
  // Reads one Maildir folder (its cur/ and new/); when they are gone, its
  // records are deleted.
  void IndexMaildir(const std::string& folder);

  // Watches the profiles and Maildir folders and re-reads what changes
  // (a removed message file, a removed mbox file included; everything
  // after the kernel dropped events). Returns the roots that could not be
  // watched, one line each with the reason.
  std::string StartMonitor();
  void StopMonitor();

  std::atomic<bool> stop{false};

 private:
  class Handler;
  // A file of the watched trees appeared, changed or went away.
  void Changed(const std::string& path);
  // Writes the record of one message; returns its key. `size` is the
  // message's full size (`message` may be only its head).
  std::string Write(const std::string& folder, std::string_view message, size_t size,
                    const std::string& fallback_key, const char* type, double fallback_date);
  // Deletes the records of `folder`'s messages (of `type`) whose keys are
  // not in `present`.
  void RemoveVanished(const std::string& folder, const char* type,
                      const std::vector<std::string>& present);

  std::string home_;
  std::vector<std::string> maildirs_;
  DocumentWriter& writer_;
  SearchService& search_;
  std::mutex busy_;
  std::unique_ptr<Handler> handler_;
  std::mutex monitor_mutex_;  // guards watcher_
  std::unique_ptr<DirectoryWatcher> watcher_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_LOCAL_MAIL_H_
