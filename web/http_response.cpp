#include "web/http_response.h"

#include <array>
#include <cstdio>
#include <utility>

#include "web/text_util.h"

namespace lun {
namespace {

struct MimeRow {
  std::string_view extension;
  std::string_view type;
};

// Searched in order; the first row whose extension matches wins.
constexpr std::array<MimeRow, 142> kMimeTable = {{
    {".UTF-7", "application/x-www-form-urlencoded"},
    {".ez", "application/andrew-inset"},
    {".hqx", "application/mac-binhex40"},
    {".cpt", "application/mac-compactpro"},
    {".doc", "application/msword"},
    {".bin", "application/octet-stream"},
    {".dms", "application/octet-stream"},
    {".lha", "application/octet-stream"},
    {".lzh", "application/octet-stream"},
    {".exe", "application/octet-stream"},
    {".class", "application/octet-stream"},
    {".so", "application/octet-stream"},
    {".dll", "application/octet-stream"},
    {".oda", "application/oda"},
    {".pdf", "application/pdf"},
    {".ai", "application/postscript"},
    {".eps", "application/postscript"},
    {".ps", "application/postscript"},
    {".smi", "application/smil"},
    {".smil", "application/smil"},
    {".mif", "application/vnd.mif"},
    {".xls", "application/vnd.ms-excel"},
    {".ppt", "application/vnd.ms-powerpoint"},
    {".wbxml", "application/vnd.wap.wbxml"},
    {".wmlc", "application/vnd.wap.wmlc"},
    {".wmlsc", "application/vnd.wap.wmlscriptc"},
    {".bcpio", "application/x-bcpio"},
    {".vcd", "application/x-cdlink"},
    {".pgn", "application/x-chess-pgn"},
    {".cpio", "application/x-cpio"},
    {".csh", "application/x-csh"},
    {".dcr", "application/x-director"},
    {".dir", "application/x-director"},
    {".dxr", "application/x-director"},
    {".dvi", "application/x-dvi"},
    {".spl", "application/x-futuresplash"},
    {".gtar", "application/x-gtar"},
    {".hdf", "application/x-hdf"},
    {".js", "application/x-javascript"},
    {".skp", "application/x-koan"},
    {".skd", "application/x-koan"},
    {".skt", "application/x-koan"},
    {".skm", "application/x-koan"},
    {".latex", "application/x-latex"},
    {".nc", "application/x-netcdf"},
    {".cdf", "application/x-netcdf"},
    {".sh", "application/x-sh"},
    {".shar", "application/x-shar"},
    {".swf", "application/x-shockwave-flash"},
    {".sit", "application/x-stuffit"},
    {".sv4cpio", "application/x-sv4cpio"},
    {".sv4crc", "application/x-sv4crc"},
    {".tar", "application/x-tar"},
    {".tcl", "application/x-tcl"},
    {".tex", "application/x-tex"},
    {".texinfo", "application/x-texinfo"},
    {".texi", "application/x-texinfo"},
    {".t", "application/x-troff"},
    {".tr", "application/x-troff"},
    {".roff", "application/x-troff"},
    {".man", "application/x-troff-man"},
    {".me", "application/x-troff-me"},
    {".ms", "application/x-troff-ms"},
    {".ustar", "application/x-ustar"},
    {".src", "application/x-wais-source"},
    {".xhtml", "application/xhtml+xml"},
    {".xht", "application/xhtml+xml"},
    {".zip", "application/zip"},
    {".au", "audio/basic"},
    {".snd", "audio/basic"},
    {".mid", "audio/midi"},
    {".midi", "audio/midi"},
    {".kar", "audio/midi"},
    {".mpga", "audio/mpeg"},
    {".mp2", "audio/mpeg"},
    {".mp3", "audio/mpeg"},
    {".aif", "audio/x-aiff"},
    {".aiff", "audio/x-aiff"},
    {".aifc", "audio/x-aiff"},
    {".m3u", "audio/x-mpegurl"},
    {".ram", "audio/x-pn-realaudio"},
    {".rm", "audio/x-pn-realaudio"},
    {".rpm", "audio/x-pn-realaudio-plugin"},
    {".ra", "audio/x-realaudio"},
    {".wav", "audio/x-wav"},
    {".pdb", "chemical/x-pdb"},
    {".xyz", "chemical/x-xyz"},
    {".bmp", "image/bmp"},
    {".gif", "image/gif"},
    {".ief", "image/ief"},
    {".jpeg", "image/jpeg"},
    {".jpg", "image/jpeg"},
    {".jpe", "image/jpeg"},
    {".png", "image/png"},
    {".tiff", "image/tiff"},
    {".tif", "image/tiff"},
    {".djvu", "image/vnd.djvu"},
    {".djv", "image/vnd.djvu"},
    {".wbmp", "image/vnd.wap.wbmp"},
    {".ras", "image/x-cmu-raster"},
    {".pnm", "image/x-portable-anymap"},
    {".pbm", "image/x-portable-bitmap"},
    {".pgm", "image/x-portable-graymap"},
    {".ppm", "image/x-portable-pixmap"},
    {".rgb", "image/x-rgb"},
    {".xbm", "image/x-xbitmap"},
    {".xpm", "image/x-xpixmap"},
    {".xwd", "image/x-xwindowdump"},
    {".wrl", "model/vrml"},
    {".vrml", "model/vrml"},
    {".css", "text/css"},
    {".html", "text/html"},
    {".htm", "text/html"},
    {".asc", "text/plain"},
    {".txt", "text/plain"},
    {".rtx", "text/richtext"},
    {".rtf", "text/rtf"},
    {".sgml", "text/sgml"},
    {".sgm", "text/sgml"},
    {".tsv", "text/tab-separated-values"},
    {".wml", "text/vnd.wap.wml"},
    {".wmls", "text/vnd.wap.wmlscript"},
    {".etx", "text/x-setext"},
    {".xsl", "text/xml"},
    {".xml", "text/xml"},
    {".mpeg", "video/mpeg"},
    {".mpg", "video/mpeg"},
    {".mpe", "video/mpeg"},
    {".qt", "video/quicktime"},
    {".mov", "video/quicktime"},
    {".avi", "video/x-msvideo"},
    {".movie", "video/x-sgi-movie"},
    {".shtml", "wwwserver/html-ssi"},
    {".asa", "wwwserver/isapi"},
    {".asp", "wwwserver/isapi"},
    {".cfm", "wwwserver/isapi"},
    {".dbm", "wwwserver/isapi"},
    {".isa", "wwwserver/isapi"},
    {".plx", "wwwserver/isapi"},
    {".url", "wwwserver/isapi"},
    {".cgi", "wwwserver/isapi"},
    {".php", "wwwserver/isapi"},
}};

// Drops CR and LF, which would end a header line early.
std::string HeaderSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

}  // namespace

std::string HttpDate(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  return DayDateTimeText(tm) + " GMT";
}

std::string ErrorResponse(std::string_view status, std::time_t now,
                          std::string_view extra_headers) {
  std::string out = "HTTP/1.0 ";
  out.append(status).append("\r\n");
  out.append(kServerHeaderLine);
  out.append("Content-Length: 0\r\n");
  out.append(extra_headers);
  out.append("Date: ").append(HttpDate(now)).append("\r\n\r\n");
  return out;
}

std::string_view MimeTypeForExtension(std::string_view extension) {
  for (const MimeRow& row : kMimeTable) {
    if (EqualsIgnoreCase(row.extension, extension)) return row.type;
  }
  return {};
}

size_t MimeTableSize() { return kMimeTable.size(); }

std::string_view FileExtension(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string ContentTypeLine(std::string_view extension) {
  const std::string_view type = MimeTypeForExtension(extension);
  std::string line = "Content-Type: ";
  // An unknown type is announced as "未知" (unknown).
  line.append(type.empty() ? std::string_view("\xE6\x9C\xAA\xE7\x9F\xA5") : type);
  line.append("\r\n");
  return line;
}

// The first, narrow reading of a range header accepted only "A-" and "A-B";
// suffix ranges and unit checks are added so that "bytes=-N" means what
// browsers and download tools mean by it and "items=0-5" is not taken for
// bytes. A last byte at or past the end keeps its "404 Not Found" answer, a
// first byte past the end (which must never be streamed) gets 416.
RangeDecision ResolveRange(const std::string* range_header, uint64_t size) {
  RangeDecision whole{RangeDecision::Kind::kWhole, 0, size};
  if (range_header == nullptr) return whole;
  const std::string_view header = *range_header;
  const size_t equals = header.find('=');
  if (equals == std::string_view::npos) return whole;
  if (!EqualsIgnoreCase(TrimBlanks(header.substr(0, equals)), "bytes")) return whole;
  const std::string_view range = TrimSpace(header.substr(equals + 1));
  const size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) return whole;
  const std::string_view first_text = range.substr(0, dash);
  const std::string_view last_text = range.substr(dash + 1);
  const RangeDecision unsatisfiable{RangeDecision::Kind::kUnsatisfiable, 0, 0};
  uint64_t first = 0;
  uint64_t last = 0;
  bool overflow = false;
  if (first_text.empty()) {  // "-N": the last N bytes
    if (!ParseDigits(last_text, &last, &overflow)) return whole;
    if (last == 0) return unsatisfiable;
    if (last >= size) return whole;
    return {RangeDecision::Kind::kPartial, size - last, last};
  }
  if (!ParseDigits(first_text, &first, &overflow)) return whole;
  const bool first_overflow = overflow;
  if (last_text.empty()) {  // "A-": from A to the end
    if (first_overflow || first >= size) return size == 0 ? whole : unsatisfiable;
    if (first == 0) return whole;
    return {RangeDecision::Kind::kPartial, first, size - first};
  }
  if (!ParseDigits(last_text, &last, &overflow)) return whole;
  if (first > last) return whole;
  if (last >= size) return {RangeDecision::Kind::kEndBeyondFile, 0, 0};
  if (first == 0 && last == size - 1) return whole;
  return {RangeDecision::Kind::kPartial, first, last - first + 1};
}

std::string ContentDispositionLine(std::string_view file_name) {
  // The quoted name for old clients: ASCII only, without the characters
  // that would end or escape the quoted string; the exact name follows as
  // RFC 5987 UTF-8 percent-encoding, which every current browser prefers.
  std::string line = "Content-Disposition: attachment; filename=\"";
  for (char c : file_name) {
    const unsigned char u = static_cast<unsigned char>(c);
    line.push_back(u < 0x20 || u >= 0x7F || c == '"' || c == '\\' ? '_' : c);
  }
  line.append("\"; filename*=UTF-8''");
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : file_name) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool attr_char = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                           (u >= '0' && u <= '9') ||
                           std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (attr_char) {
      line.push_back(c);
    } else {
      line.push_back('%');
      line.push_back(kHex[u >> 4]);
      line.push_back(kHex[u & 15]);
    }
  }
  line.append("\r\n");
  return line;
}

