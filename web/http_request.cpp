#include "web/http_request.h"

#include <algorithm>

#include "web/text_util.h"

namespace lun {
namespace {

// A Content-Length value: decimal digits only, no sign, no blanks inside. A
// list ("5, 5") or a number beyond 64 bits is refused rather than guessed at,
// because a server and a proxy that read such a value differently disagree on
// where the next request starts.
bool ParseContentLength(std::string_view text, uint64_t* value) {
  bool overflow = false;
  return ParseDigits(TrimBlanks(text), value, &overflow) && !overflow;
}

RequestFrame Rejected(std::string_view status) {
  RequestFrame frame;
  frame.state = RequestFrame::State::kRejected;
  frame.status = status;
  return frame;
}

// Checks the bytes of the head that have arrived: no NUL, every LF preceded
// by CR, request line within its limit.
bool HeadBytesValid(std::string_view head, std::string_view* status) {
  if (head.find('\0') != std::string_view::npos) {
    *status = kBadRequestStatus;
    return false;
  }
  for (size_t i = head.find('\n'); i != std::string_view::npos; i = head.find('\n', i + 1)) {
    if (i == 0 || head[i - 1] != '\r') {
      *status = kBadRequestStatus;
      return false;
    }
  }
  const size_t line_end = head.find("\r\n");
  const size_t line_length = line_end == std::string_view::npos ? head.size() : line_end;
  if (line_length > kMaxRequestLineBytes) {
    *status = kUriTooLongStatus;
    return false;
  }
  return true;
}

}  // namespace

RequestFrame FrameRequest(std::string_view received) {
  const size_t head_end = received.find("\r\n\r\n");
  const std::string_view head =
      head_end == std::string_view::npos
          ? received.substr(0, std::min(received.size(), kMaxHeadBytes + 4))
          : received.substr(0, head_end + 2);
  std::string_view status;
  if (!HeadBytesValid(head, &status)) return Rejected(status);
  if (head_end == std::string_view::npos) {
    if (received.size() > kMaxHeadBytes) return Rejected(kBadRequestStatus);
    return RequestFrame{};
  }
  const size_t head_length = head_end + 4;
  if (head_length > kMaxHeadBytes) return Rejected(kBadRequestStatus);

  size_t pos = head.find("\r\n");
  if (pos == 0) return Rejected(kBadRequestStatus);  // empty request line
  pos += 2;
  size_t header_count = 0;
  bool has_length = false;
  uint64_t content_length = 0;
  while (pos < head.size()) {
    const size_t end = head.find("\r\n", pos);
    const std::string_view line = head.substr(pos, end - pos);
    pos = end + 2;
    if (++header_count > kMaxHeaderCount) return Rejected(kBadRequestStatus);
    if (line.size() > kMaxHeaderLineBytes) return Rejected(kBadRequestStatus);
    // A folded continuation line or a blank before the colon lets two
    // parsers see different headers; refuse both outright.
    if (line.front() == ' ' || line.front() == '\t') return Rejected(kBadRequestStatus);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // ignored, as the parser does
    const std::string_view name = line.substr(0, colon);
    if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) {
      return Rejected(kBadRequestStatus);
    }
    if (EqualsIgnoreCase(name, "Transfer-Encoding")) return Rejected(kBadRequestStatus);
    if (EqualsIgnoreCase(name, "Content-Length")) {
      uint64_t value = 0;
      if (!ParseContentLength(line.substr(colon + 1), &value)) return Rejected(kBadRequestStatus);
      if (has_length && value != content_length) return Rejected(kBadRequestStatus);
      has_length = true;
      content_length = value;
    }
  }
  // Without a length the end of a POST body cannot be known on a connection
  // that stays open; HTTP/1.0 requires the header for a POST.
  const std::string_view request_line = head.substr(0, head.find("\r\n"));
  if (!has_length && EqualsIgnoreCase(request_line.substr(0, request_line.find(' ')), "POST")) {
    return Rejected(kBadRequestStatus);
  }
  if (content_length > kMaxRequestBytes - head_length) return Rejected(kBadRequestStatus);
  const size_t total = head_length + static_cast<size_t>(content_length);
  if (received.size() < total) return RequestFrame{};
  RequestFrame frame;
  frame.state = RequestFrame::State::kComplete;
  frame.length = total;
  return frame;
}

void HeaderList::Set(std::string_view name, std::string_view value) {
  for (auto& entry : entries_) {
    if (EqualsIgnoreCase(entry.first, name)) {
      entry.second.assign(value);
      return;
    }
  }
  entries_.emplace_back(std::string(name), std::string(value));
}

const std::string* HeaderList::Find(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (EqualsIgnoreCase(entry.first, name)) return &entry.second;
  }
  return nullptr;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (text.size() - i < 3) break;  // a cut-off escape ends the text
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
      out.push_back(c);
    } else if (c == '+') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Split and parse in one walk. Lines are the pieces between "\r\n"; the state
// goes 0 (request line) -> 1 (headers) -> 2 (body) at the first empty line.
// The piece after the last "\r\n" is a line too, whatever its length: the body
// of a form post usually has no final line break, and dropping a long one
// would lose the user's input.
HttpRequest ParseRequest(std::string_view request) {
  HttpRequest parsed;
  int state = 0;
  size_t pos = 0;
  while (pos < request.size()) {
    size_t end = request.find("\r\n", pos);
    const bool last = end == std::string_view::npos;
    if (last) end = request.size();
    const std::string_view line = request.substr(pos, end - pos);
    pos = last ? request.size() : end + 2;
    if (line.empty()) {
      state = 2;
      continue;
    }
    if (state == 0) {
      const size_t blank = line.find(' ');
      parsed.method.assign(line.substr(0, blank));
      const std::string_view rest =
          blank == std::string_view::npos ? std::string_view{} : TrimSpace(line.substr(blank + 1));
      const size_t next = rest.find(' ');
      std::string_view target = rest.substr(0, next);
      if (next != std::string_view::npos) parsed.version.assign(TrimSpace(rest.substr(next + 1)));
      const size_t question = target.find('?');
      if (question != std::string_view::npos) {
        parsed.query_string.assign(target.substr(question + 1));
        target = target.substr(0, question);
      }
      parsed.target.assign(target);
      parsed.path = PercentDecode(target);
      state = 1;
    } else if (state == 1) {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      parsed.headers.Set(line.substr(0, colon), line.substr(colon + 1));
    } else {
      parsed.form_data.append(line);
      parsed.form_data.push_back('&');
    }
  }
  return parsed;
}

}  // namespace lun
