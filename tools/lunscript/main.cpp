// lunscript FILE.vbs [ARGS]: runs a script file with a small console host.
//
//   WScript.Echo a, b, ...   writes the arguments separated by blanks and a
//                            line break to standard output
//   Response.Write text      writes the text without a line break
//   WScript.Arguments(i), WScript.Arguments.Count, For Each over them
//
// The script file is UTF-8. A syntax or run-time error prints the page
// host's error text ("Script error detected at line N." ...) on standard
// error and the exit code is 1; a file that cannot be read gives 2.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch.h"
#include "pages/script/script_engine.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

using namespace lun;  // NOLINT: a small program over one subsystem

// Writes a value the way a host method reads a text argument: through the
// variant conversion, so objects give their default value.
HResult WriteText(const Variant& v, std::string* out) {
  if (v.is_null() || v.is_empty()) return S_OK;
  Variant text;
  HResult hr = ChangeType(v, VT_BSTR, &text);
  if (hr != S_OK) return hr;
  *out += ToNarrow(text.AsString());
  return S_OK;
}

class Arguments : public Dispatch {
 public:
  explicit Arguments(std::vector<std::u16string> args) : args_(std::move(args)) {}
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Item", 0}, {u"Count", 1}, {u"Length", 1}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                 Variant* result, ExcepInfo* excep) override {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
    Variant ignored;
    if (!result) result = &ignored;
    if (id == 1) {
      if (!args.empty()) return DISP_E_BADPARAMCOUNT;
      *result = Variant::I4(static_cast<std::int32_t>(args_.size()));
      return S_OK;
    }
    if (id == DISPID_NEWENUM) {
      std::vector<Variant> items;
      for (const auto& a : args_) items.push_back(Variant::Bstr(a));
      *result = Variant::Object(std::make_shared<VectorEnumerator>(std::move(items)));
      return S_OK;
    }
    if (id != 0) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    Variant index;
    if (ChangeType(args[0], VT_I4, &index) != S_OK) return DISP_E_TYPEMISMATCH;
    if (index.AsInteger() < 0 || index.AsInteger() >= static_cast<std::int64_t>(args_.size())) {
      return RaiseException(excep, 9, u"Subscript out of range");
    }
    *result = Variant::Bstr(args_[static_cast<std::size_t>(index.AsInteger())]);
    return S_OK;
  }

 private:
  std::vector<std::u16string> args_;
};

// WScript and Response in one object: Echo, Write, Arguments.
class Console : public Dispatch {
 public:
  enum : DispId { kEcho = 1, kWrite, kArguments };
  explicit Console(std::shared_ptr<Arguments> args) : args_(std::move(args)) {}

  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {
        {u"Echo", kEcho}, {u"Write", kWrite}, {u"Arguments", kArguments}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                 Variant* result, ExcepInfo*) override {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
    std::string out;
    switch (id) {
      case kEcho:
        for (std::size_t i = 0; i < args.size(); ++i) {
          if (i) out += ' ';
          if (HResult hr = WriteText(args[i], &out); hr != S_OK) return hr;
        }
        out += '\n';
        break;
      case kWrite:
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        if (HResult hr = WriteText(args[0], &out); hr != S_OK) return hr;
        break;
      case kArguments:
        if (!args.empty()) return DISP_E_BADPARAMCOUNT;
        if (result) *result = Variant::Object(args_);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (result) *result = Variant();
    return S_OK;
  }
  std::u16string TypeName() const override { return u"WScript"; }

 private:
  std::shared_ptr<Arguments> args_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: lunscript FILE.vbs [ARGS]\n");
    return 2;
  }
  std::string bytes;
  if (int err = ReadWholeFile(DefaultFileSystem(), argv[1], &bytes); err != 0) {
    std::fprintf(stderr, "lunscript: cannot read %s: %s\n", argv[1], ErrorText(err).c_str());
    return 2;
  }
  std::vector<std::u16string> script_args;
  for (int i = 2; i < argc; ++i) script_args.push_back(ToWide(argv[i]));
  auto console = std::make_shared<Console>(std::make_shared<Arguments>(script_args));
  ScriptEngine engine;
  engine.AddNamedItem(u"WScript", console, false);
  engine.AddNamedItem(u"Response", console, false);
  std::string error_text;
  engine.SetErrorCallback(
      [&](const ScriptErrorInfo& e) { error_text = FormatScriptError(e); });
  bool ok = engine.Parse(ToWide(bytes)) && engine.Run();
  std::fflush(stdout);
  engine.Close();
  if (!ok) {
    std::fprintf(stderr, "%s\n", error_text.c_str());
    return 1;
  }
  return 0;
}
