#include "crawler/saved_searches.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "crawler/crawler_test_util.h"
#include "platform/text.h"

namespace lun {
namespace {

class SavedSearchesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.ok); }

  void Write(const std::string& path, const std::string& text) {
    DocumentRecord r;
    r.path = path;
    r.name = path.substr(path.rfind('/') + 1);
    r.type = "txt";
    r.text = ToWide(text);
    r.modified = static_cast<double>(++version_);  // each write is a new version
    ASSERT_TRUE(store_.writer->AddOrUpdateDocument(r, true));
  }

  std::unique_ptr<SavedSearches> Open() {
    auto s =
        std::make_unique<SavedSearches>(file_, *store_.search, *store_.project, *store_.writer);
    EXPECT_EQ(s->Load(), 0u);
    return s;
  }

  DocumentStore store_;
  std::string file_ = store_.scratch.home().File("SavedSearches");
  int version_ = 0;
};

TEST_F(SavedSearchesTest, NewAndChangedDocumentsThatMatchBecomeUnseenHitsThatSurviveARestart) {
  Write("/d/old.txt", "旧的合同");  // before saving: not new
  auto saved = Open();
  std::string error;
  const uint32_t id = saved->Add("合同", "[文档]:文本内容=合同", "SearchText=合同", &error);
  ASSERT_NE(id, 0u) << error;
  Write("/d/a.txt", "一份合同草稿");
  Write("/d/b.txt", "无关的文字");
  EXPECT_EQ(saved->CheckNow(), 1u);
  EXPECT_EQ(saved->CheckNow(), 0u);  // nothing new since
  Write("/d/a.txt", "合同第二稿");   // changed: the newer version replaces the hit
  Write("/d/old.txt", "改过的旧合同");
  EXPECT_EQ(saved->CheckNow(), 2u);
  EXPECT_EQ(saved->UnseenCount(), 2u);

  saved.reset();  // a restart reads the same state back
  saved = Open();
  auto list = saved->List();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "合同");
  EXPECT_EQ(list[0].link, "SearchText=合同");
  EXPECT_EQ(list[0].unseen, 2u);
  ASSERT_EQ(list[0].hits.size(), 2u);
  EXPECT_EQ(list[0].hits[0].path, "/d/a.txt");
  EXPECT_EQ(list[0].hits[1].path, "/d/old.txt");
  EXPECT_EQ(saved->CheckNow(), 0u);  // the mark was kept too

  EXPECT_TRUE(saved->MarkSeen(id));
  EXPECT_EQ(saved->UnseenCount(), 0u);
  EXPECT_TRUE(saved->List()[0].hits.empty());
  EXPECT_FALSE(saved->MarkSeen(id + 1));
  EXPECT_TRUE(saved->Remove(id));
  EXPECT_FALSE(saved->Remove(id));
  EXPECT_TRUE(Open()->List().empty());
}

TEST_F(SavedSearchesTest, TheFirstScanOfAnEmptyTableRaisesNoHits) {
  auto saved = Open();
  std::string error;
  ASSERT_NE(saved->Add("", "[文档]:文本内容=报告", "", &error), 0u) << error;
  EXPECT_EQ(saved->List()[0].name, "文本内容=报告");  // no name: the query
  store_.writer->set_fast_insert(true);
  Write("/d/1.txt", "报告一");
  EXPECT_EQ(saved->CheckNow(), 0u);
  store_.writer->set_fast_insert(false);
  Write("/d/2.txt", "报告二");
  EXPECT_EQ(saved->CheckNow(), 1u);
  EXPECT_EQ(saved->List()[0].hits.at(0).path, "/d/2.txt");
}

TEST_F(SavedSearchesTest, RefusesQueriesThatAreNotSearchesOfDocuments) {
  auto saved = Open();
  for (const char* query :
       {"[日志]:内容=x", "[文档]:文本内容=x>>>[日志]", "[文档]:文本内容=(", "文本内容=x"}) {
    std::string error;
    EXPECT_EQ(saved->Add("x", query, "", &error), 0u) << query;
    EXPECT_FALSE(error.empty()) << query;
  }
  EXPECT_TRUE(saved->List().empty());
}

TEST_F(SavedSearchesTest, DamagedLinesAreSkippedAndTheFileKeptAside) {
  std::ofstream(file_) << "lun-saved-searches 1\n"
                       << "S\t4\t100\t0\t0\tgood\t[文档]:文本内容=a\\tb\tq=1\n"
                       << "S\tbroken\n"
                       << "H\t4\t1\t100\t/p\tp\n";
  SavedSearches saved(file_, *store_.search, *store_.project, *store_.writer);
  EXPECT_EQ(saved.Load(), 1u);
  auto list = saved.List();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].query, "[文档]:文本内容=a\tb");
  EXPECT_EQ(list[0].hits.size(), 1u);
  std::ifstream aside(file_ + ".damaged");
  EXPECT_TRUE(aside.good());
  std::string error;
  EXPECT_EQ(saved.Add("next", "[文档]:文本内容=c", "", &error), 5u);  // ids never reused
}

TEST_F(SavedSearchesTest, TheCheckerAnnouncesNewHitsOnce) {
  auto saved = Open();
  std::string error;
  ASSERT_NE(saved->Add("周报", "[文档]:文本内容=周报", "", &error), 0u) << error;
  std::mutex mutex;
  std::condition_variable told;
  std::vector<std::string> notices;
  saved->Start([&](const std::string& title, const std::string& text) {
    std::lock_guard lock(mutex);
    notices.push_back(title + "|" + text);
    told.notify_all();
  });
  store_.writer->set_on_append([&saved] { saved->NoteAppended(); });
  Write("/d/w.txt", "本周周报");
  std::unique_lock lock(mutex);
  ASSERT_TRUE(told.wait_for(lock, std::chrono::minutes(1), [&] { return !notices.empty(); }));
  EXPECT_EQ(notices[0], "已保存的搜索有新结果|“周报”：1 个新文件，如 w.txt");
  lock.unlock();
  saved->Stop();
  store_.writer->set_on_append(nullptr);
}

}  // namespace
}  // namespace lun
