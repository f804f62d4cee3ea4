// The deterministic workload of `lundb stress` and its verifier, shared with
// the kill test (tests/storage_crash).
//
// Document i of seed S is a function of (S, i) and of the text length the
// writer chose; it carries the unique term "uid<i>", its own length and a
// hash of its text, so a reader can verify a record without knowing the
// options of the run that wrote it.
//
// Protocol printed by the writer, one line each, written unbuffered so that
// a driver that kills the writer still has every line:
//   ACK i       the commit of document i returned success
//   FLUSHED i   FlushIndexes returned success after document i (records up
//               to i survive power loss)
//   DEL j       about to delete record j
//   DELACK j    the deletion of record j returned success
#ifndef LUN_TOOLS_LUNDB_STRESS_WORKLOAD_H_
#define LUN_TOOLS_LUNDB_STRESS_WORKLOAD_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace lun {

class DataTable;
class SearchProject;

inline constexpr char kStressTable[] = "压力";

struct StressOptions {
  uint64_t seed = 1;
  uint32_t records = 100000;     // documents to append before stopping
  uint32_t max_bytes = 4096;     // largest text, in UTF-16 bytes
  uint32_t flush_every = 0;      // FlushIndexes every N documents (0: never)
  double delete_rate = 0;        // chance of one deletion after each document
};

// The text of document `i` with `chars` code units.
std::u16string StressText(uint64_t seed, uint32_t i, uint32_t chars);
// The hash stored with a text (FNV-1a over its code units), as hex.
std::string StressHash(const std::u16string& text);

// Creates the stress table with its fields when the project lacks it, and
// adds the fields it lacks (a run killed between creating the table and
// adding its fields left them out). False (with a message in `*error`) when
// it cannot.
bool EnsureStressTable(SearchProject* project, std::string* error);

// Runs the workload on the project's stress table, printing the protocol to
// `out_fd`. Returns 0, or 1 after an engine failure (message in `*error`).
int RunStress(SearchProject* project, const StressOptions& options, int out_fd,
              std::string* error);

// What a writer printed.
struct StressLog {
  std::set<uint32_t> acked;
  std::set<uint32_t> delacked;
  std::set<uint32_t> flushed;  // the records each FLUSHED line covered
  int64_t last_ack = -1;
  int64_t last_flushed = -1;
  // Adds one line of the protocol; unknown lines are ignored.
  void Take(const std::string& line);
};

// Checks the table against what was acknowledged, after a writer that
// started with `start_count` records was killed: every visible record reads
// back as the document of its number (so every acknowledged one does, and
// none reads garbage); the visible records are 0..k-1 with
// base <= k <= base + 1, where base = max(start_count, last ACK + 1) (at
// most the one record committed but not yet acknowledged when the writer
// died); every acknowledged deletion is in effect. A table whose schema
// was cut short by the kill is sound while it holds no record and none was
// acknowledged. One line per failure.
// Records from start_count - 1 on are read; of the older ones, `sample`
// spread evenly (all of them when there are fewer).
std::vector<std::string> VerifyStress(DataTable* table, uint64_t seed, const StressLog& log,
                                      uint32_t start_count, uint32_t sample = UINT32_MAX);

}  // namespace lun

#endif  // LUN_TOOLS_LUNDB_STRESS_WORKLOAD_H_
