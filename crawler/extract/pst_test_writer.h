// A writer of small Outlook personal folders files (Unicode PST), for the
// tests of the mail store reader only. It writes what a reader walks: the
// header with its CRCs, the node and block B-trees in pages with their
// trailers, and for each node one data block holding a heap: property
// contexts for the message store, the folders, the messages and their
// attachments, table contexts for the folder hierarchy, the folder
// contents and the attachment lists. Everything that a writer of the real
// program keeps for itself (allocation maps, the name-to-id map, search
// folders, recipient tables) is left out. Test code only.
#ifndef LUN_CRAWLER_EXTRACT_PST_TEST_WRITER_H_
#define LUN_CRAWLER_EXTRACT_PST_TEST_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace lun {

struct TestPstAttachment {
  std::string name;   // UTF-8
  std::string bytes;  // the attached file
};

// Strings are UTF-8; each text value must stay under 1,790 UTF-16 units
// (one heap allocation), and the message's values together under one
// block of 8 KiB.
struct TestPstMessage {
  std::string subject;
  std::string sender;
  std::string to;
  std::string body;       // plain text; empty: none
  std::string html;       // HTML body; empty: none
  int64_t unix_time = 0;  // delivery and submit time
  std::vector<TestPstAttachment> attachments;
  // The index part of the message's node identifier; 0: the one after the
  // last handed out. Real stores never reuse an identifier, so a test that
  // drops a message keeps the others' by naming them.
  uint32_t id = 0;
};

struct TestPstFolder {
  std::string name;
  std::vector<TestPstMessage> messages;  // at most 300
  std::vector<TestPstFolder> folders;    // sub-folders
};

// The bytes of a PST file whose root folder holds `folders`. Node
// identifiers are handed out in order (folders depth first, then their
// messages), so the same tree gives the same identifiers.
std::string MakeTestPst(const std::vector<TestPstFolder>& folders);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PST_TEST_WRITER_H_
