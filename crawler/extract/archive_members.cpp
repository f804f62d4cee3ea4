#include "crawler/extract/archive_members.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "crawler/extract/charset.h"
#include "crawler/extract/child_pipe.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_result.h"
#include "crawler/extract/ocr_text.h"
#include "crawler/extract/pst_messages.h"
#include "crawler/extract/text_filters.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr size_t kReadBlock = 64 * 1024;
constexpr uint32_t kMaxKeyBytes = 64 * 1024;
constexpr rlim_t kArchiveChildMemory = 1024ull << 20;

using ArchivePtr = std::unique_ptr<struct archive, decltype(&archive_read_free)>;

ArchivePtr NewReader() {
  ArchivePtr a(archive_read_new(), &archive_read_free);
  if (a) {
    archive_read_support_filter_all(a.get());
    archive_read_support_format_all(a.get());
  }
  return a;
}

// The member's path inside the archive with "\" read as "/" and leading
// "./" dropped; empty when it is absolute or climbs out with "..".
std::string SafeInnerPath(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  while (name.starts_with("./")) name.erase(0, 2);
  if (name.empty() || name[0] == '/') return {};
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return {};
    start = end + 1;
  }
  return name;
}

std::string MemberName(struct archive_entry* entry) {
  if (const char* utf8 = archive_entry_pathname_utf8(entry)) return utf8;
  const char* raw = archive_entry_pathname(entry);
  return raw ? ToNarrow(DecodeUtf8OrGb18030(raw)) : std::string();
}

class MemberWalk {
 public:
  MemberWalk(ArchiveMemberWanted wanted, OnArchiveMember on_member)
      : wanted_(std::move(wanted)), on_member_(std::move(on_member)), names_(kServiceTextLimit) {}

