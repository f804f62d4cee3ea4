// lundb: a command-line tool over the search engine alone.
//
//   lundb [--home DIR] [--settings FILE] COMMAND ARGS...
//     create DB                          create an empty project file DB
//     table DB NAME FIELD:TYPE[:INDEX]... create table NAME (if missing) and add fields;
//                                        TYPE is 1-8, a type name (文本 ...) or text,
//                                        integer, single, double, logical, date,
//                                        binary, document; INDEX is -1/none, 0/word,
//                                        7/exact (default none)
//     load DB TABLE DIR                  one record per regular file under DIR
//     dump DB TABLE [FROM [COUNT]]       print records
//     stat DB                            tables, fields, counts, segment sizes
//     check DB                           verify the stored files and the indexes
//                                        (exit 0 clean, 1 corruption, 2 usage)
//     query DB 'QUERY' [--page N] [--size N] [--fields F,F...] [--snippet FIELD]
//           [--json]                     run a query and print a page of rows
//     query DB --stdin [--json] [...]    one query per input line, one result line each
//                                        (JSON: count, elapsed = evaluation, wall = the
//                                        whole search call, in seconds)
//     crawl DB ROOT [--port N]           the application's crawl of folder ROOT into DB
//                                        (created when missing) with the crawl service
//                                        luncrawl beside lundb (port N, default 8485);
//                                        --settings gives the type lists and forbidden
//                                        paths (default types: all the service reads).
//                                        Run by the program lundb-crawl beside lundb,
//                                        which links the crawler and the extraction
//                                        libraries that the engine commands do without
//     stress DB --seed S [--records N] [--max-bytes B] [--flush-every N]
//                [--delete-rate P] [--segment-records L]
//                                        the deterministic workload of the kill test
//
// Engine failures are printed with the engine's message and give exit code 1;
// usage errors give 2. The engine error log goes to the application home:
// --home, else the folder of DB.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "engine/storage/storage_check.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/value_codec.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/lundb/lundb_cli.h"
#include "tools/lundb/lundb_project.h"
#include "tools/lundb/stress_workload.h"

namespace lun {

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "lundb: %s\n", why);
  std::fprintf(
      stderr,
      "usage: lundb [--home DIR] [--settings FILE] COMMAND ARGS...\n"
      "  create DB\n"
      "  table DB NAME FIELD:TYPE[:INDEX]...\n"
      "  load DB TABLE DIR\n"
      "  dump DB TABLE [FROM [COUNT]]\n"
      "  stat DB\n"
      "  check DB\n"
      "  query DB 'QUERY' [--page N] [--size N] [--fields F,F...] [--snippet FIELD] [--json]\n"
      "  query DB --stdin [--json] [--fields F,F...] [--snippet FIELD]\n"
      "  crawl DB ROOT [--port N]\n"
      "  stress DB --seed S [--records N] [--max-bytes B] [--flush-every N]\n"
      "         [--delete-rate P] [--segment-records L]\n");
  return kUsage;
}

namespace {

int ParseType(const std::string& text) {
  static const char* kEnglish[] = {"unknown", "text", "integer", "single",  "double",
                                   "logical", "date", "binary",  "document"};
  uint64_t n = 0;
  if (ParseUnsigned(text, &n)) return n <= 8 ? static_cast<int>(n) : -1;
  for (int i = 0; i <= 8; ++i) {
    if (text == kEnglish[i]) return i;
  }
  return FieldTypeFromName(text);
}

bool ParseIndexKind(const std::string& text, IndexKind* kind) {
  if (text.empty() || text == "-1" || text == "none")
    *kind = kNoIndex;
  else if (text == "0" || text == "word")
    *kind = kWordIndex;
  else if (text == "7" || text == "exact")
    *kind = kExactIndex;
  else
    return false;
  return true;
}

int CmdCreate(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("create takes DB");
  SettingsStore settings;
  auto project = MakeLundbProject(&settings, AbsolutePath(args[0]));
  if (EngineStatus st = project->CreateProject(AbsolutePath(args[0])); !st)
    return Fail(st.message());
  std::printf("created %s\n", args[0].c_str());
  return 0;
}

int CmdTable(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.size() < 2) return Usage("table takes DB NAME FIELD:TYPE[:INDEX]...");
  struct FieldSpec {
    std::string name;
    int type;
    IndexKind kind;
  };
  std::vector<FieldSpec> fields;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    const size_t c1 = a.find(':');
    if (c1 == std::string::npos) return Usage(("field without type: " + a).c_str());
    const size_t c2 = a.find(':', c1 + 1);
    FieldSpec field{
        a.substr(0, c1),
        ParseType(a.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1)),
        kNoIndex};
    if (field.type < 0) return Usage(("unknown field type in " + a).c_str());
    if (c2 != std::string::npos && !ParseIndexKind(a.substr(c2 + 1), &field.kind)) {
      return Usage(("unknown index kind in " + a).c_str());
    }
    fields.push_back(field);
  }
  Session s;
  if (const int rc = OpenSession(args[0], settings_file, &s)) return rc;
  DataTable* table = s.project->FindTable(args[1]);
  if (!table) {
    if (EngineStatus st = s.project->CreateTable("", "", args[1], ""); !st)
      return Fail(st.message());
    table = s.project->FindTable(args[1]);
  }
  for (const FieldSpec& field : fields) {
    if (EngineStatus st =
            table->AddField(field.name, "", static_cast<uint32_t>(field.type), field.kind);
        !st) {
      return Fail(st.message());
    }
  }
  std::printf("table %s: %d fields\n", table->name().c_str(), table->field_count());
  return 0;
}

