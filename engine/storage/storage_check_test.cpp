// The checker: clean files pass, what a crash leaves is a note, damage is
// corruption.
#include "engine/storage/storage_check.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/storage/storage_test_util.h"

namespace lun {
namespace {

void Patch(const std::string& path, size_t at, char byte) {
  std::string data = ReadTestFile(path);
  ASSERT_LT(at, data.size());
  data[at] = byte;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

void Append(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

std::string Describe(const CheckResult& r) {
  std::string out;
  for (const auto& f : r.findings)
    out += (f.corruption ? "E " : "N ") + f.where + ": " + f.what + "\n";
  return out;
}

TEST(StorageCheckTest, FindsDamageAndToleratesCrashLeftovers) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> change;
    bool clean;
  };
  // Records: 0 long text (packed), 1 short text; segment limit 2, so record 2
  // starts segment 1. Body of record 0 starts at 1024 of T.S0.
  const std::array<Case, 11> cases = {{
      {"untouched", [](const std::string&) {}, true},
      {"uncommitted tail", [](const std::string& d) { Append(d + "/T.S1", "garbage"); }, true},
      {"partial last offset entry", [](const std::string& d) { Append(d + "/T.R1", "\x01\x02"); },
       true},
      {"roll-over cut short", [](const std::string& d) { Append(d + "/T.S2", "x"); }, true},
      {"byte inside a packed text",
       [](const std::string& d) { Patch(d + "/T.S0", 1024 + 40, 'Q'); }, false},
      {"method byte", [](const std::string& d) { Patch(d + "/T.S0", 1024 + 4, 5); }, false},
      {"offsets out of order", [](const std::string& d) { Patch(d + "/T.R0", 9, 0x00); }, false},
      {"header check byte", [](const std::string& d) { Patch(d + "/T.S1", 13, 0); }, false},
      {"deletion beyond the table",
       [](const std::string& d) { Append(d + "/T.Del", std::string("\x10\0\0\0", 4)); }, false},
      {"bytes after the last field of a middle record",
       [](const std::string& d) { Patch(d + "/T.R0", 8, 0x7F); }, false},
      {"gap before a segment",
       [](const std::string& d) {
         std::filesystem::rename(d + "/T.S1", d + "/T.S5");
         std::filesystem::rename(d + "/T.R1", d + "/T.R5");
       },
       false},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchProject scratch;
    std::string dir;
    {
      auto project = scratch.Make(nullptr, 2);
      ASSERT_TRUE(project->CreateProject(scratch.project_path()).ok());
      ASSERT_TRUE(project->CreateTable("", "", "T", "").ok());
      DataTable* t = project->FindTable("T");
      ASSERT_TRUE(t->AddField("名称", "", kFieldText, kNoIndex).ok());
      ASSERT_TRUE(t->AddField("值", "", kFieldBinary, kNoIndex).ok());
      for (const std::u16string& text :
           {std::u16string(3000, u'检'), std::u16string(u"短"), std::u16string(u"三")}) {
        RecordWriter writer = t->NewRecord();
        ASSERT_TRUE(writer.valid());
        writer.SetValue("名称", Variant::Bstr(text));
        writer.SetValue("值", Variant::R8(1.5));
        ASSERT_TRUE(writer.Commit().ok());
      }
      ASSERT_TRUE(t->DeleteRecord(1));
      dir = t->data_folder();
    }
    c.change(dir);
    const CheckResult r = CheckProject(scratch.project_path());
    EXPECT_EQ(r.clean(), c.clean) << Describe(r);
    EXPECT_EQ(r.tables, 1u);
  }
}

TEST(StorageCheckTest, ProjectFileWithoutBannerIsCorrupt) {
  ScratchProject scratch;
  std::filesystem::create_directories(DirName(scratch.project_path()));
  std::ofstream(scratch.project_path()) << std::string(1804, 'x');
  EXPECT_FALSE(CheckProject(scratch.project_path()).clean());
  EXPECT_FALSE(CheckProject(scratch.project_path() + ".missing").clean());
}

}  // namespace
}  // namespace lun