  // Reads the members of the opened archive `a` whose keys start with
  // `key`. False when the whole walk must end (a cap, or the callback).
  bool Walk(struct archive* a, const std::string& key, int depth) {
    if (depth == 1) top_key_size_ = key.size();
    struct archive_entry* entry = nullptr;
    while (true) {
      const int rc = archive_read_next_header(a, &entry);
      if (rc == ARCHIVE_EOF) {
        if (depth == 1) summary_.opened = true;
        return true;
      }
      if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) return true;  // damage ends this level
      if (depth == 1) summary_.opened = true;
      if (++members_ > kArchiveMaxMembers) return Cap();
      if (archive_entry_filetype(entry) != AE_IFREG) continue;
      const std::string inner = SafeInnerPath(MemberName(entry));
      if (inner.empty()) {
        if (!Discard(a)) return false;
        continue;
      }
      const std::string member_key = ArchiveMemberKey(key, inner);
      // Listed by their path from the outer archive: "old.tar.gz::notes.txt".
      // A member that the list cannot take is not read: the records of
      // unlisted members could never be taken back.
      const std::string_view listed = std::string_view(member_key).substr(top_key_size_ + 2);
      if (names_.size() + listed.size() + 1 > kServiceTextLimit) return Cap();
      names_.AppendUtf8(listed);
      names_.NewLine();
      if (!Member(a, entry, member_key, depth)) return false;
    }
  }

  // Makes the walk look for the one member `key` and hand its bytes to
  // `*bytes` instead of reading text; the walk ends when it is found.
  void SetTarget(std::string key, std::string* bytes) {
    target_ = std::move(key);
    target_bytes_ = bytes;
  }
  bool found() const { return found_; }

  ArchiveSummary Finish() {
    std::u16string& names = names_.text();
    while (!names.empty() && names.back() == u'\n') names.pop_back();
    summary_.names = names_.Take();
    return summary_;
  }

 private:
  bool Cap() {
    summary_.capped = true;
    return false;
  }

  bool Member(struct archive* a, struct archive_entry* entry, const std::string& key, int depth) {
    const std::string type = UpperExtension(key);
    const bool nested = IsArchiveType(type) && depth < kArchiveMaxDepth;
    const bool too_large =
        archive_entry_size_is_set(entry) &&
        static_cast<uint64_t>(archive_entry_size(entry)) > kArchiveMaxMemberBytes;
    if (too_large) return Discard(a);
    if (!target_.empty()) {
      const bool on_the_way = key == target_ || (nested && target_.starts_with(key + "::"));
      if (!on_the_way) return Discard(a);
    } else if (!nested && (IsArchiveType(type) || !wanted_(type))) {
      // An archive below the depth cap is listed, never read as a document.
      return Discard(a);
    }
    std::string bytes;
    bool complete = true;
    if (!Read(a, &bytes, &complete)) return false;
    if (!complete) return true;  // unreadable or over the member limit
    if (nested) {
      ArchivePtr inner = NewReader();
      if (!inner ||
          archive_read_open_memory(inner.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) {
        return true;
      }
      return Walk(inner.get(), key, depth + 1);
    }
    if (!target_.empty()) {
      *target_bytes_ = std::move(bytes);
      found_ = true;
      return false;
    }
    ArchiveMember member;
    member.name = BaseName(key.substr(key.rfind("::") + 2));
    member.type = type;
    member.key = key;
    member.size = bytes.size();
    member.mtime = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
    member.text = ArchiveMemberText(bytes, type);
    return on_member_(member);
  }

  // Reads the member's data into `bytes`, counting it against the unpacked
  // cap. `complete` is false when the data cannot be read or outgrows the
  // member limit (the rest is then read and dropped). False at the cap.
  bool Read(struct archive* a, std::string* bytes, bool* complete) {
    char block[kReadBlock];
    while (true) {
      const la_ssize_t got = archive_read_data(a, block, sizeof block);
      if (got == 0) return true;
      if (got < 0) {
        *complete = false;  // encrypted or damaged: the member is skipped
        return true;
      }
      unpacked_ += static_cast<uint64_t>(got);
      if (unpacked_ > kArchiveMaxUnpacked) return Cap();
      if (*complete && bytes->size() + static_cast<size_t>(got) > kArchiveMaxMemberBytes) {
        *complete = false;
        bytes->clear();
      }
      if (*complete) bytes->append(block, static_cast<size_t>(got));
    }
  }

  // Moves past a member that is not read. A zip member is skipped by its
  // stored size; in a compressed stream skipping means decompressing, so
  // those bytes are read and count against the cap.
  bool Discard(struct archive* a) {
    if ((archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP) {
      // A failed skip is damage: the next header ends this level.
      (void)archive_read_data_skip(a);
      return true;
    }
    std::string none;
    bool complete = false;
    return Read(a, &none, &complete);
  }

  ArchiveMemberWanted wanted_;
  OnArchiveMember on_member_;
  ArchiveSummary summary_;
  TextSink names_;
  std::string target_;
  std::string* target_bytes_ = nullptr;
  bool found_ = false;
  size_t top_key_size_ = 0;
  uint32_t members_ = 0;
  uint64_t unpacked_ = 0;
};

// The child's frames on the pipe, integers in host order, strings as a
// uint32 length and their bytes:
//   member  'M', key, name, type, uint64 size, int64 mtime,
//           uint32 text units, the UTF-16 text
//   end     'E', opened (1 byte), capped (1 byte), uint32 units, the names,
//           error
bool SendText(int fd, std::u16string_view text) {
  const uint32_t units = static_cast<uint32_t>(text.size());
  return WriteAllToFd(fd, &units, sizeof units) &&
         WriteAllToFd(fd, text.data(), text.size() * sizeof(char16_t));
}

bool SendString(int fd, std::string_view s) {
  const uint32_t size = static_cast<uint32_t>(s.size());
  return WriteAllToFd(fd, &size, sizeof size) && WriteAllToFd(fd, s.data(), s.size());
}

bool SendMember(int fd, const ArchiveMember& m) {
  return WriteAllToFd(fd, "M", 1) && SendString(fd, m.key) && SendString(fd, m.name) &&
         SendString(fd, m.type) && WriteAllToFd(fd, &m.size, sizeof m.size) &&
         WriteAllToFd(fd, &m.mtime, sizeof m.mtime) && SendText(fd, m.text);
}

void SendSummary(int fd, const ArchiveSummary& summary) {
  const char flags[3] = {'E', summary.opened ? '\1' : '\0', summary.capped ? '\1' : '\0'};
  (void)(WriteAllToFd(fd, flags, sizeof flags) && SendText(fd, summary.names) &&
         SendString(fd, summary.error));
}

// A hostile member may make libarchive or a reader allocate without bound:
// the reader's process dies at the limit, the crawler keeps what came
// before. (AddressSanitizer's shadow memory cannot live under such a limit.)
void LimitReaderMemory() {
#if !defined(__SANITIZE_ADDRESS__)
  const struct rlimit limit { kArchiveChildMemory, kArchiveChildMemory };
  setrlimit(RLIMIT_AS, &limit);
#endif
}

ArchiveSummary WalkArchiveFile(const std::string& path, const ArchiveMemberWanted& wanted,
                               const OnArchiveMember& on_member) {
  MemberWalk walk(wanted, on_member);
  ArchivePtr a = NewReader();
  if (a && archive_read_open_filename(a.get(), path.c_str(), kReadBlock) == ARCHIVE_OK) {
    walk.Walk(a.get(), path, 1);
  }
  return walk.Finish();
}

bool IsMailStorePath(std::string_view path) {
  const size_t dot = path.rfind('.');
  return dot != std::string_view::npos && path.find('/', dot) == std::string_view::npos &&
         IsMailStoreType(UpperAscii(path.substr(dot + 1)));
}

// Reads a string frame of at most `max_bytes`.
bool ReceiveString(ChildPipe* child, const std::atomic<bool>* stop, size_t max_bytes,
                   std::string* s) {
  uint32_t size = 0;
  if (!child->ReadExactly(&size, sizeof size, stop, kArchiveSilenceMs) || size > max_bytes) {
    return false;
  }
  s->resize(size);
  return child->ReadExactly(s->data(), size, stop, kArchiveSilenceMs);
}

// Reads a text frame of at most `max_units`.
bool ReceiveText(ChildPipe* child, const std::atomic<bool>* stop, size_t max_units,
                 std::u16string* text) {
  uint32_t units = 0;
  if (!child->ReadExactly(&units, sizeof units, stop, kArchiveSilenceMs) || units > max_units) {
    return false;
  }
  text->resize(units);
  return child->ReadExactly(text->data(), units * sizeof(char16_t), stop, kArchiveSilenceMs);
}

}  // namespace

