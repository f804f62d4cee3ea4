#include "crawler/extract/pst_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "crawler/extract/archive_member_file.h"
#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/mime_text.h"
#include "crawler/extract/pst_test_writer.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr int64_t kNov14 = 1700000000;  // 2023-11-14 22:13:20 UTC

// A store of three messages in two folders: a plain Chinese one, an HTML
// one with a text attachment and a picture, and one in a sub-folder.
std::vector<TestPstFolder> Mailbox() {
  TestPstMessage budget{"季度预算审批",
                        "张三",
                        "李四; Bob Lee",
                        "预算审批已经通过 budget approved",
                        "",
                        kNov14,
                        {},
                        0};
  TestPstMessage lunch{"Lunch plans",
                       "Alice",
                       "Bob",
                       "",
                       "<html><body><p>Meet at <b>noon</b> 饺子馆</p></body></html>",
                       kNov14 + 3600,
                       {{"notes.txt", "attachment words zebra"}, {"photo.jpg", "\xFF\xD8 binary"}},
                       0};
  TestPstMessage archived{"第三封", "王五", "赵六", "third message 长城", "", kNov14 + 7200, {}, 0};
  return {{"收件箱", {budget, lunch}, {{"Old/2023", {archived}, {}}}}};
}

std::string WritePst(const ScratchDir& dir, const std::string& name,
                     const std::vector<TestPstFolder>& folders) {
  const std::string path = dir.File(name);
  const std::string bytes = MakeTestPst(folders);
  EXPECT_FALSE(bytes.empty()) << "the fixture does not fit the writer";
  EXPECT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, bytes), 0);
  return path;
}

bool WantsText(std::string_view type) { return type == "TXT"; }

struct Walked {
  ArchiveSummary summary;
  std::vector<ArchiveMember> messages;
};

Walked Walk(const std::string& path, const MailStoreLimits& limits = {}) {
  Walked w;
  w.summary = WalkMailStore(path, path, limits, &WantsText, [&](const ArchiveMember& m) {
    w.messages.push_back(m);
    return true;
  });
  return w;
}

bool Has(std::u16string_view text, std::string_view word) {
  return text.find(ToWide(word)) != std::u16string_view::npos;
}

TEST(PstMessagesTest, EveryMessageBecomesAMemberWithItsText) {
  ScratchDir dir;
  const std::string pst = WritePst(dir, "mail.pst", Mailbox());
  const Walked w = Walk(pst);
  EXPECT_TRUE(w.summary.opened);
  EXPECT_FALSE(w.summary.capped);
  EXPECT_EQ(w.summary.error, "");
  ASSERT_EQ(w.messages.size(), 3u);
  // Node identifiers 0x10001 << 5 | 4 ... in the order the writer hands them out.
  EXPECT_EQ(w.messages[0].key, pst + "::收件箱/2097188.eml");
  EXPECT_EQ(w.messages[1].key, pst + "::收件箱/2097220.eml");
  EXPECT_EQ(w.messages[2].key, pst + "::收件箱/Old_2023/2097252.eml");
  EXPECT_EQ(w.summary.names,
            u"收件箱/2097188.eml\n收件箱/2097220.eml\n收件箱/Old_2023/2097252.eml");
  for (const ArchiveMember& m : w.messages) {
    EXPECT_EQ(m.type, kMailStoreMessageType);
    EXPECT_GT(m.size, 0u);
  }
  EXPECT_EQ(w.messages[0].name, "季度预算审批");
  EXPECT_EQ(w.messages[0].mtime, kNov14);
  EXPECT_EQ(w.messages[1].mtime, kNov14 + 3600);

  const std::u16string& budget = w.messages[0].text;
  for (const char* word :
       {"季度预算审批", "张三", "李四", "Bob Lee", "预算审批已经通过", "budget"}) {
    EXPECT_TRUE(Has(budget, word)) << word << " in " << ToNarrow(budget);
  }
  // The HTML body as text; attachments by name, the text one by its words.
  const std::u16string& lunch = w.messages[1].text;
  for (const char* word :
       {"Meet at noon 饺子馆", "notes.txt", "attachment words zebra", "photo.jpg"}) {
    EXPECT_TRUE(Has(lunch, word)) << word << " in " << ToNarrow(lunch);
  }
  EXPECT_FALSE(Has(lunch, "<b>"));
  EXPECT_FALSE(Has(lunch, "binary")) << "a picture is named, not read";
  EXPECT_TRUE(Has(w.messages[2].text, "长城"));
}

