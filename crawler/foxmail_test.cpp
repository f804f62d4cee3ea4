#include "crawler/foxmail.h"

#include <gtest/gtest.h>

#include <thread>

#include "config/settings_store.h"
#include "crawler/crawler_test_util.h"
#include "crawler/document_table.h"
#include "crawler/foxmail_format.h"
#include "crawler/foxmail_test_util.h"
#include "crawler/scan_scope.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lun {
namespace {

TEST(FoxmailTest, IndexRecordsAreCountedByWholeRecords) {
  const std::string header(64, 'h');
  EXPECT_TRUE(ReadFoxmailIndex(header).empty());
  EXPECT_TRUE(ReadFoxmailIndex(header + std::string(175, 'x')).empty());
  EXPECT_TRUE(ReadFoxmailIndex("short").empty());
  const auto one = ReadFoxmailIndex(header + FoxmailIndexRecord(7, 9, 37652.5, "key 1", "主题"));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].position, 7u);
  EXPECT_EQ(one[0].size, 9u);
  EXPECT_DOUBLE_EQ(one[0].date, 37652.5);
  EXPECT_EQ(one[0].key, "key 1");
  EXPECT_EQ(one[0].name, "主题");
  // Texts without terminators end with their record.
  const auto cut =
      ReadFoxmailIndex(header + FoxmailIndexRecord(0, 0, 1, std::string(200, 'k'), "lost"));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].key, std::string(176 - 33, 'k'));
  EXPECT_EQ(cut[0].name, "");
}

TEST(FoxmailTest, AccountsNameTheMailDirectories) {
  ScratchDir dir;
  MakeDirectories(dir.File("own"));
  MakeDirectories(dir.File("foxmail/mail/box2"));
  const std::string cfg = FoxmailAccounts({{dir.File("own"), "box1"}, {"", "box2"}});
  EXPECT_EQ(FoxmailDirectories(cfg, dir.File("foxmail")),
            (std::vector<std::string>{dir.File("own"), dir.File("foxmail/mail/box2")}));
  // Damaged files give what their intact part names, never a crash.
  for (size_t cut = 0; cut < cfg.size(); cut += 7) {
    (void)FoxmailDirectories(cfg.substr(0, cut), dir.File("foxmail"));
  }
  std::string lying = cfg.substr(0, foxmail::kAccountsSkip);
  PutFixed32(&lying, 1000000);
  PutFixed32(&lying, 0);
  PutFixed32(&lying, 0xFFFFFFF0u);
  EXPECT_TRUE(FoxmailDirectories(lying, dir.File("foxmail")).empty());
}

TEST(FoxmailTest, Md5OfTheUtf16Text) {
  EXPECT_EQ(Md5OfText(u""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5OfText(u"a"), "4144e195f46de78a3623da7364d04f11");  // bytes 61 00
}

TEST(FoxmailTest, MessagesBecomeMailRecordsOnce) {
  DocumentStore store;
  ASSERT_TRUE(store.ok);
  ScratchProject& scratch = store.scratch;
  SearchProject* project = store.project.get();
  SearchService& search = *store.search;
  DocumentWriter& writer = *store.writer;
  ScanScope scope;
  scope.Load(scratch.settings(), "/nonexistent", {});

  ScratchDir mail;
  const std::string m1 = "From: a@example.com\r\nSubject: hello\r\n\r\n会议纪要 meeting\r\n";
  const std::string m2 = "From: b@example.com\r\nSubject: other\r\n\r\nsecond body\r\n";
  std::string index(64, '\0');
  index += FoxmailIndexRecord(0, static_cast<uint32_t>(m1.size()), 40000.25, "<id1> [x]", "hello");
  index += FoxmailIndexRecord(static_cast<uint32_t>(m1.size()), static_cast<uint32_t>(m2.size()),
                              40001, "<id2>", "other");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), mail.File("In.IND"), index), 0);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), mail.File("In.box"), m1 + m2), 0);

  FoxmailSource source("", writer, scope);
  source.IndexMailbox(mail.File("In.IND"));
  DataTable* docs = project->FindTable(kDocumentTable);
  ASSERT_EQ(docs->live_count(), 2u);
  const auto value = [&](uint32_t r, const char* field) {
    return docs->GetFieldValue(r, docs->FindField(field)->position);
  };
  EXPECT_EQ(ToNarrow(value(0, doc::kName).AsString()), "hello");
  EXPECT_EQ(ToNarrow(value(0, doc::kType).AsString()), "FOXMAIL");
  EXPECT_EQ(ToNarrow(value(0, doc::kPath).AsString()), "<id1> [x]");
  EXPECT_EQ(ToNarrow(value(0, doc::kDirectory).AsString()), "<id1> [x]");
  EXPECT_EQ(ToNarrow(value(0, doc::kCategory).AsString()), "邮件");
  EXPECT_DOUBLE_EQ(value(0, doc::kModified).AsDouble(), 40000.25);
  EXPECT_NE(value(0, doc::kText).AsString().find(u"会议纪要"), std::u16string_view::npos);
  EXPECT_EQ(ToNarrow(value(0, doc::kMd5).AsString()), Md5OfText(value(0, doc::kText).AsString()));

  source.IndexMailbox(mail.File("In.IND"));
  EXPECT_EQ(docs->record_count(), 2u) << "unchanged messages are not written again";
  std::unique_ptr<Recordset> rs;
  ASSERT_EQ(search.Search("[文档]:文本内容=纪要", &rs), kEngineOk);
  EXPECT_EQ(rs->count(), 1u);
}

