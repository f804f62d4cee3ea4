// The members of an archive file (zip, tar, tar.gz/.bz2/.xz, 7z), read with
// libarchive, each member of a wanted type handed over with its text.
//
// Every member is a document of its own with the key
//   path of the archive + "::" + path inside the archive
// ("/home/u/a.zip::docs/report.docx"); an archive inside an archive adds a
// level ("/home/u/a.zip::old.tar.gz::notes.txt"). The crawler turns members
// into document records, as it does with the pages of compiled help; this
// reader writes nothing. Its caps, shared by all levels of one archive:
//  - depth 2: an archive inside an archive is read, one inside that is not;
//    an archive holding itself stops there;
//  - 1,000 members (every entry counts, folders included);
//  - 100 MiB unpacked: the bytes libarchive decompresses, skipped members
//    included (a zip bomb stops at the cap);
//  - members larger than kArchiveMaxMemberBytes are listed but not read;
//  - no member outside the archive: only regular files count (links and
//    devices never), and a name that is absolute or climbs with ".." is
//    left out.
// A walk that reaches a cap stops and keeps what it read.
//
// Outlook personal folders (.pst, .ost) are read the same way, one member
// per message (pst_messages.h): the crawler treats both kinds alike, and
// the predicates on paths and keys below take in both.
//
// ForEachArchiveMember runs libarchive and the text readers inside the
// crawl service's program (luncrawl --archive-members, which calls
// RunArchiveMemberReader), a process of its own limited to 1 GiB of address
// space, killed after kArchiveSilenceMs without a member. Thread-safe: each
// call has its own process.
#ifndef LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBERS_H_
#define LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBERS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/extract/text_filters.h"

namespace lun {

// The argument of luncrawl that makes it a member reader:
//   luncrawl --archive-members PATH DOCUMENT_TYPES OTHER_TEXT PLUGIN MSN_PLUGIN RECOGNIZE
// (RECOGNIZE: "TRUE" when pictures are read by text recognition)
inline constexpr char kArchiveMembersArgument[] = "--archive-members";
// The argument that makes it copy out one member's bytes (archive_member_file.h):
//   luncrawl --archive-member ARCHIVE KEY
inline constexpr char kArchiveMemberArgument[] = "--archive-member";

inline constexpr int kArchiveMaxDepth = 2;
inline constexpr uint32_t kArchiveMaxMembers = 1000;
inline constexpr uint64_t kArchiveMaxUnpacked = 100ull << 20;
// The crawler's own size limit for a file.
inline constexpr uint64_t kArchiveMaxMemberBytes = 20971520;
// Longer than text recognition may take for one member (ocr_text.h: 30 s a
// picture, 45 s the pages of a PDF).
inline constexpr int kArchiveSilenceMs = 60000;

struct ArchiveMember {
  std::string name;     // last component of the inner path ("report.docx"); a message's subject
  std::string type;     // "文件类型" of its record: the extension ("DOCX"), or "OUTLOOK"
  std::string key;      // the document key above
  uint64_t size = 0;    // unpacked bytes of the member
  int64_t mtime = 0;    // seconds since 1970 as the archive records it; 0 when unknown
  std::u16string text;  // through the reader of the member's type; may be empty
};

struct ArchiveSummary {
  bool opened = false;   // libarchive recognised the file as an archive
  bool capped = false;   // a cap, or a child that died or hung, ended the walk early
  std::u16string names;  // the inner paths of every member, one a line
  std::string error;     // why the file could not be read whole (damage), for the log
};

// The upper-case extensions read as archives: ZIP, TAR, GZ, TGZ, BZ2, TBZ,
// TBZ2, XZ, TXZ, 7Z.
bool IsArchiveType(std::string_view type);

// The document key of member `inner` of `archive`.
std::string ArchiveMemberKey(std::string_view archive, std::string_view inner);

// The extension of the last component of `name`, upper case ("DOCX"); empty
// when it has none.
std::string UpperExtension(std::string_view name);

// True for the types whose files are read member by member: archives and
// mail stores (PST, OST).
bool HoldsMembers(std::string_view type);

// True when the last component of `path` has the extension of a type that
// HoldsMembers.
bool IsArchivePath(std::string_view path);

// True when `path` is a member key: the path of a file of such a type,
// "::", and more.
bool IsArchiveMemberKey(std::string_view path);

// The text of a member's bytes of type `type` (upper-case extension),
// through the reader of its type.
std::u16string ArchiveMemberText(const std::string& bytes, const std::string& type);

// The keys of the members that `names` (the ArchiveSummary::names of the
// archive at `archive`, as its record keeps them) lists. Pure.
std::vector<std::string> ListedMemberKeys(std::string_view archive, std::u16string_view names);

// Whether a member of type `type` (upper-case extension) is read.
using ArchiveMemberWanted = std::function<bool(std::string_view type)>;
// Gets each member read; returning false ends the walk.
using OnArchiveMember = std::function<bool(const ArchiveMember&)>;

// Walks the archive in `bytes` (keys start with `key`) in this process. For
// the child of ForEachArchiveMember, the tests and the fuzz target.
ArchiveSummary WalkArchiveBytes(std::string_view bytes, std::string_view key,
                                const ArchiveMemberWanted& wanted,
                                const OnArchiveMember& on_member);

// Walks the archive file at `path` in the member reader `reader_program`
// (the luncrawl executable), calling `on_member` on the calling thread for
// each member whose type the type lists send to the crawl service
// (TextSourceOf); a mail store's messages (pst_messages.h). Pictures
// (members and attachments) are read by text recognition, under its
// limits, when `recognize_pictures` is true ("图片文字识别"). Stops early
// when `stop` (may be null) becomes true.
ArchiveSummary ForEachArchiveMember(const std::string& reader_program, const std::string& path,
                                    const TypeLists& lists, bool recognize_pictures,
                                    const std::atomic<bool>* stop,
                                    const OnArchiveMember& on_member);

// The bytes of the member whose key is `key` ("ARCHIVE::inner", nested
// levels included) of the archive file `archive_path`, under the caps of
// the walk; false when there is no such member or it cannot be read whole.
// In this process: for the child of the member copy and the tests.
bool ReadArchiveMember(const std::string& archive_path, std::string_view key, std::string* bytes);

// The member copy's side (luncrawl --archive-member ARCHIVE KEY): writes the
// member's bytes (a mail store's message as a MIME message) to `fd`. Returns the exit status: 0, 1
// when the member cannot be had, 64 for arguments of the wrong count.
int RunArchiveMemberCopy(int argc, char** argv, int fd);

// The member reader's side: walks `path` and writes its members and summary
// to `fd` in the frames ForEachArchiveMember reads. `argv` holds the
// arguments after kArchiveMembersArgument. Returns the exit status: 0, or
// 64 for arguments of the wrong count.
int RunArchiveMemberReader(int argc, char** argv, int fd);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBERS_H_
