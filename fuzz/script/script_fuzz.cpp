// Fuzzes the script engine end to end: lexer, parser, binder and evaluator,
// with the dictionary and a writer object. Limits keep every input finite;
// any crash, sanitizer report or leak is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "pages/script/script_engine.h"
#include "platform/text.h"

namespace {

class Sink : public lun::Dispatch {
 public:
  lun::HResult GetIdOfName(std::u16string_view name, lun::DispId* id) override {
    static constexpr lun::MemberName kMembers[] = {{u"Write", 1}, {u"Echo", 1}, {u"Value", 0}};
    return lun::LookupMember(kMembers, name, id);
  }
  lun::HResult Invoke(lun::DispId id, std::uint16_t, std::span<const lun::Variant> args,
                      lun::Variant* result, lun::ExcepInfo*) override {
    if (id == 0) {
      if (result) *result = lun::Variant::Bstr(u"value");
      return lun::S_OK;
    }
    for (const auto& a : args) {
      lun::Variant text;
      lun::HResult hr = lun::ChangeType(a, lun::VT_BSTR, &text);
      if (hr != lun::S_OK && !a.is_null()) return hr;
      written_ += text.AsString().size();
    }
    if (result) *result = lun::Variant();
    return lun::S_OK;
  }

 private:
  std::size_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  std::u16string script =
      lun::ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  lun::ScriptEngine engine;
  lun::ScriptLimits limits;
  limits.max_steps = 20000;
  limits.max_call_depth = 200;
  limits.stack_bytes = 256 * 1024;
  limits.max_string_length = 1 << 16;
  limits.max_array_elements = 1 << 14;
  engine.SetLimits(limits);
  auto sink = std::make_shared<Sink>();
  engine.AddNamedItem(u"Response", sink, false);
  engine.AddNamedItem(u"Request", std::make_shared<Sink>(), true);
  if (engine.Parse(script)) (void)engine.Run();
  engine.Close();
  return 0;
}
