// A read-only ZIP archive held in memory: the container of Office Open XML,
// ODF and EPUB documents. Internal to the extraction library.
//
// Corruption and hostility are expected: entry sizes in the headers are not
// trusted, every read stops at the caller's byte limit, and all reads of one
// archive share a total budget, so a zip bomb (a few kilobytes that claim or
// inflate to gigabytes) costs at most the budget. Not thread-safe; one
// archive per thread.
#ifndef LUN_CRAWLER_EXTRACT_ZIP_ARCHIVE_H_
#define LUN_CRAWLER_EXTRACT_ZIP_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

inline constexpr size_t kZipMaxEntries = 65536;
inline constexpr uint64_t kZipTotalBudget = 256ull * 1024 * 1024;

enum class ZipRead { kOk, kMissing, kTooLarge, kDamaged };

class ZipArchive {
 public:
  // Opens the archive in `bytes`, which must outlive the archive. Null when
  // the bytes are not a ZIP archive or list more than kZipMaxEntries entries.
  static std::unique_ptr<ZipArchive> Open(std::string_view bytes);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Entry names in archive order, as stored ("word/document.xml").
  const std::vector<std::string>& names() const { return names_; }
  bool Has(std::string_view name) const;

  // Unpacks entry `name` into `*out`. kTooLarge when it holds more than
  // `max_bytes` or the archive's budget is spent (`*out` then holds nothing);
  // kDamaged when inflating or the CRC fails.
  ZipRead Read(std::string_view name, size_t max_bytes, std::string* out);

 private:
  struct Stream;
  ZipArchive() = default;

  std::unique_ptr<Stream> stream_;
  void* zip_ = nullptr;  // unzFile
  std::vector<std::string> names_;
  std::vector<uint64_t> positions_[2];  // unz64_file_pos of each entry
  uint64_t spent_ = 0;
};

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_ZIP_ARCHIVE_H_
