#include "crawler/local_mail.h"

#include <gtest/gtest.h>

#include "crawler/crawler_test_util.h"
#include "crawler/document_table.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "platform/text.h"

namespace lun {
namespace {

TEST(LocalMailTest, SplitsMboxAtFromLines) {
  const std::string mbox =
      "junk before\n"
      "From - Mon Jan 1 00:00:00 2024\nSubject: one\n\nbody\n>From here\n"
      "From - Tue\nSubject: two\n\nsecond\n"
      "From ";  // a separator with nothing after it
  const auto parts = SplitMbox(mbox);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(mbox.substr(parts[0].offset, parts[0].length), "Subject: one\n\nbody\n>From here\n");
  EXPECT_EQ(mbox.substr(parts[1].offset, parts[1].length), "Subject: two\n\nsecond\n");
  EXPECT_TRUE(SplitMbox("").empty());
  EXPECT_TRUE(SplitMbox("no separators at all").empty());
}

TEST(LocalMailTest, HeadersAreDecoded) {
  const MailHeaders h = ReadMailHeaders(
      "Subject: =?UTF-8?B?5Lya6K6u?=\r\nMessage-ID: <abc@host>\r\n"
      "Date: Fri, 31 Jan 2003 12:00:00 +0000\r\n\r\nbody");
  EXPECT_EQ(h.subject, "会议");
  EXPECT_EQ(h.message_id, "abc@host");
  EXPECT_GT(h.date, 37651.0);
  EXPECT_LT(h.date, 37654.0);
  const MailHeaders none = ReadMailHeaders("garbage \x01\x02 without headers");
  EXPECT_EQ(none.message_id, "");
}

TEST(LocalMailTest, MboxAndMaildirMessagesBecomeRecords) {
  DocumentStore store;
  ASSERT_TRUE(store.ok);
  SearchProject* project = store.project.get();
  SearchService& search = *store.search;
  DocumentWriter& writer = *store.writer;

  ScratchDir home;
  const std::string inbox = home.File(".thunderbird/p1.default/Mail/Local Folders/Inbox");
  MakeDirectories(DirName(inbox));
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), inbox,
                                  "From - x\nSubject: first\nMessage-ID: <m1@x>\n\n季度报告\n"
                                  "From - y\nSubject: second\n\nno id here\n"),
            0);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), inbox + ".msf", "index"), 0);
  const std::string maildir = home.File("Maildir");
  MakeDirectories(maildir + "/cur");
  MakeDirectories(maildir + "/new");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), maildir + "/cur/1234.host:2,S",
                                  "Subject: 三\r\nMessage-ID: <m3@x>\r\n\r\nmaildir body\r\n"),
            0);

  LocalMailSource source(home.path(), {}, writer, search);
  EXPECT_EQ(source.MboxFiles(), std::vector<std::string>{inbox});
  EXPECT_EQ(source.Maildirs(), std::vector<std::string>{maildir});
  source.IndexAll();
  source.IndexAll();  // nothing new the second time
  DataTable* docs = project->FindTable(kDocumentTable);
  EXPECT_EQ(docs->record_count(), 3u);
  const auto paths = [&](const std::string& query) {
    std::unique_ptr<Recordset> rs;
    EXPECT_EQ(search.Search(query, &rs), kEngineOk);
    std::vector<std::string> out;
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
      out.push_back(ToNarrow(rs->Value(rs->FindColumn(doc::kPath)).AsString()));
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(paths("[文档]:文本内容=季度"), std::vector<std::string>{inbox + "#m1@x"});
  EXPECT_EQ(paths("[文档]:文件类型=thunderbird"),
            // The message without an id is named by where it begins in the
            // file: after 57 bytes of the first message and its 9-byte From
            // line.
            (std::vector<std::string>{inbox + "#m1@x", inbox + "@66"}));
  EXPECT_EQ(paths("[文档]:文件类型=maildir"), std::vector<std::string>{maildir + "#m3@x"});
  EXPECT_EQ(paths("[文档]:分类=邮件").size(), 3u);
}

