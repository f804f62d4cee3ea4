// A plug-in for the tests, built in several variants (see CMakeLists.txt):
// it shows the plug-in contract of plugin_registry.h. GetText returns
// "plugin:" + the file's first bytes, and misbehaves on request: a file
// starting with "none" has no text, "crash" crashes it, "hang" blocks it
// forever, "spin" loops.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "crawler/extract/plugin_registry.h"

#ifndef TEST_PLUGIN_TYPES
#define TEST_PLUGIN_TYPES u"PAX|PAD"
#endif
#ifndef TEST_PLUGIN_PREFIX
#define TEST_PLUGIN_PREFIX "plugin:"
#endif

namespace {

void Copy(char16_t* dst, const char16_t* src, size_t max) {
  size_t i = 0;
  for (; i + 1 < max && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void GetInfo(lun::PluginInfoBlock* block) {
  Copy(block->display, u"Test plug-in", 122);
#ifndef TEST_PLUGIN_NO_TYPES
  Copy(block->types, TEST_PLUGIN_TYPES, 260);
#endif
}

#ifndef TEST_PLUGIN_NO_GETTEXT
__attribute__((visibility("default"))) int GetText(const char* path, char16_t* buffer,
                                                   int capacity) {
  char data[256] = {};
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  const ssize_t n = read(fd, data, sizeof data - 1);
  close(fd);
  if (n < 0) return -1;
  if (std::strncmp(data, "none", 4) == 0) return -1;
  if (std::strncmp(data, "crash", 5) == 0) raise(SIGSEGV);
  if (std::strncmp(data, "hang", 4) == 0) {
    for (;;) pause();
  }
  if (std::strncmp(data, "spin", 4) == 0) {
    volatile unsigned long counter = 0;
    for (;;) counter = counter + 1;
  }
  const std::string text = std::string(TEST_PLUGIN_PREFIX) + data;
  int written = 0;
  for (char c : text) {
    if (written >= capacity || c == '\n') break;
    buffer[written++] = static_cast<char16_t>(static_cast<unsigned char>(c));
  }
  return written;
}
#endif
}
