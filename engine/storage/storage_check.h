// The storage checker behind `lundb check`: reads a project's files without
// changing them and reports what the formats do not allow.
//
// Checked: the project file (banner, whole records); per table the field
// definitions; each segment's header; offset entries increasing, inside the
// data file and not before the header; every record body decoding to exactly
// its field widths (text values with a valid method byte and, when packed, a
// gzip member whose CRC and size match; binary values one well-formed variant
// stream); deletion numbers below the record count.
//
// What a crash legitimately leaves behind is reported as a note, not as
// corruption: bytes after the last record of the last segment (a body whose
// offset entry was never written), a partial last offset or deletion entry, a
// data file without its offset file after the last segment (a roll-over cut
// short), the index-write marker (the indexes are rebuilt at the next open).
// A segment hidden by a bad header is corruption.
//
// Thread safety: reentrant; must not run while a process writes the project
// if its result is to be exact.
#ifndef LUN_ENGINE_STORAGE_STORAGE_CHECK_H_
#define LUN_ENGINE_STORAGE_STORAGE_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace lun {

struct CheckFinding {
  bool corruption = false;  // false: a note
  std::string where;        // "table T, segment 1, record 17" ...
  std::string what;
};

struct CheckResult {
  std::vector<CheckFinding> findings;
  uint32_t tables = 0;
  uint64_t records = 0;
  uint64_t deleted = 0;
  bool clean() const {
    for (const CheckFinding& f : findings) {
      if (f.corruption) return false;
    }
    return true;
  }
};

// Checks the project whose project file is `project_path`.
CheckResult CheckProject(const std::string& project_path);

// Checks one table given its folders ({root}/{name}) and name; appends to
// `*result`.
void CheckTable(const std::string& name, const std::string& data_folder,
                const std::string& index_folder, CheckResult* result);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_STORAGE_CHECK_H_
