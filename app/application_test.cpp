#include "app/application.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "automation/dictionary.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/document_table.h"
#include "crawler/extract/extract_test_util.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/search_project.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace std::chrono_literals;

// Remembers what the application told the user.
class RecordingInterface : public UserInterface {
 public:
  void Notify(std::string_view title, std::string_view) override { Add("notice:", title); }
  int Countdown(std::string_view, std::string_view text, int, BoxButtons) override {
    Add("box:", text);
    return kTimedOut;
  }
  void SetTip(std::string_view) override {}
  void RunFirstRunWizard(SettingsStore&) override { Add("wizard:", ""); }

  bool Saw(const std::string& what) const {
    std::lock_guard lock(mutex_);
    for (const std::string& e : events_) {
      if (e == what) return true;
    }
    return false;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  void Add(std::string_view kind, std::string_view text) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::string(kind) + std::string(text));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A loopback listener that keeps a port busy.
class BusyPort {
 public:
  BusyPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 1);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~BusyPort() { close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace

// Outside the anonymous namespace: the application's friend.
class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationOptions Options() const {
    ApplicationOptions options;
    options.home = home_.path();
    options.port = FreeLoopbackPort();
    options.fallback_port = FreeLoopbackPort();
    options.program_directory = home_.File("program");
    options.manage_autostart = false;
    options.start_crawler = false;
    return options;
  }

  // One whole run: start-up, then whatever `while_running` checks, then
  // shutdown.
  template <typename F>
  void Run(const ApplicationOptions& options, F while_running) {
    Application app(options, ui_);
    ASSERT_TRUE(app.Startup());
    while_running(app);
    app.Shutdown();
  }

  std::string Setting(const char* key) { return Settings().GetValue(kSearchSection, key); }

  static IndexParts Parts(Application& app) { return app.parts(); }
  static const std::shared_ptr<Dictionary>& SessionTable(const Application& app) {
    return app.session_table_;
  }

  // Adds one document record straight through the engine.
  static void AddDocument(Application& app, const std::string& path) {
    DocumentRecord record;
    record.name = BaseName(path);
    record.type = "TXT";
    record.path = path;
    record.modified = 40000;
    record.text = u"季度报告";
    ASSERT_TRUE(Parts(app).writer->AddOrUpdateDocument(record, true));
  }

  ScratchDir home_;
  RecordingInterface ui_;
};

TEST_F(ApplicationTest, FirstStartCreatesTheTablesSettingsAndSessionTable) {
  Run(Options(), [&](Application& app) {
    const DataTable* documents = Parts(app).project->FindTable(kDocumentTable);
    ASSERT_NE(documents, nullptr);
    EXPECT_EQ(documents->field_count(), 13) << "the twelve fields and the file identity";
    EXPECT_NE(Parts(app).project->FindTable(kLogTable), nullptr);
    EXPECT_TRUE(ui_.Saw("wizard:"));
    EXPECT_TRUE(ui_.Saw("notice:启动成功"));

    EXPECT_EQ(Setting(key::kVersion), kLocalVersion);
    EXPECT_EQ(Setting(key::kLocalUserId), app.session_code());
    EXPECT_EQ(Setting(key::kDataSource), home_.File("Data/local.db"));
    EXPECT_EQ(Setting(key::kModulePath), home_.path() + "/");
    EXPECT_EQ(Setting(key::kFullScanDone), "FALSE");

    const auto& sessions = SessionTable(app);
    ASSERT_NE(sessions, nullptr);
    EXPECT_EQ(sessions->Count(), 2u);
    EXPECT_EQ(sessions->compare_mode(), 1);
    EXPECT_TRUE(sessions->Exists(Variant::Bstr(ToWide(app.session_code()))));
    EXPECT_TRUE(sessions->Exists(Variant::Bstr(u"20316842")));

    EXPECT_TRUE(app.web_running());
    EXPECT_EQ(app.HomeUrl(), "http://127.0.0.1:" + std::to_string(app.web_port()) +
                                 "/LUN/home.shl?IDCODE=" + app.session_code());
  });
  // Each start makes a new session code.
  const std::string first_code = Setting(key::kLocalUserId);
  Run(Options(), [&](Application& app) { EXPECT_NE(app.session_code(), first_code); });
}

// "启用缓冲池" acts on the application's own searches, at start-up and as
// soon as the setting changes: results are kept in the pool's folder.
TEST_F(ApplicationTest, TheBufferPoolSettingsReachTheSearches) {
  const std::string cache = home_.File("cache");
  auto pool_files = [&] {
    size_t n = 0;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(cache, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      n += it->is_regular_file() ? 1 : 0;
    }
    return n;
  };
  Run(Options(), [&](Application& app) {
    AddDocument(app, "/nowhere/pooled.txt");
    app.settings().SetValue(kSearchSection, key::kCachePath, cache);
    std::unique_ptr<Recordset> rs;
    ASSERT_EQ(app.operations().search()->Search("[文档]:季度", &rs), kEngineOk);
    EXPECT_EQ(pool_files(), 0u) << "off by default";
    ASSERT_TRUE(app.settings().ApplySetting(key::kCachePoolEnabled, "是"));
    ASSERT_EQ(app.operations().search()->Search("[文档]:季度", &rs), kEngineOk);
    EXPECT_EQ(rs->count(), 1u);
    EXPECT_EQ(pool_files(), 1u) << "the result is kept in the pool";
  });
}

TEST_F(ApplicationTest, SecondInstanceEndsSilently) {
  auto first = std::make_unique<Application>(Options(), ui_);
  ASSERT_TRUE(first->Startup());
  ui_.Clear();
  Application second(Options(), ui_);
  EXPECT_FALSE(second.Startup());
  Application third(Options(), ui_);
  EXPECT_FALSE(third.Startup());
  EXPECT_FALSE(ui_.Saw("box:数据文件无法打开，系统启动失败!"));
  first.reset();
  // The lock goes with the first instance.
  Application after(Options(), ui_);
  EXPECT_TRUE(after.Startup());
}

TEST_F(ApplicationTest, BusyPortFallsBackAndKeepsTheConfiguredText) {
  BusyPort busy;
  ApplicationOptions options = Options();
  options.port.reset();
  Run(options, [&](Application&) {});  // writes the default port text
  Settings().SetValue(kSearchSection, key::kPublishPort, std::to_string(busy.port()));
  ASSERT_TRUE(Settings().Save());
  Run(options, [&](Application& app) {
    EXPECT_TRUE(app.web_running());
    EXPECT_EQ(app.web_port(), options.fallback_port);
  });
  EXPECT_EQ(Setting(key::kPublishPort), std::to_string(busy.port()));
}

TEST_F(ApplicationTest, OlderVersionRebuildsTheDocumentTableOnce) {
  Run(Options(), [&](Application& app) { AddDocument(app, "/home/u/a.txt"); });
  Settings().SetValue(kSearchSection, key::kVersion, "0.0");
  ASSERT_TRUE(Settings().Save());
  ui_.Clear();
  Run(Options(), [&](Application& app) {
    EXPECT_TRUE(ui_.Saw("notice:数据升级问题"));
    EXPECT_EQ(Parts(app).project->FindTable(kDocumentTable)->record_count(), 0u);
    AddDocument(app, "/home/u/b.txt");
  });
  EXPECT_EQ(Setting(key::kVersion), kLocalVersion);
  ui_.Clear();
  Run(Options(), [&](Application& app) {
    EXPECT_FALSE(ui_.Saw("notice:数据升级问题"));
    EXPECT_EQ(Parts(app).project->FindTable(kDocumentTable)->record_count(), 1u);
  });
}

TEST_F(ApplicationTest, EmptyTableWithoutDirectoryFieldStays) {
  Run(Options(), [&](Application&) {});
  {
    // Tables are replaced while no application runs, as an older build's
    // data would be found.
    SearchProjectOptions project_options;
    project_options.settings = &Settings();
    SearchProject project(project_options);
    ASSERT_TRUE(project.OpenProject().ok());
    ASSERT_TRUE(project.DeleteTable(kDocumentTable).ok());
    ASSERT_TRUE(project.CreateTable("", "", kDocumentTable, "").ok());
    ASSERT_TRUE(project.FindTable(kDocumentTable)->AddField("文件名称", "", 1, kWordIndex).ok());
  }
  ui_.Clear();
  Run(Options(), [&](Application& app) {
    EXPECT_FALSE(ui_.Saw("notice:数据升级问题"));
    EXPECT_FALSE(ui_.Saw("wizard:"));
    EXPECT_EQ(Parts(app).project->FindTable(kDocumentTable)->field_count(), 1);
  });
}

TEST_F(ApplicationTest, DamagedIndexIsRebuiltFromTheRecords) {
  for (const bool by_flag : {true, false}) {
    SCOPED_TRACE(by_flag ? "flag" : "marker");
    ScratchDir home;
    ApplicationOptions options = Options();
    options.home = home.path();
    Run(options, [&](Application& app) { AddDocument(app, "/home/u/report.txt"); });
    const std::string folder = JoinPath(home.File("Data"), kDocumentTable);
    if (by_flag) {
      Settings().SetValue(kSearchSection, key::kIndexError, "TRUE");
      ASSERT_TRUE(Settings().Save());
    } else {
      std::ofstream(JoinPath(folder, "IndexWrite.Busy")) << "";
    }
    ui_.Clear();
    Run(options, [&](Application& app) {
      EXPECT_TRUE(ui_.Saw("notice:紧急通告"));
      std::unique_ptr<Recordset> rows;
      ASSERT_EQ(app.operations().search()->Search("[文档]:文本内容=报告", &rows), 0);
      EXPECT_EQ(rows->count(), 1u);
    });
    EXPECT_EQ(Setting(key::kIndexError), by_flag ? "FALSE" : "");
    ui_.Clear();
    Run(options, [&](Application&) { EXPECT_FALSE(ui_.Saw("notice:紧急通告")); });
  }
}

TEST_F(ApplicationTest, UnopenableDatabaseEndsStartupWithABox) {
  Run(Options(), [&](Application&) {});
  // A data file inside a regular file can be neither opened nor created.
  std::ofstream(home_.File("blocker")) << "x";
  Settings().SetValue(kSearchSection, key::kDataDirectory, home_.File("blocker/local.db"));
  ASSERT_TRUE(Settings().Save());
  Application app(Options(), ui_);
  EXPECT_FALSE(app.Startup());
  EXPECT_TRUE(ui_.Saw("box:数据文件无法打开，系统启动失败!"));
}

}  // namespace lun
