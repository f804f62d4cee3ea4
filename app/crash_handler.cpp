#include "app/crash_handler.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/error_log.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace lun {
namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = std::size(kCrashSignals);
constexpr size_t kStatusCapacity = 512;  // with the terminating NUL
constexpr size_t kLineCapacity = 2048;
constexpr size_t kAltStackSize = 64 * 1024;
// The status of a process that has no database open (the crawler's own text
// for that state).
constexpr char kNoDatabaseStatus[] = "数据连接已关闭";

// Everything the handler reads besides the atomics below, prepared by
// InstallCrashHandler and never freed (the handler may run at any moment
// until the process ends).
struct HandlerState {
  char log_path[PATH_MAX];
  char restart_program[PATH_MAX];
  char** argv;  // NULL-terminated
  char signal_text[kSignalCount][128];
  int64_t installed_ms;
  int64_t min_uptime_ms;
  unsigned deadline_s;
};

std::atomic<HandlerState*> handler_state{nullptr};
std::atomic<bool> exiting{false};
std::atomic<CrashDatabaseCloser> database_closer{nullptr};
std::atomic<long> utc_offset_s{0};
std::atomic<pid_t> handling_thread{0};
std::atomic<bool> finishing{false};
std::atomic<int> crash_signal{0};

// The status text as a sequence lock: the writer makes the sequence odd while
// it writes, the handler copies until it sees the same even sequence before
// and after. Characters are relaxed atomics so that the copy is no data race.
std::mutex status_mutex;  // serialises writers only; the handler never takes it
std::atomic<uint32_t> status_sequence{0};
std::array<std::atomic<char>, kStatusCapacity> status_text;

static_assert(std::atomic<long>::is_always_lock_free);
static_assert(std::atomic<CrashDatabaseCloser>::is_always_lock_free);
static_assert(std::atomic<HandlerState*>::is_always_lock_free);

void RefreshUtcOffset() {
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local)) utc_offset_s.store(local.tm_gmtoff, std::memory_order_relaxed);
}

// A bounded line buffer with the few conversions the crash line needs.
class LineBuilder {
 public:
  void Add(const char* text) {
    while (*text && length_ + 1 < kLineCapacity) buffer_[length_++] = *text++;
  }
  void AddDigits(uint64_t value, int width) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 && n < 20);
    while (n < width) digits[n++] = '0';
    while (n > 0) Add(digits[--n]);
  }
  void AddHex(uint64_t value) {
    char digits[17];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value & 15];
      value >>= 4;
    } while (value > 0);
    while (n > 0) Add(digits[--n]);
  }
  const char* data() const { return buffer_; }
  size_t size() const { return length_; }

 private:
  void Add(char c) {
    if (length_ + 1 < kLineCapacity) buffer_[length_++] = c;
  }
  char buffer_[kLineCapacity];
  size_t length_ = 0;
};

// Civil date of a day count since 1970-01-01 (H. Hinnant's days_from_civil
// inverted), so that no library time function runs in the handler.
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  *year = static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2);
}

void AddLocalTime(LineBuilder& line) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t local = now.tv_sec + utc_offset_s.load(std::memory_order_relaxed);
  const int64_t days = (local >= 0 ? local : local - 86399) / 86400;
  const int64_t seconds = local - days * 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  line.AddDigits(static_cast<uint64_t>(year), 4);
  line.Add("-");
  line.AddDigits(month, 2);
  line.Add("-");
  line.AddDigits(day, 2);
  line.Add(" ");
  line.AddDigits(static_cast<uint64_t>(seconds / 3600), 2);
  line.Add(":");
  line.AddDigits(static_cast<uint64_t>(seconds / 60 % 60), 2);
  line.Add(":");
  line.AddDigits(static_cast<uint64_t>(seconds % 60), 2);
}

// Copies the status text into `out` (kStatusCapacity bytes). A writer that
// never finishes (the crashed thread itself was writing) leaves the text as
// it stands after a few tries: possibly mixed, always terminated.
void ReadStatus(char* out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint32_t before = status_sequence.load(std::memory_order_acquire);
    for (size_t i = 0; i < kStatusCapacity; ++i) {
      out[i] = status_text[i].load(std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (before % 2 == 0 && status_sequence.load(std::memory_order_relaxed) == before) break;
  }
  out[kStatusCapacity - 1] = '\0';
}

const char* SignalText(const HandlerState& state, int sig) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kCrashSignals[i] == sig) return state.signal_text[i];
  }
  return "";
}

uint64_t InstructionAddress(const siginfo_t* info, const void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  if (uc) return static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  if (uc) return uc->uc_mcontext.pc;
#else
  (void)uc;
#endif
  return reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr);
}

// Appends one line with the lock protocol of AppendCrashLog, using system
// calls only.
void AppendLine(const char* path, const char* data, size_t size) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_END;
  lock.l_len = static_cast<off_t>(size);
  const bool locked = fcntl(fd, F_SETLKW, &lock) == 0;
  (void)!write(fd, data, size);
  if (locked) {
    struct flock unlock {};
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    fcntl(fd, F_SETLK, &unlock);
  }
  close(fd);
}

void WriteCrashLine(const HandlerState& state, int sig, uint64_t address) {
  LineBuilder line;
  AddLocalTime(line);
  line.Add("错误原因: ");
  line.Add(SignalText(state, sig));
  line.Add("\t错误代码: 0x");
  line.AddHex(static_cast<uint64_t>(sig));
  line.Add("\t程序地址: 0x");
  line.AddHex(address);
  line.Add("\t数据状态: ");
  char status[kStatusCapacity];
  ReadStatus(status);
  line.Add(status);
  line.Add("\r\n");
  AppendLine(state.log_path, line.data(), line.size());
}

