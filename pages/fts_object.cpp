#include "pages/fts_object.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

#include "automation/text_case.h"
#include "config/bar_list.h"
#include "config/password_hash.h"
#include "config/settings_store.h"
#include "crawler/document_table.h"
#include "crawler/extract/archive_member_file.h"
#include "crawler/extract/archive_members.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/extract/text_filters.h"
#include "crawler/saved_searches.h"
#include "crawler/scan_scope.h"
#include "engine/query/highlighter.h"
#include "engine/query/query_escape.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/search_project.h"
#include "pages/file_types.h"
#include "pages/indexed_file.h"
#include "pages/text_diff.h"
#include "pages/recordset_object.h"
#include "platform/autostart.h"
#include "platform/desktop/desktop_apps.h"
#include "platform/desktop/icon_theme.h"
#include "platform/desktop/machine.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/uuid.h"
#include "web/http_response.h"
#include "web/page_runner.h"

namespace lun {
namespace {

constexpr auto kGet = static_cast<std::uint16_t>(DISPATCH_PROPERTYGET | DISPATCH_METHOD);
constexpr auto kPut = static_cast<std::uint16_t>(DISPATCH_PROPERTYPUT);
constexpr char kHelpPrefix[] = "mk:@MSITStore:";
// Script error of a put that could not be saved ("Permission denied").
constexpr int kCannotSaveError = 70;
// The most hits a content snapshot marks and anchors at once: the page shows
// further ones on demand, so a large document with a common word stays
// quick to build and to show.
constexpr int64_t kMaxSnapshotHits = 1000;
// Setting values are read as into a buffer of this many bytes.
constexpr size_t kSettingCapacity = 10200;

std::string Narrow(const Variant& v) { return ToNarrow(v.AsString()); }
Variant Wide(std::string_view text) { return Variant::Bstr(ToWide(text)); }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         UpperAscii(text.substr(0, prefix.size())) == UpperAscii(prefix);
}

bool OneOfIgnoreCase(std::string_view value, std::initializer_list<std::string_view> list) {
  const std::string upper = UpperAscii(value);
  for (std::string_view item : list) {
    if (upper == item) return true;
  }
  return false;
}

// A path as a file of the system: whether it exists, and what it is.
struct FileKind {
  bool exists = false;
  bool regular = false;
  bool executable = false;
};

FileKind KindOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {true, S_ISREG(st.st_mode),
          S_ISREG(st.st_mode) && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0};
}

// The file a page names for opening: a help-file reference
// "mk:@MSITStore:/dir/help.chm::/page.htm" stands for the help file itself.
std::string FileOfReference(std::string path) {
  if (StartsWithIgnoreCase(path, kHelpPrefix)) {
    path = path.substr(sizeof kHelpPrefix - 1);
    path = path.substr(0, path.find("::"));
  }
  return path;
}

// Programs are never sent: a download of one is too easily run.
bool IsProgramName(const std::string& path) {
  return OneOfIgnoreCase(FileExtension(BaseName(path)), {".EXE", ".COM", ".BAT", ".SH"});
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

std::string LocalTimeText(std::time_t when = std::time(nullptr)) {
  const std::time_t now = when;
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

const FileTypeRow* RowOf(const Variant& index) {
  return FileTypeAt(static_cast<int>(index.AsInteger()));
}

}  // namespace

std::u16string TransformCommand(std::u16string_view text) {
  return ToWide(EscapeQueryText(ToNarrow(text)));
}

std::string ScopePathLines(std::string_view stored) { return JoinLines(SplitBarList(stored)); }

bool ScopePathsFromLines(std::string_view lines, std::string* stored) {
  std::vector<std::string> paths;
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t end = lines.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = lines.size();
    std::string_view line = lines.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.size() > 1 && line.back() == '/') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line.find('|') != std::string_view::npos) return false;
    paths.emplace_back(line);
  }
  *stored = JoinBarList(paths);
  return true;
}

using F = FtsObject;

