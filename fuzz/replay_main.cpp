// Runs a fuzz target over stored inputs without libFuzzer, so that the
// ordinary (gcc, sanitizer) build replays every corpus as a test.
//
// Usage: TARGET_replay PATH...  where a PATH is an input file or a directory
// whose regular files are inputs (read in name order; no recursion). Each
// input goes once through LLVMFuzzerTestOneInput, after
// LLVMFuzzerInitialize when the target defines it. A target reports a
// fault by aborting, as under libFuzzer; the driver itself fails only when a
// PATH cannot be read or names no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// The inputs named by one PATH argument, in name order.
bool CollectInputs(const fs::path& path, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (!fs::is_regular_file(path, error)) return false;
    inputs->push_back(path);
    return true;
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file(error)) found.push_back(entry.path());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
  return true;
}

bool ReadInput(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], &inputs)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "%s: no inputs\n", argv[0]);
    return 1;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::string bytes;
  for (const fs::path& input : inputs) {
    if (!ReadInput(input, &bytes)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
