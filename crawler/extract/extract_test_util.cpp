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

}  // namespace

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
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
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
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
  const std::string out(
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
