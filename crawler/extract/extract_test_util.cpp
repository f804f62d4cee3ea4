#include "crawler/extract/extract_test_util.h"

#include <archive.h>
#include <archive_entry.h>
#include <arpa/inet.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>
#include <minizip/zip.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

template <typename Fill>
std::string WriteZip(Fill fill) {
  const std::string path = TemporaryName(TempDirectory());
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return {};
  fill(zip);
  zipClose(zip, nullptr);
  std::string bytes;
  (void)ReadWholeFile(DefaultFileSystem(), path, &bytes);
  std::remove(path.c_str());
  return bytes;
}

void AddEntry(zipFile zip, const std::string& name) {
  zip_fileinfo info{};
  zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                        Z_DEFAULT_COMPRESSION, 1);
}

template <typename T>
void Put(std::string* out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    out->push_back(static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF));
  }
}

// The directory's variable-length integers: 7 bits a byte, most significant
// first, the high bit set on all bytes but the last.
void PutEncInt(std::string* out, uint64_t value) {
  std::string bytes(1, static_cast<char>(value & 0x7F));
  while ((value >>= 7) != 0) bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  out->append(bytes);
}

void PutLittleEndian(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutBigEndian(std::string* out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (fd >= 0) close(fd);
  return bound ? ntohs(addr.sin_port) : 0;
}

std::string MakeChm(const ZipEntries& entries, uint32_t block_len, const std::string& entry_tail) {
  std::string listing, data;
  for (const auto& [name, bytes] : entries) {
    PutEncInt(&listing, name.size());
    listing += name;
    PutEncInt(&listing, 0);  // uncompressed section
    PutEncInt(&listing, data.size());
    PutEncInt(&listing, bytes.size());
    data += bytes;
  }
  listing += entry_tail;
  constexpr uint32_t kItsfLen = 0x60, kItspLen = 0x54, kPmglLen = 0x14;
  const uint64_t dir_offset = kItsfLen;
  const uint64_t dir_len = kItspLen + block_len;
  std::string out = "ITSF";
  Put<int32_t>(&out, 3);
  Put<int32_t>(&out, kItsfLen);
  Put<int32_t>(&out, 1);
  Put<uint32_t>(&out, 0);
  Put<uint32_t>(&out, 0x409);
  out.append(32, '\0');    // two UUIDs
  Put<uint64_t>(&out, 0);  // header section 0: none
  Put<uint64_t>(&out, 0);
  Put<uint64_t>(&out, dir_offset);
  Put<uint64_t>(&out, dir_len);
  Put<uint64_t>(&out, dir_offset + dir_len);  // content starts after the directory
  out += "ITSP";
  Put<int32_t>(&out, 1);
  Put<int32_t>(&out, kItspLen);
  Put<int32_t>(&out, 10);
  Put<uint32_t>(&out, block_len);
  Put<int32_t>(&out, 2);
  Put<int32_t>(&out, 1);
  Put<int32_t>(&out, -1);  // no index blocks: the one listing block is the root
  Put<int32_t>(&out, 0);
  Put<int32_t>(&out, -1);
  Put<uint32_t>(&out, 1);
  Put<int32_t>(&out, -1);
  Put<uint32_t>(&out, 0x409);
  out.append(32, '\0');
  std::string block = "PMGL";
  const uint32_t used = kPmglLen + static_cast<uint32_t>(listing.size());
  Put<uint32_t>(&block, used <= block_len ? block_len - used : 0);
  Put<uint32_t>(&block, 0);
  Put<int32_t>(&block, -1);
  Put<int32_t>(&block, -1);
  block += listing;
  block.resize(block_len, '\0');
  return out + block + data;
}

std::string MakeZip(const ZipEntries& entries) {
  return WriteZip([&](zipFile zip) {
    for (const auto& [name, data] : entries) {
      AddEntry(zip, name);
      zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
      zipCloseFileInZip(zip);
    }
  });
}

std::string MakeZipBomb(const std::string& name, size_t inflated_bytes) {
  return WriteZip([&](zipFile zip) {
    AddEntry(zip, name);
    const std::string zeros(1 << 20, '\0');
    for (size_t done = 0; done < inflated_bytes; done += zeros.size()) {
      const size_t n = std::min(zeros.size(), inflated_bytes - done);
      zipWriteInFileInZip(zip, zeros.data(), static_cast<unsigned>(n));
    }
    zipCloseFileInZip(zip);
  });
}

namespace {

std::string PdfWithFont(const std::string& font, const std::string& text) {
  const std::string content = "BT /F1 24 Tf 72 700 Td (" + text + ") Tj ET";
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      // One object in two literals, not two objects.
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "  // NOLINT
      "/Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      font,
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < 5; ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace

std::string MakePdf(const std::string& text) {
  return PdfWithFont("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", text);
}

std::string MakeWinAnsiPdf(const std::string& base_font, const std::string& string_bytes) {
  return PdfWithFont(
      "<< /Type /Font /Subtype /Type1 /BaseFont /" + base_font + " /Encoding /WinAnsiEncoding >>",
      string_bytes);
}

std::string MakeArchive(const std::string& format, const std::string& filter,
                        const ZipEntries& entries) {
  struct archive* a = archive_write_new();
  archive_write_set_format_by_name(a, format == "tar"  ? "pax"
                                      : format == "7z" ? "7zip"
                                                       : format.c_str());
  if (!filter.empty()) archive_write_add_filter_by_name(a, filter.c_str());
  // Room for the headers (a tar header and its extension take 1.5 KiB) and
  // data that does not compress.
  const size_t per_entry = format == "tar" ? 1536 : 256;
  size_t budget = 1 << 20;
  for (const auto& [name, data] : entries) {
    budget += data.size() + data.size() / 8 + per_entry + 2 * name.size();
  }
  std::string buffer(budget, '\0');
  size_t used = 0;
  archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
  for (const auto& [name, data] : entries) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
    archive_entry_set_mtime(entry, 1700000000, 0);
    archive_write_header(a, entry);
    archive_write_data(a, data.data(), data.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  buffer.resize(used);
  return buffer;
}

std::string MakeOleFile(const std::string& name, const std::string& bytes) {
  gsf_init();
  GsfOutput* memory = gsf_output_memory_new();
  GsfOutfile* ole = gsf_outfile_msole_new(memory);
  GsfOutput* stream = gsf_outfile_new_child(ole, name.c_str(), FALSE);
  gsf_output_write(stream, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
  gsf_output_close(stream);
  g_object_unref(stream);
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  std::string out(
      reinterpret_cast<const char*>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory))),
      static_cast<size_t>(gsf_output_size(memory)));
  g_object_unref(memory);
  return out;
}

std::string PptRecord(uint16_t type, const std::string& body, bool container) {
  std::string out;
  Put<uint16_t>(&out, container ? 0x000F : 0x0000);
  Put<uint16_t>(&out, type);
  Put<uint32_t>(&out, static_cast<uint32_t>(body.size()));
  return out + body;
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) Put<uint16_t>(&out, c);
  return out;
}

std::string MakeFlac(const std::vector<std::string>& comments) {
  std::string info;
  PutBigEndian(&info, 4096, 2);  // block sizes
  PutBigEndian(&info, 4096, 2);
  info.append(6, '\0');                                             // frame sizes unknown
  PutBigEndian(&info, (44100u << 12) | (1u << 9) | (15u << 4), 4);  // rate, 2 channels, 16 bits
  info.append(4, '\0');                                             // no samples
  info.append(16, '\0');                                            // MD5
  std::string vorbis;
  PutLittleEndian(&vorbis, 4, 4);
  vorbis += "test";
  PutLittleEndian(&vorbis, static_cast<uint32_t>(comments.size()), 4);
  for (const std::string& c : comments) {
    PutLittleEndian(&vorbis, static_cast<uint32_t>(c.size()), 4);
    vorbis += c;
  }
  std::string out = "fLaC";
  out.push_back('\0');  // STREAMINFO, not last
  PutBigEndian(&out, static_cast<uint32_t>(info.size()), 3);
  out += info;
  out.push_back('\x84');  // VORBIS_COMMENT, last
  PutBigEndian(&out, static_cast<uint32_t>(vorbis.size()), 3);
  return out + vorbis;
}

std::string MakeJpegWithExif() {
  struct Field {
    uint16_t tag;
    std::string text;
  };
  const std::vector<Field> ifd0 = {{0x010E, "\xE9\x95\xBF\xE5\x9F\x8E sunset"},  // 长城 sunset
                                   {0x010F, "Canon"},
                                   {0x0110, "Canon EOS 5D"}};
  const std::vector<Field> exif = {{0x9003, "2024:05:01 10:00:00"}};
  // Little-endian TIFF: header, IFD0 (three texts and the EXIF pointer),
  // the EXIF directory, then the strings.
  const uint32_t ifd0_at = 8;
  const uint32_t ifd0_size = 2 + 12 * 4 + 4;
  const uint32_t exif_at = ifd0_at + ifd0_size;
  const uint32_t exif_size = 2 + 12 + 4;
  uint32_t data_at = exif_at + exif_size;
  std::string tiff = "II";
  PutLittleEndian(&tiff, 42, 2);
  PutLittleEndian(&tiff, ifd0_at, 4);
  std::string strings;
  auto entry = [&](std::string* dir, const Field& f) {
    PutLittleEndian(dir, f.tag, 2);
    PutLittleEndian(dir, 2, 2);  // ASCII
    PutLittleEndian(dir, static_cast<uint32_t>(f.text.size() + 1), 4);
    PutLittleEndian(dir, data_at + static_cast<uint32_t>(strings.size()), 4);
    strings += f.text + '\0';
  };
  std::string dir0;
  PutLittleEndian(&dir0, 4, 2);
  for (const Field& f : ifd0) entry(&dir0, f);
  PutLittleEndian(&dir0, 0x8769, 2);  // EXIF sub-directory
  PutLittleEndian(&dir0, 4, 2);       // LONG
  PutLittleEndian(&dir0, 1, 4);
  PutLittleEndian(&dir0, exif_at, 4);
  PutLittleEndian(&dir0, 0, 4);
  std::string dir1;
  PutLittleEndian(&dir1, 1, 2);
  for (const Field& f : exif) entry(&dir1, f);
  PutLittleEndian(&dir1, 0, 4);
  tiff += dir0 + dir1 + strings;
  const std::string app1 = std::string("Exif\0\0", 6) + tiff;
  std::string out = "\xFF\xD8\xFF\xE1";
  PutBigEndian(&out, static_cast<uint32_t>(app1.size() + 2), 2);
  return out + app1 + "\xFF\xD9";
}

std::string MakeWavWithGbkInfo() {
  std::string fmt = "fmt ";
  PutLittleEndian(&fmt, 16, 4);
  PutLittleEndian(&fmt, 1, 2);  // PCM
  PutLittleEndian(&fmt, 1, 2);
  PutLittleEndian(&fmt, 8000, 4);
  PutLittleEndian(&fmt, 16000, 4);
  PutLittleEndian(&fmt, 2, 2);
  PutLittleEndian(&fmt, 16, 2);
  std::string data = "data";
  PutLittleEndian(&data, 0, 4);
  const std::string name = std::string("\xD6\xD0\xCE\xC4\0", 5) + '\0';  // 中文, padded
  std::string list = "INFOINAM";
  PutLittleEndian(&list, 5, 4);
  list += name;
  std::string chunk = "LIST";
  PutLittleEndian(&chunk, static_cast<uint32_t>(list.size()), 4);
  chunk += list;
  const std::string body = "WAVE" + fmt + data + chunk;
  std::string out = "RIFF";
  PutLittleEndian(&out, static_cast<uint32_t>(body.size()), 4);
  return out + body;
}

std::string MakeDocx(const std::vector<std::string>& paragraphs) {
  std::string body;
  for (const std::string& p : paragraphs) body += "<w:p><w:r><w:t>" + p + "</w:t></w:r></w:p>";
  return MakeZip({
      {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>"},
      {"word/document.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
       "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
       "<w:body>" +
           body + "</w:body></w:document>"},
  });
}

}  // namespace lun