bool IsArchiveType(std::string_view type) {
  for (std::string_view t : {"ZIP", "TAR", "GZ", "TGZ", "BZ2", "TBZ", "TBZ2", "XZ", "TXZ", "7Z"}) {
    if (t == type) return true;
  }
  return false;
}

std::string UpperExtension(std::string_view name) {
  const std::string base = BaseName(name);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? std::string() : UpperAscii(base.substr(dot + 1));
}

bool HoldsMembers(std::string_view type) { return IsArchiveType(type) || IsMailStoreType(type); }

bool IsArchivePath(std::string_view path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return false;
  }
  return HoldsMembers(UpperAscii(path.substr(dot + 1)));
}

// The text of a member: through the reader of its type; the legacy Office
// converters need a file, which a temporary copy gives them.
std::u16string ArchiveMemberText(const std::string& bytes, const std::string& type) {
  ExtractResult result = ExtractBytesText(bytes, type, kServiceTextLimit);
  if (result.status == ExtractStatus::kUnsupported) {
    const std::string copy = TemporaryName(TempDirectory()) + "." + type;
    if (ReplaceFileAtomically(DefaultFileSystem(), copy, bytes) == 0) {
      result = ExtractFileText(copy, kServiceTextLimit);
      std::remove(copy.c_str());
    }
  }
  return std::move(result.text);
}

bool IsArchiveMemberKey(std::string_view path) {
  const size_t at = path.find("::");
  return at != std::string_view::npos && IsArchivePath(path.substr(0, at));
}

std::vector<std::string> ListedMemberKeys(std::string_view archive, std::u16string_view names) {
  std::vector<std::string> keys;
  size_t pos = 0;
  while (pos < names.size()) {
    size_t end = names.find(u'\n', pos);
    if (end == std::u16string_view::npos) end = names.size();
    if (end > pos)
      keys.push_back(ArchiveMemberKey(archive, ToNarrow(names.substr(pos, end - pos))));
    pos = end + 1;
  }
  return keys;
}

std::string ArchiveMemberKey(std::string_view archive, std::string_view inner) {
  std::string key(archive);
  key += "::";
  key += inner;
  return key;
}

