#include "engine/storage/storage_check.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/storage/deletion_format.h"
#include "engine/storage/field_definition.h"
#include "engine/storage/field_index.h"
#include "engine/storage/project_format.h"
#include "engine/storage/search_project.h"
#include "engine/storage/segment_format.h"
#include "engine/storage/segment_header.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/value_codec.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

namespace sf = segment_format;
namespace pf = project_format;

// Bodies larger than this are reported instead of read: no record this
// engine writes comes near it, and a damaged offset must not make the checker
// allocate gigabytes.
constexpr uint64_t kMaxBodyBytes = uint64_t{1} << 31;

class TableChecker {
 public:
  TableChecker(const std::string& name, const std::string& data_folder,
               const std::string& index_folder, CheckResult* result)
      : name_(name), data_(data_folder), index_(index_folder), result_(result) {}

  void Run() {
    std::string stu;
    const std::string stu_path = JoinPath(data_, name_ + ".stu");
    if (const int rc = ReadWholeFile(fs_, stu_path, &stu)) {
      Report(true, "", "cannot read " + stu_path + ": " + std::to_string(rc));
      return;
    }
    if (stu.size() % 2340 != 0) Report(false, "", "partial field definition at the end of .stu");
    for (const FieldDefinition& d : ParseFieldDefinitions(stu)) {
      if (d.disabled == 0) types_.push_back(d.type());
    }
    const uint64_t records = CheckSegments();
    CheckDeletions(records);
    if (PathExists(JoinPath(index_, kIndexWriteMarkerName))) {
      Report(false, "", "index write marker present: indexes are rebuilt at the next open");
    }
    result_->records += records;
  }

 private:
  void Report(bool corruption, const std::string& where, const std::string& what) {
    std::string place = "table " + name_;
    if (!where.empty()) place += ", " + where;
    result_->findings.push_back({corruption, place, what});
  }

  std::string SegmentFile(char kind, int k) const {
    return JoinPath(data_, name_ + "." + kind + std::to_string(k));
  }

  uint64_t CheckSegments() {
    uint64_t records = 0;
    int k = 0;
    for (;; ++k) {
      const bool has_data = PathExists(SegmentFile('S', k));
      const bool has_offsets = PathExists(SegmentFile('R', k));
      if (!has_data && !has_offsets) break;
      if (!has_offsets) {
        // Only the segment after the last one can be a roll-over cut short.
        const bool later = PathExists(SegmentFile('S', k + 1)) || PathExists(SegmentFile('R', k + 1));
        Report(later, "segment " + std::to_string(k),
               "data file without offset file" +
                   std::string(later ? " in the middle" : " (roll-over cut short)"));
        break;
      }
      if (!has_data) {
        Report(true, "segment " + std::to_string(k), "offset file without data file");
        break;
      }
      const bool last = !PathExists(SegmentFile('S', k + 1)) && !PathExists(SegmentFile('R', k + 1));
      if (!CheckSegment(k, last, &records)) break;
    }
    // Anything numbered after a gap is invisible to the engine.
    for (int j = k + 1; j < k + 64; ++j) {
      if (PathExists(SegmentFile('S', j)) || PathExists(SegmentFile('R', j))) {
        Report(true, "segment " + std::to_string(j), "segment after a gap is not visible");
        break;
      }
    }
    return records;
  }

  // False when the scan must stop here (the engine hides what follows).
  bool CheckSegment(int k, bool last, uint64_t* records) {
    const std::string where = "segment " + std::to_string(k);
    int data_fd = -1, offset_fd = -1;
    if (fs_.Open(SegmentFile('S', k), O_RDONLY, 0, &data_fd) != 0) {
      Report(true, where, "cannot open the data file");
      return false;
    }
    ScopedFd data_owner(fs_, data_fd);
    if (fs_.Open(SegmentFile('R', k), O_RDONLY, 0, &offset_fd) != 0) {
      Report(true, where, "cannot open the offset file");
      return false;
    }
    ScopedFd offset_owner(fs_, offset_fd);
    unsigned char header[sf::kHeaderReadSize] = {};
    size_t got = 0;
    (void)ReadFully(fs_, data_fd, header, sizeof(header), 0, &got);
    if (const char* problem = SegmentHeaderProblem(header, got)) {
      Report(true, where, std::string("bad header") + problem + "; this and later segments are hidden");
      return false;
    }
    uint64_t data_size = 0;
    std::string offsets;
    (void)fs_.Size(data_fd, &data_size);
    if (ReadWholeFile(fs_, SegmentFile('R', k), &offsets) != 0) {
      Report(true, where, "cannot read the offset file");
      return false;
    }
    if (offsets.size() % sf::kOffsetEntrySize != 0) {
      Report(!last, where, "partial offset entry at the end");
    }
    const uint64_t count = offsets.size() / sf::kOffsetEntrySize;
    uint64_t previous = sf::kHeaderSize;
    std::string body;
    for (uint64_t i = 0; i < count; ++i) {
      const std::string rec_where = where + ", record " + std::to_string(*records + i);
      const uint64_t offset = DecodeFixed64(offsets.data() + i * 8);
      const bool is_last = i + 1 == count;
      const uint64_t end = is_last ? data_size : DecodeFixed64(offsets.data() + (i + 1) * 8);
      if (offset < previous || offset > data_size) {
        Report(true, rec_where, "offset " + std::to_string(offset) + " out of order or beyond the data file");
        previous = std::max(previous, std::min(offset, data_size));
        continue;
      }
      previous = offset;
      if (end < offset || end > data_size) continue;  // reported with the next entry
      if (end - offset > kMaxBodyBytes) {
        Report(true, rec_where, "body larger than 2 GiB");
        continue;
      }
      body.resize(static_cast<size_t>(end - offset));
      if (!body.empty() && ReadFully(fs_, data_fd, body.data(), body.size(), offset) != 0) {
        Report(true, rec_where, "cannot read the body");
        continue;
      }
      CheckBody(body, rec_where, last && is_last);
    }
    if (count == 0 && data_size > sf::kHeaderSize) {
      Report(!last, where, std::to_string(data_size - sf::kHeaderSize) +
                               " bytes after the header of an empty segment");
    }
    *records += count;
    return true;
  }

