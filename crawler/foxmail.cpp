#include "crawler/foxmail.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstring>

#include "crawler/content_digest.h"
#include "crawler/document_table.h"
#include "crawler/extract/text_filters.h"
#include "crawler/foxmail_format.h"
#include "crawler/scan_scope.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/coding.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace foxmail;

uint32_t U32(std::string_view b, size_t at) { return DecodeFixed32(b.data() + at); }

// The NUL-terminated text at `*pos` within `record`; moves past its NUL.
std::string TakeText(std::string_view record, size_t* pos) {
  const size_t end = std::min(record.find('\0', *pos), record.size());
  std::string text(record.substr(*pos, end - *pos));
  *pos = end + 1;
  return text;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && EndsWithNoCase(a, b);
}

// The last component of a Unix or a Windows path.
std::string_view ProgramName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> FoxmailDirectories(std::string_view cfg,
                                            const std::string& foxmail_directory) {
  std::vector<std::string> dirs;
  if (cfg.size() < kAccountsSkip + 4) return dirs;
  const uint32_t count = U32(cfg, kAccountsSkip);
  size_t pos = kAccountsSkip + 4;
  // Reads a length-prefixed string; false when it runs past the file.
  auto take = [&](std::string* out) {
    if (pos + 4 > cfg.size()) return false;
    const uint32_t n = U32(cfg, pos);
    pos += 4;
    if (n > cfg.size() - pos) return false;
    if (out) out->assign(cfg.substr(pos, n));
    pos += n;
    return true;
  };
  for (uint32_t i = 0; i < count; ++i) {
    std::string directory, folder;
    pos += 4;  // unused word
    if (pos > cfg.size() || !take(nullptr) || !take(&directory) || !take(&folder)) break;
    pos += kAccountTailBytes;
    // Windows-style names from the configuration use "\".
    for (char& c : directory) c = c == '\\' ? '/' : c;
    while (!directory.empty() && directory.back() == '/') directory.pop_back();
    if (!directory.empty() && IsDirectory(directory)) dirs.push_back(directory);
    const std::string in_install = JoinPath(JoinPath(foxmail_directory, "mail"), folder);
    if (!folder.empty() && IsDirectory(in_install)) dirs.push_back(in_install);
  }
  return dirs;
}

std::vector<FoxmailMessage> ReadFoxmailIndex(std::string_view index) {
  std::vector<FoxmailMessage> messages;
  if (index.size() < kIndexHeaderBytes) return messages;
  const size_t count = (index.size() - kIndexHeaderBytes) / kIndexRecordBytes;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view record =
        index.substr(kIndexHeaderBytes + i * kIndexRecordBytes, kIndexRecordBytes);
    FoxmailMessage m;
    m.position = U32(record, kPositionOffset);
    m.size = U32(record, kSizeOffset);
    double days;
    std::memcpy(&days, record.data() + kDateOffset, sizeof(days));
    m.date = days - kDaysFromYearOneTo1899;
    size_t pos = kTextsOffset;
    m.key = TakeText(record, &pos);
    if (pos < record.size()) m.name = TakeText(record, &pos);
    messages.push_back(std::move(m));
  }
  return messages;
}

std::string Md5OfText(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  return DigestHex(digest, length);
}

bool IsFoxmailProcess(const ProcessEntry& process) {
  if (EqualsNoCase(process.name, "Foxmail.exe") || EqualsNoCase(process.name, "foxmail")) {
    return true;
  }
  const std::vector<std::string_view> args = SplitCommandLine(process.cmdline);
  if (args.empty()) return false;
  if (EqualsNoCase(ProgramName(args[0]), "Foxmail.exe")) return true;
  // Started through Wine ("wine", "wine64", "wine64-preloader" ...), the
  // process may still show the loader with the Windows program after it.
  if (!EqualsNoCase(ProgramName(args[0]).substr(0, 4), "wine")) return false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (EqualsNoCase(ProgramName(args[i]), "Foxmail.exe")) return true;
  }
  return false;
}

bool FoxmailRunning() { return AnyProcessMatches(IsFoxmailProcess); }

FoxmailSource::FoxmailSource(std::string foxmail_directory, DocumentWriter& writer,
                             ScanScope& scope, FoxmailOptions options)
    : foxmail_directory_(std::move(foxmail_directory)),
      writer_(writer),
      scope_(scope),
      options_(std::move(options)),
      // A change of either file of a mailbox re-reads its index; after lost
      // events every mailbox is read again.
      handler_(std::make_unique<ChangeCallbackHandler>(
          [this](const std::string& path) {
            if (EndsWithNoCase(path, ".ind")) {
              IndexMailbox(path);
            } else if (EndsWithNoCase(path, ".box")) {
              IndexMailbox(path.substr(0, path.size() - 4) + ".IND");
            }
          },
          [this] { IndexAll(); })) {}

