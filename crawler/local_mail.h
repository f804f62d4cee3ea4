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
// none, so no message ever replaces another. Messages that disappear from a
// folder keep their records until the next rebuild of the index.
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
  // `writer` must outlive the source.
  LocalMailSource(std::string home, std::vector<std::string> maildirs, DocumentWriter& writer);
  ~LocalMailSource();

  // The mbox files of the Thunderbird profiles and the Maildir folders.
  std::vector<std::string> MboxFiles() const;
  std::vector<std::string> Maildirs() const;

  // Reads every mailbox (the scan's pass).
  void IndexAll();
  void IndexMbox(const std::string& path);
  void IndexMaildir(const std::string& folder);

  // Watches the profiles and Maildir folders and re-reads what changes.
  std::string StartMonitor();
  void StopMonitor();

  std::atomic<bool> stop{false};

 private:
  void Write(const std::string& folder, std::string_view message, const std::string& fallback_key,
             const char* type, double fallback_date);

  std::string home_;
  std::vector<std::string> maildirs_;
  DocumentWriter& writer_;
  std::mutex busy_;
  std::unique_ptr<ChangeCallbackHandler> handler_;
  std::unique_ptr<DirectoryWatcher> watcher_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_LOCAL_MAIL_H_
