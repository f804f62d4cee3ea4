// The kill test of record storage: runs `lundb stress` on a project, kills
// it (SIGKILL at a random moment, or a kill point inside the engine), then
// checks the files with `lundb check`, reopens the project the way the
// application does and verifies that what was acknowledged survived.
//
//   crash_driver --lundb PATH --seed S --cycles K [--dir DIR] [--keep]
//
// Each cycle picks its options from (S, cycle): flush interval, text size,
// delete rate, segment size, and one of two ways to die:
//   black-box  SIGKILL after 50-400 ms;
//   white-box  LUN_KILL_ONLY names one kill point (in turn) and
//              LUN_KILL_ODDS makes it fire after a few passes.
// Consecutive cycles append to the same project, so recovery from a recovery
// is exercised too; every 40 cycles a fresh project is started, which keeps
// each cycle's check and verification short. The first cycle of each fresh
// project is killed while it makes the table's schema (between the table
// and its fields, or between two fields), so the next cycle must finish it.
//
// Checks per cycle: C1 the project opens and `lundb check` exits 0; C2 every
// acknowledged record (all of this cycle, a sample of earlier ones) reads
// back as generated; C4 the visible records are a prefix with at most one
// record past the last acknowledgement; C5 no acknowledged deletion is
// undone. (C3, search, needs the indexes, which lundb does not build yet.)
// Prints a histogram of the kill points that fired; every point the workload
// can reach must fire at least 5 times in a run of 200 cycles or more.
// Exit 0 when every check passed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/storage/search_project.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "tools/lundb/lundb_project.h"
#include "tools/lundb/stress_workload.h"

