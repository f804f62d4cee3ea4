// CharFilter: the project's set of separator characters.
//
// The word index indexes every normalised UTF-16 code unit of a text except
// separators; a separator still takes up its position, so the words on both
// sides of it are not adjacent. Query terms treat a separator as "any one
// character" (see field_lookup.h).
//
// The set starts from the file "Filter.Chr" in the project folder (a plain
// array of 4-byte little-endian codes, in any order, read once and never
// written) and the project then adds the standard separators.
//
// Thread safety: AddSeparator is for the opening of the project only; after
// that any number of threads may call IsSeparator without locking.
#ifndef LUN_ENGINE_INDEX_CHAR_FILTER_H_
#define LUN_ENGINE_INDEX_CHAR_FILTER_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lun {

class FileSystem;

inline constexpr char kCharFilterFileName[] = "Filter.Chr";

// The fourteen separators every project adds after loading the file, in
// the order they are added.
inline constexpr std::array<char16_t, 14> kStandardSeparators = {
    u',', u'\t', u'\r', u'\n', u' ', u';', u'!', u'?',
    u'\u3001', u'\u3002', u'\u2018', u'\u2019', u'\u201C', u'\u201D'};

class CharFilter {
 public:
  // An empty filter (nothing is a separator).
  CharFilter() = default;
  CharFilter(const CharFilter&) = delete;
  CharFilter& operator=(const CharFilter&) = delete;

  // Loads `folder`/"Filter.Chr". When the file cannot be opened, logs
  // "不能打开过滤文件!" to the engine error log and starts empty; a file
  // shorter than 4 bytes gives an empty filter without a message. Trailing
  // bytes beyond a multiple of 4 are ignored. Never fails.
  static std::unique_ptr<CharFilter> Load(FileSystem& fs, const std::string& folder);

  // Load() followed by adding kStandardSeparators: the filter a project uses.
  static std::unique_ptr<CharFilter> ForProject(FileSystem& fs, const std::string& folder);

  // Adds `code` unless present.
  void AddSeparator(uint32_t code);

  bool IsSeparator(uint32_t code) const {
    return code < 0x10000 ? (bits_[code >> 6] >> (code & 63)) & 1 : IsSeparatorSlow(code);
  }

  // The codes, ascending (file codes may repeat when the file repeats them).
  const std::vector<uint32_t>& codes() const { return codes_; }

 private:
  bool IsSeparatorSlow(uint32_t code) const;
  void Insert(uint32_t code);

  std::vector<uint32_t> codes_;
  // One bit per UTF-16 code unit, so the hot test during indexing is a
  // single load instead of a binary search.
  std::array<uint64_t, 1024> bits_{};
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_CHAR_FILTER_H_