TEST(PstMessagesTest, CapsEndTheWalkAndKeepWhatWasRead) {
  ScratchDir dir;
  const std::string pst = WritePst(dir, "mail.pst", Mailbox());
  struct Case {
    MailStoreLimits limits;
    size_t messages;
  };
  for (const Case& c : {Case{{2, 1ull << 30}, 2}, Case{{100, 1}, 1}}) {
    const Walked w = Walk(pst, c.limits);
    EXPECT_TRUE(w.summary.capped);
    EXPECT_EQ(w.messages.size(), c.messages);
    // Only what was read is listed: the records of the rest are never written.
    EXPECT_EQ(std::count(w.summary.names.begin(), w.summary.names.end(), u'\n') + 1,
              static_cast<long>(c.messages));
  }
}

TEST(PstMessagesTest, DamagedStoresGiveAnErrorAndNoCrash) {
  ScratchDir dir;
  const std::string bytes = MakeTestPst(Mailbox());
  ASSERT_FALSE(bytes.empty());
  // Cut inside the header, inside the blocks, inside the B-tree pages and
  // one byte short; then bytes that are no store at all.
  std::vector<std::string> damaged;
  for (size_t cut :
       {size_t{100}, size_t{600}, size_t{0x4400 + 700}, bytes.size() - 700, bytes.size() - 1}) {
    damaged.push_back(bytes.substr(0, cut));
  }
  damaged.push_back("not an Outlook file at all");
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = dir.File("damaged" + std::to_string(i) + ".pst");
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, damaged[i]), 0);
    const Walked w = Walk(path);
    EXPECT_NE(w.summary.error, "");
    EXPECT_LT(w.messages.size(), 3u);
  }
}

TEST(PstMessagesTest, AMessageIsCopiedOutAsMail) {
  ScratchDir dir;
  const std::string pst = WritePst(dir, "mail.pst", Mailbox());
  std::string message;
  ASSERT_TRUE(ReadMailStoreMessage(pst, pst + "::收件箱/2097188.eml", &message));
  const std::u16string text = MimeText(message, kFilterTextLimit).text;
  for (const char* word : {"季度预算审批", "张三", "预算审批已经通过"}) {
    EXPECT_TRUE(Has(text, word)) << word << " in " << ToNarrow(text);
  }
  EXPECT_FALSE(ReadMailStoreMessage(pst, pst + "::收件箱/1.eml", &message));

  // Opening the hit: the crawl service's program copies it out to a
  // private file named like the message, which a mail program opens.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = runtime ? runtime : "";
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  std::string copy;
  const int copied_out = CopyArchiveMemberOut(LUNCRAWL_PATH, pst + "::收件箱/2097188.eml", &copy);
  runtime ? setenv("XDG_RUNTIME_DIR", saved.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
  ASSERT_EQ(copied_out, 0);
  EXPECT_TRUE(copy.ends_with("/2097188.eml"));
  std::string copied;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), copy, &copied), 0);
  EXPECT_TRUE(Has(MimeText(copied, kFilterTextLimit).text, "预算审批已经通过"));
}

TEST(PstMessagesTest, StoresAreWalkedInTheCrawlServiceProgram) {
  ScratchDir dir;
  const std::string pst = WritePst(dir, "mail.pst", Mailbox());
  const TypeLists lists{"|PST|", "|TXT|", "", ""};
  auto walk = [&](const std::string& path) {
    std::vector<ArchiveMember> messages;
    const ArchiveSummary summary = ForEachArchiveMember(LUNCRAWL_PATH, path, lists, false, nullptr,
                                                        [&](const ArchiveMember& m) {
                                                          messages.push_back(m);
                                                          return true;
                                                        });
    return std::make_pair(summary, messages);
  };
  const auto [summary, messages] = walk(pst);
  EXPECT_TRUE(summary.opened);
  EXPECT_EQ(summary.error, "");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].name, "季度预算审批");
  EXPECT_EQ(messages[0].type, "OUTLOOK");
  EXPECT_EQ(messages[0].mtime, kNov14);
  EXPECT_TRUE(Has(messages[1].text, "attachment words zebra"));

  // A truncated store: no message, and the reader says why.
  const std::string cut = dir.File("cut.ost");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), cut, MakeTestPst(Mailbox()).substr(0, 9000)),
            0);
  const auto [cut_summary, cut_messages] = walk(cut);
  EXPECT_NE(cut_summary.error, "");
  EXPECT_TRUE(cut_messages.empty());
}

}  // namespace
}  // namespace lun
