// An INI text held in memory: named sections in file order, each holding keys
// in file order with their values. Names and values are byte strings,
// compared exactly.
//
// Reading rules: lines end at LF, with an optional CR before it; a line that
// starts with "[" opens the section named up to the first "]" (or the end of
// the line); in a section, every other non-empty line is split at its first
// "=" into key and value, and a line without "=" is a key with an empty
// value; nothing is trimmed; lines before the first section are ignored; a
// section or key that appears again merges into the first (a later value
// replaces an earlier one, the first position is kept).
//
// Writing: per section "[name]" CR LF, then "key=value" CR LF per key.
#ifndef LUN_CONFIG_INI_TEXT_H_
#define LUN_CONFIG_INI_TEXT_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lun {

class IniDocument {
 public:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    bool operator==(const Section&) const = default;
  };

  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  // The value of `key` in `section`, or null. The pointer is valid until the
  // next Set.
  const std::string* Find(std::string_view section, std::string_view key) const;

  // Inserts or replaces a value, creating the section when needed. Characters
  // that would change the text's structure when written are replaced by a
  // blank: CR and LF anywhere, "]" in a section name, "=" in a key, and "["
  // at the start of a key. So whatever is set reads back as it was written.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  const std::vector<Section>& sections() const { return sections_; }
  bool empty() const { return sections_.empty(); }

  bool operator==(const IniDocument& other) const { return sections_ == other.sections_; }

 private:
  Section& SectionNamed(const std::string& name);

  std::vector<Section> sections_;
  // Positions in `sections_` and in each section's entries.
  std::unordered_map<std::string, size_t> section_index_;
  std::vector<std::unordered_map<std::string, size_t>> key_index_;
};

}  // namespace lun

#endif  // LUN_CONFIG_INI_TEXT_H_
