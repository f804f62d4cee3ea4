#include "crawler/extract/ocr_text.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "crawler/extract/charset.h"
#include "crawler/extract/child_pipe.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace lun {
namespace {

std::mutex& SettingsMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

OcrSettings& CurrentSettings() {
  static OcrSettings* settings = new OcrSettings();
  return *settings;
}

bool IsCjk(char16_t c) {
  return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A memory file holding `bytes`, positioned at its start; -1 on failure.
int MemoryFileOf(std::string_view bytes) {
  const int fd = memfd_create("lun-ocr", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (!WriteAllToFd(fd, bytes.data(), bytes.size()) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The program's environment: ours, with the engine held to one thread (it
// would otherwise take every core for one picture, beside the user's work).
std::vector<std::string> ProgramEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    if (std::string_view(*e).starts_with("OMP_THREAD_LIMIT=")) continue;
    env.emplace_back(*e);
  }
  env.emplace_back("OMP_THREAD_LIMIT=1");
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

void SetOcrSettings(const OcrSettings& settings) {
  std::lock_guard lock(SettingsMutex());
  CurrentSettings() = settings;
}

OcrSettings GetOcrSettings() {
  std::lock_guard lock(SettingsMutex());
  return CurrentSettings();
}

bool IsOcrImageType(std::string_view type) {
  for (std::string_view t : {"PNG", "JPG", "JPEG", "TIF", "TIFF", "BMP", "GIF"}) {
    if (t == type) return true;
  }
  return false;
}

std::u16string TidyRecognizedText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsBlank(c) && !out.empty() && IsCjk(out.back())) {
      size_t next = i;
      while (next < text.size() && IsBlank(text[next])) ++next;
      if (next < text.size() && IsCjk(text[next])) {
        i = next - 1;
        continue;
      }
    }
    if (c == u'\f') continue;
    // At most one empty line in a row.
    if (c == u'\n' && out.size() >= 2 && out.back() == u'\n' && out[out.size() - 2] == u'\n') {
      continue;
    }
    out.push_back(c);
  }
  while (!out.empty() && (out.back() == u'\n' || IsBlank(out.back()))) out.pop_back();
  ScrubControlCharacters(&out);
  return out;
}

ExtractResult RecognizeImageText(std::string_view image, size_t limit, int deadline_ms) {
  const OcrSettings settings = GetOcrSettings();
  const std::string program =
      settings.program.empty() ? FindProgram("tesseract") : settings.program;
  if (program.empty()) return {ExtractStatus::kUnsupported, {}, "tesseract is not installed"};
  const int image_fd = MemoryFileOf(image);
  if (image_fd < 0) return {ExtractStatus::kUnreadable, {}, "no memory file for the picture"};
  // Everything the child needs is made before the fork: between fork and
  // exec it only calls async-signal-safe functions.
  // Page segmentation as one block of text: the automatic layout analysis
  // gives a short Chinese line beside Latin text to the wrong model and
  // reads it as noise, while for search the order of lines in columns
  // matters little.
  std::vector<std::string> args{program, "stdin", "stdout", "-l", settings.languages, "--psm", "6"};
  std::vector<std::string> env = ProgramEnvironment();
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  const rlim_t memory = settings.image_memory_bytes;
  const rlim_t cpu = static_cast<rlim_t>(deadline_ms) / 1000 + 1;
  std::unique_ptr<ChildPipe> child = ChildPipe::Start([&](int fd) {
    if (memory > 0) {
      struct rlimit as{memory, memory};
      setrlimit(RLIMIT_AS, &as);
    }
    struct rlimit cpu_limit{cpu, cpu + 1};
    setrlimit(RLIMIT_CPU, &cpu_limit);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (dup2(fd, STDOUT_FILENO) < 0 || dup2(image_fd, STDIN_FILENO) < 0) _exit(127);
    if (null_fd >= 0) dup2(null_fd, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  });
  close(image_fd);
  if (!child) return {ExtractStatus::kUnreadable, {}, "cannot start tesseract"};
  std::string utf8;
  if (!child->ReadToEnd(&utf8, limit * 4 + 4096, deadline_ms)) {
    return {ExtractStatus::kPartial, {}, "tesseract stopped at its limit"};
  }
  if (child->Wait() != 0) {
    return {ExtractStatus::kPartial, {}, "tesseract failed on the picture"};
  }
  TextSink sink(limit);
  sink.Append(TidyRecognizedText(ToWide(utf8)));
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
