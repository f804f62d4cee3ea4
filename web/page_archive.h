// Unpacking of the page archives ("*.WR", ZIP files) into the web root.
//
// Entries are read in their stored order through minizip. Every entry name is
// checked before anything is written: a name that is absolute, carries a
// drive ("C:"), a NUL byte, or a ".." component is refused and skipped, so no
// entry can land outside the target folder. "\" in names counts as "/".
// Symbolic-link entries are written as plain files with the link text.
//
// An entry whose data cannot be read or whose file cannot be created stops
// the unpacking of that archive; entries before it stay.
#ifndef LUN_WEB_PAGE_ARCHIVE_H_
#define LUN_WEB_PAGE_ARCHIVE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

// Where unpacked entries go. Paths are relative, "/"-separated, already
// checked by SafeEntryPath.
class UnpackSink {
 public:
  virtual ~UnpackSink() = default;
  virtual bool MakeDirectory(const std::string& relative) = 0;
  virtual bool BeginFile(const std::string& relative) = 0;
  virtual bool Write(std::string_view bytes) = 0;
  virtual bool EndFile() = 0;
};

// Writes under a target directory: parents are created as needed, files are
// created (or truncated) without following symbolic links.
class DirectorySink : public UnpackSink {
 public:
  explicit DirectorySink(std::string target_directory);
  ~DirectorySink() override;
  DirectorySink(const DirectorySink&) = delete;
  DirectorySink& operator=(const DirectorySink&) = delete;
  bool MakeDirectory(const std::string& relative) override;
  bool BeginFile(const std::string& relative) override;
  bool Write(std::string_view bytes) override;
  bool EndFile() override;

 private:
  std::string target_;
  int fd_ = -1;
  uint64_t offset_ = 0;
};

struct UnpackLimits {
  uint64_t max_entries = 100000;
  uint64_t max_total_bytes = uint64_t{1} << 30;  // uncompressed, all entries
};

struct UnpackReport {
  bool opened = false;       // false: not a readable ZIP archive
  bool completed = false;    // every entry was visited
  int files = 0;
  int directories = 0;
  std::vector<std::string> refused;  // names of entries refused as unsafe
  std::string error;                 // why the unpacking stopped early, if it did
};

// The checked relative form of an entry name: "\" as "/", empty and "."
// components dropped; a trailing "/" is kept (a directory entry). Nothing when
// the name is unsafe or names no file at all.
std::optional<std::string> SafeEntryPath(std::string_view entry_name);

UnpackReport UnpackArchiveFile(const std::string& archive_path, UnpackSink& sink,
                               const UnpackLimits& limits = {});
// The same for an archive held in memory (the fuzz target and tests).
UnpackReport UnpackArchiveMemory(std::string_view archive, UnpackSink& sink,
                                 const UnpackLimits& limits = {});

}  // namespace lun

#endif  // LUN_WEB_PAGE_ARCHIVE_H_
