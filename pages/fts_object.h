// FtsObject: the page object "FTS", the fourth named item of every page
// beside Request, Response and Server. It gives the pages of the user
// interface what is not plain HTTP: searches and index records, the activity
// log, settings, opening and downloading found files, file icons and "open
// with" lists, the file-type and plug-in lists, keyword display helpers and
// the state of the indexer and of the update checker. Almost every member
// converts its arguments and calls another subsystem (fts_environment.h).
//
// "Active" members do nothing after Response.End (FtsPage::active false) and
// answer 0, False, "" or Nothing. Members that change settings, the index or
// the log (ClearLog, DeleteRecord, the puts of Setting, ForbidPath,
// PermitPath, AutoStart and FileMon) also do nothing for a request that a
// page of another site sent (access_control.h). Members, in table order (dispatch id =
// position); strings are UTF-16 for the script, UTF-8 inside:
//    1 ClearLog                 active  empties the table "日志"
//    2 WriteLog ip, action, text active appends to "日志": "时间" now, "IP",
//                                       "行为", "内容" (the table is made when
//                                       missing)
//    3 KeywordNavigate(words)           the navigation bar of "*"-separated words
//    4 UTF8ToGB2312(text)               the text as it reads once its code-page
//                                       bytes are decoded as UTF-8; the code page
//                                       is UTF-8 here, so the text comes back as
//                                       given (unpaired surrogates made U+FFFD)
//    5 MarkKeyword(text, words)         the text escaped, each non-empty
//                                       "*"-separated word marked in the colour
//                                       of its position; unmarked when inactive
//    6 DownLoad(path)           active  answers the request with the file as an
//                                       attachment (Range honoured); False for a
//                                       file refused by OpenIndexedFile (a link,
//                                       changed since indexed, outside the
//                                       roots), a program (".EXE", ".COM",
//                                       ".BAT", ".SH") or, for a visitor who is
//                                       not the local user, unless "远程下载" is
//                                       "允许"
//    7 OpenFile(path)           active  opens an absolute path with xdg-open once
//                                       OpenIndexedFile accepts it (a folder: no
//                                       link, under a root);
//                                       "mk:@MSITStore:file.chm::/page" opens the
//                                       help file. Local user only; programs
//                                       (execute permission, ".desktop") refused
//    8 TransformCommand(text)           query-language characters as "%0x00HH%"
//    9 Execute(query)           active  a recordset object (recordset_object.h);
//                                       a failed search gives one with Success
//                                       False and the engine's message
//   10 DeleteRecord(table, n)   active  deletes record n of the table
//   11 LookAt(table, n)         active  a recordset object of that one record;
//                                       "空的记录集" for a missing or deleted one
//   12 FileTypeIcon(ext, folder)        ext + ".gif" when that file is in the
//                                       folder (Server.MapPath), else "File.gif"
//   13 Thumbnail(type)                  type is GIF, JPG, JPEG or BMP
//   14 Snap(class)                      class is "文档", "网页", "邮件", "音乐",
//                                       "其它"
//   15 GetFolder(path)                  the path without its last component
//   16 SubFolders(path)                 one name per line ("\r\n"): the local
//                                       disks' mount points for "", else the
//                                       sub-directories' names
//   17 GetFileName(path)                the last component
//   18 LUNFilterInfo(i), 19 LUNFilterName(i), 20 LUNFilterType(i),
//   21 LUNFilterCount                   the built-in file-type table (file_types.h)
//   22 LUNPlugName(i), 23 LUNPlugType(i), 24 LUNPlugCount,
//   25 MSNPlugName(i), 26 MSNPlugType(i), 27 MSNPlugCount
//                                       the two plug-in lists
//   28 FileIcon(path)           active  answers with the file type's icon (PNG)
//   29 FileMenuList(path)               the applications that open the file,
//                                       one line each: "|%d|%s|%d|%s|\r\n" with
//                                       1 when the item has an icon, the
//                                       position path of enclosing sub-menus
//                                       (none: the list is flat), the command
//                                       id (1, 2, ...) and the name
//   30 FileMenuIcon(path, id)   active  answers with that item's icon (PNG)
//   31 FileCommand(path, id)            opens the file with that application;
//                                       local user only
//   32 Setting(key)             active  get: the value in "检索设置"; put:
//                                       ApplySetting (saved at once)
//   33 NewGuid                          a new UUID text
//   34 Dictionary               active  the session table
//   35 FilterTotalCount                 file types + other text types + plug-ins
//   36 ForbidPath, 37 PermitPath active get: "禁止扫描" / "允许扫描" one path per
//                                       line; put: the lines stored as
//                                       "|a|b|" and the scan scope reloaded
//   38 AutoStart                active  get: "AutoStart" is "TRUE"; put: the
//                                       autostart entry, then "TRUE"/"FALSE"
//   39 TryStop                  active  the application's stop request
//   40 Manage                           index maintenance; True when inactive
//   41 ScanComplete                     "待扫描文件" is missing or empty
//   42 Ver, 43 NewVer, 44 NewVerInfo, 45 NewVerDownURL
//                                       versions of the update checker
//   46 InternetConnected                a network interface is up
//   47 ID                               the session code "本地用户ID"
//   48 FileMon                          get: the monitor runs; put: start/stop it
//                                       and store "实时监控"
//   49 TotalCount                       records of "文档" (0 without the table)
// Who sent the request (access_control.h), for the pages' security include:
//   50 LocalUser                        the request is the local user's
//   51 Loopback                         it comes from a loopback address
//   52 CrossSite                        a page of another site sent it
//   53 IdCode                           its IDCODE ("" when none)
//   54 RemoteUser                       from another address, "远程登陆" is
//                                       "允许" and its cookie "LUNAUTH" proves
//                                       a login (login_gate.h)
//   55 Login(password)          active  a login attempt of a visitor from
//                                       another address: the value for the
//                                       cookie "LUNAUTH", or "" (wrong
//                                       password, none set, remote login
//                                       off, a loopback or cross-site
//                                       request, or the address must wait);
//                                       every failure goes to "日志"
//   56 LoginWait                        seconds this address must wait before
//                                       its next attempt
//   57 CheckFile(path)                  "" when DownLoad or OpenFile may open the
//                                       path (indexed_file.h), else why not, in
//                                       words for the user
//   58 SnapshotHits(text, words)        how many marks MarkKeyword would make
//   59 MarkSnapshot(text, words, first, count)
//                                       the text escaped, with only the marks
//                                       first .. first+count-1 (count at most
//                                       1000) marked and anchored: the n-th of
//                                       keyword L named L+n, linking to the next
//                                       of L, the last back to the first
//   60 FileGone(path, folder)           True when the record of a file
//                                       ("完整路径", "路径") names a path where
//                                       nothing is any more (deleted or
//                                       renamed): it is shown marked "已删除"
//                                       and not offered to open. False for
//                                       mail and archive members, whose keys
//                                       are not paths.
//   61 IndexStatus(name)                one figure or list of the index status
//                                       (lists: one item a line, fields
//                                       split by tabs): "队列" queue length,
//                                       "正在读取" the file or folder in hand,
//                                       "核对" files compared by a running
//                                       reconciliation ("" when none), "根目录"
//                                       root, file count, last reconciliation
//                                       time, "监控目录数", "未能监控", "跳过"
//                                       reason and count, "跳过:" + reason
//                                       the latest paths, "磁盘空间",
//                                       "索引大小" (bytes), "暂停" TRUE/FALSE
//   62 IndexControl(action)     active  "pause", "resume" or "reindex" for the
//                                       local user (the page checks the form
//                                       token); false when refused
//   63 Diagnose(path)                   what the index knows of one file, for
//                                       the local user ("" for anyone else):
//                                       lines "key<TAB>label<TAB>value", led
//                                       by "path", closed by "can_index"
//                                       (crawler/file_diagnosis.h)
//   64 IndexNow(path)           active  indexes the file now, for the local
//                                       user; false when refused or the file
//                                       is out of scope
// Comparing versions and saved searches (crawler/saved_searches.h); the
// saved searches are the local user's alone: for anyone else the lists are
// empty and the changes refused:
//   70 DiffText(old, new)               the two texts compared line by line,
//                                       side by side, as HTML (pages/text_diff.h)
//   71 SaveSearch(name, query, link) active  saves a search ("[文档]:" +
//                                       expression; link: the results page's
//                                       parameters); "" when saved, else why not
//   72 SavedSearchList                  one search a line: id, name, link,
//                                       unseen hits, time saved (tabs between)
//   73 SavedSearchHits(id)              its unseen hits, newest first: record,
//                                       time found, full path, name
//   74 MarkSearchSeen(id)       active  forgets its unseen hits
//   75 DeleteSavedSearch(id)    active  deletes it (the page checks the form
//                                       token)
//   76 SavedSearchNews                  unseen hits of all saved searches
//   77 LookAtVersion(n)         active  as LookAt("文档", n), also for a
//                                       version a newer one replaced (a
//                                       deleted record: its values stay
//                                       until the table is compacted)
// Index arguments count from 0; an index outside a list gives "". A put that
// cannot be saved raises script error 70 with the reason.
//
// Lifetime: one object per page run; it keeps no state between calls. The
// environment must outlive it.
//
// Thread safety: one page thread; the subsystems it calls lock themselves.
#ifndef LUN_PAGES_FTS_OBJECT_H_
#define LUN_PAGES_FTS_OBJECT_H_

