// Fuzzes code and patterns that arrive as data: the input is handed to a
// fixed script as text, which it runs through Execute, ExecuteGlobal and
// Eval, and uses as a RegExp pattern (Test, Execute, Replace). Limits keep
// every input finite; a crash, sanitizer report, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "pages/script/script_engine.h"
#include "platform/text.h"

namespace {

// Input.Text is the fuzz data; Response.Write discards what it gets.
class Host : public lun::Dispatch {
 public:
  explicit Host(std::u16string text) : text_(std::move(text)) {}
  lun::HResult GetIdOfName(std::u16string_view name, lun::DispId* id) override {
    static constexpr lun::MemberName kMembers[] = {{u"Text", 1}, {u"Write", 2}};
    return lun::LookupMember(kMembers, name, id);
  }
  lun::HResult Invoke(lun::DispId id, std::uint16_t, std::span<const lun::Variant>,
                      lun::Variant* result, lun::ExcepInfo*) override {
    if (result) *result = id == 1 ? lun::Variant::Bstr(text_) : lun::Variant();
    return id == 1 || id == 2 ? lun::S_OK : lun::DISP_E_MEMBERNOTFOUND;
  }

 private:
  std::u16string text_;
};

constexpr char16_t kScript[] =
    u"On Error Resume Next\r\n"
    u"Dim t, x, re, ms, m, r\r\n"
    u"t = Input.Text\r\n"
    u"Execute t\r\n"
    u"ExecuteGlobal t\r\n"
    u"x = Eval(t)\r\n"
    u"Set re = New RegExp\r\n"
    u"re.Pattern = t : re.Global = True : re.IgnoreCase = Len(t) Mod 2 = 1\r\n"
    u"x = re.Test(t)\r\n"
    u"Set ms = re.Execute(t & t)\r\n"
    u"For Each m In ms : x = m.FirstIndex + m.Length + m.SubMatches.Count : Next\r\n"
    u"r = re.Replace(t, \"[$1$&$`$'$$]\")\r\n"
    u"Response.Write r\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4 * 1024) return 0;
  std::u16string text = lun::ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  lun::ScriptEngine engine;
  lun::ScriptLimits limits;
  limits.max_steps = 20000;
  limits.max_call_depth = 100;
  limits.stack_bytes = 256 * 1024;
  limits.max_string_length = 1 << 16;
  limits.max_array_elements = 1 << 14;
  engine.SetLimits(limits);
  auto host = std::make_shared<Host>(std::move(text));
  engine.AddNamedItem(u"Input", host, false);
  engine.AddNamedItem(u"Response", host, false);
  if (engine.Parse(kScript)) (void)engine.Run();
  engine.Close();
  return 0;
}