namespace lun {
namespace {

// The kill points a stress run passes through (no indexes, no table drops).
const std::vector<std::string> kReachablePoints = {
    "record-body-written", "record-offset-written", "segment-roll-data-created",
    "segment-roll-offsets-created"};
// Points between the separate durable steps of making the stress table's
// schema: the first cycle of each fresh project aims at one of them in turn.
const std::vector<std::string> kSchemaPoints = {"stress-schema-table-created",
                                                "stress-schema-field-added"};

struct ChildResult {
  int status = 0;
  std::string output;
};

// Runs `argv` with extra environment, stdout to a pipe; kills it after
// `kill_after` (or after a 60 s safety limit). Returns its wait status.
ChildResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                std::chrono::milliseconds kill_after) {
  ChildResult result;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], 1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + kill_after;
  bool killed = false;
  char buf[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!killed && left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    pollfd p{pipe_fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, killed ? 1000 : static_cast<int>(std::max<long>(1, left.count())));
    if (ready <= 0) continue;
    const ssize_t n = ::read(pipe_fds[0], buf, sizeof(buf));
    if (n <= 0) break;  // EOF: the child is gone (its output is complete)
    result.output.append(buf, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  ::waitpid(pid, &result.status, 0);
  return result;
}

std::map<std::string, int> ReadKillLog(const std::string& path) {
  std::map<std::string, int> counts;
  std::string data;
  if (ReadWholeFile(DefaultFileSystem(), path, &data) != 0) return counts;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    if (end > start) ++counts[data.substr(start, end - start)];
    start = end + 1;
  }
  return counts;
}

int Main(int argc, char** argv) {
  std::string lundb, dir;
  uint64_t seed = 1;
  int cycles = 200;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keep") {
      keep = true;
    } else if (i + 1 < argc && a == "--lundb") {
      lundb = argv[++i];
    } else if (i + 1 < argc && a == "--seed") {
      seed = std::stoull(argv[++i]);
    } else if (i + 1 < argc && a == "--cycles") {
      cycles = std::stoi(argv[++i]);
    } else if (i + 1 < argc && a == "--dir") {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: crash_driver --lundb PATH --seed S --cycles K [--dir DIR] [--keep]\n");
      return 2;
    }
  }
  if (lundb.empty()) return 2;
  if (dir.empty()) dir = TemporaryName(TempDirectory());
  std::filesystem::create_directories(dir);
  const std::string kill_log = JoinPath(dir, "kill.log");
  SetApplicationHome(dir);

  std::mt19937_64 rng(seed);
  int failures = 0, white_cycles = 0;
  uint64_t total_acked = 0;
  uint64_t unacknowledged = 0;  // committed before the kill, acknowledgement not printed
  std::string db;
  StressLog log;
  uint32_t start_count = 0;
  const auto run_start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle % 40 == 0) {
      db = JoinPath(dir, "epoch" + std::to_string(cycle / 40) + "/local.db");
      log = StressLog();
      start_count = 0;
    }
    const uint32_t flush_every = std::array<uint32_t, 3>{1, 7, 2000}[rng() % 3];
    const uint32_t max_bytes =
        rng() % 20 == 0 ? (1u << 20) : std::array<uint32_t, 4>{0, 200, 2048, 65536}[rng() % 4];
    const double delete_rate = std::array<double, 3>{0, 0.05, 0.2}[rng() % 3];
    const bool schema_kill = cycle % 40 == 0;
    const bool white = cycle % 2 == 1;
    uint32_t segment_records = std::array<uint32_t, 4>{2, 3, 50, 1000}[rng() % 4];
    std::vector<std::string> env = {"ASAN_OPTIONS=detect_leaks=0"};
    std::chrono::milliseconds kill_after(50 + rng() % 351);
    if (schema_kill) {
      // A kill between creating the table and adding its fields (what a
      // SIGKILL on a loaded machine can hit): the next cycle must finish the
      // schema and the verifier accept the half-made table.
      env.push_back("LUN_KILL_ONLY=" +
                    kSchemaPoints[static_cast<size_t>(cycle / 40) % kSchemaPoints.size()]);
      env.push_back("LUN_KILL_ODDS=1");
      env.push_back("LUN_KILL_LOG=" + kill_log);
      kill_after = std::chrono::milliseconds(60000);
    } else if (white) {
      const std::string& point = kReachablePoints[static_cast<size_t>(white_cycles++) % kReachablePoints.size()];
      const bool roll = point.rfind("segment-roll", 0) == 0;
      if (roll) segment_records = 2 + static_cast<uint32_t>(rng() % 3);
      env.push_back("LUN_KILL_ONLY=" + point);
      env.push_back("LUN_KILL_ODDS=" + std::to_string(roll ? 2 + rng() % 4 : 5 + rng() % 60));
      env.push_back("LUN_KILL_LOG=" + kill_log);
      kill_after = std::chrono::milliseconds(60000);
    }
    // Large texts: fewer of them, so that the project stays small.
    const uint32_t records = max_bytes >= (1u << 20) ? 16 : 20 + static_cast<uint32_t>(rng() % 381);
    const std::vector<std::string> args = {
        lundb, "--home", dir, "stress", db, "--seed", std::to_string(seed),
        "--records", std::to_string(records), "--max-bytes", std::to_string(max_bytes),
        "--flush-every", std::to_string(flush_every), "--delete-rate", std::to_string(delete_rate),
        "--segment-records", std::to_string(segment_records)};
    const ChildResult child = Run(args, env, kill_after);
    size_t start = 0;
    const int64_t ack_before = log.last_ack;
    while (start < child.output.size()) {
      size_t end = child.output.find('\n', start);
      if (end == std::string::npos) break;  // a torn last line is not an acknowledgement
      log.Take(child.output.substr(start, end - start));
      start = end + 1;
    }
    total_acked += static_cast<uint64_t>(log.last_ack - ack_before);
    const bool exited_cleanly = WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0;
    const bool died = (WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGKILL) ||
                      (WIFEXITED(child.status) && WEXITSTATUS(child.status) == 137);
    std::vector<std::string> problems;
    if (!exited_cleanly && !died) {
      problems.push_back("stress ended with status " + std::to_string(child.status));
    }
    // C1: the stored files are sound as the crash left them. (A writer killed
    // before it wrote the project file leaves nothing to check.)
    if (std::filesystem::exists(db)) {
      const ChildResult check = Run({lundb, "--home", dir, "check", db},
                                    {"ASAN_OPTIONS=detect_leaks=0"}, std::chrono::milliseconds(120000));
      if (!WIFEXITED(check.status) || WEXITSTATUS(check.status) != 0) {
        problems.push_back("C1: lundb check failed:\n" + check.output);
      }
    }
    // Reopen as the application does (this cuts the uncommitted tail).
    if (std::filesystem::exists(db)) {
      SettingsStore settings;
      auto project = MakeLundbProject(&settings, db);
      if (EngineStatus s = project->OpenProject(); !s) {
        problems.push_back("C1: project does not open: " + s.message());
      } else if (DataTable* table = project->FindTable(kStressTable)) {
        for (const std::string& f : VerifyStress(table, seed, log, start_count, 200)) problems.push_back(f);
        const uint32_t count = table->record_count();
        const uint32_t base = std::max<uint32_t>(start_count, static_cast<uint32_t>(log.last_ack + 1));
        if (count > base) unacknowledged += count - base;
        start_count = count;
      }
    }
    if (!problems.empty()) {
      ++failures;
      std::fprintf(stderr, "cycle %d (%s, flush %u, bytes %u, delete %.2f, segment %u):\n", cycle,
                   white ? "kill point" : "SIGKILL", flush_every, max_bytes, delete_rate, segment_records);
      for (size_t i = 0; i < problems.size() && i < 20; ++i) std::fprintf(stderr, "  %s\n", problems[i].c_str());
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - run_start).count();
  const auto fired = ReadKillLog(kill_log);
  std::printf(
      "%d cycles in %.1f s, %llu records acknowledged, %llu committed without acknowledgement, "
      "%d failed cycles\nkill points fired:\n",
      cycles, seconds, static_cast<unsigned long long>(total_acked),
      static_cast<unsigned long long>(unacknowledged), failures);
  for (const auto& [point, count] : fired) std::printf("  %-32s %d\n", point.c_str(), count);
  if (cycles >= 200) {
    for (const std::string& point : kReachablePoints) {
      const auto it = fired.find(point);
      if (it == fired.end() || it->second < 5) {
        std::printf("kill point %s fired fewer than 5 times\n", point.c_str());
        ++failures;
      }
    }
    for (const std::string& point : kSchemaPoints) {
      if (!fired.count(point)) {
        std::printf("kill point %s never fired\n", point.c_str());
        ++failures;
      }
    }
  }
  if (!keep && failures == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace lun

int main(int argc, char** argv) { return lun::Main(argc, argv); }
