#include "web/request_variables.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/text.h"
#include "web/text_util.h"

namespace lun {
namespace {

// Splits `text` at every `separator` and calls `piece` for each part.
template <typename Fn>
void ForEachPiece(std::string_view text, char separator, Fn piece) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    piece(text.substr(pos, end - pos));
    pos = end + 1;
  }
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

// Length of the UTF-8 sequence that lead byte `b` announces (2 to 6), or 0.
int SequenceLengthOf(unsigned b) {
  if (b >= 0xC0 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF7) return 4;
  if (b >= 0xF8 && b <= 0xFB) return 5;
  if (b >= 0xFC && b <= 0xFD) return 6;
  return 0;
}

// The byte of the escape "%XY" at `pos`, or -1 when there is none there.
int EscapedByte(std::string_view text, size_t pos) {
  if (pos + 3 > text.size() || text[pos] != '%') return -1;
  const int high = HexValue(text[pos + 1]);
  const int low = HexValue(text[pos + 2]);
  return (high < 0 || low < 0) ? -1 : high * 16 + low;
}

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

}  // namespace

bool NameValueList::Add(std::string_view name, std::string_view value) {
  if (Find(name) != nullptr) return false;
  entries_.emplace_back(std::string(name), std::string(value));
  return true;
}

void NameValueList::Set(std::string_view name, std::string_view value) {
  for (auto& entry : entries_) {
    if (entry.first == name) {
      entry.second.assign(value);
      return;
    }
  }
  entries_.emplace_back(std::string(name), std::string(value));
}

const std::string* NameValueList::Find(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (entry.first == name) return &entry.second;
  }
  return nullptr;
}

ServerIdentity ServerIdentity::FromSystem() {
  ServerIdentity identity;
  char buffer[1024];
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    identity.user_name = found->pw_name;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) identity.computer_name = host;
  return identity;
}

// The names are not cut to fifteen characters as a fixed 16-byte buffer
// would: a truncated user or host name is a wrong name, not a shorter one.
NameValueList FillServerVariables(const HttpRequest& request, std::string_view method,
                                  std::string_view query_string,
                                  std::string_view path_translated,
                                  const ConnectionInfo& connection,
                                  const ServerIdentity& identity) {
  NameValueList vars;
  vars.Set("LOGON_USER", identity.user_name);
  vars.Set("SERVER_NAME", identity.computer_name);
  vars.Set("SERVER_SOFTWARE", "Tamrix web server/1.0");
  vars.Set("SERVER_PROTOCOL", "HTTP/1.0");
  vars.Set("REQUEST_METHOD", method);
  vars.Set("LOCAL_ADDR", connection.local_address);
  vars.Set("SERVER_PORT", std::to_string(connection.local_port));
  vars.Set("REMOTE_ADDR", connection.peer_address);
  if (const std::string* host = request.headers.Find("Host")) vars.Set("REMOTE_HOST", *host);
  if (const std::string* agent = request.headers.Find("User-Agent")) {
    vars.Set("HTTP_USER_AGENT", *agent);
  }
  if (const std::string* accept = request.headers.Find("Accept")) vars.Set("HTTP_ACCEPT", *accept);
  vars.Set("QUERY_STRING", query_string);
  vars.Set("SCRIPT_NAME", request.path);
  vars.Set("PATH_INFO", request.path);
  vars.Set("PATH_TRANSLATED", path_translated);
  return vars;
}

std::string Utf8QueryDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) break;
    const int b = EscapedByte(text, i);
    if (b < 0) {  // "%" not followed by two hex digits: copied as it stands
      out.push_back('%');
      continue;
    }
    if (b <= 0x7F) {
      out.push_back(static_cast<char>(b));
      i += 2;
      continue;
    }
    const int length = SequenceLengthOf(static_cast<unsigned>(b));
    if (length == 0) {  // a continuation byte or 0xFE/0xFF cannot start a character
      out.append(kReplacementUtf8);
      i += 2;
      continue;
    }
    if (text.size() - i < 3 * static_cast<size_t>(length)) break;
    std::string sequence(1, static_cast<char>(b));
    bool valid = true;
    for (int k = 1; k < length && valid; ++k) {
      const int next = EscapedByte(text, i + 3 * k);
      valid = next >= 0x80 && next <= 0xBF;
      if (valid) sequence.push_back(static_cast<char>(next));
    }
    if (!valid) {  // go on after the lead escape, like any decoder resynchronising
      out.append(kReplacementUtf8);
      i += 2;
      continue;
    }
    // The one conversion module decides validity: overlong forms, surrogates
    // and code points past U+10FFFF (5- and 6-byte forms) do not survive the
    // round trip, and the whole sequence then stands as one U+FFFD.
    const std::string converted = ToNarrow(ToWide(sequence));
    out.append(converted == sequence ? std::string_view(converted) : kReplacementUtf8);
    i += 3 * length - 1;
  }
  return out;
}

NameValueList ParseQueryString(std::string_view query_string) {
  // An HTML-escaped "&amp;" inside a value must not split it.
  std::string text(query_string);
  ReplaceAll(text, "&amp;", "%26amp;");
  NameValueList list;
  ForEachPiece(text, '&', [&list](std::string_view piece) {
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) return;
    std::string value(piece.substr(equals + 1));
    ReplaceAll(value, "%26amp;", "&");
    list.Add(piece.substr(0, equals), Utf8QueryDecode(value));
  });
  return list;
}

NameValueList ParseForm(std::string_view form_data) {
  NameValueList list;
  ForEachPiece(form_data, '&', [&list](std::string_view piece) {
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) return;
    list.Add(piece.substr(0, equals), PercentDecode(piece.substr(equals + 1)));
  });
  return list;
}

std::vector<RequestCookie> ParseCookies(std::string_view header_value) {
  std::vector<RequestCookie> cookies;
  RequestCookie building;
  bool have_cookie = false;
  auto finish = [&]() {
    if (!have_cookie) return;
    bool seen = false;
    for (const RequestCookie& c : cookies) seen = seen || c.name == building.name;
    if (!seen) cookies.push_back(std::move(building));
    building = RequestCookie{};
    have_cookie = false;
  };
  ForEachPiece(header_value, ';', [&](std::string_view piece) {
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view name = TrimSpace(piece.substr(0, equals));
    const std::string_view value = piece.substr(equals + 1);
    if (name.empty() || EqualsIgnoreCase(name, "$Version")) return;
    if (name.front() == '$') {
      if (have_cookie) building.attributes.emplace_back(name.substr(1), value);
      return;
    }
    finish();
    building.name.assign(name);
    building.value.assign(value);
    have_cookie = true;
  });
  finish();
  return cookies;
}

}  // namespace lun
