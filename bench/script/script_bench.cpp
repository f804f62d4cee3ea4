// Script engine benchmarks: a page-sized script (a few hundred lines with
// loops over 1000 rows, string concatenation, function calls and
// dictionary look-ups) created, parsed and run per iteration, as the web
// server does per request; and parse plus setup alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "pages/script/script_engine.h"
#include "platform/text.h"

namespace {

// Response: Write appends to a buffer, like the page host's output.
class Response : public lun::Dispatch {
 public:
  std::u16string out;
  lun::HResult GetIdOfName(std::u16string_view name, lun::DispId* id) override {
    static constexpr lun::MemberName kMembers[] = {{u"Write", 1}};
    return lun::LookupMember(kMembers, name, id);
  }
  lun::HResult Invoke(lun::DispId, std::uint16_t, std::span<const lun::Variant> args,
                      lun::Variant* result, lun::ExcepInfo*) override {
    if (args.size() != 1) return lun::DISP_E_BADPARAMCOUNT;
    lun::Variant text;
    if (lun::ChangeType(args[0], lun::VT_BSTR, &text) == lun::S_OK) out += text.AsString();
    if (result) *result = lun::Variant();
    return lun::S_OK;
  }
};

// About 300 lines: helpers, a settings block, and a table of 1000 rows.
std::u16string PageScript() {
  std::string s;
  s += "Option Explicit\r\n";
  s += "Dim d, i, row, html, total, names, k\r\n";
  s += "Set d = CreateObject(\"Scripting.Dictionary\")\r\n";
  s += "names = Array(\"文档\", \"邮件\", \"图片\", \"音乐\", \"视频\", \"其它\")\r\n";
  s += "For i = 0 To UBound(names) : d.Add names(i), i : Next\r\n";
  s += "Function Cell(text, cls)\r\n"
       "  Cell = \"<td class=\"\"\" & cls & \"\"\">\" & Server_Encode(text) & \"</td>\"\r\n"
       "End Function\r\n";
  s += "Function Server_Encode(text)\r\n"
       "  Server_Encode = Replace(Replace(CStr(text), \"&\", \"&amp;\"), \"<\", \"&lt;\")\r\n"
       "End Function\r\n";
  s += "Function SizeText(n)\r\n"
       "  If n > 1048576 Then\r\n"
       "    SizeText = FormatNumber(n / 1048576, 1) & \" MB\"\r\n"
       "  ElseIf n > 1024 Then\r\n"
       "    SizeText = FormatNumber(n / 1024, 1) & \" KB\"\r\n"
       "  Else\r\n"
       "    SizeText = n & \" B\"\r\n"
       "  End If\r\n"
       "End Function\r\n";
  // Padding procedures and statements of the kind pages carry: settings
  // reads and branches that mostly do not run.
  for (int p = 0; p < 40; ++p) {
    std::string n = std::to_string(p);
    s += "Sub Option" + n +
         "(v)\r\n"
         "  Select Case v\r\n"
         "    Case " +
         n +
         " : Response.Write \"<option selected>\" & v & \"</option>\"\r\n"
         "    Case Else : Response.Write \"<option>\" & v & \"</option>\"\r\n"
         "  End Select\r\n"
         "End Sub\r\n";
  }
  s += "html = \"\"\r\ntotal = 0\r\n";
  s += "For i = 1 To 1000\r\n"
       "  k = names(i Mod 6)\r\n"
       "  row = \"<tr>\" & Cell(i, \"n\") & Cell(k & \"_\" & i & \".txt\", \"name\")\r\n"
       "  row = row & Cell(SizeText(i * 997), \"size\") & Cell(d(k), \"cat\") & \"</tr>\"\r\n"
       "  total = total + d(k)\r\n"
       "  html = html & row & vbCrLf\r\n"
       "Next\r\n";
  s += "Response.Write \"<table>\" & html & \"</table>\"\r\n";
  s += "Response.Write \"<p>\" & total & \" \" & Len(html) & \"</p>\"\r\n";
  for (int p = 0; p < 40; ++p) s += "Option" + std::to_string(p) + " 3\r\n";
  return lun::ToWide(s);
}

void BM_PageParseAndRun(benchmark::State& state) {
  const std::u16string script = PageScript();
  for (auto _ : state) {
    lun::ScriptEngine engine;
    auto response = std::make_shared<Response>();
    engine.AddNamedItem(u"Response", response, false);
    bool ok = engine.Parse(script) && engine.Run();
    if (!ok) state.SkipWithError("script failed");
    benchmark::DoNotOptimize(response->out.size());
  }
}
BENCHMARK(BM_PageParseAndRun)->Unit(benchmark::kMicrosecond);

void BM_PageParseOnly(benchmark::State& state) {
  const std::u16string script = PageScript();
  for (auto _ : state) {
    lun::ScriptEngine engine;
    engine.AddNamedItem(u"Response", std::make_shared<Response>(), false);
    if (!engine.Parse(script)) state.SkipWithError("parse failed");
  }
  state.counters["lines"] = 300;
}
BENCHMARK(BM_PageParseOnly)->Unit(benchmark::kMicrosecond);

void BM_EmptyEngine(benchmark::State& state) {
  for (auto _ : state) {
    lun::ScriptEngine engine;
    engine.AddNamedItem(u"Response", std::make_shared<Response>(), false);
    bool ok = engine.Parse(u"Response.Write \"ok\"") && engine.Run();
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_EmptyEngine)->Unit(benchmark::kMicrosecond);

// Runs `script` once per iteration; `items_per_run` is how many of the
// measured operations it does (reported as items per second).
void RunScriptBench(benchmark::State& state, const std::u16string& script,
                    std::int64_t items_per_run) {
  for (auto _ : state) {
    lun::ScriptEngine engine;
    auto response = std::make_shared<Response>();
    engine.AddNamedItem(u"Response", response, false);
    bool ok = engine.Parse(script) && engine.Run();
    if (!ok) state.SkipWithError("script failed");
    benchmark::DoNotOptimize(response->out.size());
  }
  state.SetItemsProcessed(state.iterations() * items_per_run);
}

// Method calls on script class instances: a Property Let, a Property Get
// and a Function with an argument, 100000 calls each per run.
void BM_ClassMethodCalls(benchmark::State& state) {
  const std::u16string script = lun::ToWide(
      "Class Counter\r\n"
      "  Private n\r\n"
      "  Public Property Get Value() : Value = n : End Property\r\n"
      "  Public Property Let Value(v) : n = v : End Property\r\n"
      "  Public Function Plus(k) : Plus = n + k : End Function\r\n"
      "End Class\r\n"
      "Dim c, i, t : Set c = New Counter : c.Value = 0\r\n"
      "For i = 1 To 100000\r\n"
      "  c.Value = c.Plus(1) : t = c.Value\r\n"
      "Next\r\n"
      "Response.Write t\r\n");
  RunScriptBench(state, script, 300000);
}
BENCHMARK(BM_ClassMethodCalls)->Unit(benchmark::kMillisecond);

// RegExp.Replace over a 1 MB text (512 K UTF-16 units of mixed words and
// numbers), every number rewritten with a group reference.
void BM_RegExpReplace1MB(benchmark::State& state) {
  const std::u16string script = lun::ToWide(
      "Dim s, re, r\r\n"
      "s = String(2, \"x\")\r\n"
      "Do While Len(s) < 524288 : s = s & \"word 12345 text, more 678 and \" & s : Loop\r\n"
      "s = Left(s, 524288)\r\n"
      "Set re = New RegExp : re.Global = True : re.Pattern = \"(\\d+)\"\r\n"
      "r = re.Replace(s, \"<$1>\")\r\n"
      "Response.Write Len(r)\r\n");
  RunScriptBench(state, script, 1);
  state.SetBytesProcessed(state.iterations() * 524288 * 2);
}
BENCHMARK(BM_RegExpReplace1MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