  void CheckBody(std::string_view body, const std::string& where, bool tail_allowed) {
    size_t pos = 0;
    std::string raw;
    for (size_t f = 0; f < types_.size(); ++f) {
      ValueExtent e;
      if (!LocateValue(types_[f], body, pos, &e)) {
        // A body that ends at a field boundary predates the later fields.
        if (pos != body.size()) {
          Report(true, where, "field " + std::to_string(f) + " runs past the end of the body");
        }
        return;
      }
      const std::string_view stored = body.substr(e.value_pos, e.value_size);
      if (IsTextType(types_[f]) && !RawFieldBytes(types_[f], stored, &raw)) {
        Report(true, where, "field " + std::to_string(f) + ": damaged text value");
      } else if (types_[f] == kFieldBinary && !IsWellFormedVariantStream(stored)) {
        Report(true, where, "field " + std::to_string(f) + ": damaged binary value");
      } else if (types_[f] == kFieldLogical && static_cast<uint8_t>(stored[0]) > 1) {
        Report(true, where, "field " + std::to_string(f) + ": logical value not 0 or 1");
      }
      pos = e.end;
    }
    if (pos != body.size()) {
      Report(!tail_allowed, where,
             std::to_string(body.size() - pos) +
                 (tail_allowed ? " uncommitted bytes after the last record (cut at the next open)"
                               : " bytes after the last field"));
    }
  }

  void CheckDeletions(uint64_t records) {
    std::string data;
    const std::string path = JoinPath(data_, name_ + ".Del");
    if (ReadWholeFile(fs_, path, &data) != 0) return;
    if (data.size() % deletion_format::kEntrySize != 0) {
      Report(false, "deletions", "partial entry at the end");
    }
    std::set<uint32_t> seen;
    for (size_t i = 0; i + 4 <= data.size(); i += 4) {
      const uint32_t n = DecodeFixed32(data.data() + i);
      if (n >= records) {
        Report(true, "deletions", "record " + std::to_string(n) + " beyond the table");
      } else if (!seen.insert(n).second) {
        Report(false, "deletions", "record " + std::to_string(n) + " listed twice");
      }
    }
    result_->deleted += seen.size();
  }

  FileSystem& fs_ = DefaultFileSystem();
  std::string name_, data_, index_;
  CheckResult* result_;
  std::vector<int> types_;
};

}  // namespace

void CheckTable(const std::string& name, const std::string& data_folder,
                const std::string& index_folder, CheckResult* result) {
  TableChecker(name, data_folder, index_folder, result).Run();
  ++result->tables;
}

CheckResult CheckProject(const std::string& project_path) {
  CheckResult result;
  std::string data;
  if (ReadWholeFile(DefaultFileSystem(), project_path, &data) != 0) {
    result.findings.push_back({true, "project file", "cannot be read"});
    return result;
  }
  if (data.size() < pf::kRecordSize ||
      std::string(data.c_str()) != pf::kBanner) {
    result.findings.push_back({true, "project file", "no banner"});
    return result;
  }
  if (data.size() % pf::kRecordSize != 0) {
    result.findings.push_back({true, "project file", "partial table record at the end"});
  }
  const std::string folder = DirName(project_path);
  for (size_t at = pf::kRecordSize; at + pf::kRecordSize <= data.size(); at += pf::kRecordSize) {
    const char* rec = data.data() + at;
    auto text = [&](size_t offset, size_t size) { return std::string(rec + offset, strnlen(rec + offset, size)); };
    const std::string name = text(pf::kNameOffset, pf::kNameSize);
    const std::string index_root = ResolveStoredFolder(folder, text(pf::kIndexFolderOffset, pf::kIndexFolderSize));
    const std::string data_root = ResolveStoredFolder(folder, text(pf::kDataFolderOffset, pf::kDataFolderSize));
    CheckTable(name, JoinPath(data_root, name), JoinPath(index_root, name), &result);
  }
  return result;
}

}  // namespace lun
