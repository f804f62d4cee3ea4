// Opening a hit that is an archive member ("/home/u/a.zip::docs/x.docx"):
// the member is copied out of its archive into a private file of its own,
// which the desktop then opens.
//
// The copy lives in the user's runtime directory ($XDG_RUNTIME_DIR, else a
// directory of the user's own in the temporary directory), in
// "tamrix-lun/open-XXXXXX/NAME": the directories mode 0700 and checked to
// be ours and not links, the file mode 0600, created new (never through a
// name that exists). NAME is the member's last path component, so the
// desktop knows its type; nothing is ever written outside that directory,
// whatever the member's name. The archive is read by the crawl service's
// program in a process of its own (a hostile archive costs that process).
#ifndef LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBER_FILE_H_
#define LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBER_FILE_H_

#include <string>

namespace lun {

// Copies member `key` out through `reader_program` (luncrawl). Returns 0
// and the copy's path in `*file`, or an errno value: ENOENT when the
// archive has no such member (or it cannot be read whole), EPERM when the
// private directory is not safe to use, others from the file system.
int CopyArchiveMemberOut(const std::string& reader_program, const std::string& key,
                         std::string* file);

// The directory the copies go in, made when missing; empty when it cannot
// be made or is not safe (another owner, a link, open to others).
std::string PrivateOpenDirectory();

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_ARCHIVE_MEMBER_FILE_H_
