#include "crawler/local_mail.h"

#include <gmime/gmime.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "crawler/document_table.h"
#include "crawler/extract/extract_result.h"
#include "crawler/extract/mime_text.h"
#include "crawler/foxmail.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "engine/storage/engine_error.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

// Messages above this size are indexed by their headers only.
constexpr size_t kMaxMessageBytes = size_t{64} << 20;

bool Exists(const std::string& path, bool directory) {
  return directory ? IsDirectory(path) : IsRegularFile(path);
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

// The entries of `dir` into `*entries`; false when the directory exists but
// could not be read (a missing directory has no entries). Tells an empty
// folder from an unreadable one, which must not count as "all mail gone".
bool ListFolder(const std::string& dir, std::vector<std::string>* entries) {
  *entries = ListDirectory(dir);
  if (!entries->empty()) return true;
  std::error_code ec;
  (void)std::filesystem::is_empty(dir, ec);
  return !ec || ec == std::errc::no_such_file_or_directory;
}

// The first `limit` bytes of `path` (all of a shorter file).
int ReadHead(const std::string& path, size_t limit, std::string* data) {
  FileSystem& fs = DefaultFileSystem();
  int fd = -1;
  if (const int rc = fs.Open(path, O_RDONLY, 0, &fd)) return rc;
  ScopedFd owner(fs, fd);
  data->resize(limit);
  size_t got = 0;
  const int rc = ReadFully(fs, fd, data->data(), limit, 0, &got);
  data->resize(got);
  return rc == EIO ? 0 : rc;
}

// The Maildir folder of a message file (FOLDER/cur/NAME, FOLDER/new/NAME),
// or empty.
std::string MaildirOf(const std::string& path) {
  const std::string dir = DirName(path);
  const std::string leaf = BaseName(dir);
  return leaf == "new" || leaf == "cur" ? DirName(dir) : std::string();
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

// Every change of the watched trees re-reads the folder it concerns; a
// rename within one Maildir folder (a flag change) reads it once.
class LocalMailSource::Handler final : public WatchHandler {
 public:
  explicit Handler(LocalMailSource& source) : source_(source) {}
  void FileAdded(const std::string& path) override { source_.Changed(path); }
  void FileModified(const std::string& path) override { source_.Changed(path); }
  void FileRemoved(const std::string& path) override { source_.Changed(path); }
  void FileRenamed(const std::string& old_path, const std::string& new_path) override {
    const std::string folder = MaildirOf(old_path);
    if (folder.empty() || folder != MaildirOf(new_path)) source_.Changed(old_path);
    source_.Changed(new_path);
  }
  void EventsLost() override { source_.IndexAll(); }

 private:
  LocalMailSource& source_;
};

LocalMailSource::LocalMailSource(std::string home, std::vector<std::string> maildirs,
                                 DocumentWriter& writer, SearchService& search)
    : home_(std::move(home)),
      maildirs_(std::move(maildirs)),
      writer_(writer),
      search_(search),
      handler_(std::make_unique<Handler>(*this)) {}

void LocalMailSource::Changed(const std::string& path) {
  if (const std::string folder = MaildirOf(path); !folder.empty()) {
    IndexMaildir(folder);
    return;
  }
  // mbox files have no extension and a summary NAME.msf beside them; a
  // removed one may have lost its summary already.
  if (BaseName(path).find('.') != std::string::npos) return;
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (!exists || (S_ISREG(st.st_mode) && Exists(path + ".msf", false))) IndexMbox(path);
}

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

std::string LocalMailSource::Write(const std::string& folder, std::string_view message, size_t size,
                                   const std::string& fallback_key, const char* type,
                                   double fallback_date) {
  const MailHeaders h = ReadMailHeaders(message);
  DocumentRecord record;
  record.name = h.subject;
  record.type = type;
  record.path = h.message_id.empty() ? folder + "@" + fallback_key : folder + "#" + h.message_id;
  record.directory = folder;
  record.size = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
  record.created = record.modified = h.date != 0 ? h.date : fallback_date;
  if (size <= kMaxMessageBytes) {
    ExtractResult text = MimeText(message, kFilterTextLimit);
    record.text = std::move(text.text);
  }
  record.md5 = Md5OfText(record.text);
  writer_.AddOrUpdateDocument(record, /*force=*/true);
  return record.path;
}

void LocalMailSource::RemoveVanished(const std::string& folder, const char* type,
                                     const std::vector<std::string>& present) {
  // A message's "路径" is its folder; the word index compares normalised
  // text (case, width), so only records of exactly this folder and source,
  // with a key of this folder, are candidates ("Inbox" must not reach into
  // "INBOX", "Inbox2" or "Inbox.sbd/...", nor a file's record).
  std::unique_ptr<Recordset> rs;
  const std::string query = std::string("[") + kDocumentTable + "]:" + doc::kDirectory + "=[" +
                            EscapeQueryText(folder) + "]";
  if (search_.Search(query, &rs) != kEngineOk || !rs) return;
  const int path_column = rs->FindColumn(doc::kPath);
  const int folder_column = rs->FindColumn(doc::kDirectory);
  const int type_column = rs->FindColumn(doc::kType);
  const std::u16string wide_folder = ToWide(folder);
  const std::u16string wide_type = ToWide(type);
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    if (rs->Value(folder_column).AsString() != wide_folder ||
        rs->Value(type_column).AsString() != wide_type) {
      continue;
    }
    const std::string key = ToNarrow(rs->Value(path_column).AsString());
    const bool of_folder = key.size() > folder.size() &&
                           key.compare(0, folder.size(), folder) == 0 &&
                           (key[folder.size()] == '#' || key[folder.size()] == '@');
    if (of_folder && !std::binary_search(present.begin(), present.end(), key)) {
      rs->DeleteCurrent();
    }
  }
}

void LocalMailSource::IndexMbox(const std::string& path) {
  std::lock_guard lock(busy_);
  std::string mbox;
  struct stat st;
  int rc = stat(path.c_str(), &st) == 0 ? 0 : errno;
  if (rc == 0) rc = ReadWholeFile(DefaultFileSystem(), path, &mbox, uint64_t{4} << 30);
  if (rc == ENOENT) {
    RemoveVanished(path, "THUNDERBIRD", {});
    return;
  }
  if (rc != 0) return;
  std::vector<std::string> present;
  for (const MboxMessage& m : SplitMbox(mbox)) {
    if (stop) return;
    present.push_back(Write(path, std::string_view(mbox).substr(m.offset, m.length), m.length,
                            std::to_string(m.offset), "THUNDERBIRD", FileTimeToDate(st.st_mtime)));
  }
  std::sort(present.begin(), present.end());
  RemoveVanished(path, "THUNDERBIRD", present);
}

void LocalMailSource::IndexMaildir(const std::string& folder) {
  std::lock_guard lock(busy_);
  std::vector<std::string> present;
  bool whole = true;  // every message of the folder was seen
  for (const char* sub : {"cur", "new"}) {
    std::vector<std::string> files;
    whole = ListFolder(JoinPath(folder, sub), &files) && whole;
    for (const std::string& path : files) {
      if (stop) return;
      const std::string name = BaseName(path);
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) {
        whole = false;  // moved away meanwhile (new/ to cur/): its event reads the folder again
        continue;
      }
      if (!S_ISREG(st.st_mode)) continue;
      std::string message;
      // A message too large to index whole is known by its headers.
      if (ReadHead(path, std::min<size_t>(st.st_size, kMaxMessageBytes), &message) != 0) {
        whole = false;
        continue;
      }
      // A Maildir file name changes with the message's flags (":2,S");
      // without a Message-ID the part before the flags names the message.
      present.push_back(Write(folder, message, static_cast<size_t>(st.st_size),
                              name.substr(0, name.find(':')), "MAILDIR",
                              FileTimeToDate(st.st_mtime)));
    }
  }
  if (!whole) return;
  std::sort(present.begin(), present.end());
  RemoveVanished(folder, "MAILDIR", present);
}

std::string LocalMailSource::StartMonitor() {
  std::lock_guard lock(monitor_mutex_);
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
  std::lock_guard lock(monitor_mutex_);
  if (watcher_) watcher_->UnwatchAll();
  watcher_.reset();
}

}  // namespace lun
