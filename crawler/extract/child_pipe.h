// A reader of untrusted files run in a forked child that hands its results
// to the parent over a pipe, and the parent's end of that pipe.
//
// The readers of container files (compiled help, archives) run libraries
// that check little of what they read; in a child, a hostile file can crash
// or hang only the child. The parent reads with a silence limit and a stop
// flag and kills the child when it is done with it, in every case.
#ifndef LUN_CRAWLER_EXTRACT_CHILD_PIPE_H_
#define LUN_CRAWLER_EXTRACT_CHILD_PIPE_H_

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lun {

class ChildPipe {
 public:
  // Forks a child that runs `body` with the writing end of the pipe and
  // then exits (_exit, no destructors). Null when the pipe or the fork
  // cannot be made.
  static std::unique_ptr<ChildPipe> Start(const std::function<void(int fd)>& body);

  // Runs the program `argv[0]` (a path) with `argv` in the child, its
  // standard output on the pipe: a fresh process, for readers that must
  // not run in a forked copy of a multi-threaded parent. Null when the
  // pipe or the fork cannot be made; a failed exec reads as an empty pipe.
  static std::unique_ptr<ChildPipe> Exec(const std::vector<std::string>& argv);

  // Kills the child (SIGKILL: done, stopped or stuck, it goes) and reaps it.
  ~ChildPipe();
  ChildPipe(const ChildPipe&) = delete;
  ChildPipe& operator=(const ChildPipe&) = delete;

  // Reads exactly `n` bytes from the child. False at the end of the data, on
  // an error, after `silence_ms` without a byte, or once `stop` (may be
  // null) is raised.
  bool ReadExactly(void* buf, size_t n, const std::atomic<bool>* stop, int silence_ms);

  // Appends everything the child writes to `*out` until it closes the pipe.
  // False (the data so far kept) when `timeout_ms` pass first or the data
  // exceed `max_bytes`.
  bool ReadToEnd(std::string* out, size_t max_bytes, int timeout_ms);

  // Waits for the child to end and returns its exit status, or -1 when a
  // signal ended it. Call after the child closed the pipe (ReadToEnd true).
  int Wait();

 private:
  ChildPipe(pid_t pid, int fd) : pid_(pid), fd_(fd) {}

  pid_t pid_;
  int fd_;
  bool reaped_ = false;
};

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_CHILD_PIPE_H_
