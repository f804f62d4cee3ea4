// Files damaged at rest: random bit flips, truncations and extensions of
// every storage file. Opening, reading every record and checking must never
// crash or hang; ASan and UBSan turn any read past a buffer into a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/storage/storage_check.h"
#include "engine/storage/storage_test_util.h"
#include "engine/storage/value_codec.h"

namespace lun {
namespace {

// Short texts of one repeated character, and one text long enough to be
// stored in the seekable form (several chunks and a seek table).
std::u16string RecordText(int i) {
  if (i != 3) return std::u16string(static_cast<size_t>(1 + i * 90), u'检');
  std::u16string text;
  for (int n = 0; text.size() < 40'000; ++n) {
    const std::string line = std::to_string(n * 7919 % 10007) + " 检索 ";
    text += std::u16string(line.begin(), line.end());
  }
  return text;
}

// Reads a text value the way a results page does: from the start piece by
// piece, then again from a chunk in the middle.
void ReadInPieces(const DataTable& t, uint32_t record, int field) {
  std::string stored;
  if (!t.ReadStoredValue(record, field, &stored)) return;
  StoredTextReader reader(stored);
  std::u16string text;
  while (reader.Next(&text)) {
  }
  (void)reader.SeekNear(reader.size() / 2);
  while (reader.Next(&text)) {
  }
}

TEST(CorruptionTest, RandomDamageNeverCrashes) {
  ScratchProject pristine;
  {
    auto p = pristine.Make(nullptr, 3);
    ASSERT_TRUE(p->CreateProject(pristine.project_path()).ok());
    ASSERT_TRUE(p->CreateTable("", "", "T", "").ok());
    DataTable* t = p->FindTable("T");
    ASSERT_TRUE(t->AddField("文本", "", kFieldText, kNoIndex).ok());
    ASSERT_TRUE(t->AddField("数", "", kFieldInteger, kNoIndex).ok());
    ASSERT_TRUE(t->AddField("二", "", kFieldBinary, kNoIndex).ok());
    ASSERT_TRUE(t->AddField("日", "", kFieldDate, kNoIndex).ok());
    for (int i = 0; i < 7; ++i) {
      RecordWriter writer = t->NewRecord();
      ASSERT_TRUE(writer.valid());
      writer.SetValue("文本", Variant::Bstr(RecordText(i)));
      writer.SetValue("数", Variant::I4(i));
      writer.SetValue("二", Variant::Bstr(u"bin"));
      writer.SetValue("日", Variant::Date(40000 + i));
      ASSERT_TRUE(writer.Commit().ok());
    }
    ASSERT_TRUE(t->DeleteRecord(2));
    ASSERT_TRUE(t->DeleteRecord(5));
  }
  const std::string source = DirName(pristine.project_path());
  const std::vector<std::string> files = {"local.db", "T/T.stu", "T/T.S0", "T/T.R0", "T/T.S1",
                                          "T/T.R1",   "T/T.S2",  "T/T.R2", "T/T.Del"};
  std::mt19937 rng(20261210);
  for (int round = 0; round < 300; ++round) {
    ScratchProject scratch;
    const std::string dir = DirName(scratch.project_path());
    std::filesystem::copy(source, dir, std::filesystem::copy_options::recursive);
    const std::string victim = dir + "/" + files[rng() % files.size()];
    std::string data = ReadTestFile(victim);
    const int mode = static_cast<int>(rng() % 3);
    if (mode == 0 && !data.empty()) {
      for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips) {
        data[rng() % data.size()] ^= static_cast<char>(1 << (rng() % 8));
      }
    } else if (mode == 1) {
      data.resize(data.empty() ? 0 : rng() % data.size());
    } else {
      for (int n = 1 + static_cast<int>(rng() % 64); n > 0; --n)
        data.push_back(static_cast<char>(rng()));
    }
    WriteTestFile(victim, data);
    SCOPED_TRACE(testing::Message() << "round " << round << ": mode " << mode << " of " << victim);
    (void)CheckProject(scratch.project_path());
    scratch.settings().SetValue("检索设置", "数据源", scratch.project_path());
    auto p = scratch.Make(nullptr, 3);
    if (!p->OpenProject().ok()) continue;  // a damaged project file
    for (int i = 0; i < p->table_count(); ++i) {
      DataTable* t = p->TableAt(i);
      std::vector<Variant> values;
      for (uint32_t r = 0; r < t->record_count() + 1; ++r) {
        (void)t->ReadRecord(r, &values);
        for (int f = 0; f < t->field_count(); ++f) {
          (void)t->GetFieldValue(r, f);
          std::pmr::string raw;
          (void)t->ReadFieldRaw(r, f, &raw);
          if (IsTextType(t->FieldAt(f)->type)) ReadInPieces(*t, r, f);
        }
      }
      EXPECT_LE(t->live_count(), t->record_count());
      // The table still takes records after whatever it found.
      if (t->is_open()) EXPECT_TRUE(t->NewRecord().Commit().ok());
    }
  }
}

}  // namespace
}  // namespace lun