// OLE automation date of a time, in local time.
double OleDate(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<double>(t + tm.tm_gmtoff) / 86400.0 + 25569.0;
}

// One file of a load, made into a prepared record by the reading thread.
struct LoadItem {
  RecordWriter writer;
  EngineStatus prepared = EngineStatus::Ok();
  std::string path;
  uint64_t bytes = 0;
};

// The hand-over between the reading thread and the committing one: at most
// `limit` prepared records wait, so memory stays bounded however fast the
// files are read.
class LoadQueue {
 public:
  explicit LoadQueue(size_t limit) : limit_(limit) {}
  // False when the consumer stopped (the item is dropped).
  bool Push(LoadItem item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return items_.size() < limit_ || stopped_; });
    if (stopped_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }
  // False once the producer finished and nothing is left.
  bool Pop(LoadItem* item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !items_.empty() || finished_; });
    if (items_.empty()) return false;
    *item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return true;
  }
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  const size_t limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<LoadItem> items_;
  bool finished_ = false;
  bool stopped_ = false;
};

// Files are read, converted and encoded (the text deflated) on a second
// thread while this one commits the records before them in walk order: the
// record writer prepares outside the table's lock, so the two halves of a
// load share the cores and the records come out as a one-thread load
// writes them.
int CmdLoad(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.size() != 3) return Usage("load takes DB TABLE DIR");
  Session s;
  if (const int rc = OpenSession(args[0], settings_file, &s)) return rc;
  DataTable* table = s.project->FindTable(args[1]);
  if (!table) return Fail(std::string(EngineErrorText(kNoSuchTable)) + ": " + args[1]);
  const bool has_name = table->FindField("文件名称"), has_full = table->FindField("完整路径"),
             has_dir = table->FindField("路径"), has_text = table->FindField("文本内容"),
             has_size = table->FindField("文件大小"), has_time = table->FindField("修改时间");
  // Text beyond this many bytes of a file is not loaded: the record format
  // holds any size, but a single huge file would dominate the run.
  constexpr uint64_t kMaxTextBytes = uint64_t{64} << 20;
  const bool tty = ::isatty(2);
  const auto start = std::chrono::steady_clock::now();
  auto last_report = start;
  uint64_t records = 0, bytes = 0, skipped = 0;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(
      args[2], std::filesystem::directory_options::skip_permission_denied, ec);
  if (ec) return Fail("cannot read " + args[2] + ": " + ec.message());
  LoadQueue queue(16);
  std::thread reader([&] {
    for (; it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::error_code type_ec;
      if (!it->is_regular_file(type_ec) || it->is_symlink(type_ec)) continue;
      LoadItem item{table->NewRecord(), EngineStatus::Ok(), AbsolutePath(it->path().string()), 0};
      const std::string& path = item.path;
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) {
        ++skipped;
        continue;
      }
      std::string content;
      if (has_text && ReadWholeFile(DefaultFileSystem(), path, &content, kMaxTextBytes) != 0) {
        content.clear();
        int fd = -1;
        if (DefaultFileSystem().Open(path, O_RDONLY, 0, &fd) == 0) {
          content.resize(kMaxTextBytes);
          size_t got = 0;
          (void)ReadFully(DefaultFileSystem(), fd, content.data(), content.size(), 0, &got);
          content.resize(got);
          (void)DefaultFileSystem().Close(fd);
        }
      }
      RecordWriter& writer = item.writer;
      if (has_name) writer.SetValue("文件名称", Variant::Bstr(ToWide(BaseName(path))));
      if (has_full) writer.SetValue("完整路径", Variant::Bstr(ToWide(path)));
      if (has_dir) writer.SetValue("路径", Variant::Bstr(ToWide(DirName(path))));
      if (has_text) writer.SetValue("文本内容", Variant::Bstr(ToWide(content)));
      if (has_size) {
        writer.SetValue("文件大小", st.st_size <= INT32_MAX
                                        ? Variant::I4(static_cast<int32_t>(st.st_size))
                                        : Variant::R8(static_cast<double>(st.st_size)));
      }
      if (has_time) writer.SetValue("修改时间", Variant::Date(OleDate(st.st_mtime)));
      item.prepared = writer.Prepare();
      item.bytes = content.size();
      if (!queue.Push(std::move(item))) break;
    }
    queue.Finish();
  });
  std::string failure;
  LoadItem item;
  while (queue.Pop(&item)) {
    EngineStatus status = std::move(item.prepared);
    if (status) status = item.writer.Commit();
    if (!status) {
      failure = status.message() + " (" + item.path + ")";
      queue.Stop();
      break;
    }
    ++records;
    bytes += item.bytes;
    const auto now = std::chrono::steady_clock::now();
    if (tty && now - last_report > std::chrono::milliseconds(250)) {
      std::fprintf(stderr, "\r%llu files, %.1f MB", static_cast<unsigned long long>(records),
                   static_cast<double>(bytes) / 1e6);
      last_report = now;
    }
  }
  reader.join();
  if (!failure.empty()) return Fail(failure);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (tty) std::fprintf(stderr, "\r%*s\r", 40, "");
  std::printf("%llu records, %.1f MB of text in %.2f s: %.0f records/s, %.2f MB/s",
              static_cast<unsigned long long>(records), static_cast<double>(bytes) / 1e6, seconds,
              seconds > 0 ? static_cast<double>(records) / seconds : 0.0,
              seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
  if (skipped) std::printf(" (%llu files skipped)", static_cast<unsigned long long>(skipped));
  std::printf("\n");
  return 0;
}