TEST(FoxmailTest, AMailboxAskedForDuringAnotherPassIsReadAfterIt) {
  DocumentStore store;
  ASSERT_TRUE(store.ok);
  ScanScope scope;
  scope.Load(store.scratch.settings(), "/nonexistent", {});
  ScratchDir mail;
  // A mailbox long enough that the second request arrives while it is read.
  const std::string m = "Subject: s\r\n\r\nbody\r\n";
  const auto write_mailbox = [&](const std::string& name, int count) {
    std::string index(64, '\0'), box;
    for (int i = 0; i < count; ++i) {
      index +=
          FoxmailIndexRecord(static_cast<uint32_t>(box.size()), static_cast<uint32_t>(m.size()),
                             40000, name + std::to_string(i), "s");
      box += m;
    }
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), mail.File(name + ".IND"), index), 0);
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), mail.File(name + ".box"), box), 0);
  };
  write_mailbox("long", 400);
  write_mailbox("late", 2);
  FoxmailSource source("", *store.writer, scope);
  DataTable* docs = store.project->FindTable(kDocumentTable);
  std::thread first([&] { source.IndexMailbox(mail.File("long.IND")); });
  while (docs->record_count() == 0) std::this_thread::yield();
  source.IndexMailbox(mail.File("late.IND"));  // queued for the pass under way
  first.join();
  EXPECT_EQ(docs->live_count(), 402u);
}

TEST(FoxmailTest, FoxmailIsRecognisedByNameOrProgram) {
  using namespace std::string_literals;
  const struct {
    const char* name;
    std::string cmdline;
    bool foxmail;
  } kCases[] = {
      {"Foxmail.exe", "", true},
      {"FOXMAIL.EXE", "", true},
      {"foxmail", "", true},
      {"Foxmail.exe.bak", "", false},
      // Wine shows the Windows path of the program, with its arguments.
      {"", "C:\\Program Files\\Foxmail\\Foxmail.exe\0"s, true},
      {"", "Z:\\home\\u\\fm\\foxmail.EXE\0-min\0"s, true},
      {"", "C:\\Foxmail\\Foxmail.exe"s, true},  // no NUL after the last argument
      // ... or its loader with the program after it.
      {"", "/usr/bin/wine\0/home/u/.wine/drive_c/Foxmail/Foxmail.exe\0"s, true},
      {"", "/usr/lib/wine/wine64-preloader\0/usr/lib/wine/wine64\0C:\\FM\\Foxmail.exe\0"s, true},
      // A name that merely ends like it, or a file handed to another program.
      {"", "/opt/NotFoxmail.exe\0"s, false},
      {"", "C:\\Foxmail.exe.bak\0"s, false},
      {"", "/opt/Foxmail.exe/helper\0"s, false},
      {"vim", "vim\0Foxmail.exe\0"s, false},
      {"bash", "", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " / " + c.cmdline);
    ProcessEntry p;
    p.name = c.name;
    p.cmdline = c.cmdline;
    EXPECT_EQ(IsFoxmailProcess(p), c.foxmail);
  }
}

}  // namespace
}  // namespace lun
