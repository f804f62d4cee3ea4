#include "config/settings_store.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "config/packed_text.h"
#include "platform/fault_file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

constexpr char kS[] = "检索设置";

std::string FileBytes(const std::string& path) {
  std::string data;
  EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), path, &data), 0);
  return data;
}

void WriteBytes(const std::string& path, const std::string& data) {
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, data), 0);
}

TEST(SettingsStoreTest, LoadsEveryShapeOfFile) {
  const std::string ini = "[检索设置]\r\n发布端口=8484\r\nflag\r\nurl=a=b=c\r\n";
  const std::string canonical = "[检索设置]\r\n发布端口=8484\r\nflag=\r\nurl=a=b=c\r\n";
  std::string damaged = PackText(std::string(3000, ' ') + "\r\n" + ini + std::string(3000, ' '));
  damaged.resize(damaged.size() - 20);  // trailer and the end of the data gone

  struct Case {
    const char* name;
    std::string file;
    std::string expected_ini;  // the store's content as INI text afterwards
  };
  const Case cases[] = {
      {"16-byte file: header and flag 0", std::string("<Tamrix.Script>\0", 16), ""},
      {"plain container", std::string("<Tamrix.Script>\0", 16) + ini, canonical},
      {"compressed container", PackText(ini + std::string(500, '\n')), canonical},
      {"no header: plain INI as a whole", ini, canonical},
      {"LF line ends and a blank line", "[a]\nk=v\n\nk2=\n", "[a]\r\nk=v\r\nk2=\r\n"},
      {"lines before any section are ignored", "x=1\r\n[a]\r\ny=2\r\n", "[a]\r\ny=2\r\n"},
      {"a repeated key keeps its place, last value wins", "[a]\r\nk=1\r\nj=2\r\nk=3\r\n",
       "[a]\r\nk=3\r\nj=2\r\n"},
      {"damaged payload gives what could be read", damaged, ""},
      {"NUL bytes and invalid UTF-8 are kept as bytes",
       std::string("[a]\r\nk=\0\xFF\xFE\r\n", 12), std::string("[a]\r\nk=\0\xFF\xFE\r\n", 12)},
      {"a huge line", "[a]\r\nbig=" + std::string(2 << 20, 'h') + "\r\n",
       "[a]\r\nbig=" + std::string(2 << 20, 'h') + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteBytes(dir.File("Setting"), c.file);
    SettingsStore store;
    ASSERT_TRUE(store.Load(dir.File("Setting")));
    if (std::string(c.name).rfind("damaged", 0) == 0) {
      // Partial: nothing beyond what the intact prefix held.
      EXPECT_EQ(store.GetValue("检索设置", "url", "none").find("a=b"), std::string::npos);
    } else {
      EXPECT_EQ(store.IniText(), c.expected_ini);
    }
  }
}

TEST(SettingsStoreTest, KeyAndValueRules) {
  ScratchDir dir;
  WriteBytes(dir.File("Setting"), "[检索设置]\r\nflag\r\nurl=a=b=c\r\n spaced = x \r\n");
  SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("Setting")));
  EXPECT_EQ(store.GetValue(kS, "flag", "default"), "");  // present, empty
  EXPECT_EQ(store.GetValue(kS, "url"), "a=b=c");
  EXPECT_EQ(store.GetValue(kS, " spaced "), " x ");  // nothing is trimmed
  EXPECT_EQ(store.GetValue(kS, "spaced", "none"), "none");
  EXPECT_EQ(store.GetValue("other", "url", "none"), "none");
  // The UTF-16 form takes the default for an empty value too.
  EXPECT_EQ(store.GetValueW(kS, "flag", u"默认"), u"默认");
  EXPECT_EQ(store.GetValueW(kS, "url", u"默认"), u"a=b=c");
  // A caller's buffer of N bytes holds N - 1 and never half a character.
  store.SetValue(kS, "path", "数据目录");
  EXPECT_EQ(store.GetValue(kS, "path", "", 8), "数据");
  EXPECT_EQ(store.GetValue(kS, "path", "", 6), "数");
}

TEST(SettingsStoreTest, MissingFileGivesEmptyStoreAndEmptyFile) {
  ScratchDir dir;
  SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("Setting")));
  EXPECT_EQ(store.IniText(), "");
  EXPECT_EQ(FileBytes(dir.File("Setting")), "");
  EXPECT_EQ(store.GetValue(kS, key::kPublishPort, "8484"), "8484");
  EXPECT_FALSE(store.Load(dir.File("no/such/dir/Setting")));
}

TEST(SettingsStoreTest, SavedFilesReadBackByteForByte) {
  for (int keys : {1, 200}) {  // a small store stays plain, a large one is compressed
    SCOPED_TRACE(keys);
    ScratchDir dir;
    SettingsStore store;
    ASSERT_TRUE(store.Load(dir.File("Setting")));
    for (int i = 0; i < keys; ++i) store.SetValue(kS, "键" + std::to_string(i), "值 " + std::to_string(i * 7));
    store.SetValue("文档", "任意字段", "文件名称|文本内容");
    ASSERT_TRUE(store.Save());
    const std::string first = FileBytes(dir.File("Setting"));
    EXPECT_EQ(first[15], keys > 1 ? 1 : 0);

    SettingsStore again;
    ASSERT_TRUE(again.Load(dir.File("Setting")));
    EXPECT_EQ(again.IniText(), store.IniText());
    ASSERT_TRUE(again.Save(dir.File("Copy")));
    EXPECT_EQ(FileBytes(dir.File("Copy")), first);
  }
}

