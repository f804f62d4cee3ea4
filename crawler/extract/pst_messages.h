// Outlook personal folders (.pst) and offline folders (.ost) read as a mail
// store through libpff: every message becomes a document of its own, as
// the Outlook mail source gives them on Windows (type "OUTLOOK", so the
// category "邮件"; the name is the subject).
//
// A message's key is the store's path, "::", the path of its folder below
// the root folder ("Top of Personal Folders/Inbox", a "/" inside a folder
// name read as "_") and the message's node identifier with ".eml":
//   /home/u/mail.pst::Top of Personal Folders/Inbox/2097188.eml
// The identifier never changes while the message stays, and is never
// given to another message, so the key follows the message across changes
// of the store. The store's own record lists these keys like an archive
// lists its members (archive_members.h), and its messages follow it the
// same way: a changed store drops the records of messages it no longer
// holds, a deleted one takes them all.
//
// A message's text: the subject, the sender, the recipients (the "To" and
// "Cc" lines the store keeps), the date, the body (plain text; else the
// HTML body turned to text; else the RTF body), then the names of its
// attachments, each followed by its text when its type is one the crawler
// reads (as an archive member's, at most kArchiveMaxMemberBytes each).
// Search folders are skipped (they show messages kept elsewhere), and so
// are the hidden items of a folder (views, rules).
//
// Caps (MailStoreLimits): messages, and UTF-16 units of text over all
// messages; the list of keys must fit the service's text limit. A walk that
// reaches one stops and keeps what it read. A store libpff cannot open
// gives no message and an error; a damaged folder or message is skipped and
// counted in the error, the rest is read.
//
// The walk runs in the crawl service's program (luncrawl --archive-members,
// as archives do), under the member reader's memory limit and silence
// timeout. Thread-safe: no state outside a call.
#ifndef LUN_CRAWLER_EXTRACT_PST_MESSAGES_H_
#define LUN_CRAWLER_EXTRACT_PST_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "crawler/extract/archive_members.h"

namespace lun {

// "文件类型" of a message record.
inline constexpr char kMailStoreMessageType[] = "OUTLOOK";

struct MailStoreLimits {
  uint32_t max_messages = 100000;
  uint64_t max_text_units = 128ull << 20;
};

// True for the upper-case extensions read as mail stores: PST, OST.
bool IsMailStoreType(std::string_view type);

// Walks the store file at `path`, its message keys starting with `key`,
// calling `on_message` (name: the subject; type: kMailStoreMessageType) for
// each message; returning false ends the walk. `wanted` says which
// attachment types are read for their text. In this process: for the
// member reader's child, the tests and the fuzz target.
ArchiveSummary WalkMailStore(const std::string& path, std::string_view key,
                             const MailStoreLimits& limits, const ArchiveMemberWanted& wanted,
                             const OnArchiveMember& on_message);

// The message whose key is `key` of the store file at `path`, as a MIME
// message (its headers and its body, UTF-8) for a mail program to open;
// false when there is no such message. In this process: for the child of
// the member copy and the tests.
bool ReadMailStoreMessage(const std::string& path, std::string_view key, std::string* message);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PST_MESSAGES_H_