// clang-format off
const FtsObject::Table FtsObject::kTable = {
    {{u"ClearLog", 1, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &F::ClearLog},
    {{u"WriteLog", 2, DISPATCH_METHOD, 3, 3, {VT_BSTR, VT_BSTR, VT_BSTR}, VT_EMPTY}, &F::WriteLog},
    {{u"KeywordNavigate", 3, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::KeywordNavigate},
    {{u"UTF8ToGB2312", 4, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::Utf8ToGb2312},
    {{u"MarkKeyword", 5, kGet, 2, 2, {VT_BSTR, VT_BSTR}, VT_BSTR}, &F::MarkKeyword},
    {{u"DownLoad", 6, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::DownLoad},
    {{u"OpenFile", 7, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::OpenFile},
    {{u"TransformCommand", 8, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::TransformCommandMember},
    {{u"Execute", 9, kGet, 1, 1, {VT_BSTR}, VT_DISPATCH}, &F::Execute},
    {{u"DeleteRecord", 10, kGet, 2, 2, {VT_BSTR, VT_I4}, VT_BOOL}, &F::DeleteRecord},
    {{u"LookAt", 11, kGet, 2, 2, {VT_BSTR, VT_I4}, VT_DISPATCH}, &F::LookAt},
    {{u"FileTypeIcon", 12, kGet, 2, 2, {VT_BSTR, VT_BSTR}, VT_BSTR}, &F::FileTypeIcon},
    {{u"Thumbnail", 13, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::Thumbnail},
    {{u"Snap", 14, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::Snap},
    {{u"GetFolder", 15, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::GetFolder},
    {{u"SubFolders", 16, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::SubFolders},
    {{u"GetFileName", 17, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::GetFileName},
    {{u"LUNFilterInfo", 18, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::FilterInfo},
    {{u"LUNFilterName", 19, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::FilterName},
    {{u"LUNFilterType", 20, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::FilterType},
    {{u"LUNFilterCount", 21, kGet, 0, 0, {}, VT_I4}, &F::FilterCount},
    {{u"LUNPlugName", 22, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::PlugName},
    {{u"LUNPlugType", 23, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::PlugType},
    {{u"LUNPlugCount", 24, kGet, 0, 0, {}, VT_I4}, &F::PlugCount},
    {{u"MSNPlugName", 25, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::MsnPlugName},
    {{u"MSNPlugType", 26, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::MsnPlugType},
    {{u"MSNPlugCount", 27, kGet, 0, 0, {}, VT_I4}, &F::MsnPlugCount},
    {{u"FileIcon", 28, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::FileIcon},
    {{u"FileMenuList", 29, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::FileMenuList},
    {{u"FileMenuIcon", 30, kGet, 2, 2, {VT_BSTR, VT_I4}, VT_BOOL}, &F::FileMenuIcon},
    {{u"FileCommand", 31, kGet, 2, 2, {VT_BSTR, VT_I4}, VT_BOOL}, &F::FileCommand},
    {{u"Setting", 32, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::GetSetting},
    {{u"Setting", 32, kPut, 2, 2, {VT_BSTR, VT_BSTR}, VT_EMPTY}, &F::PutSetting},
    {{u"NewGuid", 33, kGet, 0, 0, {}, VT_BSTR}, &F::NewGuid},
    {{u"Dictionary", 34, kGet, 0, 0, {}, VT_DISPATCH}, &F::GetDictionary},
    {{u"FilterTotalCount", 35, kGet, 0, 0, {}, VT_I4}, &F::FilterTotalCount},
    {{u"ForbidPath", 36, kGet, 0, 0, {}, VT_BSTR}, &F::GetForbidPath},
    {{u"ForbidPath", 36, kPut, 1, 1, {VT_BSTR}, VT_EMPTY}, &F::PutForbidPath},
    {{u"PermitPath", 37, kGet, 0, 0, {}, VT_BSTR}, &F::GetPermitPath},
    {{u"PermitPath", 37, kPut, 1, 1, {VT_BSTR}, VT_EMPTY}, &F::PutPermitPath},
    {{u"AutoStart", 38, kGet, 0, 0, {}, VT_BOOL}, &F::GetAutoStart},
    {{u"AutoStart", 38, kPut, 1, 1, {VT_BOOL}, VT_EMPTY}, &F::PutAutoStart},
    {{u"TryStop", 39, kGet, 0, 0, {}, VT_BOOL}, &F::TryStop},
    {{u"Manage", 40, kGet, 0, 0, {}, VT_BOOL}, &F::Manage},
    {{u"ScanComplete", 41, kGet, 0, 0, {}, VT_BOOL}, &F::ScanComplete},
    {{u"Ver", 42, kGet, 0, 0, {}, VT_BSTR}, &F::Ver},
    {{u"NewVer", 43, kGet, 0, 0, {}, VT_BSTR}, &F::NewVer},
    {{u"NewVerInfo", 44, kGet, 0, 0, {}, VT_BSTR}, &F::NewVerInfo},
    {{u"NewVerDownURL", 45, kGet, 0, 0, {}, VT_BSTR}, &F::NewVerDownUrl},
    {{u"InternetConnected", 46, kGet, 0, 0, {}, VT_BOOL}, &F::InternetConnectedMember},
    {{u"ID", 47, kGet, 0, 0, {}, VT_BSTR}, &F::Id},
    {{u"FileMon", 48, kGet, 0, 0, {}, VT_BOOL}, &F::GetFileMon},
    {{u"FileMon", 48, kPut, 1, 1, {VT_BOOL}, VT_EMPTY}, &F::PutFileMon},
    {{u"TotalCount", 49, kGet, 0, 0, {}, VT_I4}, &F::TotalCount},
    {{u"LocalUser", 50, kGet, 0, 0, {}, VT_BOOL}, &F::LocalUser},
    {{u"Loopback", 51, kGet, 0, 0, {}, VT_BOOL}, &F::Loopback},
    {{u"CrossSite", 52, kGet, 0, 0, {}, VT_BOOL}, &F::CrossSite},
    {{u"IdCode", 53, kGet, 0, 0, {}, VT_BSTR}, &F::IdCode},
    {{u"RemoteUser", 54, kGet, 0, 0, {}, VT_BOOL}, &F::RemoteUserMember},
    {{u"Login", 55, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::Login},
    {{u"LoginWait", 56, kGet, 0, 0, {}, VT_I4}, &F::LoginWait},
    {{u"CheckFile", 57, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::CheckFile},
    {{u"SnapshotHits", 58, kGet, 2, 2, {VT_BSTR, VT_BSTR}, VT_I4}, &F::SnapshotHits},
    {{u"MarkSnapshot", 59, kGet, 4, 4, {VT_BSTR, VT_BSTR, VT_I4, VT_I4}, VT_BSTR}, &F::MarkSnapshot},
    {{u"FileGone", 60, kGet, 2, 2, {VT_BSTR, VT_BSTR}, VT_BOOL}, &F::FileGone},
    {{u"IndexStatus", 61, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::IndexStatus},
    {{u"IndexControl", 62, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::IndexControl},
    {{u"Diagnose", 63, kGet, 1, 1, {VT_BSTR}, VT_BSTR}, &F::Diagnose},
    {{u"IndexNow", 64, kGet, 1, 1, {VT_BSTR}, VT_BOOL}, &F::IndexNow},
    {{u"DiffText", 70, kGet, 2, 2, {VT_BSTR, VT_BSTR}, VT_BSTR}, &F::DiffText},
    {{u"SaveSearch", 71, kGet, 3, 3, {VT_BSTR, VT_BSTR, VT_BSTR}, VT_BSTR}, &F::SaveSearch},
    {{u"SavedSearchList", 72, kGet, 0, 0, {}, VT_BSTR}, &F::SavedSearchList},
    {{u"SavedSearchHits", 73, kGet, 1, 1, {VT_I4}, VT_BSTR}, &F::SavedSearchHits},
    {{u"MarkSearchSeen", 74, kGet, 1, 1, {VT_I4}, VT_BOOL}, &F::MarkSearchSeen},
    {{u"DeleteSavedSearch", 75, kGet, 1, 1, {VT_I4}, VT_BOOL}, &F::DeleteSavedSearch},
    {{u"SavedSearchNews", 76, kGet, 0, 0, {}, VT_I4}, &F::SavedSearchNews},
    {{u"LookAtVersion", 77, kGet, 1, 1, {VT_I4}, VT_DISPATCH}, &F::LookAtVersion},
};
// clang-format on

FtsObject::FtsObject(const FtsEnvironment& env, FtsPage page)
    : TableDispatch(kTable), env_(env), page_(std::move(page)) {}

bool FtsObject::Active() const { return !page_.active || page_.active(); }

bool FtsObject::MayChangeState() const { return Active() && !page_.access.cross_site; }

std::string FtsObject::Setting(std::string_view key) const {
  return env_.settings ? env_.settings->GetValue(kSearchSection, key, {}, kSettingCapacity) : "";
}

// ---- the index and the log

HResult FtsObject::ClearLog(Args, Variant*, ExcepInfo*) {
  DataTable* log = MayChangeState() && env_.project ? env_.project->FindTable(kLogTable) : nullptr;
  if (log) (void)log->ClearTable();
  return S_OK;
}

HResult FtsObject::WriteLog(Args args, Variant*, ExcepInfo*) {
  if (Active()) AppendLog(Narrow(args[0]), Narrow(args[1]), Narrow(args[2]));
  return S_OK;
}

void FtsObject::AppendLog(std::string_view ip, std::string_view action,
                          std::string_view text) const {
  DataTable* log = env_.project ? EnsureLogTable(*env_.project) : nullptr;
  if (!log) return;
  RecordWriter writer = log->NewRecord();
  writer.SetValue("时间", Wide(LocalTimeText()));
  writer.SetValue("IP", Wide(ip));
  writer.SetValue("行为", Wide(action));
  writer.SetValue("内容", Wide(text));
  (void)writer.Commit();
}

std::shared_ptr<RecordsetObject> FtsObject::NewRecordset() const {
  RecordsetServices services;
  services.search = env_.search;
  if (const DocumentWriter* documents = env_.documents) {
    services.category_list = [documents](int index) { return documents->CategoryList(index); };
  }
  return std::make_shared<RecordsetObject>(std::move(services));
}

HResult FtsObject::Execute(Args args, Variant* result, ExcepInfo*) {
  if (!Active()) {
    *result = Variant::Object(nullptr);
    return S_OK;
  }
  auto rs = NewRecordset();
  std::unique_ptr<Recordset> rows;
  const int code =
      env_.search ? env_.search->Search(Narrow(args[0]), &rows) : kRecordsetCreateFailed;
  if (code == kEngineOk && rows) {
    rs->Attach(std::move(rows));
  } else {
    rs->Fail(code == kEngineOk ? kRecordsetOpenFailed : code);
  }
  *result = Variant::Object(std::move(rs));
  return S_OK;
}

HResult FtsObject::DeleteRecord(Args args, Variant* result, ExcepInfo*) {
  DataTable* table =
      MayChangeState() && env_.project ? env_.project->FindTable(Narrow(args[0])) : nullptr;
  const int64_t record = args[1].AsInteger();
  *result =
      Variant::Bool(table && record >= 0 && table->DeleteRecord(static_cast<uint32_t>(record)));
  return S_OK;
}

HResult FtsObject::LookAt(Args args, Variant* result, ExcepInfo*) {
  *result = OpenOneRecord(Narrow(args[0]), args[1].AsInteger(), false);
  return S_OK;
}

HResult FtsObject::LookAtVersion(Args args, Variant* result, ExcepInfo*) {
  *result = OpenOneRecord(kDocumentTable, args[0].AsInteger(), true);
  return S_OK;
}

Variant FtsObject::OpenOneRecord(const std::string& name, int64_t record, bool with_deleted) const {
  if (!Active()) return Variant::Object(nullptr);
  auto rs = NewRecordset();
  DataTable* table = env_.project ? env_.project->FindTable(name) : nullptr;
  if (!table || !env_.search) {
    rs->Fail(kNoSuchTable);
  } else if (record < 0 || record >= table->record_count() ||
             (!with_deleted && table->IsDeleted(static_cast<uint32_t>(record)))) {
    // The engine would show a record that is not there as a row of empty
    // values.
    rs->Fail(kEmptyRecordset);
  } else if (auto rows = env_.search->OpenRecord(name, static_cast<uint32_t>(record))) {
    rs->Attach(std::move(rows));
  } else {
    rs->Fail(kDatabaseLocked);
  }
  return Variant::Object(std::move(rs));
}

HResult FtsObject::ScanComplete(Args, Variant* result, ExcepInfo*) {
  const DataTable* queue = env_.project ? env_.project->FindTable(kQueueTable) : nullptr;
  *result = Variant::Bool(!queue || queue->live_count() == 0);
  return S_OK;
}

HResult FtsObject::TotalCount(Args, Variant* result, ExcepInfo*) {
  const DataTable* docs = env_.project ? env_.project->FindTable(kDocumentTable) : nullptr;
  *result = Variant::I4(docs ? static_cast<int32_t>(docs->live_count()) : 0);
  return S_OK;
}

// ---- text helpers

HResult FtsObject::KeywordNavigate(Args args, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(KeywordNavigation(args[0].AsString()));
  return S_OK;
}

HResult FtsObject::Utf8ToGb2312(Args args, Variant* result, ExcepInfo*) {
  // Both code pages are UTF-8 on this system: decoding the text's bytes as
  // UTF-8 gives the text back.
  *result = Variant::Bstr(ToWide(ToNarrow(args[0].AsString())));
  return S_OK;
}

HResult FtsObject::MarkKeyword(Args args, Variant* result, ExcepInfo*) {
  Highlighter highlighter;
  highlighter.SetText(args[0].AsString());
  if (Active()) AddMarkWords(&highlighter, args[1].AsString());
  *result = Variant::Bstr(highlighter.RenderPlain());
  return S_OK;
}

HResult FtsObject::SnapshotHits(Args args, Variant* result, ExcepInfo*) {
  Highlighter highlighter;
  highlighter.SetText(args[0].AsString());
  AddMarkWords(&highlighter, args[1].AsString());
  *result = Variant::I4(static_cast<int32_t>(
      std::min<size_t>(highlighter.marks().size(), std::numeric_limits<int32_t>::max())));
  return S_OK;
}

HResult FtsObject::MarkSnapshot(Args args, Variant* result, ExcepInfo*) {
  Highlighter highlighter;
  highlighter.SetText(args[0].AsString());
  AddMarkWords(&highlighter, args[1].AsString());
  const int64_t first = std::max<int64_t>(args[2].AsInteger(), 0);
  const int64_t count = std::clamp<int64_t>(args[3].AsInteger(), 0, kMaxSnapshotHits);
  *result = Variant::Bstr(
      highlighter.RenderAnchoredWindow(static_cast<size_t>(first), static_cast<size_t>(count)));
  return S_OK;
}

HResult FtsObject::TransformCommandMember(Args args, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(TransformCommand(args[0].AsString()));
  return S_OK;
}

HResult FtsObject::Thumbnail(Args args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(OneOfIgnoreCase(Narrow(args[0]), {"GIF", "JPG", "JPEG", "BMP"}));
  return S_OK;
}

HResult FtsObject::Snap(Args args, Variant* result, ExcepInfo*) {
  const std::string name = Narrow(args[0]);
  bool known = false;
  for (std::string_view c : {"文档", "网页", "邮件", "音乐", "其它"}) known = known || name == c;
  *result = Variant::Bool(known);
  return S_OK;
}

HResult FtsObject::GetFolder(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  const size_t slash = path.find_last_of('/');
  *result = Wide(slash == std::string::npos ? "" : slash == 0 ? "/" : path.substr(0, slash));
  return S_OK;
}

HResult FtsObject::GetFileName(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  const size_t slash = path.find_last_of('/');
  *result = Wide(slash == std::string::npos ? path : path.substr(slash + 1));
  return S_OK;
}

HResult FtsObject::SubFolders(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  *result = Wide(JoinLines(path.empty() ? LocalMountPoints() : SubDirectoryNames(path)));
  return S_OK;
}

// ---- files on the desktop

FileCheck FtsObject::OpenChecked(const std::string& path, FileRole role, int* fd) const {
  return OpenIndexedFile(path, role, env_.scope, env_.search, fd);
}

HResult FtsObject::DownLoad(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  const bool allowed =
      page_.local_user || (RemoteUser() && Setting(key::kRemoteDownload) == kAllow);
  bool sent = false;
  int fd = -1;
  if (Active() && page_.responder && allowed && !IsProgramName(path) &&
      OpenChecked(path, FileRole::kIndexedFile, &fd) == FileCheck::kOk) {
    sent = page_.responder->SendFile(path, fd);
  }
  *result = Variant::Bool(sent);
  return S_OK;
}

bool FtsObject::Launch(const std::vector<std::string>& argv) const {
  return env_.launch ? env_.launch(argv) : LaunchDetached(argv);
}

// The path is checked like a download (a folder: only its place and links);
// the desktop program then opens it by name, as it cannot take a descriptor.
// An archive member is opened as a private copy (archive_member_file.h),
// once its archive passes the checks of an indexed file; a member that
// would run code on the desktop is not.
bool FtsObject::OpenArchiveMember(const std::string& key) const {
  const std::string archive = key.substr(0, key.find("::"));
  int fd = -1;
  if (key.ends_with(".desktop") ||
      OpenChecked(archive, FileRole::kIndexedFile, &fd) != FileCheck::kOk) {
    return false;
  }
  close(fd);
  const std::string reader =
      env_.archive_reader.empty() ? JoinPath(ProgramDirectory(), "luncrawl") : env_.archive_reader;
  std::string copy;
  return CopyArchiveMemberOut(reader, PathOnDisk(key), &copy) == 0 && Launch({"xdg-open", copy});
}

HResult FtsObject::OpenFile(Args args, Variant* result, ExcepInfo*) {
  if (IsArchiveMemberKey(Narrow(args[0]))) {
    *result = Variant::Bool(Active() && page_.local_user && OpenArchiveMember(Narrow(args[0])));
    return S_OK;
  }
  const std::string path = FileOfReference(Narrow(args[0]));
  const FileKind kind = KindOf(path);
  // Opening a program or a desktop entry would run it: a page must never be
  // able to start code on the desktop.
  const bool runs_code = kind.executable || path.ends_with(".desktop");
  bool opened = false;
  if (Active() && page_.local_user && !runs_code) {
    int fd = -1;
    const FileRole role = kind.exists && !kind.regular ? FileRole::kFolder : FileRole::kIndexedFile;
    if (OpenChecked(path, role, &fd) == FileCheck::kOk) {
      close(fd);
      opened = Launch({"xdg-open", PathOnDisk(path)});
    }
  }
  *result = Variant::Bool(opened);
  return S_OK;
}

HResult FtsObject::CheckFile(Args args, Variant* result, ExcepInfo*) {
  const std::string path = FileOfReference(Narrow(args[0]));
  const FileKind kind = KindOf(PathOnDisk(path));
  int fd = -1;
  const FileCheck check = OpenChecked(
      path, kind.exists && !kind.regular ? FileRole::kFolder : FileRole::kIndexedFile, &fd);
  if (fd >= 0) close(fd);
  *result = Wide(FileCheckMessage(check));
  return S_OK;
}

HResult FtsObject::FileGone(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  // Only the records of files: a file's "路径" is the folder of its path;
  // mail keeps its key there, and an archive member's key ("a.zip::m") has
  // no file of its own.
  const bool file_path = path.starts_with('/') && DirName(path) == Narrow(args[1]) &&
                         path.find("::") == std::string::npos;
  struct stat st;
  *result =
      Variant::Bool(file_path && lstat(PathOnDisk(path).c_str(), &st) != 0 && errno == ENOENT);
  return S_OK;
}

HResult FtsObject::IndexStatus(Args args, Variant* result, ExcepInfo*) {
  *result = Wide(env_.index_status ? env_.index_status(Narrow(args[0])) : std::string());
  return S_OK;
}

HResult FtsObject::IndexControl(Args args, Variant* result, ExcepInfo*) {
  const bool done = MayChangeState() && page_.local_user && env_.index_control &&
                    env_.index_control(Narrow(args[0]));
  *result = Variant::Bool(done);
  return S_OK;
}

HResult FtsObject::Diagnose(Args args, Variant* result, ExcepInfo*) {
  // It names the user's files and shows their text: the local user's only.
  const bool allowed = page_.local_user && env_.diagnose;
  *result = Wide(allowed ? env_.diagnose(Narrow(args[0])) : std::string());
  return S_OK;
}

HResult FtsObject::IndexNow(Args args, Variant* result, ExcepInfo*) {
  const bool done =
      MayChangeState() && page_.local_user && env_.index_now && env_.index_now(Narrow(args[0]));
  *result = Variant::Bool(done);
  return S_OK;
}

HResult FtsObject::FileTypeIcon(Args args, Variant* result, ExcepInfo*) {
  const std::string extension = Narrow(args[0]);
  const std::string folder = Narrow(args[1]);
  std::string name = "File.gif";
  const bool plain = !extension.empty() && extension.find_first_of("/\\") == std::string::npos &&
                     extension.find("..") == std::string::npos;
  if (plain && page_.map_path) {
    // File names are case-sensitive here: try the extension as given and in
    // lower case.
    const std::string lower = ToNarrow(ToLowerText(ToWide(extension)));
    for (const std::string& candidate : {extension + ".gif", lower + ".gif"}) {
      if (KindOf(page_.map_path(folder + "/" + candidate)).regular) {
        name = candidate;
        break;
      }
    }
  }
  *result = Wide(name);
  return S_OK;
}

std::vector<std::string> FtsObject::DataDirs() const {
  return env_.data_dirs.empty() ? XdgDataDirs() : env_.data_dirs;
}

std::vector<DesktopApp> FtsObject::AppsFor(const std::string& path) const {
  const std::vector<std::string> dirs = DataDirs();
  return AppsForMimeType(MimeTypeOf(path, dirs), dirs);
}

bool FtsObject::AppAt(const std::string& path, int64_t id, DesktopApp* app) const {
  std::vector<DesktopApp> apps = AppsFor(path);
  if (id < 1 || id > static_cast<int64_t>(apps.size())) return false;
  *app = std::move(apps[static_cast<size_t>(id - 1)]);
  return true;
}

bool FtsObject::SendPng(const std::string& icon_path) {
  // Like a download, an icon answers for the page only while it runs.
  if (!Active() || !page_.responder) return false;
  page_.responder->SendMemory(".png", IconPngOrFallback(icon_path));
  return true;
}

HResult FtsObject::FileIcon(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  const std::vector<std::string> dirs = DataDirs();
  std::vector<std::string> names = MimeIconNames(MimeTypeOf(path, dirs), dirs);
  std::string icon = FindThemeIcon(names, "mimetypes", dirs);
  if (icon.empty()) icon = FindThemeIcon(names, "places", dirs);
  *result = Variant::Bool(!path.empty() && SendPng(icon));
  return S_OK;
}

HResult FtsObject::FileMenuList(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  std::string list;
  if (!path.empty()) {
    const std::vector<std::string> dirs = DataDirs();
    int id = 0;
    for (const DesktopApp& app : AppsFor(path)) {
      const bool has_icon = !FindThemeIcon({app.icon}, "apps", dirs).empty();
      // A name holding the separators would break the line apart.
      std::string name = app.name;
      for (char& c : name) c = c == '|' || c == '\r' || c == '\n' ? ' ' : c;
      list += "|" + std::to_string(has_icon ? 1 : 0) + "||" + std::to_string(++id) + "|" + name +
              "|\r\n";
    }
  }
  *result = Wide(list);
  return S_OK;
}

HResult FtsObject::FileMenuIcon(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  DesktopApp app;
  *result = Variant::Bool(AppAt(path, args[1].AsInteger(), &app) &&
                          SendPng(FindThemeIcon({app.icon}, "apps", DataDirs())));
  return S_OK;
}

HResult FtsObject::FileCommand(Args args, Variant* result, ExcepInfo*) {
  const std::string path = Narrow(args[0]);
  DesktopApp app;
  bool started = false;
  if (page_.local_user && path.starts_with('/') && AppAt(path, args[1].AsInteger(), &app)) {
    const std::vector<std::string> argv = ExecArguments(app.exec, app.name, path);
    started = !argv.empty() && Launch(argv);
  }
  *result = Variant::Bool(started);
  return S_OK;
}

// ---- file types and plug-ins

HResult FtsObject::FilterInfo(Args args, Variant* result, ExcepInfo*) {
  const FileTypeRow* row = RowOf(args[0]);
  *result = Wide(row ? row->description : "");
  return S_OK;
}

HResult FtsObject::FilterName(Args args, Variant* result, ExcepInfo*) {
  const FileTypeRow* row = RowOf(args[0]);
  *result = Wide(row ? row->name : "");
  return S_OK;
}

HResult FtsObject::FilterType(Args args, Variant* result, ExcepInfo*) {
  const FileTypeRow* row = RowOf(args[0]);
  *result = Wide(row ? row->types : "");
  return S_OK;
}

HResult FtsObject::FilterCount(Args, Variant* result, ExcepInfo*) {
  *result = Variant::I4(static_cast<int32_t>(BuiltInFileTypes().size()));
  return S_OK;
}

HResult FtsObject::PluginText(const PluginRegistry* registry, bool types, Args args,
                              Variant* result) const {
  PluginInfoBlock block{};
  if (!registry || !registry->GetPluginInfo(static_cast<int>(args[0].AsInteger()), &block)) {
    *result = Variant::Bstr(u"");
    return S_OK;
  }
  // The block comes from a plug-in: never read past it, terminated or not.
  std::u16string_view text = types ? std::u16string_view(block.types, std::size(block.types))
                                   : std::u16string_view(block.display, std::size(block.display));
  *result = Variant::Bstr(text.substr(0, text.find(u'\0')));
  return S_OK;
}

HResult FtsObject::PlugName(Args args, Variant* result, ExcepInfo*) {
  return PluginText(env_.plugins, false, args, result);
}

HResult FtsObject::PlugType(Args args, Variant* result, ExcepInfo*) {
  return PluginText(env_.plugins, true, args, result);
}

HResult FtsObject::PlugCount(Args, Variant* result, ExcepInfo*) {
  *result = Variant::I4(env_.plugins ? env_.plugins->PluginCount() : 0);
  return S_OK;
}

HResult FtsObject::MsnPlugName(Args args, Variant* result, ExcepInfo*) {
  return PluginText(env_.msn_plugins, false, args, result);
}

HResult FtsObject::MsnPlugType(Args args, Variant* result, ExcepInfo*) {
  return PluginText(env_.msn_plugins, true, args, result);
}

HResult FtsObject::MsnPlugCount(Args, Variant* result, ExcepInfo*) {
  *result = Variant::I4(env_.msn_plugins ? env_.msn_plugins->PluginCount() : 0);
  return S_OK;
}

HResult FtsObject::FilterTotalCount(Args, Variant* result, ExcepInfo*) {
  const std::string other = TypeListFromPatterns(Setting(key::kOtherTextTypes));
  int32_t count = static_cast<int32_t>(BuiltInFileTypes().size());
  for (size_t i = 1; i < other.size(); ++i) count += other[i] == '|' ? 1 : 0;
  if (env_.plugins) count += env_.plugins->PluginCount();
  if (env_.msn_plugins) count += env_.msn_plugins->PluginCount();
  *result = Variant::I4(count);
  return S_OK;
}

// ---- settings

HResult FtsObject::GetSetting(Args args, Variant* result, ExcepInfo*) {
  *result = Wide(Active() ? Setting(Narrow(args[0])) : "");
  return S_OK;
}

HResult FtsObject::PutSetting(Args args, Variant*, ExcepInfo* excep) {
  if (!MayChangeState() || !env_.settings) return S_OK;
  const std::string name = Narrow(args[0]);
  std::string value = Narrow(args[1]);
  // The password is stored only as its salted hash.
  if (name == key::kLoginPassword) value = StoredPasswordForm(value);
  if (!env_.settings->ApplySetting(name, value)) {
    return RaiseException(excep, kCannotSaveError, u"设置文件不能保存");
  }
  return S_OK;
}

HResult FtsObject::GetScopePaths(const char* key, Variant* result) const {
  *result = Wide(Active() ? ScopePathLines(Setting(key)) : "");
  return S_OK;
}

HResult FtsObject::PutScopePaths(const char* key, Args args, ExcepInfo* excep) {
  if (!MayChangeState() || !env_.settings) return S_OK;
  std::string stored;
  if (!ScopePathsFromLines(Narrow(args[0]), &stored)) {
    return RaiseException(excep, 5, u"路径中不能含有“|”");
  }
  if (!env_.settings->ApplySetting(key, stored)) {
    return RaiseException(excep, kCannotSaveError, u"设置文件不能保存");
  }
  if (env_.scope) env_.scope->Load(*env_.settings, env_.default_scan_root, SystemForbiddenPaths());
  return S_OK;
}

HResult FtsObject::GetForbidPath(Args, Variant* result, ExcepInfo*) {
  return GetScopePaths(key::kForbiddenPaths, result);
}

HResult FtsObject::PutForbidPath(Args args, Variant*, ExcepInfo* excep) {
  return PutScopePaths(key::kForbiddenPaths, args, excep);
}

HResult FtsObject::GetPermitPath(Args, Variant* result, ExcepInfo*) {
  return GetScopePaths(key::kPermittedPaths, result);
}

HResult FtsObject::PutPermitPath(Args args, Variant*, ExcepInfo* excep) {
  return PutScopePaths(key::kPermittedPaths, args, excep);
}

HResult FtsObject::GetAutoStart(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(Active() && FlagIsTrue(Setting(key::kAutoStart)));
  return S_OK;
}

HResult FtsObject::PutAutoStart(Args args, Variant*, ExcepInfo* excep) {
  if (!MayChangeState() || !env_.settings) return S_OK;
  const bool on = args[0].AsBool();
  if (!SetAutostart(on, env_.executable, ApplicationHome())) {
    return RaiseException(excep, kCannotSaveError, u"自动启动项不能写入");
  }
  env_.settings->SetValue(kSearchSection, key::kAutoStart, on ? kTrue : kFalse);
  if (!env_.settings->Save()) return RaiseException(excep, kCannotSaveError, u"设置文件不能保存");
  return S_OK;
}

HResult FtsObject::GetFileMon(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(env_.monitor_running && env_.monitor_running());
  return S_OK;
}

HResult FtsObject::PutFileMon(Args args, Variant*, ExcepInfo* excep) {
  if (!MayChangeState() || !env_.set_monitor || !env_.settings) return S_OK;
  const bool on = args[0].AsBool();
  if (!env_.set_monitor(on)) return RaiseException(excep, kCannotSaveError, u"实时监控不能启动");
  env_.settings->SetValue(kSearchSection, key::kRealtimeMonitor, on ? kTrue : kFalse);
  if (!env_.settings->Save()) return RaiseException(excep, kCannotSaveError, u"设置文件不能保存");
  return S_OK;
}

// ---- the application's state

HResult FtsObject::NewGuid(Args, Variant* result, ExcepInfo*) {
  *result = Wide(NewUuidText());
  return S_OK;
}

HResult FtsObject::GetDictionary(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Object(Active() ? env_.session_table : nullptr);
  return S_OK;
}

HResult FtsObject::TryStop(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(Active() && env_.stop_requested && env_.stop_requested());
  return S_OK;
}

HResult FtsObject::Manage(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(!Active() || (env_.maintaining && env_.maintaining()));
  return S_OK;
}

HResult FtsObject::Ver(Args, Variant* result, ExcepInfo*) {
  *result = Wide(env_.version);
  return S_OK;
}

HResult FtsObject::NewVer(Args, Variant* result, ExcepInfo*) {
  *result = Wide(env_.new_version ? env_.new_version() : "");
  return S_OK;
}

HResult FtsObject::NewVerInfo(Args, Variant* result, ExcepInfo*) {
  *result = Wide(env_.new_version_info ? env_.new_version_info() : "");
  return S_OK;
}

HResult FtsObject::NewVerDownUrl(Args, Variant* result, ExcepInfo*) {
  // The folder of the update description's URL.
  const std::string server = Setting(key::kUpdateServer);
  const size_t slash = server.find_last_of('/');
  *result = Wide(slash == std::string::npos || server.find("://") == std::string::npos
                     ? env_.update_base_url + "/update/LUN/"
                     : server.substr(0, slash + 1));
  return S_OK;
}

HResult FtsObject::InternetConnectedMember(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(InternetConnected());
  return S_OK;
}

HResult FtsObject::Id(Args, Variant* result, ExcepInfo*) {
  *result = Wide(Setting(key::kLocalUserId));
  return S_OK;
}

// ---- who sent the request

bool FtsObject::RemoteUser() const {
  return !page_.access.loopback && env_.logins && Setting(key::kRemoteLogin) == kAllow &&
         env_.logins->CookieValid(page_.login_cookie, page_.peer_address,
                                  Setting(key::kLoginPassword));
}

HResult FtsObject::LocalUser(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(page_.local_user);
  return S_OK;
}

HResult FtsObject::Loopback(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(page_.access.loopback);
  return S_OK;
}

HResult FtsObject::CrossSite(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(page_.access.cross_site);
  return S_OK;
}

HResult FtsObject::IdCode(Args, Variant* result, ExcepInfo*) {
  *result = Wide(page_.access.id_code);
  return S_OK;
}

HResult FtsObject::RemoteUserMember(Args, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(RemoteUser());
  return S_OK;
}

HResult FtsObject::Login(Args args, Variant* result, ExcepInfo*) {
  *result = Wide("");
  // Logging in is for visitors from other computers while remote login is
  // on; a page of another site cannot log its visitor in (login CSRF).
  if (!Active() || !env_.logins || page_.access.loopback || page_.access.cross_site ||
      Setting(key::kRemoteLogin) != kAllow) {
    return S_OK;
  }
  const LoginGate::Attempt attempt =
      env_.logins->TryLogin(page_.peer_address, Narrow(args[0]), Setting(key::kLoginPassword));
  switch (attempt.outcome) {
    case LoginGate::Outcome::kLoggedIn:
      AppendLog(page_.peer_address, "登录", "成功");
      *result = Wide(attempt.cookie);
      break;
    case LoginGate::Outcome::kWrongPassword:
      AppendLog(page_.peer_address, "登录", "失败");
      break;
    case LoginGate::Outcome::kMustWait:
      AppendLog(page_.peer_address, "登录",
                "拒绝：还需等待 " + std::to_string(attempt.wait_seconds) + " 秒");
      break;
    case LoginGate::Outcome::kNoPassword:
      break;
  }
  return S_OK;
}

HResult FtsObject::LoginWait(Args, Variant* result, ExcepInfo*) {
  const int64_t wait = env_.logins ? env_.logins->WaitSeconds(page_.peer_address) : 0;
  *result = Variant::I4(static_cast<int32_t>(wait));
  return S_OK;
}

// ---- version comparison and saved searches

HResult FtsObject::DiffText(Args args, Variant* result, ExcepInfo*) {
  *result = Wide(SideBySideDiffHtml(Narrow(args[0]), Narrow(args[1]), DiffLimits{}));
  return S_OK;
}

namespace {

// A field of one line of a list member: tabs and line breaks would split it.
std::string ListField(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

}  // namespace

bool FtsObject::MayChangeSavedSearches() const {
  return MayChangeState() && page_.local_user && env_.saved_searches;
}

HResult FtsObject::SaveSearch(Args args, Variant* result, ExcepInfo*) {
  std::string error = "只有本机用户可以保存搜索";
  if (MayChangeSavedSearches() &&
      env_.saved_searches->Add(Narrow(args[0]), Narrow(args[1]), Narrow(args[2]), &error) != 0) {
    error.clear();
  }
  *result = Wide(error);
  return S_OK;
}

HResult FtsObject::SavedSearchList(Args, Variant* result, ExcepInfo*) {
  std::string text;
  if (page_.local_user && env_.saved_searches) {
    for (const SavedSearch& s : env_.saved_searches->List()) {
      text += std::to_string(s.id) + "\t" + ListField(s.name) + "\t" + ListField(s.link) + "\t" +
              std::to_string(s.unseen) + "\t" + LocalTimeText(s.created) + "\r\n";
    }
  }
  *result = Wide(text);
  return S_OK;
}

HResult FtsObject::SavedSearchHits(Args args, Variant* result, ExcepInfo*) {
  std::string text;
  const int64_t id = args[0].AsInteger();
  if (page_.local_user && env_.saved_searches) {
    for (const SavedSearch& s : env_.saved_searches->List()) {
      if (s.id != id) continue;
      for (auto h = s.hits.rbegin(); h != s.hits.rend(); ++h) {
        text += std::to_string(h->record) + "\t" + LocalTimeText(h->found_at) + "\t" +
                ListField(h->path) + "\t" + ListField(h->name) + "\r\n";
      }
    }
  }
  *result = Wide(text);
  return S_OK;
}

HResult FtsObject::MarkSearchSeen(Args args, Variant* result, ExcepInfo*) {
  const int64_t id = args[0].AsInteger();
  *result = Variant::Bool(MayChangeSavedSearches() && id > 0 && id <= UINT32_MAX &&
                          env_.saved_searches->MarkSeen(static_cast<uint32_t>(id)));
  return S_OK;
}

HResult FtsObject::DeleteSavedSearch(Args args, Variant* result, ExcepInfo*) {
  const int64_t id = args[0].AsInteger();
  *result = Variant::Bool(MayChangeSavedSearches() && id > 0 && id <= UINT32_MAX &&
                          env_.saved_searches->Remove(static_cast<uint32_t>(id)));
  return S_OK;
}

HResult FtsObject::SavedSearchNews(Args, Variant* result, ExcepInfo*) {
  const uint64_t n =
      page_.local_user && env_.saved_searches ? env_.saved_searches->UnseenCount() : 0;
  *result = Variant::I4(static_cast<int32_t>(std::min<uint64_t>(n, INT32_MAX)));
  return S_OK;
}

}  // namespace lun