// The keys of the live records whose "路径" is `folder`, sorted.
std::vector<std::string> KeysOf(DataTable* docs, const std::string& folder) {
  std::vector<std::string> keys;
  const uint32_t path_field = docs->FindField(doc::kPath)->position;
  const uint32_t folder_field = docs->FindField(doc::kDirectory)->position;
  for (uint32_t r = 0; r < docs->record_count(); ++r) {
    if (docs->IsDeleted(r)) continue;
    if (ToNarrow(docs->GetFieldValue(r, folder_field).AsString()) != folder) continue;
    keys.push_back(ToNarrow(docs->GetFieldValue(r, path_field).AsString()));
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

TEST(LocalMailTest, MessagesGoneFromAFolderLoseTheirRecordsAndNoOthers) {
  DocumentStore store;
  ASSERT_TRUE(store.ok);
  DataTable* docs = EnsureDocumentTable(*store.project);
  ScratchDir home;
  const std::string mail = home.File(".thunderbird/p.default/Mail/Local Folders");
  MakeDirectories(mail);
  const std::string inbox = mail + "/Inbox";
  const std::string inbox2 = mail + "/Inbox2";  // its path begins with the other's
  const std::string upper = mail + "/INBOX";    // the same to the index's normalised text
  const std::string m1 = "From - a\nSubject: one\nMessage-ID: <m1@x>\n\nfirst\n";
  const std::string m2 = "From - b\nSubject: two\nMessage-ID: <m2@x>\n\nsecond\n";
  const std::string m3 = "From - c\nSubject: three\n\nno id\n";
  for (const std::string& box : {inbox, inbox2, upper}) {
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), box, m1 + m2 + m3), 0);
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), box + ".msf", ""), 0);
  }
  const std::string maildir = home.File("Maildir");
  MakeDirectories(maildir + "/cur");
  MakeDirectories(maildir + "/new");
  const std::string kept_file = maildir + "/cur/1.host:2,S";
  const std::string gone_file = maildir + "/new/2.host";
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), kept_file,
                                  "Subject: kept\r\nMessage-ID: <k@x>\r\n\r\nk\r\n"),
            0);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), gone_file, "Subject: gone\r\n\r\ng\r\n"), 0);
  // A file whose key begins like a message key of the mailbox.
  DocumentRecord file;
  file.name = "Inbox@notes.txt";
  file.type = "TXT";
  file.path = inbox + "@notes.txt";
  ASSERT_TRUE(store.writer->AddOrUpdateDocument(file, true));

  LocalMailSource source(home.path(), {}, *store.writer, *store.search);
  source.IndexAll();
  const std::string at_m3 = "@" + std::to_string(m1.size() + m2.size() + 9);
  ASSERT_EQ(KeysOf(docs, inbox),
            (std::vector<std::string>{inbox + "#m1@x", inbox + "#m2@x", inbox + at_m3}));
  const std::vector<std::string> inbox2_keys = KeysOf(docs, inbox2);
  ASSERT_EQ(inbox2_keys.size(), 3u);
  const std::vector<std::string> upper_keys = KeysOf(docs, upper);
  ASSERT_EQ(upper_keys.size(), 3u);
  ASSERT_EQ(KeysOf(docs, maildir),
            (std::vector<std::string>{maildir + "#k@x", maildir + "@2.host"}));

  // The first message is expunged: the message without an id moves too, so
  // its old offset key goes and a new one comes.
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), inbox, m2 + m3), 0);
  source.IndexMbox(inbox);
  EXPECT_EQ(
      KeysOf(docs, inbox),
      (std::vector<std::string>{inbox + "#m2@x", inbox + "@" + std::to_string(m2.size() + 9)}));
  EXPECT_EQ(KeysOf(docs, inbox2), inbox2_keys);

  ASSERT_EQ(unlink(gone_file.c_str()), 0);
  source.IndexMaildir(maildir);
  EXPECT_EQ(KeysOf(docs, maildir), std::vector<std::string>{maildir + "#k@x"});

  // A deleted mailbox takes all its records with it, and only its own.
  ASSERT_EQ(unlink(inbox.c_str()), 0);
  source.IndexMbox(inbox);
  EXPECT_TRUE(KeysOf(docs, inbox).empty());
  EXPECT_EQ(KeysOf(docs, inbox2), inbox2_keys);
  EXPECT_EQ(KeysOf(docs, upper), upper_keys);
  EXPECT_EQ(KeysOf(docs, maildir), std::vector<std::string>{maildir + "#k@x"});
  EXPECT_EQ(KeysOf(docs, mail), std::vector<std::string>{inbox + "@notes.txt"});
}

}  // namespace
}  // namespace lun
