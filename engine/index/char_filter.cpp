#include "engine/index/char_filter.h"

#include <algorithm>
#include <cerrno>

#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {

std::unique_ptr<CharFilter> CharFilter::Load(FileSystem& fs, const std::string& folder) {
  auto filter = std::make_unique<CharFilter>();
  std::string data;
  // 64 MB is far beyond any separator list; a larger file is treated as
  // unreadable rather than loaded.
  const int error = ReadWholeFile(fs, JoinPath(folder, kCharFilterFileName), &data, 64u << 20);
  if (error != 0) {
    AppendEngineErrorLog("不能打开过滤文件!");
    return filter;
  }
  const size_t count = data.size() / 4;
  filter->codes_.reserve(count + kStandardSeparators.size());
  for (size_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + 4 * i);
    filter->Insert(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
  }
  std::sort(filter->codes_.begin(), filter->codes_.end());
  return filter;
}

std::unique_ptr<CharFilter> CharFilter::ForProject(FileSystem& fs, const std::string& folder) {
  auto filter = Load(fs, folder);
  for (char16_t c : kStandardSeparators) filter->AddSeparator(c);
  return filter;
}

void CharFilter::Insert(uint32_t code) {
  codes_.push_back(code);
  if (code < 0x10000) bits_[code >> 6] |= uint64_t{1} << (code & 63);
}

void CharFilter::AddSeparator(uint32_t code) {
  if (IsSeparator(code)) return;
  Insert(code);
  std::sort(codes_.begin(), codes_.end());
}

bool CharFilter::IsSeparatorSlow(uint32_t code) const {
  return std::binary_search(codes_.begin(), codes_.end(), code);
}

}  // namespace lun