std::string Printable(const Variant& v) {
  if (v.is_empty()) return "(empty)";
  std::u16string text;
  if (ToText(v, &text) != S_OK) return "(?)";
  return ToNarrow(text);
}

int CmdDump(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.size() < 2 || args.size() > 4) return Usage("dump takes DB TABLE [FROM [COUNT]]");
  uint64_t from = 0, count = UINT32_MAX;
  if (args.size() > 2 && !ParseUnsigned(args[2], &from)) return Usage("FROM is a record number");
  if (args.size() > 3 && !ParseUnsigned(args[3], &count)) return Usage("COUNT is a number");
  Session s;
  if (const int rc = OpenSession(args[0], settings_file, &s)) return rc;
  DataTable* table = s.project->FindTable(args[1]);
  if (!table) return Fail(std::string(EngineErrorText(kNoSuchTable)) + ": " + args[1]);
  std::vector<Variant> values;
  for (uint64_t r = from; r < table->record_count() && r - from < count; ++r) {
    const bool whole = table->ReadRecord(static_cast<uint32_t>(r), &values);
    std::printf("#%llu%s%s\n", static_cast<unsigned long long>(r),
                table->IsDeleted(static_cast<uint32_t>(r)) ? " (deleted)" : "",
                whole ? "" : " (damaged)");
    for (int f = 0; f < table->field_count(); ++f) {
      std::printf("  %s: %s\n", table->FieldAt(f)->name.c_str(),
                  Printable(values[static_cast<size_t>(f)]).c_str());
    }
  }
  return 0;
}

int CmdStat(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.size() != 1) return Usage("stat takes DB");
  Session s;
  if (const int rc = OpenSession(args[0], settings_file, &s)) return rc;
  std::printf("project %s: %d tables\n", s.project->project_path().c_str(),
              s.project->table_count());
  for (int i = 0; i < s.project->table_count(); ++i) {
    DataTable* t = s.project->TableAt(i);
    std::printf("table %d %s%s: %u records, %u live, %zu deleted\n", i, t->name().c_str(),
                t->is_open() ? "" : " (not open)", t->record_count(), t->live_count(),
                t->DeletedRecords().size());
    for (int f = 0; f < t->field_count(); ++f) {
      const TableField* field = t->FieldAt(f);
      std::printf("  field %d %s: %s, index %d, definition %d\n", f, field->name.c_str(),
                  FieldTypeName(field->type), field->index_kind, field->definition_number);
    }
    const auto segments = t->Segments();
    for (size_t k = 0; k < segments.size(); ++k) {
      std::printf("  segment %zu: %u records, %llu bytes\n", k, segments[k].records,
                  static_cast<unsigned long long>(segments[k].data_bytes));
    }
  }
  return 0;
}

