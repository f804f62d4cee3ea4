#include "platform/ansi_code_page.h"

#include <unicode/ucnv.h>

namespace lun {

namespace {

// The ANSI code page of the target systems is GBK; Asc and Chr speak it.
struct Gbk {
  UConverter* conv = nullptr;
  Gbk() {
    UErrorCode status = U_ZERO_ERROR;
    conv = ucnv_open("GBK", &status);
    if (U_FAILURE(status)) conv = nullptr;
  }
  ~Gbk() {
    if (conv) ucnv_close(conv);
  }
};

Gbk& GbkConverter() {
  thread_local Gbk gbk;
  return gbk;
}

}  // namespace

int AnsiCode(char16_t c) {
  if (c < 0x80) return c;
  UConverter* conv = GbkConverter().conv;
  if (!conv) return '?';
  char out[8];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(conv);
  int32_t n =
      ucnv_fromUChars(conv, out, sizeof out, reinterpret_cast<const UChar*>(&c), 1, &status);
  if (U_FAILURE(status) || n <= 0) return '?';
  if (n == 1) return static_cast<unsigned char>(out[0]);
  int code = (static_cast<unsigned char>(out[0]) << 8) | static_cast<unsigned char>(out[1]);
  return static_cast<std::int16_t>(code);
}

char16_t FromAnsi(std::int64_t n) {
  unsigned code = static_cast<unsigned>(n) & 0xFFFF;
  if (code < 0x80) return static_cast<char16_t>(code);
  UConverter* conv = GbkConverter().conv;
  if (!conv) return u'?';
  char in[2];
  int len = 0;
  if (code <= 0xFF) {
    in[len++] = static_cast<char>(code);
  } else {
    in[len++] = static_cast<char>(code >> 8);
    in[len++] = static_cast<char>(code & 0xFF);
  }
  UChar out[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(conv);
  int32_t m = ucnv_toUChars(conv, out, 4, in, len, &status);
  if (U_FAILURE(status) || m != 1) return u'?';
  return static_cast<char16_t>(out[0]);
}

}  // namespace lun
