#include "platform/path_text.h"

#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <memory>
#include <optional>
#include <vector>

namespace lun {
namespace {

constexpr char32_t kEscapeBase = 0xEF00;  // U+EF80..U+EFFF stand for bytes 0x80..0xFF

// Length of the valid UTF-8 character at `s[i]` (its code point in
// `*code`), or 0 when none starts there: a stray continuation byte, a
// truncated or overlong sequence, an encoded surrogate.
size_t Utf8CharLength(std::string_view s, size_t i, char32_t* code) {
  int32_t at = static_cast<int32_t>(i);
  UChar32 c;
  U8_NEXT(s.data(), at, static_cast<int32_t>(s.size()), c);
  if (c < 0) return 0;
  *code = static_cast<char32_t>(c);
  return static_cast<size_t>(at) - i;
}

bool IsValidUtf8(std::string_view s) {
  char32_t code;
  for (size_t i = 0, n; i < s.size(); i += n) {
    if ((n = Utf8CharLength(s, i, &code)) == 0) return false;
  }
  return true;
}

void AppendUtf8(char32_t c, std::string* out) {
  char bytes[U8_MAX_LENGTH];
  int32_t length = 0;
  U8_APPEND_UNSAFE(bytes, length, static_cast<UChar32>(c));
  out->append(bytes, static_cast<size_t>(length));
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// A GB18030 converter that stops at the first byte or character it cannot
// convert, instead of substituting.
std::unique_ptr<UConverter, ConverterCloser> StrictGb18030() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> conv(ucnv_open("gb18030", &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  if (U_FAILURE(status)) return nullptr;
  return conv;
}

// The UTF-8 text of GB18030 `bytes`, or nothing when they are not valid
// GB18030 or decode to a control character (then they are surely not a
// GB18030 name).
std::optional<std::string> DecodeGb18030(std::string_view bytes) {
  auto conv = StrictGb18030();
  if (!conv) return std::nullopt;
  std::vector<UChar> wide(bytes.size() * 2 + 1);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = ucnv_toUChars(conv.get(), wide.data(), static_cast<int32_t>(wide.size()),
                                  bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out;
  for (int32_t i = 0; i < n;) {
    UChar32 c;
    U16_NEXT(wide.data(), i, n, c);
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == '/') return std::nullopt;
    AppendUtf8(static_cast<char32_t>(c), &out);
  }
  return out;
}

std::optional<std::string> EncodeGb18030(std::string_view text) {
  auto conv = StrictGb18030();
  if (!conv) return std::nullopt;
  std::vector<UChar> wide(text.size() + 1);
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(wide.data(), static_cast<int32_t>(wide.size()), &length, text.data(),
                static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out(static_cast<size_t>(length) * 4 + 4, '\0');
  const int32_t n = ucnv_fromUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()),
                                    wide.data(), length, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<size_t>(n));
  return out;
}

// Invalid bytes as escape characters, valid characters as they are.
std::string EscapeInvalidBytes(std::string_view bytes) {
  std::string out;
  char32_t code;
  for (size_t i = 0; i < bytes.size();) {
    const size_t n = Utf8CharLength(bytes, i, &code);
    if (n == 0) {
      AppendUtf8(kEscapeBase + static_cast<unsigned char>(bytes[i]), &out);
      ++i;
    } else {
      out.append(bytes, i, n);
      i += n;
    }
  }
  return out;
}

// The escape characters of `text` turned back into their bytes.
std::string UnescapeBytes(std::string_view text) {
  std::string out;
  char32_t code;
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8CharLength(text, i, &code);
    if (n == 0) {
      out.push_back(text[i++]);
    } else if (code >= kEscapeBase + 0x80 && code <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(code - kEscapeBase));
      i += n;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string ComponentText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  if (std::optional<std::string> decoded = DecodeGb18030(bytes)) return *decoded;
  return EscapeInvalidBytes(bytes);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The bytes of the component `text` in the folder whose path, with its
// trailing "/", is `prefix`.
std::string ComponentOnDisk(const std::string& prefix, std::string_view text) {
  const std::string literal(text);
  if (Exists(prefix + literal)) return literal;
  const std::string unescaped = UnescapeBytes(text);
  if (unescaped != literal && Exists(prefix + unescaped)) return unescaped;
  if (std::optional<std::string> gb = EncodeGb18030(text); gb && Exists(prefix + *gb)) return *gb;
  return unescaped;
}

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string PathText(std::string_view bytes) {
  if (IsAscii(bytes) || IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t slash = bytes.find('/', start);
    if (slash == std::string_view::npos) slash = bytes.size();
    out += ComponentText(bytes.substr(start, slash - start));
    if (slash < bytes.size()) out += '/';
    start = slash + 1;
  }
  return out;
}

std::string PathOnDisk(std::string_view text) {
  const std::string literal(text);
  if (IsAscii(text) || Exists(literal)) return literal;
  if (text.empty() || text.front() != '/') return UnescapeBytes(text);
  std::string out;  // the folder found so far, without a trailing "/"
  size_t start = 1;
  while (start <= text.size()) {
    size_t slash = text.find('/', start);
    if (slash == std::string_view::npos) slash = text.size();
    const std::string_view component = text.substr(start, slash - start);
    out += '/';
    out += IsAscii(component) ? std::string(component) : ComponentOnDisk(out, component);
    start = slash + 1;
  }
  return out;
}

}  // namespace lun
