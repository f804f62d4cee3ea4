#include "crawler/text_detector.h"

#include <fcntl.h>
#include <unistd.h>

namespace lun {
namespace {

// Length of the valid UTF-8 sequence at `s[i]`, 0 when invalid, -1 when it
// is cut by the end of `s`.
int Utf8SequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  int n;
  unsigned char low = 0x80, high = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int k = 1; k < n; ++k) {
    if (i + k >= s.size()) return -1;
    const auto t = static_cast<unsigned char>(s[i + k]);
    if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF)) return 0;
  }
  return n;
}

// Control characters other than tab, line feed, form feed, carriage return
// and escape (terminal colours in logs) are rare in text.
bool IsOddControl(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1B) || c == 0x7F;
}

bool ValidUtf8(std::string_view s, bool complete) {
  for (size_t i = 0; i < s.size();) {
    const int n = Utf8SequenceLength(s, i);
    if (n == -1) return !complete;
    if (n == 0) return false;
    i += static_cast<size_t>(n);
  }
  return true;
}

// Valid GB18030 with most of its multi-byte characters in the Chinese
// character areas of GB2312 (lead 0xB0-0xF7) and GBK (lead 0x81-0xA0,
// 0xAA-0xFE with trail 0x40-0xA0).
bool ChineseGb18030(std::string_view s, bool complete) {
  size_t multi = 0, chinese = 0;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c == 0x80 || c == 0xFF) return false;
    if (i + 1 >= s.size()) return !complete && multi > 0 && chinese * 2 > multi;
    const auto t = static_cast<unsigned char>(s[i + 1]);
    if (t >= 0x30 && t <= 0x39) {  // four bytes
      if (i + 3 >= s.size()) return !complete && multi > 0 && chinese * 2 > multi;
      const auto t2 = static_cast<unsigned char>(s[i + 2]);
      const auto t3 = static_cast<unsigned char>(s[i + 3]);
      if (t2 < 0x81 || t2 == 0xFF || t3 < 0x30 || t3 > 0x39) return false;
      ++multi;
      i += 4;
      continue;
    }
    if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
    ++multi;
    if ((c >= 0xB0 && c <= 0xF7 && t >= 0xA1) || (c >= 0x81 && c <= 0xA0) ||
        (c >= 0xAA && t <= 0xA0)) {
      ++chinese;
    }
    i += 2;
  }
  return multi > 0 && chinese * 2 > multi;
}

}  // namespace

bool LooksLikeText(std::string_view prefix, bool complete) {
  if (prefix.size() > kTextProbeBytes) {
    prefix = prefix.substr(0, kTextProbeBytes);
    complete = false;
  }
  if (prefix.empty()) return false;
  if (prefix.size() >= 2 && ((prefix[0] == '\xFF' && prefix[1] == '\xFE') ||
                             (prefix[0] == '\xFE' && prefix[1] == '\xFF'))) {
    return true;
  }
  size_t odd = 0;
  for (const char c : prefix) {
    if (c == '\0') return false;
    if (IsOddControl(static_cast<unsigned char>(c))) ++odd;
  }
  if (odd * 100 > prefix.size()) return false;
  return ValidUtf8(prefix, complete) || ChineseGb18030(prefix, complete);
}

bool FileLooksLikeText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  std::string buffer(kTextProbeBytes + 1, '\0');
  size_t have = 0;
  while (have < buffer.size()) {
    const ssize_t n = read(fd, buffer.data() + have, buffer.size() - have);
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  close(fd);
  buffer.resize(have);
  return LooksLikeText(buffer, have <= kTextProbeBytes);
}

}  // namespace lun