#include <string>
#include <vector>

#include "automation/member_table.h"
#include "pages/fts_environment.h"
#include "pages/indexed_file.h"

namespace lun {

struct DesktopApp;
class RecordsetObject;

// FTS.TransformCommand: `text` with every character the query language
// reserves written as an escape (EscapeQueryText), so that the whole text is
// searched as literal words.
std::u16string TransformCommand(std::u16string_view text);

// The scope path forms: the stored "|a|b|" as lines joined by "\r\n", and
// lines (CR LF, LF or CR; blanks at both ends trimmed, empty lines dropped, a
// trailing "/" removed) as the stored form. A path holding "|" cannot be
// stored: false.
std::string ScopePathLines(std::string_view stored);
bool ScopePathsFromLines(std::string_view lines, std::string* stored);

class FtsObject : public TableDispatch<FtsObject> {
 public:
  FtsObject(const FtsEnvironment& env, FtsPage page);

  std::u16string TypeName() const override { return u"FTS"; }

  static const Table kTable;

 private:
  using Args = std::span<Variant>;
#define LUN_FTS_HANDLER(name) HResult name(Args args, Variant* result, ExcepInfo* excep)
  LUN_FTS_HANDLER(ClearLog);
  LUN_FTS_HANDLER(WriteLog);
  LUN_FTS_HANDLER(KeywordNavigate);
  LUN_FTS_HANDLER(Utf8ToGb2312);
  LUN_FTS_HANDLER(MarkKeyword);
  LUN_FTS_HANDLER(DownLoad);
  LUN_FTS_HANDLER(OpenFile);
  LUN_FTS_HANDLER(TransformCommandMember);
  LUN_FTS_HANDLER(Execute);
  LUN_FTS_HANDLER(DeleteRecord);
  LUN_FTS_HANDLER(LookAt);
  LUN_FTS_HANDLER(FileTypeIcon);
  LUN_FTS_HANDLER(Thumbnail);
  LUN_FTS_HANDLER(Snap);
  LUN_FTS_HANDLER(GetFolder);
  LUN_FTS_HANDLER(SubFolders);
  LUN_FTS_HANDLER(GetFileName);
  LUN_FTS_HANDLER(FilterInfo);
  LUN_FTS_HANDLER(FilterName);
  LUN_FTS_HANDLER(FilterType);
  LUN_FTS_HANDLER(FilterCount);
  LUN_FTS_HANDLER(PlugName);
  LUN_FTS_HANDLER(PlugType);
  LUN_FTS_HANDLER(PlugCount);
  LUN_FTS_HANDLER(MsnPlugName);
  LUN_FTS_HANDLER(MsnPlugType);
  LUN_FTS_HANDLER(MsnPlugCount);
  LUN_FTS_HANDLER(FileIcon);
  LUN_FTS_HANDLER(FileMenuList);
  LUN_FTS_HANDLER(FileMenuIcon);
  LUN_FTS_HANDLER(FileCommand);
  LUN_FTS_HANDLER(GetSetting);
  LUN_FTS_HANDLER(PutSetting);
  LUN_FTS_HANDLER(NewGuid);
  LUN_FTS_HANDLER(GetDictionary);
  LUN_FTS_HANDLER(FilterTotalCount);
  LUN_FTS_HANDLER(GetForbidPath);
  LUN_FTS_HANDLER(PutForbidPath);
  LUN_FTS_HANDLER(GetPermitPath);
  LUN_FTS_HANDLER(PutPermitPath);
  LUN_FTS_HANDLER(GetAutoStart);
  LUN_FTS_HANDLER(PutAutoStart);
  LUN_FTS_HANDLER(TryStop);
  LUN_FTS_HANDLER(Manage);
  LUN_FTS_HANDLER(ScanComplete);
  LUN_FTS_HANDLER(Ver);
  LUN_FTS_HANDLER(NewVer);
  LUN_FTS_HANDLER(NewVerInfo);
  LUN_FTS_HANDLER(NewVerDownUrl);
  LUN_FTS_HANDLER(InternetConnectedMember);
  LUN_FTS_HANDLER(Id);
  LUN_FTS_HANDLER(GetFileMon);
  LUN_FTS_HANDLER(PutFileMon);
  LUN_FTS_HANDLER(TotalCount);
  LUN_FTS_HANDLER(LocalUser);
  LUN_FTS_HANDLER(Loopback);
  LUN_FTS_HANDLER(CrossSite);
  LUN_FTS_HANDLER(IdCode);
  LUN_FTS_HANDLER(RemoteUserMember);
  LUN_FTS_HANDLER(Login);
  LUN_FTS_HANDLER(LoginWait);
  LUN_FTS_HANDLER(CheckFile);
  LUN_FTS_HANDLER(IndexStatus);
  LUN_FTS_HANDLER(IndexControl);
  LUN_FTS_HANDLER(Diagnose);
  LUN_FTS_HANDLER(IndexNow);
  LUN_FTS_HANDLER(SnapshotHits);
  LUN_FTS_HANDLER(MarkSnapshot);
  LUN_FTS_HANDLER(FileGone);
  LUN_FTS_HANDLER(DiffText);
  LUN_FTS_HANDLER(SaveSearch);
  LUN_FTS_HANDLER(SavedSearchList);
  LUN_FTS_HANDLER(SavedSearchHits);
  LUN_FTS_HANDLER(MarkSearchSeen);
  LUN_FTS_HANDLER(DeleteSavedSearch);
  LUN_FTS_HANDLER(SavedSearchNews);
  LUN_FTS_HANDLER(LookAtVersion);
#undef LUN_FTS_HANDLER

