#include "crawler/mail_sources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "crawler/crawler_test_util.h"
#include "crawler/document_table.h"
#include "crawler/foxmail_test_util.h"
#include "crawler/scan_scope.h"
#include "engine/query/query_escape.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

class MailSourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ok);
    scope_.Load(store_.scratch.settings(), "/nonexistent", {});
  }

  MailSourcesEnvironment Environment() {
    MailSourcesEnvironment env;
    env.writer = store_.writer.get();
    env.search = store_.search.get();
    env.scope = &scope_;
    env.home = home_.path();
    return env;
  }

  size_t RecordsOf(const std::string& key) {
    std::unique_ptr<Recordset> rs;
    if (store_.search->Search("[文档]:完整路径=" + EscapeQueryText(key), &rs) != kEngineOk) {
      return 99;
    }
    return rs->count();
  }

  // Waits until `key` has `count` records, up to 10 s.
  bool WaitForRecords(const std::string& key, size_t count) {
    for (int i = 0; i < 1000; ++i) {
      if (RecordsOf(key) == count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  DocumentStore store_;
  ScanScope scope_;
  ScratchDir home_;
};

TEST_F(MailSourcesTest, EachSourceFollowsItsToken) {
  MailSources sources(Environment());
  const struct {
    const char* types;
    bool foxmail, outlook, outlook_express, local;
  } kSteps[] = {
      {"|FOXMAIL|OUTLOOK|OUTLOOKEXPRESS|THUNDERBIRD|", true, true, true, true},
      {"|DOC|OUTLOOKEXPRESS|", false, false, true, false},  // "|OUTLOOK|" is not in it
      {"outlook|foxmail", true, true, false, false},        // as the settings may hold it
      {"|Thunderbird|", false, false, false, true},
      {"", false, false, false, false},
      {"|OUTLOOK|THUNDERBIRD|", false, true, false, true},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.types);
    EXPECT_EQ(sources.Apply(step.types), "");
    EXPECT_EQ(sources.foxmail_on(), step.foxmail);
    EXPECT_EQ(sources.outlook_on(), step.outlook);
    EXPECT_EQ(sources.outlook_express_on(), step.outlook_express);
    EXPECT_EQ(sources.local_mail_on(), step.local);
  }
  sources.Stop();
  EXPECT_FALSE(sources.outlook_on());
  EXPECT_FALSE(sources.local_mail_on());
  // Stopped for shutdown, the sources can still be started again.
  sources.Apply("|THUNDERBIRD|OUTLOOK|");
  EXPECT_TRUE(sources.local_mail_on());
  EXPECT_TRUE(sources.outlook_on());
}

TEST_F(MailSourcesTest, AFoxmailDirectoryThatCannotBeWatchedShowsTheBoxAndTheOthersAreWatched) {
  const std::string foxmail = home_.File("Foxmail");
  const std::string bad = home_.File("bad"), good = home_.File("good");
  MakeDirectories(foxmail);
  MakeDirectories(bad);
  MakeDirectories(good);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), foxmail + "/accounts.cfg",
                                  FoxmailAccounts({{bad, ""}, {good, ""}})),
            0);
  struct Box {
    std::string caption, text;
    int ms;
  };
  std::vector<Box> boxes;
  MailSourcesEnvironment env = Environment();
  env.foxmail_directory = foxmail;
  env.countdown = [&](std::string_view caption, std::string_view text, int ms) {
    boxes.push_back({std::string(caption), std::string(text), ms});
  };
  env.fail_watch_for_testing = [&](const std::string& d) { return d == bad ? ENOSPC : 0; };
  MailSources sources(env);

  const std::string report = sources.Apply("|FOXMAIL|");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "FoxMail监控");
  EXPECT_EQ(boxes[0].text, ErrorText(ENOSPC));
  EXPECT_EQ(boxes[0].ms, 3000);
  EXPECT_EQ(report, bad + ": " + ErrorText(ENOSPC) + "\r\n");
  EXPECT_TRUE(sources.foxmail_on());

  // A mailbox written into the directory that is watched is read.
  const std::string m = "From: a@example.com\r\nSubject: hi\r\n\r\nbody\r\n";
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), good + "/In.box", m), 0);
  ASSERT_EQ(ReplaceFileAtomically(
                DefaultFileSystem(), good + "/In.IND",
                std::string(64, '\0') + FoxmailIndexRecord(0, static_cast<uint32_t>(m.size()),
                                                           40000, "<watched>", "hi")),
            0);
  EXPECT_TRUE(WaitForRecords("<watched>", 1));
}

TEST_F(MailSourcesTest, LocalMailIsReadAndFollowedWhileOn) {
  const std::string maildir = home_.File("Maildir");
  MakeDirectories(maildir + "/cur");
  MakeDirectories(maildir + "/new");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), maildir + "/cur/1.h:2,S",
                                  "Subject: old\r\nMessage-ID: <old@x>\r\n\r\nold\r\n"),
            0);
  MailSources sources(Environment());
  sources.IndexAll();  // off: nothing read
  EXPECT_EQ(RecordsOf(maildir + "#old@x"), 0u);

  sources.Apply("|THUNDERBIRD|");
  sources.IndexAll();
  EXPECT_EQ(RecordsOf(maildir + "#old@x"), 1u);
  // Delivered and deleted while on: the monitor follows both.
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), maildir + "/new/2.h",
                                  "Subject: new\r\nMessage-ID: <new@x>\r\n\r\nnew\r\n"),
            0);
  EXPECT_TRUE(WaitForRecords(maildir + "#new@x", 1));
  ASSERT_EQ(unlink((maildir + "/cur/1.h:2,S").c_str()), 0);
  EXPECT_TRUE(WaitForRecords(maildir + "#old@x", 0));
  EXPECT_EQ(RecordsOf(maildir + "#new@x"), 1u);
}

}  // namespace
}  // namespace lun
