#include "crawler/local_mail.h"

#include <gmime/gmime.h>
#include <sys/stat.h>

#include <mutex>

#include "crawler/document_table.h"
#include "crawler/extract/extract_result.h"
#include "crawler/extract/mime_text.h"
#include "crawler/foxmail.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

// Messages above this size are indexed by their headers only.
constexpr size_t kMaxMessageBytes = size_t{64} << 20;

bool Exists(const std::string& path, bool directory) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

// Files without extension that have NAME.msf beside them, below `dir`.
void FindMboxes(const std::string& dir, std::vector<std::string>* out, int depth = 0) {
  if (depth > 32) return;
  for (const std::string& path : ListDirectory(dir)) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      FindMboxes(path, out, depth + 1);
    } else if (BaseName(path).find('.') == std::string::npos && Exists(path + ".msf", false)) {
      out->push_back(path);
    }
  }
}

double DateValueOf(GDateTime* when) {
  // Days since 1899-12-30 in local time, like file dates.
  GDateTime* local = g_date_time_to_local(when);
  const double value = FileTimeToDate(static_cast<std::time_t>(g_date_time_to_unix(local)));
  g_date_time_unref(local);
  return value;
}

}  // namespace

std::vector<MboxMessage> SplitMbox(std::string_view mbox) {
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < mbox.size();) {
    if (mbox.compare(pos, 5, "From ") == 0) starts.push_back(pos);
    const size_t nl = mbox.find('\n', pos);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  std::vector<MboxMessage> messages;
  for (size_t i = 0; i < starts.size(); ++i) {
    // The message proper begins after its "From " separator line.
    const size_t line_end = mbox.find('\n', starts[i]);
    const size_t begin = line_end == std::string_view::npos ? mbox.size() : line_end + 1;
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : mbox.size();
    if (begin < end) messages.push_back({begin, end - begin});
  }
  return messages;
}

MailHeaders ReadMailHeaders(std::string_view message) {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
  MailHeaders h;
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.data(), message.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
  if (m) {
    if (const char* s = g_mime_message_get_subject(m)) h.subject = s;
    if (const char* id = g_mime_message_get_message_id(m)) h.message_id = id;
    if (GDateTime* when = g_mime_message_get_date(m)) h.date = DateValueOf(when);
    g_object_unref(m);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return h;
}

LocalMailSource::LocalMailSource(std::string home, std::vector<std::string> maildirs,
                                 DocumentWriter& writer)
    : home_(std::move(home)),
      maildirs_(std::move(maildirs)),
      writer_(writer),
      handler_(std::make_unique<ChangeCallbackHandler>([this](const std::string& path) {
        const std::string dir = DirName(path);
        const std::string leaf = BaseName(dir);
        if (leaf == "new" || leaf == "cur") {
          IndexMaildir(DirName(dir));
        } else if (BaseName(path).find('.') == std::string::npos && Exists(path + ".msf", false)) {
          IndexMbox(path);
        }
      })) {}

LocalMailSource::~LocalMailSource() { StopMonitor(); }

std::vector<std::string> LocalMailSource::MboxFiles() const {
  std::vector<std::string> files;
  const std::string profiles = JoinPath(home_, ".thunderbird");
  for (const std::string& profile : ListDirectory(profiles)) {
    for (const char* kind : {"Mail", "ImapMail"}) FindMboxes(JoinPath(profile, kind), &files);
  }
  return files;
}

std::vector<std::string> LocalMailSource::Maildirs() const {
  std::vector<std::string> dirs;
  std::vector<std::string> candidates = maildirs_;
  candidates.push_back(JoinPath(home_, "Maildir"));
  for (const std::string& d : candidates) {
    if (Exists(JoinPath(d, "cur"), true) || Exists(JoinPath(d, "new"), true)) dirs.push_back(d);
  }
  return dirs;
}

void LocalMailSource::IndexAll() {
  for (const std::string& f : MboxFiles()) {
    if (stop) return;
    IndexMbox(f);
  }
  for (const std::string& d : Maildirs()) {
    if (stop) return;
    IndexMaildir(d);
  }
}

void LocalMailSource::Write(const std::string& folder, std::string_view message,
                            const std::string& fallback_key, const char* type,
                            double fallback_date) {
  const MailHeaders h = ReadMailHeaders(message);
  DocumentRecord record;
  record.name = h.subject;
  record.type = type;
  record.path = h.message_id.empty() ? folder + "@" + fallback_key : folder + "#" + h.message_id;
  record.directory = folder;
  record.size = static_cast<uint32_t>(message.size());
  record.created = record.modified = h.date != 0 ? h.date : fallback_date;
  if (message.size() <= kMaxMessageBytes) {
    ExtractResult text = MimeText(message, kFilterTextLimit);
    record.text = std::move(text.text);
  }
  record.md5 = Md5OfText(record.text);
  writer_.AddOrUpdateDocument(record, /*force=*/true);
}

void LocalMailSource::IndexMbox(const std::string& path) {
  std::lock_guard lock(busy_);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  std::string mbox;
  if (ReadWholeFile(DefaultFileSystem(), path, &mbox, uint64_t{4} << 30) != 0) return;
  for (const MboxMessage& m : SplitMbox(mbox)) {
    if (stop) return;
    Write(path, std::string_view(mbox).substr(m.offset, m.length), std::to_string(m.offset),
          "THUNDERBIRD", FileTimeToDate(st.st_mtime));
  }
}

void LocalMailSource::IndexMaildir(const std::string& folder) {
  std::lock_guard lock(busy_);
  for (const char* sub : {"cur", "new"}) {
    const std::string dir = JoinPath(folder, sub);
    for (const std::string& path : ListDirectory(dir)) {
      if (stop) return;
      const std::string name = BaseName(path);
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      std::string message;
      if (ReadWholeFile(DefaultFileSystem(), path, &message, kMaxMessageBytes) != 0) continue;
      // A Maildir file name changes with the message's flags (":2,S");
      // without a Message-ID the part before the flags names the message.
      Write(folder, message, name.substr(0, name.find(':')), "MAILDIR",
            FileTimeToDate(st.st_mtime));
    }
  }
}

std::string LocalMailSource::StartMonitor() {
  if (watcher_) return {};
  watcher_ = std::make_unique<DirectoryWatcher>();
  std::string report;
  std::vector<std::string> roots;
  const std::string profiles = JoinPath(home_, ".thunderbird");
  if (Exists(profiles, true)) roots.push_back(profiles);
  for (const std::string& d : Maildirs()) roots.push_back(d);
  for (const std::string& root : roots) {
    if (const int rc = watcher_->Watch(root, handler_.get())) {
      report += root + ": " + ErrorText(rc) + "\r\n";
    }
  }
  return report;
}

void LocalMailSource::StopMonitor() {
  if (watcher_) watcher_->UnwatchAll();
  watcher_.reset();
}

}  // namespace lun