FoxmailSource::~FoxmailSource() { StopMonitor(); }

std::vector<std::string> FoxmailSource::Directories() const {
  if (foxmail_directory_.empty()) return {};
  std::string cfg;
  if (ReadWholeFile(DefaultFileSystem(), JoinPath(foxmail_directory_, "accounts.cfg"), &cfg,
                    1 << 24) != 0) {
    return {};
  }
  return FoxmailDirectories(cfg, foxmail_directory_);
}

void FoxmailSource::Walk(const std::string& directory) {
  for (const std::string& path : ListDirectory(directory)) {
    if (stop) return;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(path);
    } else if (EndsWithNoCase(path, ".ind")) {
      IndexMailbox(path);
    }
  }
}

void FoxmailSource::IndexAll() {
  for (const std::string& d : Directories()) Walk(d);
}

void FoxmailSource::IndexMailbox(const std::string& index_path) {
  if (!EndsWithNoCase(index_path, ".ind") || scope_.IsFileExcluded(index_path)) return;
  // A change that arrives while another mailbox is read (the scan's walk
  // and the monitor meet here) is queued, not dropped: Foxmail may not
  // touch that mailbox again for a long time.
  {
    std::lock_guard lock(queue_mutex_);
    queued_.insert(index_path);
    if (reading_) return;
    reading_ = true;
  }
  for (;;) {
    std::string next;
    {
      std::lock_guard lock(queue_mutex_);
      if (queued_.empty() || stop) {
        queued_.clear();
        reading_ = false;
        return;
      }
      next = std::move(queued_.extract(queued_.begin()).value());
    }
    ReadMailbox(next);
  }
}

void FoxmailSource::ReadMailbox(const std::string& index_path) {
  std::string index, box;
  const std::string box_path = index_path.substr(0, index_path.size() - 4) + ".box";
  if (ReadWholeFile(DefaultFileSystem(), index_path, &index, 1 << 28) == 0 &&
      ReadWholeFile(DefaultFileSystem(), box_path, &box, uint64_t{1} << 32) == 0) {
    const std::vector<FoxmailMessage> messages = ReadFoxmailIndex(index);
    for (size_t i = 0; i < messages.size(); ++i) {
      const FoxmailMessage& m = messages[i];
      // Foxmail may be rewriting its files; looking at every process is
      // not free, so ask every 64 messages.
      if (stop || (i % 64 == 0 && FoxmailRunning())) break;
      if (m.key.empty()) continue;
      DocumentRecord record;
      record.name = m.name;
      record.type = "FOXMAIL";
      record.path = m.key;
      record.directory = m.key;
      record.size = m.size;
      record.created = record.modified = m.date;
      // A message that lies (partly) outside the .box file is taken as far
      // as the file goes.
      if (m.position < box.size()) {
        const std::string_view raw = std::string_view(box).substr(m.position, m.size);
        ExtractResult text = ExtractBytesText(raw, "EML", kFilterTextLimit);
        record.text = std::move(text.text);
      }
      record.md5 = Md5OfText(record.text);
      writer_.AddOrUpdateDocument(record, /*force=*/true);
    }
  }
}

std::string FoxmailSource::StartMonitor() {
  std::vector<std::string> reasons;
  std::string report;
  {
    std::lock_guard lock(monitor_mutex_);
    if (watcher_) return {};
    watcher_ = std::make_unique<DirectoryWatcher>();
    watcher_->SetWatchFailureForTesting(options_.fail_watch_for_testing);
    for (const std::string& d : Directories()) {
      if (const int rc = watcher_->Watch(d, handler_.get())) {
        reasons.push_back(ErrorText(rc));
        report += d + ": " + reasons.back() + "\r\n";
      }
    }
  }
  // The boxes may block for their count-down: shown without the lock.
  if (options_.countdown) {
    for (const std::string& reason : reasons) {
      options_.countdown(kFoxmailMonitorCaption, reason, kFoxmailMonitorBoxMs);
    }
  }
  return report;
}

void FoxmailSource::StopMonitor() {
  std::lock_guard lock(monitor_mutex_);
  if (watcher_) watcher_->UnwatchAll();
  watcher_.reset();
}

bool FoxmailSource::monitoring() const {
  std::lock_guard lock(monitor_mutex_);
  return watcher_ != nullptr;
}

}  // namespace lun
