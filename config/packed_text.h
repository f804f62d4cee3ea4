// The packed text container (packed_text_format.h): a small header that says
// whether the text that follows is plain or one gzip member.
#ifndef LUN_CONFIG_PACKED_TEXT_H_
#define LUN_CONFIG_PACKED_TEXT_H_

#include <string>
#include <string_view>

namespace lun {

// The whole container for `text`, compressed when that is not larger.
std::string PackText(std::string_view text);

// One gzip member of `data` exactly as the container writes it.
std::string GzipMember(std::string_view data);

enum class UnpackResult {
  kOk,
  kNotPacked,  // no magic: the input is plain text as a whole
  kDamaged,    // a gzip payload that is cut short or corrupt
};

// Decodes a container. With kDamaged, `*text` holds what could be inflated
// before the damage (possibly nothing). Output beyond `max_size` bytes is
// treated as damage, so a hostile payload cannot exhaust memory.
UnpackResult UnpackText(std::string_view file, std::string* text,
                        size_t max_size = size_t{64} << 20);

}  // namespace lun

#endif  // LUN_CONFIG_PACKED_TEXT_H_