  bool Active() const;
  // Active, and not a request sent by a page of another site: the members
  // that change settings, the index or the log do nothing otherwise,
  // whatever the page asks.
  bool MayChangeState() const;
  // A visitor from another address with a valid login while "远程登陆" is
  // "允许".
  bool RemoteUser() const;
  // The saved searches exist and the request may change them: the local
  // user's, not sent by a page of another site.
  bool MayChangeSavedSearches() const;
  void AppendLog(std::string_view ip, std::string_view action, std::string_view text) const;
  std::string Setting(std::string_view key) const;
  std::shared_ptr<RecordsetObject> NewRecordset() const;
  // A recordset of record `record` of table `name` (with_deleted: also a
  // deleted one); Nothing when inactive.
  Variant OpenOneRecord(const std::string& name, int64_t record, bool with_deleted) const;
  HResult GetScopePaths(const char* key, Variant* result) const;
  HResult PutScopePaths(const char* key, Args args, ExcepInfo* excep);
  HResult PluginText(const PluginRegistry* registry, bool types, Args args, Variant* result) const;
  bool Launch(const std::vector<std::string>& argv) const;
  bool OpenArchiveMember(const std::string& key) const;
  FileCheck OpenChecked(const std::string& path, FileRole role, int* fd) const;
  std::vector<std::string> DataDirs() const;
  std::vector<DesktopApp> AppsFor(const std::string& path) const;
  // The application of command id `id` for `path`; false when none.
  bool AppAt(const std::string& path, int64_t id, DesktopApp* app) const;
  bool SendPng(const std::string& icon_path);

  const FtsEnvironment& env_;
  FtsPage page_;
};

}  // namespace lun

#endif  // LUN_PAGES_FTS_OBJECT_H_
