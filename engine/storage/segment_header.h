// Writing and checking the 1024-byte header of a record data file
// (segment_format.h).
#ifndef LUN_ENGINE_STORAGE_SEGMENT_HEADER_H_
#define LUN_ENGINE_STORAGE_SEGMENT_HEADER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lun {

// A fresh header with `time_stamp` ("%Y-%m-%d %H:%M:%S") as creation time.
std::string BuildSegmentHeader(std::string_view time_stamp);

// Checks the first `size` bytes of a data file (at least 184 are needed):
// check bytes, then copyright text, then version. nullptr when they pass,
// else the suffix of the engine's message (",数据校验错误", ",版权错误",
// ",数据版本错误").
const char* SegmentHeaderProblem(const unsigned char* header, size_t size);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_SEGMENT_HEADER_H_
