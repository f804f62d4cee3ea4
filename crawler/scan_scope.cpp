#include "crawler/scan_scope.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <array>

#include "config/bar_list.h"
#include "config/settings_store.h"
#include "crawler/extract/text_filters.h"
#include "platform/paths.h"

namespace lun {
namespace {

struct Category {
  const char* name;
  const char* types;
};

// The Office Open XML and EPUB types belong with the documents: they are
// what office documents are today. Local mail on Linux (THUNDERBIRD,
// MAILDIR) and Outlook's data files (PST, OST) belong with the mail, and
// the music formats of today (FLAC, Ogg, Opus, M4A) with the music.
constexpr std::array<Category, 7> kCategories = {{
    {"文档",
     "|WPS|DOC|XLS|PPT|PDF|TXT|RTF|SXC|STC|SXD|SXI|STI|SXW|SXG|STW|STM|ODT|OTT|ODG|OTG|ODP|OTP|"
     "ODS|OTS|ODF|DOCX|DOCM|XLSX|XLSM|PPTX|PPTM|EPUB|"},
    {"网页", "|HTM|HTX|HTT|HTML|HTA|MHT|CHM|"},
    {"邮件", "|EML|FOXMAIL|OUTLOOK|OUTLOOKEXPRESS|THUNDERBIRD|MAILDIR|PST|OST|"},
    {"音乐",
     "|MP3|MID|WMA|RM|WAV|MIDI|RMI|AU|AIF|AIFF|AIFC|ASX|WAX|M3U|WPL|WVX|WMX|FLAC|OGG|OGA|OPUS|"
     "M4A|"},
    {"视频", "|AVI|SWF|WMV|MPG|ASF|MPEG|MOV|RA|RAM|RMVB|VOB|MPA|MPE|"},
    {"图像", "|BMP|GIF|ICO|JPG|JPEG|PNG|TIF|TIFF|"},
    {"程序", "|COM|EXE|DLL|JS|VBS|BAT|OCX|"},
}};
constexpr char kOtherCategory[] = "其它";

constexpr const char* kListKeys[] = {key::kDocumentTypes, key::kOtherTextTypes, key::kPlugTypes,
                                     key::kMsnPlugTypes};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Components the crawler never enters or indexes: names starting with "$"
// (kept from the Windows convention for system folders), hidden names
// (starting with "."; caches, trash and configuration live there) and
// "lost+found".
bool HasExcludedComponent(std::string_view path) { return !ExcludedComponentOf(path).empty(); }

}  // namespace

std::string_view ExcludedComponentOf(std::string_view path) {
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    if (!part.empty() && (part[0] == '$' || part[0] == '.' || part == "lost+found")) return part;
    pos = end + 1;
  }
  return {};
}

bool IsPathUnder(std::string_view path, std::string_view dir) {
  if (dir.empty() || path.substr(0, dir.size()) != dir) return false;
  return path.size() == dir.size() || dir.back() == '/' || path[dir.size()] == '/';
}

std::string NormalizeTypeList(std::string_view value) {
  std::string list = "|" + std::string(value) + "|";
  for (size_t at; (at = list.find("||")) != std::string::npos;) list.erase(at, 1);
  return UpperAscii(list);
}

std::string TypeListFromPatterns(std::string_view patterns) {
  std::vector<std::string> types;
  size_t pos = 0;
  for (size_t end; (end = patterns.find(';', pos)) != std::string_view::npos; pos = end + 1) {
    std::string_view item = patterns.substr(pos, end - pos);
    auto trimmed = [](char c) { return c == '*' || c == '.' || c == ' '; };
    while (!item.empty() && trimmed(item.front())) item.remove_prefix(1);
    while (!item.empty() && trimmed(item.back())) item.remove_suffix(1);
    types.emplace_back(item);
  }
  return NormalizeTypeList(JoinBarList(types));
}

std::string TypeTokenOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string_view ext =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  return "|" + UpperAscii(ext) + "|";
}

bool ListContainsToken(std::string_view list, std::string_view token) {
  return UpperAscii(list).find(UpperAscii(token)) != std::string::npos;
}

std::string CategoryOfType(std::string_view token) {
  for (const Category& c : kCategories) {
    if (ListContainsToken(c.types, token)) return c.name;
  }
  return kOtherCategory;
}

int CategoryIndex(std::string_view name) {
  for (size_t i = 0; i < kCategories.size(); ++i) {
    if (name == kCategories[i].name) return static_cast<int>(i);
  }
  return name == kOtherCategory ? static_cast<int>(kCategories.size()) : -1;
}

std::string CategoryName(int index) {
  if (index >= 0 && index < static_cast<int>(kCategories.size())) return kCategories[index].name;
  return index == static_cast<int>(kCategories.size()) ? kOtherCategory : "";
}

bool IsSizeIndexable(uint64_t size) { return size <= kMaxIndexedFileSize; }

bool HasDiskSpace(const std::string& path, uint64_t megabytes) {
  struct statvfs st;
  if (statvfs(path.c_str(), &st) != 0) return false;
  return (uint64_t{st.f_bavail} * st.f_frsize >> 20) >= megabytes;
}