std::string FileHead(std::string_view file_name, uint64_t file_size, const RangeDecision& range,
                     std::time_t last_modified) {
  const bool partial = range.kind == RangeDecision::Kind::kPartial;
  std::string head = "HTTP/1.0 ";
  head.append(partial ? "206 Partial Content\r\n" : "200 OK\r\n");
  head.append(kServerHeaderLine);
  head.append(ContentTypeLine(FileExtension(file_name)));
  head.append(ContentDispositionLine(file_name));
  char line[128];
  if (partial) {
    std::snprintf(line, sizeof line, "Content-Range: bytes %llu-%llu/%llu\r\n",
                  static_cast<unsigned long long>(range.first),
                  static_cast<unsigned long long>(range.first + range.count - 1),
                  static_cast<unsigned long long>(file_size));
    head.append(line);
  }
  std::snprintf(line, sizeof line, "Content-Length: %llu\r\n",
                static_cast<unsigned long long>(partial ? range.count : file_size));
  head.append(line);
  head.append("Last-Modified: ").append(HttpDate(last_modified)).append("\r\n\r\n");
  return head;
}

std::string MemoryHead(std::string_view extension, uint64_t length) {
  std::string head = "HTTP/1.0 200 OK\r\n";
  head.append(kServerHeaderLine);
  head.append(ContentTypeLine(extension));
  head.append("Content-Length: ").append(std::to_string(length)).append("\r\n\r\n");
  return head;
}

// The cookie lines end the head themselves: each carries its own "\r\n" and
// one blank line follows. (An extra "\r\n" after the cookie lines, as first
// described, would end the head early and push two stray bytes into the body.)
std::string PageResponseText(const PageOutput& page, bool head_only) {
  if (!page.redirect.empty()) {
    return "HTTP/1.0 302 Object Moved\r\nLocation: " + HeaderSafe(page.redirect) +
           "\r\nContent-Length: 0\r\n\r\n";
  }
  std::map<std::string, std::string> headers;
  for (const auto& [name, value] : page.headers) headers[HeaderSafe(name)] = HeaderSafe(value);
  headers["Content-Length"] = std::to_string(page.body.size());
  std::string out = "HTTP/1.0 200 OK\r\n";
  out.append(kServerHeaderLine);
  for (const auto& [name, value] : headers) {
    if (name.empty()) continue;
    out.append(name).append(": ").append(value).append("\r\n");
  }
  for (const std::string& cookie : page.cookies) {
    out.append("Set-Cookie: ").append(HeaderSafe(cookie)).append("\r\n");
  }
  out.append("\r\n");
  if (!head_only) out.append(page.body);
  return out;
}

}  // namespace lun
