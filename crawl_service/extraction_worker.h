// Runs one extraction in a child process, so that a reader or plug-in that
// crashes, hangs, spins or eats memory costs that file's text and nothing
// else.
//
// The worker is forked from the (single-threaded) service, leads its own
// process group (a converter program it starts dies with it), runs under
// an address-space and a CPU-time limit, and is killed with its group at
// the deadline. It is always reaped.
#ifndef LUN_CRAWL_SERVICE_EXTRACTION_WORKER_H_
#define LUN_CRAWL_SERVICE_EXTRACTION_WORKER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lun {

class PluginRegistry;

struct WorkerLimits {
  int deadline_ms = 60000;
  uint64_t memory_bytes = 1024ull * 1024 * 1024;  // RLIMIT_AS; 0: none
  size_t text_limit = 0;                          // UTF-16 units
};

enum class WorkerOutcome {
  kText,      // `text` holds the document's text (may be empty)
  kNoText,    // the reader found no text (unsupported, damaged, unreadable)
  kCrashed,   // the worker died (signal, memory limit, CPU limit)
  kTimedOut,  // killed at the deadline
  kFailed,    // the worker could not be started
};

struct WorkerResult {
  WorkerOutcome outcome = WorkerOutcome::kFailed;
  std::u16string text;
};

// Extracts the text of `path` in a worker. `close_in_child` are descriptors
// the worker must not keep open (the listening socket, the client
// connection). Call only from a single-threaded process.
WorkerResult ExtractInWorker(const std::string& path, const WorkerLimits& limits,
                             const PluginRegistry* plugins,
                             const std::vector<int>& close_in_child);

// True when the build runs under AddressSanitizer, whose shadow memory
// cannot live under an address-space limit; memory limits are then skipped.
bool MemoryLimitsUnsupported();

}  // namespace lun

#endif  // LUN_CRAWL_SERVICE_EXTRACTION_WORKER_H_
