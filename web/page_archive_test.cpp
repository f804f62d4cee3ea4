#include "web/page_archive.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"

namespace lun {
namespace {

TEST(SafeEntryPathTest, Table) {
  const std::array<std::pair<std::string_view, const char*>, 16> cases = {{
      {"img/x.gif", "img/x.gif"},
      {"img\\x.gif", "img/x.gif"},
      {"img/", "img/"},
      {"./a//b", "a/b"},
      {"../x", nullptr},
      {"a/../../x", nullptr},
      {"a/..", nullptr},
      {"..\\x", nullptr},
      {"/etc/passwd", nullptr},
      {"\\abs", nullptr},
      {"C:/Windows/x", nullptr},
      {"C:x", nullptr},
      {"", nullptr},
      {"./", nullptr},
      {std::string_view("a\0b", 3), nullptr},
      {"..a/b..", "..a/b.."},  // dots inside names are names
  }};
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(std::string(name));
    const std::optional<std::string> got = SafeEntryPath(name);
    if (expected == nullptr) {
      EXPECT_FALSE(got.has_value()) << *got;
    } else {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, expected);
    }
  }
}

std::string ReadFile(const std::string& path) {
  std::string data;
  EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), path, &data), 0) << path;
  return data;
}

TEST(UnpackArchiveTest, UnpacksFilesAndRefusesEscapingEntriesOneByOne) {
  ScratchDir dir;
  const std::string big(100000, 'b');  // several 8192-byte blocks
  ASSERT_TRUE(WriteTestZip(dir.File("A.WR"), {{"index.shl", "<p>hi</p>"},
                                                {"../escape.txt", "out"},
                                                {"img/", ""},
                                                {"img/x.gif", "GIF"},
                                                {"/abs.txt", "out"},
                                                {"big.bin", big}}));
  const std::string target = dir.File("root/A");
  ASSERT_TRUE(MakeDirectories(target));
  DirectorySink sink(target);
  const UnpackReport report = UnpackArchiveFile(dir.File("A.WR"), sink);
  EXPECT_TRUE(report.completed) << report.error;
  EXPECT_EQ(report.files, 3);
  EXPECT_EQ(report.directories, 1);
  EXPECT_EQ(report.refused, (std::vector<std::string>{"../escape.txt", "/abs.txt"}));
  EXPECT_EQ(ReadFile(target + "/index.shl"), "<p>hi</p>");
  EXPECT_EQ(ReadFile(target + "/img/x.gif"), "GIF");
  EXPECT_EQ(ReadFile(target + "/big.bin"), big);
  EXPECT_FALSE(std::filesystem::exists(dir.File("root/escape.txt")));
  EXPECT_FALSE(std::filesystem::exists("/abs.txt"));
}

// Records what would be written, as the fuzz target does.
class MemorySink : public UnpackSink {
 public:
  bool MakeDirectory(const std::string& relative) override {
    directories.push_back(relative);
    return true;
  }
  bool BeginFile(const std::string& relative) override {
    current = relative;
    files[current];
    return true;
  }
  bool Write(std::string_view bytes) override {
    files[current].append(bytes);
    return true;
  }
  bool EndFile() override { return true; }
  std::vector<std::string> directories;
  std::map<std::string, std::string> files;
  std::string current;
};

TEST(UnpackArchiveTest, DamagedArchivesAreReportedNotTrusted) {
  ScratchDir dir;
  ASSERT_TRUE(WriteTestZip(dir.File("a.zip"), {{"a.txt", std::string(5000, 'a')}}));
  const std::string good = ReadFile(dir.File("a.zip"));
  {
    MemorySink sink;
    const UnpackReport report = UnpackArchiveMemory(good, sink);
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(sink.files["a.txt"], std::string(5000, 'a'));
  }
  {
    MemorySink sink;
    EXPECT_FALSE(UnpackArchiveMemory("not a zip at all", sink).opened);
  }
  {
    MemorySink sink;  // truncated: no central directory
    EXPECT_FALSE(UnpackArchiveMemory(std::string_view(good).substr(0, good.size() / 2), sink)
                     .completed);
  }
  {
    std::string flipped = good;  // damage inside the deflated data
    flipped[45] = static_cast<char>(flipped[45] ^ 0x55);
    MemorySink sink;
    const UnpackReport report = UnpackArchiveMemory(flipped, sink);
    EXPECT_FALSE(report.completed);
    EXPECT_FALSE(report.error.empty());
  }
}

TEST(UnpackArchiveTest, LimitsStopUnpacking) {
  ScratchDir dir;
  ASSERT_TRUE(WriteTestZip(dir.File("a.zip"), {{"a", std::string(10000, 'a')}, {"b", "b"}}));
  const std::string zip = ReadFile(dir.File("a.zip"));
  MemorySink sink;
  const UnpackReport bytes = UnpackArchiveMemory(zip, sink, {100, 5000});
  EXPECT_FALSE(bytes.completed);
  const UnpackReport entries = UnpackArchiveMemory(zip, sink, {1, 1 << 20});
  EXPECT_FALSE(entries.completed);
  EXPECT_EQ(entries.files, 1);
}

}  // namespace
}  // namespace lun