TEST(SettingsStoreTest, ValuesCannotInjectLinesOrKeys) {
  ScratchDir dir;
  SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("Setting")));
  store.SetValue(kS, "名字", "x\r\n登陆口令=stolen");
  store.SetValue(kS, "k=ey", "v");
  store.SetValue("sec]tion", "[key", "v");
  ASSERT_TRUE(store.Save());
  SettingsStore again;
  ASSERT_TRUE(again.Load(dir.File("Setting")));
  EXPECT_EQ(again.GetValue(kS, "登陆口令", "unset"), "unset");
  EXPECT_EQ(again.GetValue(kS, "名字"), "x  登陆口令=stolen");
  EXPECT_EQ(again.GetValue(kS, "k ey"), "v");
  EXPECT_EQ(again.GetValue("sec tion", " key"), "v");
  EXPECT_EQ(again.IniText(), store.IniText());
}

// Whatever operation of a save fails, the file holds the old settings or the
// new ones, whole.
TEST(SettingsStoreTest, FailedSaveNeverLosesTheFile) {
  ScratchDir dir;
  const std::string path = dir.File("Setting");
  SettingsStore old_store;
  ASSERT_TRUE(old_store.Load(path));
  old_store.SetValue(kS, "版本", "old");
  ASSERT_TRUE(old_store.Save());
  const std::string old_bytes = FileBytes(path);

  FaultFileSystem counter;
  SettingsStore new_store(counter);
  ASSERT_TRUE(new_store.Load(path));
  new_store.SetValue(kS, "版本", "new");
  const uint64_t before = counter.operations();
  ASSERT_TRUE(new_store.Save());
  const std::string new_bytes = FileBytes(path);
  const uint64_t save_ops = counter.operations() - before;

  for (int error : {ENOSPC, EIO}) {
    for (uint64_t n = 1; n <= save_ops; ++n) {
      SCOPED_TRACE(testing::Message() << "errno " << error << " at operation " << n);
      WriteBytes(path, old_bytes);
      FaultFileSystem fs;
      SettingsStore store(fs);
      ASSERT_TRUE(store.Load(path));
      store.SetValue(kS, "版本", "new");
      fs.FailAt(fs.operations() + n, error, /*persistent=*/true);
      const bool saved = store.Save();
      const std::string now = FileBytes(path);
      EXPECT_TRUE(now == old_bytes || now == new_bytes);
      if (saved) {
        EXPECT_EQ(now, new_bytes);
      }
      if (!saved && n == 1) {
        EXPECT_EQ(now, old_bytes);
      }
    }
  }
}

TEST(SettingsStoreTest, ApplySettingRunsItsHookThenStoresAndSaves) {
  ScratchDir dir;
  SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("Setting")));
  std::string seen_value, stored_when_hook_ran = "unset";
  store.SetApplyHook(key::kRealtimeMonitor, [&](const std::string& value) {
    seen_value = value;
    stored_when_hook_ran = store.GetValue(kS, key::kRealtimeMonitor, "unset");
  });
  ASSERT_TRUE(store.ApplySetting(key::kRealtimeMonitor, "FALSE"));
  EXPECT_EQ(seen_value, "FALSE");
  EXPECT_EQ(stored_when_hook_ran, "unset");  // side effects come before the value is stored
  ASSERT_TRUE(store.ApplySetting("每页记录数", "20"));  // no hook: stored and saved

  SettingsStore again;
  ASSERT_TRUE(again.Load(dir.File("Setting")));
  EXPECT_EQ(again.GetValue(kS, key::kRealtimeMonitor), "FALSE");
  EXPECT_EQ(again.GetValue(kS, "每页记录数"), "20");
}

TEST(SettingsStoreTest, IndexDamageFlag) {
  ScratchDir dir;
  SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("Setting")));
  EXPECT_FALSE(store.IndexDamaged());
  store.SetValue(kS, key::kIndexError, "true");
  EXPECT_FALSE(store.IndexDamaged()) << "only the exact word TRUE counts";
  store.SetValue(kS, key::kIndexError, "TRUE");
  EXPECT_TRUE(store.IndexDamaged());
  store.ClearIndexDamaged();
  SettingsStore again;
  ASSERT_TRUE(again.Load(dir.File("Setting")));
  EXPECT_EQ(again.GetValue(kS, key::kIndexError), "FALSE");
}

TEST(SettingsStoreTest, FlagTests) {
  EXPECT_TRUE(FlagOnAtStartup("false"));  // start-up: anything but exactly FALSE is on
  EXPECT_FALSE(FlagOnAtStartup("FALSE"));
  EXPECT_FALSE(FlagIsTrue("true"));  // the setter: only exactly TRUE is on
  EXPECT_TRUE(FlagIsTrue("TRUE"));
}

}  // namespace
}  // namespace lun