// The index files of every table, read without changing them: the project
// is opened without indexes (opening with them would rebuild damaged or
// lagging ones, which is what opening is for) and the index files are read
// as they are. Only when the stored files are clean.
std::vector<std::string> CheckIndexes(const std::string& db) {
  std::vector<std::string> problems, notes;
  SettingsStore settings;
  auto project = MakeLundbProject(&settings, db, 1'000'000, FieldIndexFactory());
  if (!project->OpenProject()) return problems;
  for (int i = 0; i < project->table_count(); ++i) {
    const DataTable* t = project->TableAt(i);
    if (t && t->is_open()) CheckTableIndexes(*t, &problems, &notes);
  }
  for (const std::string& n : notes) std::printf("note index: %s\n", n.c_str());
  return problems;
}

int CmdCheck(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("check takes DB");
  const CheckResult r = CheckProject(AbsolutePath(args[0]));
  for (const CheckFinding& f : r.findings) {
    std::printf("%s %s: %s\n", f.corruption ? "CORRUPT" : "note", f.where.c_str(), f.what.c_str());
  }
  std::vector<std::string> index_problems;
  if (r.clean()) index_problems = CheckIndexes(AbsolutePath(args[0]));
  for (const std::string& p : index_problems) std::printf("CORRUPT index: %s\n", p.c_str());
  const bool clean = r.clean() && index_problems.empty();
  std::printf("%u tables, %llu records, %llu deleted: %s\n", r.tables,
              static_cast<unsigned long long>(r.records),
              static_cast<unsigned long long>(r.deleted), clean ? "clean" : "corruption found");
  return clean ? 0 : 1;
}

int CmdStress(const std::vector<std::string>& args, const std::string& settings_file) {
  if (args.empty()) return Usage("stress takes DB --seed S ...");
  StressOptions options;
  uint64_t segment_limit = 1'000'000;
  bool have_seed = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i + 1 >= args.size()) return Usage(("missing value for " + args[i]).c_str());
    const std::string& flag = args[i];
    const std::string& value = args[++i];
    uint64_t n = 0;
    if (flag == "--delete-rate") {
      try {
        options.delete_rate = std::stod(value);
      } catch (...) {
        return Usage("--delete-rate takes a fraction");
      }
      continue;
    }
    if (!ParseUnsigned(value, &n)) return Usage((flag + " takes a number").c_str());
    if (flag == "--seed") {
      options.seed = n;
      have_seed = true;
    } else if (flag == "--records") {
      options.records = static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
    } else if (flag == "--max-bytes") {
      options.max_bytes = static_cast<uint32_t>(std::min<uint64_t>(n, 64u << 20));
    } else if (flag == "--flush-every") {
      options.flush_every = static_cast<uint32_t>(n);
    } else if (flag == "--segment-records") {
      segment_limit = std::max<uint64_t>(1, std::min<uint64_t>(n, UINT32_MAX));
    } else {
      return Usage(("unknown option " + flag).c_str());
    }
  }
  if (!have_seed) return Usage("stress needs --seed");
  Session s;
  if (!settings_file.empty()) (void)s.settings.Load(settings_file);
  const std::string db = AbsolutePath(args[0]);
  s.project = MakeLundbProject(&s.settings, db, static_cast<uint32_t>(segment_limit));
  EngineStatus st = PathExists(db) ? s.project->OpenProject() : s.project->CreateProject(db);
  if (!st) return Fail(st.message());
  std::string error;
  if (RunStress(s.project.get(), options, 1, &error) != 0) return Fail(error);
  return 0;
}

}  // namespace
}  // namespace lun

int main(int argc, char** argv) {
  using namespace lun;
  std::vector<std::string> args(argv + 1, argv + argc);
  // The crawl is a program of its own: lundb itself loads only the engine.
  if (!args.empty() && CommandOf(args) == "crawl") return RunCrawlProgram(args);
  std::string home, settings_file;
  if (const int failed = TakeGlobalOptions(&args, &home, &settings_file)) return failed;
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "create") return CmdCreate(args);
  if (command == "table") return CmdTable(args, settings_file);
  if (command == "load") return CmdLoad(args, settings_file);
  if (command == "dump") return CmdDump(args, settings_file);
  if (command == "stat") return CmdStat(args, settings_file);
  if (command == "check") return CmdCheck(args);
  if (command == "stress") return CmdStress(args, settings_file);
  if (command == "query") return CmdQuery(args, settings_file);
  return Usage(("unknown command " + command).c_str());
}