[[noreturn]] void Die(int sig) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  raise(sig);
  // The signal is blocked while its handler runs: unblocking delivers it.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  _exit(128 + sig);
}

void CloseDescriptorsAbove2() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
  for (int fd = 3; fd < 65536; ++fd) close(fd);
}

// Restarts unless the process is exiting or has not run long enough; else,
// or when the exec fails, dies by the crash signal. Runs once: the alarm
// and the handler may both arrive here.
[[noreturn]] void Finish() {
  if (finishing.exchange(true)) {
    for (;;) pause();
  }
  alarm(0);
  const HandlerState& state = *handler_state.load();
  const int sig = crash_signal.load();
  const bool ran_long_enough = MonotonicMs() - state.installed_ms >= state.min_uptime_ms;
  if (!exiting.load() && ran_long_enough) {
    CloseDescriptorsAbove2();
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(state.restart_program, state.argv);
  }
  Die(sig);
}

void OnDeadline(int) { Finish(); }

void ArmDeadline(unsigned seconds) {
  struct sigaction action {};
  action.sa_handler = OnDeadline;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  alarm(seconds);
}

void OnCrash(int sig, siginfo_t* info, void* context) {
  const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
  pid_t expected = 0;
  if (!handling_thread.compare_exchange_strong(expected, self)) {
    if (expected == self) Die(sig);  // the handler itself faulted
    for (;;) pause();                // the first crash restarts or ends the process
  }
  crash_signal.store(sig);
  const HandlerState& state = *handler_state.load();
  ArmDeadline(state.deadline_s);
  WriteCrashLine(state, sig, InstructionAddress(info, context));
  if (CrashDatabaseCloser closer = database_closer.load()) closer();
  Finish();
}

bool CopyPath(const std::string& from, char (&to)[PATH_MAX]) {
  if (from.size() >= PATH_MAX) return false;
  memcpy(to, from.c_str(), from.size() + 1);
  return true;
}

char** CopyArguments(const std::vector<std::string>& argv, const std::string& program) {
  const std::vector<std::string>& source = argv.empty() ? std::vector<std::string>{program} : argv;
  char** out = new char*[source.size() + 1];
  for (size_t i = 0; i < source.size(); ++i) out[i] = strdup(source[i].c_str());
  out[source.size()] = nullptr;
  return out;
}

// The signal stack of one thread; disabled before it is freed.
class AltStack {
 public:
  AltStack() : memory_(std::make_unique<char[]>(kAltStackSize)) {
    stack_t stack{};
    stack.ss_sp = memory_.get();
    stack.ss_size = kAltStackSize;
    active_ = sigaltstack(&stack, nullptr) == 0;
  }
  ~AltStack() {
    if (!active_) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
  }
  AltStack(const AltStack&) = delete;
  AltStack& operator=(const AltStack&) = delete;
  bool active() const { return active_; }

 private:
  std::unique_ptr<char[]> memory_;
  bool active_ = false;
};

}  // namespace

bool PrepareCrashStackForThread() {
  thread_local AltStack stack;
  return stack.active();
}

bool InstallCrashHandler(const CrashHandlerOptions& options) {
  auto state = std::make_unique<HandlerState>();
  const std::string log_path =
      options.log_path.empty() ? JoinPath(ApplicationHome(), kCrashLogName) : options.log_path;
  if (!CopyPath(log_path, state->log_path) ||
      !CopyPath(options.restart_program, state->restart_program)) {
    return false;
  }
  for (size_t i = 0; i < kSignalCount; ++i) {
    const char* text = sigdescr_np(kCrashSignals[i]);
    strncpy(state->signal_text[i], text ? text : "", sizeof state->signal_text[i] - 1);
  }
  state->installed_ms = MonotonicMs();
  state->min_uptime_ms = int64_t{options.min_uptime_for_restart_s} * 1000;
  state->deadline_s =
      static_cast<unsigned>(options.handler_deadline_s > 0 ? options.handler_deadline_s : 1);
  if (!PrepareCrashStackForThread()) return false;
  RefreshUtcOffset();
  state->argv = CopyArguments(options.argv, options.restart_program);
  // Never freed: a handler may read it until the process ends.
  handler_state.store(state.release());
  exiting.store(false);
  database_closer.store(nullptr);
  SetCrashStatusText(kNoDatabaseStatus);

  struct sigaction action {};
  action.sa_sigaction = OnCrash;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigset_t crash_set;
  sigemptyset(&crash_set);
  for (const int sig : kCrashSignals) {
    if (sigaction(sig, &action, nullptr) != 0) return false;
    sigaddset(&crash_set, sig);
  }
  return sigprocmask(SIG_UNBLOCK, &crash_set, nullptr) == 0;
}

void SetCrashStatusText(std::string_view text) {
  size_t length = std::min(text.size(), kStatusCapacity - 1);
  // Cut before a UTF-8 continuation byte, never inside a character.
  while (length > 0 && length < text.size() &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  RefreshUtcOffset();  // keeps the crash line's time right across DST changes
  std::lock_guard lock(status_mutex);
  const uint32_t sequence = status_sequence.load(std::memory_order_relaxed);
  status_sequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (size_t i = 0; i < length; ++i) status_text[i].store(text[i], std::memory_order_relaxed);
  status_text[length].store('\0', std::memory_order_relaxed);
  status_sequence.store(sequence + 2, std::memory_order_release);
}

void SetCrashDatabaseCloser(CrashDatabaseCloser closer) { database_closer.store(closer); }

void SetCrashExiting() { exiting.store(true); }

}  // namespace lun