ArchiveSummary WalkArchiveBytes(std::string_view bytes, std::string_view key,
                                const ArchiveMemberWanted& wanted,
                                const OnArchiveMember& on_member) {
  MemberWalk walk(wanted, on_member);
  ArchivePtr a = NewReader();
  if (a && archive_read_open_memory(a.get(), bytes.data(), bytes.size()) == ARCHIVE_OK) {
    walk.Walk(a.get(), std::string(key), 1);
  }
  return walk.Finish();
}

bool ReadArchiveMember(const std::string& archive_path, std::string_view key, std::string* bytes) {
  MemberWalk walk([](std::string_view) { return true; }, [](const ArchiveMember&) { return true; });
  walk.SetTarget(std::string(key), bytes);
  ArchivePtr a = NewReader();
  if (a && archive_read_open_filename(a.get(), archive_path.c_str(), kReadBlock) == ARCHIVE_OK) {
    walk.Walk(a.get(), archive_path, 1);
  }
  return walk.found();
}

int RunArchiveMemberCopy(int argc, char** argv, int fd) {
  if (argc != 2) return 64;
  LimitReaderMemory();
  std::string bytes;
  const bool found = IsMailStorePath(argv[0]) ? ReadMailStoreMessage(argv[0], argv[1], &bytes)
                                              : ReadArchiveMember(argv[0], argv[1], &bytes);
  if (!found) return 1;
  return WriteAllToFd(fd, bytes.data(), bytes.size()) ? 0 : 1;
}

int RunArchiveMemberReader(int argc, char** argv, int fd) {
  if (argc != 6) return 64;
  LimitReaderMemory();
  OcrSettings ocr = GetOcrSettings();
  ocr.enabled = std::string_view(argv[5]) == "TRUE";
  SetOcrSettings(ocr);
  const std::string path = argv[0];
  const TypeLists lists{argv[1], argv[2], argv[3], argv[4]};
  const ArchiveMemberWanted wanted = [&lists](std::string_view type) {
    return TextSourceOf("|" + std::string(type) + "|", lists) == TextSource::kCrawlService;
  };
  const OnArchiveMember send = [fd](const ArchiveMember& m) { return SendMember(fd, m); };
  SendSummary(fd, IsMailStorePath(path) ? WalkMailStore(path, path, MailStoreLimits{}, wanted, send)
                                        : WalkArchiveFile(path, wanted, send));
  return 0;
}

ArchiveSummary ForEachArchiveMember(const std::string& reader_program, const std::string& path,
                                    const TypeLists& lists, bool recognize_pictures,
                                    const std::atomic<bool>* stop,
                                    const OnArchiveMember& on_member) {
  ArchiveSummary summary;
  std::unique_ptr<ChildPipe> child = ChildPipe::Exec(
      {reader_program, kArchiveMembersArgument, path, lists.document_types, lists.other_text,
       lists.plugin_types, lists.msn_plugin_types, recognize_pictures ? "TRUE" : "FALSE"});
  if (!child) return summary;
  auto read = [&](void* buf, size_t n) {
    return child->ReadExactly(buf, n, stop, kArchiveSilenceMs);
  };
  char tag = 0;
  while (read(&tag, 1)) {
    if (tag == 'E') {
      char flags[2];
      if (!read(flags, sizeof flags)) break;
      summary.opened = flags[0] == 1;
      summary.capped = flags[1] == 1;
      if (!ReceiveText(child.get(), stop, kServiceTextLimit, &summary.names) ||
          !ReceiveString(child.get(), stop, kMaxKeyBytes, &summary.error)) {
        summary.names.clear();
      }
      return summary;
    }
    ArchiveMember member;
    if (tag != 'M' || !ReceiveString(child.get(), stop, kMaxKeyBytes, &member.key) ||
        member.key.empty() || !ReceiveString(child.get(), stop, kMaxKeyBytes, &member.name) ||
        !ReceiveString(child.get(), stop, kMaxKeyBytes, &member.type) ||
        !read(&member.size, sizeof member.size) || !read(&member.mtime, sizeof member.mtime) ||
        !ReceiveText(child.get(), stop, kServiceTextLimit, &member.text)) {
      break;
    }
    summary.opened = true;
    if (!on_member(member)) return summary;
  }
  // The child died, hung or was stopped: the members read so far stand.
  summary.capped = summary.capped || summary.opened;
  return summary;
}

}  // namespace lun
