// Writes small ZIP archives for tests, entry names taken as given (so tests
// can build hostile archives). Test code only.
#ifndef LUN_WEB_TEST_ZIP_H_
#define LUN_WEB_TEST_ZIP_H_

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace lun {

// Writes `entries` ({name, data}) to `path` with deflate. Returns false on
// any failure.
inline bool WriteTestZip(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const auto& [name, data] : entries) {
    zip_fileinfo info{};
    ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

}  // namespace lun

#endif  // LUN_WEB_TEST_ZIP_H_
