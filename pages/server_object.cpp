#include "pages/server_object.h"

#include <memory>
#include <vector>

#include "automation/dictionary.h"
#include "pages/argument_text.h"
#include "pages/page_encoding.h"
#include "platform/text.h"
#include "web/path_map.h"

namespace lun {
namespace {

// The objects CreateObjectEx makes, by program id or class id.
struct CreatableObject {
  std::u16string_view name;
  std::shared_ptr<Dispatch> (*make)();
};

std::shared_ptr<Dispatch> MakeDictionary() { return std::make_shared<Dictionary>(); }

constexpr CreatableObject kCreatable[] = {
    {u"Scripting.Dictionary", &MakeDictionary},
    {u"{EE09B103-97E0-11CF-978F-00A02463E06F}", &MakeDictionary},
};

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

const ServerObject::Table ServerObject::kTable = {
    {{u"URLEncode", kUrlEncode, DISPATCH_METHOD, 1, 1, {VT_VARIANT}, VT_BSTR},
     &ServerObject::UrlEncodeMember},
    {{u"CreateObjectEx", kCreateObjectEx, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_DISPATCH},
     &ServerObject::CreateObjectEx},
    {{u"MapPath", kMapPath, DISPATCH_METHOD, 1, 1, {VT_VARIANT}, VT_BSTR},
     &ServerObject::MapPathMember},
    {{u"HTMLEncode", kHtmlEncode, DISPATCH_METHOD, 1, 1, {VT_VARIANT}, VT_BSTR},
     &ServerObject::HtmlEncodeMember},
};

// The page directory is expressed from the web root, and the whole path is
// then walked as one request path: SplitTargetPath drops a ".." with
// nothing before it, which keeps the result inside the root.
std::string ServerObject::MapPath(std::string_view path) const {
  const std::string root = WithoutTrailingSlashes(web_root_);
  std::string from_root = "/";
  const bool relative = path.empty() || (path.front() != '/' && path.front() != '\\');
  const bool page_in_root = page_directory_.compare(0, root.size(), root) == 0 &&
                            page_directory_.size() > root.size() &&
                            page_directory_[root.size()] == '/';
  if (relative && page_in_root) {
    from_root = page_directory_.substr(root.size()) + "/";
  }
  std::vector<std::string> components;
  if (!SplitTargetPath(from_root + std::string(path), &components)) return {};
  std::string mapped = root;
  for (const std::string& component : components) mapped += "/" + component;
  return mapped.empty() ? "/" : mapped;
}

HResult ServerObject::UrlEncodeMember(std::span<Variant> args, Variant* result, ExcepInfo*) {
  std::string text;
  if (ArgumentText(args[0], &text) != S_OK) return DISP_E_TYPEMISMATCH;
  *result = Variant::Bstr(ToWide(UrlEncode(text)));
  return S_OK;
}

HResult ServerObject::CreateObjectEx(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  const std::u16string_view name = args[0].AsString();
  for (const CreatableObject& creatable : kCreatable) {
    if (EqualsIgnoreAsciiCase(creatable.name, name)) {
      *result = Variant::Object(creatable.make());
      return S_OK;
    }
  }
  return RaiseException(excep, 429, u"ActiveX component can't create object: '" +
                                        std::u16string(name) + u"'");
}

HResult ServerObject::MapPathMember(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  std::string path;
  if (ArgumentText(args[0], &path) != S_OK) return DISP_E_TYPEMISMATCH;
  const std::string mapped = MapPath(path);
  if (mapped.empty()) return RaiseException(excep, 5, u"Invalid procedure call or argument");
  *result = Variant::Bstr(ToWide(mapped));
  return S_OK;
}

HResult ServerObject::HtmlEncodeMember(std::span<Variant> args, Variant* result, ExcepInfo*) {
  std::string text;
  if (ArgumentText(args[0], &text) != S_OK) return DISP_E_TYPEMISMATCH;
  *result = Variant::Bstr(ToWide(HtmlEncode(text)));
  return S_OK;
}

}  // namespace lun
