// Server: path and text functions and object creation for pages.
//
// Script view:
//   URLEncode(text)   page_encoding.h UrlEncode
//   HTMLEncode(text)  page_encoding.h HtmlEncode
//   MapPath(path)     the file path of a page path (MapPath below)
//   CreateObjectEx(progid)  a new object of a kind this server provides:
//     "Scripting.Dictionary" (or its class id
//     "{EE09B103-97E0-11CF-978F-00A02463E06F}"), the dictionary of
//     automation/dictionary.h. Any other name is error 429 "ActiveX
//     component can't create object": pages cannot reach anything else.
//
// Thread safety: none; one Server per page run. MapPath is const and may be
// called by the page's other objects (the FTS object uses it).
#ifndef LUN_PAGES_SERVER_OBJECT_H_
#define LUN_PAGES_SERVER_OBJECT_H_

#include <string>
#include <string_view>

#include "automation/member_table.h"

namespace lun {

class ServerObject : public TableDispatch<ServerObject> {
 public:
  enum : DispId { kUrlEncode = 1, kCreateObjectEx, kMapPath, kHtmlEncode };
  static const Table kTable;

  ServerObject() : TableDispatch(kTable) {}

  // The directory of the running page and the web root, both absolute and
  // ending in "/"; the page directory lies inside the web root.
  void SetPageDirectory(std::string directory) { page_directory_ = std::move(directory); }
  void SetWebRoot(std::string web_root) { web_root_ = std::move(web_root); }
  const std::string& page_directory() const { return page_directory_; }
  const std::string& web_root() const { return web_root_; }

  // The file path of `path`: "\" counts as "/", empty and "." components are
  // dropped and ".." removes the component before it. A path starting with
  // "/" is taken from the web root, any other from the page directory. The
  // result never leaves the web root (a ".." at the root is dropped), so a
  // name taken from a request cannot reach other files. Whether the file
  // exists is not checked. "" for a path holding a NUL byte.
  std::string MapPath(std::string_view path) const;

  HResult UrlEncodeMember(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult CreateObjectEx(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MapPathMember(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult HtmlEncodeMember(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  std::u16string TypeName() const override { return u"Server"; }

 private:
  std::string page_directory_;
  std::string web_root_;
};

}  // namespace lun

#endif  // LUN_PAGES_SERVER_OBJECT_H_
