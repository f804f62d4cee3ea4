#include "tools/lundb/stress_workload.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "automation/variant.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "platform/kill_point.h"

namespace lun {
namespace {

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Words of the generated text: common characters so that the text packs
// like real Chinese prose does.
constexpr char16_t kVocabulary[] =
    u"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严";

std::u16string Uid(uint32_t i) {
  const std::string digits = "uid" + std::to_string(i);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string StressText(uint64_t seed, uint32_t i, uint32_t chars) {
  std::u16string text = Uid(i) + u" ";
  uint64_t state = SplitMix(seed ^ (uint64_t{i} << 32) ^ 0x5DEECE66Dull);
  const size_t vocabulary = sizeof(kVocabulary) / sizeof(kVocabulary[0]) - 1;
  while (text.size() < chars) {
    state = SplitMix(state);
    // Short runs of a few characters from a skewed choice, like words.
    const uint64_t pick = (state % vocabulary) * ((state >> 20) % vocabulary) / vocabulary;
    text += kVocabulary[pick];
    if ((state >> 40) % 9 == 0) text += u'，';
  }
  text.resize(chars);
  return text;
}

std::string StressHash(const std::u16string& text) {
  uint64_t h = 1469598103934665603ull;
  for (char16_t c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof(buf), "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

bool EnsureStressTable(SearchProject* project, std::string* error) {
  DataTable* table = project->FindTable(kStressTable);
  if (!table) {
    if (EngineStatus s = project->CreateTable("", "", kStressTable, "stress"); !s) {
      *error = s.message();
      return false;
    }
    table = project->FindTable(kStressTable);
    LUN_KILL_POINT("stress-schema-table-created");
  }
  struct Field {
    const char* name;
    int type;
    IndexKind index;
  };
  for (const Field& f : {Field{"uid", kFieldText, kWordIndex}, Field{"正文", kFieldDocument, kWordIndex},
                         Field{"长度", kFieldInteger, kNoIndex}, Field{"校验", kFieldText, kExactIndex}}) {
    if (table->FindField(f.name)) continue;
    if (EngineStatus s = table->AddField(f.name, "", static_cast<uint32_t>(f.type), f.index); !s) {
      *error = s.message();
      return false;
    }
    LUN_KILL_POINT("stress-schema-field-added");
  }
  return true;
}

namespace {

void Say(int fd, const char* what, uint32_t n) {
  char line[48];
  const int len = std::snprintf(line, sizeof(line), "%s %u\n", what, n);
  (void)!::write(fd, line, static_cast<size_t>(len));
}

}  // namespace

int RunStress(SearchProject* project, const StressOptions& options, int out_fd,
              std::string* error) {
  if (!EnsureStressTable(project, error)) return 1;
  DataTable* table = project->FindTable(kStressTable);
  const uint32_t start = table->record_count();
  for (uint32_t i = start; i - start < options.records; ++i) {
    uint64_t r = SplitMix(options.seed * 31 + i);
    const uint32_t chars = options.max_bytes < 2 ? 0 : static_cast<uint32_t>(r % (options.max_bytes / 2 + 1));
    const std::u16string text = StressText(options.seed, i, chars);
    RecordWriter writer = table->NewRecord();
    if (!writer.valid()) {
      *error = "table not open";
      return 1;
    }
    writer.SetValue("uid", Variant::Bstr(Uid(i)));
    writer.SetValue("正文", Variant::Bstr(text));
    writer.SetValue("长度", Variant::I4(static_cast<int32_t>(chars)));
    const std::string hash = StressHash(text);
    writer.SetValue("校验", Variant::Bstr(std::u16string(hash.begin(), hash.end())));
    if (EngineStatus s = writer.Commit(); !s) {
      *error = s.message();
      return 1;
    }
    Say(out_fd, "ACK", i);
    if (options.flush_every != 0 && (i + 1) % options.flush_every == 0) {
      if (table->FlushIndexes().ok()) Say(out_fd, "FLUSHED", i);
    }
    r = SplitMix(r);
    if (static_cast<double>(r % 1000000) < options.delete_rate * 1000000.0) {
      const uint32_t victim = static_cast<uint32_t>(SplitMix(r) % (i + 1));
      if (!table->IsDeleted(victim)) {
        Say(out_fd, "DEL", victim);
        if (table->DeleteRecord(victim)) Say(out_fd, "DELACK", victim);
      }
    }
  }
  return 0;
}

void StressLog::Take(const std::string& line) {
  const size_t space = line.find(' ');
  if (space == std::string::npos) return;
  const std::string what = line.substr(0, space);
  uint32_t n = 0;
  try {
    n = static_cast<uint32_t>(std::stoul(line.substr(space + 1)));
  } catch (...) {
    return;
  }
  if (what == "ACK") {
    acked.insert(n);
    last_ack = std::max<int64_t>(last_ack, n);
  } else if (what == "DELACK") {
    delacked.insert(n);
  } else if (what == "FLUSHED") {
    flushed.insert(n);
    last_flushed = std::max<int64_t>(last_flushed, n);
  }
}

std::vector<std::string> VerifyStress(DataTable* table, uint64_t seed, const StressLog& log,
                                      uint32_t start_count, uint32_t sample) {
  std::vector<std::string> failures;
  const uint32_t count = table->record_count();
  const uint32_t base = std::max<uint32_t>(start_count, static_cast<uint32_t>(log.last_ack + 1));
  if (count < base || count > base + 1) {
    failures.push_back("C4: " + std::to_string(count) + " records visible, expected " +
                       std::to_string(base) + " or " + std::to_string(base + 1));
  }
  const TableField* uid = table->FindField("uid");
  const TableField* body = table->FindField("正文");
  const TableField* length = table->FindField("长度");
  const TableField* hash = table->FindField("校验");
  if (!uid || !body || !length || !hash) {
    // The table and its fields are made in separate durable steps; a kill
    // between them leaves a table with part of its schema, which the next
    // run completes. That is sound while no record was ever acknowledged.
    if (count > 0 || !log.acked.empty()) failures.push_back("stress table lacks its fields");
    return failures;
  }
  std::vector<uint32_t> to_read;
  const uint32_t older = std::min(count, start_count > 0 ? start_count - 1 : 0);
  if (sample >= older) {
    for (uint32_t r = 0; r < older; ++r) to_read.push_back(r);
  } else {
    for (uint32_t i = 0; i < sample; ++i) to_read.push_back(static_cast<uint32_t>(uint64_t{older} * i / sample));
  }
  for (uint32_t r = older; r < count; ++r) to_read.push_back(r);
  std::vector<Variant> values;
  for (uint32_t r : to_read) {
    const std::string where = (log.acked.count(r) ? "C2: acked record " : "C2: record ") + std::to_string(r);
    if (!table->ReadRecord(r, &values)) {
      failures.push_back(where + " cannot be read");
      continue;
    }
    const std::u16string want_uid = Uid(r);
    const int32_t chars = static_cast<int32_t>(values[static_cast<size_t>(length->position)].AsInteger());
    const std::u16string text(values[static_cast<size_t>(body->position)].AsString());
    const std::string stored_hash = [&] {
      const std::u16string_view h = values[static_cast<size_t>(hash->position)].AsString();
      return std::string(h.begin(), h.end());
    }();
    if (values[static_cast<size_t>(uid->position)].AsString() != want_uid) {
      failures.push_back(where + " has the wrong uid");
    } else if (chars < 0 || text != StressText(seed, r, static_cast<uint32_t>(chars)) ||
               stored_hash != StressHash(text)) {
      failures.push_back(where + " text differs from its seed");
    }
  }
  for (uint32_t j : log.delacked) {
    if (j < count && !table->IsDeleted(j)) failures.push_back("C5: deletion of " + std::to_string(j) + " lost");
  }
  for (uint32_t a : log.acked) {
    if (a >= count) failures.push_back("C2: acked record " + std::to_string(a) + " missing");
  }
  return failures;
}

}  // namespace lun