void ScanScope::Load(SettingsStore& settings, const std::string& default_root,
                     const std::vector<std::string>& system_forbidden) {
  std::string permitted = settings.GetValue(kSearchSection, key::kPermittedPaths);
  bool used_default = false;
  if (SplitBarList(permitted).empty()) {
    permitted = "|" + default_root + "|";
    settings.SetValue(kSearchSection, key::kPermittedPaths, permitted);
    used_default = true;
  }
  std::vector<std::string> forbidden;
  for (const std::string& p :
       SplitBarList(settings.GetValue(kSearchSection, key::kForbiddenPaths))) {
    forbidden.push_back(WithoutTrailingSlash(p));
  }
  forbidden.insert(forbidden.end(), system_forbidden.begin(), system_forbidden.end());

  for (int kind = 0; kind < 4; ++kind) {
    ReplaceTypeList(static_cast<TypeListKind>(kind),
                    settings.GetValue(kSearchSection, kListKeys[kind]));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  permitted_.clear();
  for (const std::string& p : SplitBarList(permitted))
    permitted_.push_back(WithoutTrailingSlash(p));
  forbidden_ = std::move(forbidden);
  used_default_roots_ = used_default;
}

bool ScanScope::ReplaceTypeList(TypeListKind kind, std::string_view value, bool* lost) {
  const std::string list =
      kind == TypeListKind::kOtherText ? TypeListFromPatterns(value) : NormalizeTypeList(value);
  std::lock_guard<std::mutex> lock(mutex_);
  std::string& slot = lists_[static_cast<int>(kind)];
  bool added = false;
  for (const std::string& token : SplitBarList(list)) {
    if (!ListContainsToken(slot, "|" + token + "|")) added = true;
  }
  if (lost) {
    *lost = false;
    for (const std::string& token : SplitBarList(slot)) {
      if (!ListContainsToken(list, "|" + token + "|")) *lost = true;
    }
  }
  slot = list;
  return added;
}

std::string ScanScope::TypeList(TypeListKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lists_[static_cast<int>(kind)];
}

bool ScanScope::IsTypeAdmitted(std::string_view token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ListContainsToken(lists_[0], "|FILENAME|")) return true;
  for (const std::string& list : lists_) {
    if (ListContainsToken(list, token)) return true;
  }
  return false;
}

bool ScanScope::IsForbidden(std::string_view path) const {
  return ForbiddingEntry(path) != nullptr;
}

std::string ScanScope::ForbiddenPathOver(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string* entry = ForbiddingEntry(path);
  return entry ? *entry : std::string();
}

const std::string* ScanScope::ForbiddingEntry(std::string_view path) const {
  for (const std::string& f : forbidden_) {
    if (!IsPathUnder(path, f)) continue;
    // The nearer choice wins: a root the user chose inside a forbidden
    // path (a folder under the temporary directory) is walked all the same.
    bool chosen_inside = false;
    for (const std::string& root : permitted_) {
      chosen_inside =
          chosen_inside || (root != f && IsPathUnder(root, f) && IsPathUnder(path, root));
    }
    if (!chosen_inside) return &f;
  }
  return nullptr;
}

bool ScanScope::IsDirectoryExcluded(std::string_view path) const {
  if (HasExcludedComponent(path)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  return IsForbidden(path);
}

std::string ScanScope::WhyRootSkipped(const std::string& root) const {
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return "不存在";
  if (!S_ISDIR(st.st_mode)) return "不是文件夹";
  if (access(root.c_str(), R_OK | X_OK) != 0) return "没有读取权限";
  if (HasExcludedComponent(root)) return "路径中有隐藏或系统文件夹 (以 . 或 $ 开头, lost+found)";
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsForbidden(root)) return "";
  for (const std::string& f : forbidden_) {
    if (IsPathUnder(root, f)) return "在禁止扫描的路径 " + f + " 中";
  }
  return "在禁止扫描的路径中";
}

bool ScanScope::IsFileExcluded(std::string_view path) const {
  if (HasExcludedComponent(path)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  return clearing_ || IsForbidden(path);
}

bool ScanScope::ServiceExtracts(std::string_view token) const {
  const TypeLists lists{TypeList(TypeListKind::kDocument), TypeList(TypeListKind::kOtherText),
                        TypeList(TypeListKind::kPlugin), TypeList(TypeListKind::kMsnPlugin)};
  return TextSourceOf(token, lists) == TextSource::kCrawlService;
}

void ScanScope::SetPermittedRoots(const std::vector<std::string>& roots) {
  std::lock_guard<std::mutex> lock(mutex_);
  permitted_.clear();
  for (const std::string& root : roots) permitted_.push_back(WithoutTrailingSlash(root));
}

std::vector<std::string> ScanScope::PermittedRoots() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return permitted_;
}

bool ScanScope::IsInPermittedRoot(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& root : permitted_) {
    if (IsPathUnder(path, root)) return true;
  }
  return false;
}

bool ScanScope::used_default_roots() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_default_roots_;
}

void ScanScope::SetClearing(bool clearing) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearing_ = clearing;
}

std::vector<std::string> SystemForbiddenPaths() {
  return {"/proc", "/sys", "/dev", "/run", TempDirectory(), ApplicationHome()};
}

void InstallTypeListHooks(SettingsStore& settings, ScanScope& scope,
                          std::function<void()> on_new_types,
                          std::function<void(const std::string&)> on_document_types,
                          std::function<void()> on_lost_types) {
  for (int kind = 0; kind < 4; ++kind) {
    const auto list_kind = static_cast<TypeListKind>(kind);
    settings.SetApplyHook(kListKeys[kind], [&scope, list_kind, on_new_types, on_document_types,
                                            on_lost_types](const std::string& value) {
      bool lost = false;
      const bool gained = scope.ReplaceTypeList(list_kind, value, &lost);
      if (list_kind == TypeListKind::kDocument && on_document_types) on_document_types(value);
      if (lost && on_lost_types) on_lost_types();
      if (gained && on_new_types) on_new_types();
    });
  }
}

}  // namespace lun
