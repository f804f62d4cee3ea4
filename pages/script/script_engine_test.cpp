#include "pages/script/script_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "automation/dictionary.h"
#include "platform/text.h"

namespace lun {
namespace {

// Response.Write and a recordset-like object for the host-facing rows.
class Writer : public Dispatch {
 public:
  std::string out;
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Write", 1}, {u"End", 2}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant> args, Variant* result,
                 ExcepInfo*) override {
    if (result) *result = Variant();
    if (id == 2) {
      out += "<end>";
      return S_OK;
    }
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    if (args[0].is_null()) return S_OK;
    Variant text;
    HResult hr = ChangeType(args[0], VT_BSTR, &text);
    if (hr != S_OK) return hr;
    out += ToNarrow(text.AsString());
    return S_OK;
  }
};

// rs("f") gives a field object whose default member is its value.
class Field : public Dispatch {
 public:
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Value", 0}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant> args, Variant* result,
                 ExcepInfo*) override {
    if (id != 0) return DISP_E_MEMBERNOTFOUND;
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    if (result) *result = Variant::Bstr(u"fieldvalue");
    return S_OK;
  }
  std::u16string TypeName() const override { return u"Field"; }
};

class Recordset : public Dispatch {
 public:
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Field", 0}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant> args, Variant* result,
                 ExcepInfo*) override {
    if (id != 0) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    if (result) *result = Variant::Object(std::make_shared<Field>());
    return S_OK;
  }
};

// Request-like item with global members: QueryString is a dictionary
// property that takes no arguments itself.
class Request : public Dispatch {
 public:
  Request() { (void)query->Add(Variant::Bstr(u"q"), Variant::Bstr(u"needle"), nullptr); }
  std::shared_ptr<Dictionary> query = std::make_shared<Dictionary>();
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"QueryString", 1}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant> args, Variant* result,
                 ExcepInfo*) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    if (result) *result = Variant::Object(query);
    return S_OK;
  }
};

// A host object whose members fail in the ways hosts report errors, and a
// collection enumerated through DISPID_NEWENUM.
class Faulty : public Dispatch {
 public:
  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {
        {u"Raise9", 1}, {u"Fail", 2}, {u"NeedsTwo", 3}, {u"Items", 4}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    switch (id) {
      case 1:
        return RaiseException(excep, 9, u"host index", u"Faulty");
      case 2:
        return E_FAIL;
      case 3:
        return args.size() == 2 ? S_OK : DISP_E_BADPARAMCOUNT;
      case DISPID_NEWENUM:
        if (result) {
          *result = Variant::Object(std::make_shared<VectorEnumerator>(
              std::vector<Variant>{Variant::I2(1), Variant::Bstr(u"two")}));
        }
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }
};

struct RunResult {
  std::string text;  // output, then "!err N" when an error was reported
  ScriptErrorInfo error;
  bool failed = false;
};

// Helpers appended after each test script (procedures may be defined after
// their use): P writes a value with its type, W writes a plain value.
constexpr char kPrelude[] =
    "\nFunction Show(v)\n"
    "  If IsObject(v) Then\n"
    "    Show = \"Object:\" & TypeName(v)\n"
    "  ElseIf IsArray(v) Then\n"
    "    Show = \"Array\"\n"
    "  ElseIf IsNull(v) Then\n"
    "    Show = \"Null\"\n"
    "  ElseIf IsEmpty(v) Then\n"
    "    Show = \"Empty\"\n"
    "  Else\n"
    "    Show = CStr(v) & \"(\" & TypeName(v) & \")\"\n"
    "  End If\n"
    "End Function\n"
    "Sub P(v) : Response.Write Show(v) & \";\" : End Sub\n"
    "Sub W(v) : Response.Write v & \";\" : End Sub\n";

RunResult RunScript(const std::string& script, const ScriptLimits* limits = nullptr,
                    bool prelude = true) {
  ScriptEngine engine;
  if (limits) engine.SetLimits(*limits);
  auto writer = std::make_shared<Writer>();
  engine.AddNamedItem(u"Response", writer, false);
  engine.AddNamedItem(u"rs", std::make_shared<Recordset>(), false);
  engine.AddNamedItem(u"Request", std::make_shared<Request>(), true);
  engine.AddNamedItem(u"Host", std::make_shared<Faulty>(), false);
  RunResult r;
  engine.SetErrorCallback([&](const ScriptErrorInfo& e) {
    r.error = e;
    r.failed = true;
  });
  std::string text = script;
  if (prelude) {
    // CR LF line ends, so that a lone LF the test writes inside a string
    // cannot join the script to the helpers.
    text.clear();
    for (char c : script + kPrelude) {
      if (c == '\n') text += '\r';
      text += c;
    }
  }
  if (engine.Parse(ToWide(text))) (void)engine.Run();
  r.text = writer->out;
  if (r.failed) r.text += "!err " + std::to_string(r.error.number);
  return r;
}

struct Case {
  const char* script;
  const char* expected;
};

void RunTable(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    RunResult r = RunScript(c.script);
    EXPECT_EQ(r.text, c.expected) << ToNarrow(r.error.description);
  }
}

TEST(ScriptTrickyCases, ArithmeticAndTypes) {
  RunTable({
      {"P \"1\" + 1", "2(Double);"},
      {"P \"1\" + \"1\"", "11(String);"},
      {"P \"a\" + 1", "!err 13"},
      {"P \"5\" + Empty", "5(String);"},
      {"P Empty + Empty", "0(Integer);"},
      {"P Null + 1", "Null;"},
      {"P True + True", "-2(Integer);"},
      {"P 32767 + 1", "32768(Long);"},
      {"P 2147483647 + 1", "2147483648(Double);"},
      {"P 100000 : P 1.5 : P &HFFFF : P &HFFFF& : P &O17",
       "100000(Long);1.5(Double);-1(Integer);-1(Integer);15(Integer);"},
      {"P 4 / 2", "2(Double);"},
      {"P 5 \\ 2 : P -5 \\ 2 : P 5.5 \\ 2", "2(Integer);-2(Integer);3(Long);"},
      {"P -5 Mod 3 : P 5 Mod -3 : P 6.5 Mod 4", "-2(Integer);2(Integer);2(Long);"},
      {"P 1 / 0", "!err 11"},
      {"P 0 / 0", "!err 6"},
      {"P 1 \\ 0", "!err 11"},
      {"P 1 Mod 0", "!err 11"},
      {"P -2 ^ 2 : P 2 ^ -1 : P 2 ^ 3 ^ 2", "4(Double);0.5(Double);64(Double);"},
      {"P (-8) ^ (1/3)", "!err 5"},
      {"P #1/2/2003# - #1/1/2003#", "1(Double);"},
      {"W TypeName(#1/1/2003# + 1)", "Date;"},
  });
}

TEST(ScriptTrickyCases, ConversionToString) {
  RunTable({
      {"W \"1\" & 1", "11;"},
      {"P Null & \"a\" : P Null & Null", "a(String);Null;"},
      {"W True & \"\"", "True;"},
      {"W 1.0 & \"\" : W -0.5 & \"\"", "1;-0.5;"},
      {"W (0.1 + 0.2) & \"\"", "0.3;"},
      {"W (1/3) & \"\" : W (1/30) & \"\"", "0.333333333333333;3.33333333333333E-02;"},
      {"W 1E15 & \"\" : W 123456789012345 & \"\" : W 1E-16 & \"\"", "1E+15;123456789012345;1E-16;"},
      {"W CStr(Null)", "!err 94"},
  });
}

TEST(ScriptTrickyCases, Comparison) {
  RunTable({
      {"W Empty = 0 : W Empty = \"\"", "True;True;"},
      {"P Null = Null : If Null = Null Then W \"then\" Else W \"else\"", "Null;else;"},
      {"W \"abc\" = \"ABC\" : W \"a\" < \"B\" : W \"10\" < \"9\"", "False;False;True;"},
      {"W 1 = \"1\"", "True;"},
      {"x = \"10\" : r = (x > 9) : W r", "True;"},
      {"x = \"abc\" : r = (x = 1)", "!err 13"},
      {"x = 10 : r = (x = \"10\") : W r", "True;"},
      {"x = \"10\" : y = 10 : W (x = y) : W (y < x)", "False;True;"},
      {"W 1 < 2 < 3 : W 3 > 2 > 1", "True;False;"},
      {"W Nothing Is Nothing", "True;"},
      {"W 5 Is Nothing", "!err 424"},
      // A Const counts as a literal in comparisons.
      {"Const c = 10 : x = \"10\" : W (x = c)", "True;"},
  });
}

TEST(ScriptTrickyCases, LogicAndNull) {
  RunTable({
      {"P True And Null : P False And Null", "Null;False(Boolean);"},
      {"P True Or Null : P False Or Null", "True(Boolean);Null;"},
      {"P Not Null : P Not 0 : P Not 5", "Null;-1(Integer);-6(Integer);"},
      {"P 5 And 3 : P 5 Or 3 : P 5 Xor 3", "1(Integer);7(Integer);6(Integer);"},
      {"W TypeName(True And False) : W TypeName(True And 1)", "Boolean;Integer;"},
      {"If False And (1/0 = 1) Then W 1", "!err 11"},
      {"If Null Then a = 1 Else a = 2\nW a", "2;"},
      {"If \"abc\" Then W 1", "!err 13"},
      {"If \"True\" Then W \"a\"\nIf \"1\" Then W \"b\"", "a;b;"},
  });
}

TEST(ScriptTrickyCases, ConversionFunctions) {
  RunTable({
      {"P CInt(2.5) : P CInt(3.5) : P CInt(-2.5)", "2(Integer);4(Integer);-2(Integer);"},
      {"P CInt(\" 12 \") : P CInt(\"&H10\") : P CDbl(\"1,000\") : P CDbl(\"1e3\")",
       "12(Integer);16(Integer);1000(Double);1000(Double);"},
      {"P CInt(\"\")", "!err 13"},
      {"P CInt(\"abc\")", "!err 13"},
      {"P CInt(Empty)", "0(Integer);"},
      {"P CInt(Null)", "!err 94"},
      {"P CInt(32767.5)", "!err 6"},
      {"P CByte(256)", "!err 6"},
      {"P CByte(-1)", "!err 6"},
      {"P CLng(2.5) : P CLng(-3.5)", "2(Long);-4(Long);"},
      {"P CBool(\"true\") : P CBool(\"0\") : P CBool(Empty)",
       "True(Boolean);False(Boolean);False(Boolean);"},
      {"P CBool(\"yes\")", "!err 13"},
      {"P Int(-8.4) : P Fix(-8.4)", "-9(Double);-8(Double);"},
      {"P Round(2.5) : P Round(0.5) : P Round(-2.5) : P Round(1.2345, 2)",
       "2(Double);0(Double);-2(Double);1.23(Double);"},
      {"W Hex(255) : W Hex(-1) : W Hex(CLng(-1)) : W Hex(-32769) : W Oct(8)",
       "FF;FFFF;FFFFFFFF;FFFF7FFF;10;"},
      {"W IsNumeric(\"\") : W IsNumeric(Empty) : W IsNumeric(\" 12 \") : "
       "W IsNumeric(\"12a\") : W IsNumeric(Null) : W IsNumeric(Now)",
       "False;True;True;False;False;False;"},
      {"W VarType(Array()) : W TypeName(Array())", "8204;Variant();"},
      {"W TypeName(Nothing) : W TypeName(Empty) : W TypeName(Null)", "Nothing;Empty;Null;"},
      {"W TypeName(CreateObject(\"Scripting.Dictionary\"))", "Dictionary;"},
  });
}

TEST(ScriptTrickyCases, StringFunctions) {
  RunTable({
      {"W Mid(\"abc\", 2) : W Mid(\"abc\", 5) : W Mid(\"abc\", 2, 100)", "bc;;bc;"},
      {"W Mid(\"abc\", 0)", "!err 5"},
      {"W Left(\"abc\", 0) : W Left(\"abc\", 10) : W Right(\"abc\", 2)", ";abc;bc;"},
      {"W Left(\"abc\", -1)", "!err 5"},
      {"W Len(123) : P Len(Null) : W Len(\"中文\")", "3;Null;2;"},
      {"W InStr(\"aAb\", \"A\") : W InStr(1, \"aAb\", \"a\", 1) : W InStr(2, \"aAb\", \"a\", 1)",
       "2;1;2;"},
      {"W InStr(\"abc\", \"\") : W InStr(\"\", \"a\") : W InStr(4, \"abc\", \"c\")", "1;0;0;"},
      {"W InStr(0, \"abc\", \"a\")", "!err 5"},
      {"P InStr(\"abc\", Null)", "Null;"},
      {"W InStr(\"abc\", \"b\", 1)", "!err 13"},
      {"W InStrRev(\"abcabc\", \"bc\") : W InStrRev(\"abcabc\", \"bc\", 4)", "5;2;"},
      {"W Replace(\"aAa\", \"a\", \"x\") : W Replace(\"aAa\", \"a\", \"x\", 1, -1, 1)", "xAx;xxx;"},
      {"W Replace(\"abcabc\", \"b\", \"X\", 3) : W Replace(\"abab\", \"a\", \"x\", 1, 1) : "
       "W Replace(\"abc\", \"\", \"x\")",
       "caXc;xbab;abc;"},
      {"W UBound(Split(\"\", \",\")) : W UBound(Split(\"a,,b\", \",\")) : "
       "W Split(\"a,,b\", \",\")(1)",
       "-1;2;;"},
      {"W Split(\"a,b,c\", \",\", 2)(1) : W UBound(Split(\"abc\", \"\")) : W Split(\"a b\")(1)",
       "b,c;0;b;"},
      {"W Join(Array(1, 2, 3), \"-\") : W Join(Array(\"a\", \"b\"))", "1-2-3;a b;"},
      {"W Trim(\"  a  \") : W Len(Trim(vbTab & \" a \"))", "a;3;"},
      {"W StrComp(\"a\", \"A\") : W StrComp(\"a\", \"A\", 1) : W StrComp(\"A\", \"a\")", "1;0;-1;"},
      {"W String(3, \"ab\") : W String(3, 65)", "aaa;AAA;"},
      {"W Space(-1)", "!err 5"},
      {"W Asc(\"A\") : W AscW(\"中\") : W Asc(\"中\") : W ChrW(20013)", "65;20013;-10544;中;"},
      {"W Asc(\"\")", "!err 5"},
      {"W Escape(\"a b+c/ä\") : W Escape(\"中\") : W Unescape(\"%41%u4E2D%zz\")",
       "a%20b+c/%E4;%u4E2D;A中%zz;"},
      {"W Join(Filter(Array(\"ab\", \"cd\", \"abc\"), \"ab\"), \",\") : "
       "W Join(Filter(Array(\"ab\", \"cd\"), \"ab\", False), \",\")",
       "ab,abc;cd;"},
      {"W UCase(\"abc1ä\") : W LCase(\"ABC\")", "ABC1Ä;abc;"},
  });
}

TEST(ScriptTrickyCases, Arrays) {
  RunTable({
      {"W UBound(Array()) : W LBound(Array())", "-1;0;"},
      {"Dim a(3) : W UBound(a)", "3;"},
      {"Dim m(2, 5) : W UBound(m, 2) : W UBound(m, 3)", "5;!err 9"},
      {"Dim a(3) : a(4) = 1", "!err 9"},
      {"Dim d() : W UBound(d)", "!err 9"},
      {"ReDim m(2, 5) : ReDim Preserve m(3, 5)", "!err 9"},
      {"ReDim m(2, 5) : m(1, 4) = \"k\" : ReDim Preserve m(2, 7) : W UBound(m, 2) : W m(1, 4)",
       "7;k;"},
      {"Dim a(3) : ReDim a(5)", "!err 10"},
      {"a = Array(1, 2) : b = a : b(0) = 9 : W a(0)", "1;"},
      {"Dim a(2) : a(0) = 5 : Erase a : W UBound(a) & \",\" & IsEmpty(a(0))", "2,True;"},
      {"ReDim a(2) : Erase a : W UBound(a)", "!err 9"},
      {"W UBound(5)", "!err 13"},
      {"x = \"abc\" : W x(0)", "!err 13"},
      {"a = Array(1, 2) : For Each v In a : v = 0 : Next : W Join(a, \",\")", "1,2;"},
      {"Dim m(1, 1)\nFor i = 0 To 1 : For j = 0 To 1 : m(i, j) = i & j : Next : Next\n"
       "For Each v In m : W v : Next",
       "00;10;01;11;"},
      {"For Each v In 5 : Next", "!err 451"},
  });
}

TEST(ScriptTrickyCases, Dates) {
  RunTable({
      {"W DateSerial(2003, 13, 1) = #1/1/2004# : W DateSerial(2003, 3, 0) = #2/28/2003#",
       "True;True;"},
      {"W DateAdd(\"m\", 1, #1/31/2003#) = #2/28/2003#", "True;"},
      {"W DateDiff(\"d\", #1/1/2003#, #12/31/2003#) : "
       "W DateDiff(\"yyyy\", #12/31/2002#, #1/1/2003#) : "
       "W DateDiff(\"m\", #1/31/2003#, #2/1/2003#) : W DateDiff(\"d\", #1/2/2003#, #1/1/2003#)",
       "364;1;1;-1;"},
      {"W Weekday(#1/1/2003#) : W Weekday(#1/1/2003#, vbMonday)", "4;3;"},
      {"W DatePart(\"q\", #5/6/2003#) : W DatePart(\"y\", #2/1/2003#)", "2;32;"},
      {"W CDbl(#12/30/1899#) : W CDbl(#1/1/1900#) : W Hour(CDate(1.5))", "0;2;12;"},
      {"W Year(\"2003-5-6\") : W Month(#5/6/2003#)", "2003;5;"},
      {"W DateAdd(\"x\", 1, Now)", "!err 5"},
      {"W CStr(#1/31/2003#) : W CStr(#1/31/2003 21:05:07#) : W CStr(#21:05:07#)",
       "2003/1/31;2003/1/31 21:05:07;21:05:07;"},
  });
}

TEST(ScriptTrickyCases, StatementsCallsAndParsing) {
  RunTable({
      {"a = 1 : b = 2 : c = a = b : P c", "False(Boolean);"},
      {"n = 1 : S n : W n\nSub S(x) : x = x + 1 : End Sub", "2;"},
      {"n = 1 : S (n) : W n\nSub S(x) : x = x + 1 : End Sub", "1;"},
      {"n = 1 : Call S(n) : W n\nSub S(x) : x = x + 1 : End Sub", "2;"},
      {"n = 1 : S n + 0 : W n\nSub S(x) : x = x + 1 : End Sub", "1;"},
      {"n = 1 : S n : W n\nSub S(ByVal x) : x = 5 : End Sub", "1;"},
      {"S(1, 2)\nSub S(a, b) : End Sub", "!err 1044"},
      {"W F()\nFunction F() : F = 1 : F = F + 1 : End Function", "2;"},
      {"For i = 1 To 3 : Next : W i", "4;"},
      {"For i = 3 To 1 : n = n + 1 : Next : W n & \",\" & i", ",3;"},
      {"For i = 10 To 1 Step -3 : W i : Next", "10;7;4;1;"},
      {"For i = 1 To 3\nNext i", "!err 1025"},
      {"Select Case 5 : Case 1, 2 : r = \"a\" : Case 4, 5 : r = \"b\" : Case Else : r = \"c\" : "
       "End Select : W r",
       "b;"},
      {"Select Case \"a\" : Case \"A\" : r = 1 : Case Else : r = 2 : End Select : W r", "2;"},
      {"n = 5 : Do : n = n + 1 : Loop Until n >= 3 : W n", "6;"},
      {"x = False : If x Then a = 1 : b = 2\nP a : P b", "Empty;Empty;"},
      {"x = 1 ' comment\nx = 1 : Rem c\nW x", "1;"},
      {"x = 1 Rem c", "!err 1025"},
      {"s = \"a\" & _\n\"b\" : W s", "ab;"},
      // Appending to a string in place keeps the general rules and order.
      {"s = \"a\" : s = s & 1 & Null & Empty & True : W s", "a1True;"},
      {"s = \"a\" : s = s & Change() & \"c\" : W s\n"
       "Function Change : s = \"x\" : Change = \"b\" : End Function",
       "abc;"},
      {"s = \"say \"\"hi\"\"\" : W s", "say \"hi\";"},
      {"[my var] = 3 : W [my var] + 1", "4;"},
      {"Response.End", "<end>"},
      {"x = \"abc", "!err 1033"},
      {"W 1\nIf x Then", "!err 1014"},
      {"Option Explicit\nResponse.Write \"a\"\ny = 1", "a!err 500"},
      {"Foo 1", "!err 13"},
      {"Const c = 1 : c = 2", "!err 501"},
      {"Dim q : Dim q", "!err 1041"},
      {"Dim vbCrLf", "!err 1041"},
      {"vbCrLf = 1", "!err 501"},
      {"Later\nSub Later : W \"later\" : End Sub", "later;"},
  });
}

TEST(ScriptTrickyCases, ErrorsAndObjects) {
  RunTable({
      {"On Error Resume Next : x = 1 : x = 1 / 0 : n = Err.Number : W n & \",\" & x", "11,1;"},
      {"On Error Resume Next\nIf 1/0 = 5 Then\nr = \"then\"\nElse\nr = \"else\"\nEnd If\nW r",
       "then;"},
      {"On Error Resume Next : Err.Raise 6 : d = Err.Description : On Error GoTo 0 : "
       "W d : W Err.Number",
       "Overflow;0;"},
      {"On Error Resume Next : Q : W Err.Number\nSub Q : Err.Raise 5 : W \"no\" : End Sub", "5;"},
      {"Set x = 5", "!err 424"},
      {"Set d = CreateObject(\"Scripting.Dictionary\") : d.Foo", "!err 438"},
      {"Set o = Nothing : o.Bar", "!err 424"},
      {"Set d = CreateObject(\"Scripting.Dictionary\") : x = d", "!err 450"},
      {"Response.Write rs(\"f\")", "fieldvalue"},
      {"Set f = rs(\"f\") : W TypeName(f) <> \"Empty\" : x = rs(\"f\") : W IsObject(x)",
       "True;False;"},
      {"CreateObject(\"No.Such\")", "!err 429"},
      // Global members of Request answer bare names.
      {"W QueryString(\"q\") : W Request.QueryString(\"q\")", "needle;needle;"},
  });
  RunResult r = RunScript("Err.Raise vbObjectError + 1, \"me\", \"boom\"");
  EXPECT_EQ(r.error.description, u"boom");
  EXPECT_EQ(r.error.source, u"me");
  EXPECT_EQ(r.error.number, -2147221503);
}

TEST(ScriptTrickyCases, Dictionary) {
  const std::string d = "Set d = CreateObject(\"Scripting.Dictionary\") : ";
  std::vector<std::string> scripts = {
      d + "d.Add \"a\", 1 : d.Add \"a\", 2",
      d + "d.Add \"a\", 1 : x = d(\"b\") : W d.Count : P x",
      d + "W d.Exists(\"zz\") : y = d(\"zz\") : W d.Exists(\"zz\")",
      d + "d.Remove \"zz\"",
      d + "d.Add \"a\", 1 : d.CompareMode = 1",
      d + "d.CompareMode = 1 : d.Add \"a\", 1 : d.Add \"A\", 2",
      d + "d.CompareMode = 0 : d.Add \"a\", 1 : W d.Exists(\"A\")",
      d + "d.Add 1, \"x\" : W d.Exists(\"1\")",
      d + "d.Add \"b\", 1 : d.Add \"a\", 2 : W Join(d.Keys, \",\")",
      d + "d(\"k\") = 5 : d(\"k\") = 6 : W d(\"k\") & \",\" & d.Count",
      d + "d.Add \"b\", 1 : d.Add \"a\", 2 : d.Key(\"a\") = \"z\" : W Join(d.Keys, \",\")",
      d + "d.Add \"b\", 1 : d.Add \"z\", 2 : For Each k In d : s = s & k : Next : W s",
      "W UBound(CreateObject(\"Scripting.Dictionary\").Keys)",
      d + "Set d(\"o\") = d : W TypeName(d(\"o\"))",
  };
  std::vector<std::string> expected = {
      "!err 457", "2;Empty;", "False;True;", "!err 32811", "!err 5", "!err 457", "False;",
      "False;",   "b,a;",     "6,1;",        "b,z;",       "bz;",    "-1;",      "Dictionary;",
  };
  std::vector<Case> cases;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    cases.push_back({scripts[i].c_str(), expected[i].c_str()});
  }
  RunTable(cases);
}

TEST(ScriptEngineTest, ErrorReportGivesLineSourceAndDescription) {
  RunResult r = RunScript("x = 1\n  y = CInt(\"abc\")\nz = 3", nullptr, false);
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.error.line, 1);
  EXPECT_EQ(r.error.source_line, u"  y = CInt(\"abc\")");
  EXPECT_EQ(FormatScriptError(r.error),
            "Script error detected at line 1.\nSource line:   y = CInt(\"abc\")\n"
            "Description: Type mismatch");
  // A run-time error in a procedure is reported at the procedure's line.
  r = RunScript("Sub S\n  x = 1 / 0\nEnd Sub\nS", nullptr, false);
  EXPECT_EQ(r.error.line, 1);
  // A lone LF inside a string literal does not count a line.
  r = RunScript("s = \"a\nb\"\r\nx = 1 / 0", nullptr, false);
  EXPECT_EQ(r.error.line, 1);
  EXPECT_EQ(r.error.source_line, u"x = 1 / 0");
  // A syntax error runs nothing.
  r = RunScript("Response.Write \"a\"\nx = (1", nullptr, false);
  EXPECT_EQ(r.text, "!err 1006");
  EXPECT_TRUE(r.error.compile_error);
  EXPECT_EQ(r.error.line, 1);
}

TEST(ScriptEngineTest, RunawayScriptsBecomeErrors) {
  ScriptLimits limits;
  limits.max_steps = 10000;
  // An endless loop under Resume Next still stops.
  RunResult r = RunScript("On Error Resume Next\nDo\nLoop", &limits, false);
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.error.hresult, E_ABORT);
  r = RunScript("While True : Wend", &limits, false);
  EXPECT_EQ(r.error.hresult, E_ABORT);
  // The host's stop flag ends a run that has no limit of its own, even
  // under Resume Next (a server shutting down).
  {
    std::atomic<bool> stop{false};
    ScriptLimits unlimited;
    unlimited.stop = &stop;
    std::thread raise([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      stop = true;
    });
    r = RunScript("On Error Resume Next\nDo\nLoop", &unlimited, false);
    raise.join();
    ASSERT_TRUE(r.failed);
    EXPECT_EQ(r.error.hresult, E_ABORT);
    EXPECT_EQ(r.error.description, u"Script stopped: the server is shutting down");
  }
  r = RunScript("Sub R(n) : R n + 1 : End Sub\nR 0", nullptr, false);
  EXPECT_EQ(r.text, "!err 28");
  // Deep recursion under Resume Next unwinds cleanly and continues.
  r = RunScript(
      "On Error Resume Next\nR 0\nResponse.Write Err.Number\n"
      "Sub R(n) : R n + 1 : End Sub",
      nullptr, false);
  EXPECT_EQ(r.text, "28");
  // Values nested very deep are released without deep recursion.
  r = RunScript("For i = 1 To 100000 : a = Array(a) : Next\nResponse.Write \"ok\"", nullptr, false);
  EXPECT_EQ(r.text, "ok");
  r = RunScript(
      "Set p = Nothing\nFor i = 1 To 50000\n"
      "Set d = CreateObject(\"Scripting.Dictionary\") : d.Add \"n\", p : Set p = d\n"
      "Next\nResponse.Write d.Count",
      nullptr, false);
  EXPECT_EQ(r.text, "1");
  limits = ScriptLimits();
  limits.max_string_length = 1000;
  r = RunScript("s = \"x\"\nDo : s = s & s : Loop", &limits, false);
  EXPECT_EQ(r.text, "!err 14");
  limits.max_array_elements = 1000;
  r = RunScript("ReDim a(100000)", &limits, false);
  EXPECT_EQ(r.text, "!err 7");
  // A very long operator chain is refused at parse time, not by a crash.
  std::string chain = "x = 1";
  for (int i = 0; i < 5000; ++i) chain += " + 1";
  r = RunScript(chain, nullptr, false);
  EXPECT_EQ(r.text, "!err 1001");
  std::string parens = "x = " + std::string(20000, '(') + "1" + std::string(20000, ')');
  r = RunScript(parens, nullptr, false);
  EXPECT_EQ(r.text, "!err 1001");
}

TEST(ScriptEngineTest, HostErrorsMapToErrNumbers) {
  RunTable({
      {"On Error Resume Next : Host.Raise9 : W Err.Number & \",\" & Err.Description & \",\" & "
       "Err.Source",
       "9,host index,Faulty;"},
      {"On Error Resume Next : Host.Fail : W Err.Number : W Left(Err.Description, 16)",
       "-2147467259;Automation error;"},
      {"Host.NeedsTwo 1", "!err 450"},
      {"Host.NeedsTwo 1, 2 : W \"ok\"", "ok;"},
      {"For Each v In Host : W v : Next", "1;two;"},
      {"Host = 1", "!err 501"},
  });
}

TEST(ScriptEngineTest, NamesAndLiterals) {
  RunTable({
      // Option Explicit: procedure locals must be declared too.
      {"Option Explicit\nDim g : g = 1 : S : W g\nSub S : Dim l : l = 2 : g = g + l : End Sub",
       "3;"},
      {"Option Explicit\nS\nSub S : q = 1 : End Sub", "!err 500"},
      // An undeclared name assigned in a procedure is local unless a global
      // of that name exists.
      {"g = 1 : S : W g & \",\" & IsEmpty(l)\nSub S : g = 5 : l = 7 : End Sub", "5,True;"},
      {"P &H8000 : P &HFFFFFFFF : P .5 : P 1. : P 32768",
       "-32768(Integer);-1(Long);0.5(Double);"
       "1(Double);32768(Long);"},
      {"x = &H123456789", "!err 1031"},
      {"x = #13/45/2003#", "!err 1002"},
      {"[End] = 2 : W [End]", "2;"},
      {"Set d = CreateObject(\"Scripting.Dictionary\") : d.Add \"Step\", 1 : W d.Count : "
       "Rem done",
       "1;"},
      {"W 1 : Rem a \"quote", "1;"},
      {"x = 1 :: y = 2 : W x + y", "3;"},
      {"a = Array(1, Array(2, 3)) : W a(1)(0)", "2;"},
      {"W CreateObject(\"Scripting.Dictionary\").Keys()(0)", "!err 9"},
  });
  std::string long_name = std::string(256, 'a') + " = 1";
  EXPECT_EQ(RunScript(long_name).text, "!err 1030");
}

TEST(ScriptEngineTest, CompileErrorsOfTypicalMistakes) {
  RunTable({
      {"For i = 1 To 2\nW i", "!err 1020"},
      {"Do\nW 1", "!err 1019"},
      {"While True\nW 1", "!err 1018"},
      {"Loop", "!err 1038"},
      {"Next", "!err 1055"},
      {"x = 1 2", "!err 1025"},
      {"x = 1 +", "!err 1023"},
      {"If x W 1", "!err 1017"},
      {"x = $", "!err 1032"},
      {"Exit Do", "!err 1039"},
      {"Sub S\nW 1", "!err 1014"},
      {"W 1\nOption Explicit", "!err 1024"},
      {"Select Case 1 : Case 1 To 5 : End Select", "!err 1025"},
  });
}

TEST(ScriptEngineTest, ByRefArrayElementsAndWith) {
  RunTable({
      {"Dim a(2) : a(1) = 1 : Inc a(1) : W a(1)\nSub Inc(x) : x = x + 1 : End Sub", "2;"},
      // A ReDim in the callee cannot leave a dangling element reference.
      {"ReDim a(2) : a(1) = 1 : Grow a(1) : W UBound(a)\n"
       "Sub Grow(x) : ReDim a(0) : x = 5 : End Sub",
       "0;"},
      // An index expression that replaces the array being indexed.
      {"ReDim a(2) : a(1) = 7 : P a(Shrink())\nFunction Shrink : ReDim a(1) : Shrink = 1 : End "
       "Function",
       "Empty;"},
      {"ReDim a(2) : a(Shrink()) = 7 : W a(1)\nFunction Shrink : ReDim a(1) : Shrink = 1 : End "
       "Function",
       "7;"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nWith d\n.Add \"k\", 1\nW .Count\nEnd With",
       "1;"},
      {"W .Count", "!err 505"},
      {"For i = 1 To 5 : If i = 3 Then Exit For\nNext : W i", "3;"},
      {"Do While True : Do : Exit Do : Loop : n = n + 1 : If n = 2 Then Exit Do\nLoop : W n", "2;"},
  });
}

// The platform's own results where they differ from the language's
// documentation: operators, built-ins and constants, Null arguments,
// dates, errors in loop headers, one-line forms.
TEST(ScriptPlatformSemantics, Expressions) {
  RunTable({
      {"P Empty And Empty : P CByte(170) Imp Null : P True Imp Null", "0(Long);85(Byte);Null;"},
      {"P -3 ^ 2 : P &h10& : P &H000000031", "9(Double);16(Integer);49(Integer);"},
      {"W InStrRev(\"abcd\", \"bc\", 2) : W InStrRev(\"abcd\", \"bc\", 3)", "0;2;"},
      {"P CByte(True) : W \"True\" = True : W \"true\" = True", "255(Byte);True;False;"},
      {"W TypeName(Now - 1/24) : W TypeName(#1/1/2003# + 0.5) : P #1/2/2003# - #1/1/2003#",
       "Date;Date;1(Double);"},
      {"W CDate(0) : W TimeValue(\"00:00\") : W TimeSerial(0, 0, 0)", "0:00:00;0:00:00;0:00:00;"},
      {"P LenB(\"abc\") : W LeftB(\"abc\", 4) : P AscB(\"A\") : W MidB(\"abcd\", 3, 4) : "
       "W RightB(\"abcd\", 2) : P InStrB(\"abcd\", \"c\")",
       "6(Long);ab;65(Byte);bc;d;5(Long);"},
      {"P RGB(1, 2, 3) : W RGB(255, 0, 0) = vbRed : W ScriptEngine : "
       "W ScriptEngineMajorVersion & \".\" & ScriptEngineMinorVersion",
       "197121(Long);True;VBScript;5.8;"},
      {"W vbOK & vbNo & vbWhite & vbTristateUseDefault & vbFirstJan1 & vbUseSystemDayOfWeek & "
       "vbGeneralDate & vbBinaryCompare & vbMsgBoxRight & (vbObjectError = &H80040000)",
       "1716777215-21000524288True;"},
      {"W Join(Null)", "!err 94"},
      {"W Escape(Null)", "!err 94"},
      {"W Unescape(Null)", "!err 94"},
      {"W DateAdd(\"d\", 1, Null)", "!err 94"},
      {"W DateAdd(Null, 1, Now)", "!err 94"},
      {"W FormatNumber(Null)", "!err 94"},
  });
}

TEST(ScriptPlatformSemantics, Statements) {
  RunTable({
      // A failed For header skips the loop; its Next leaves Err at 92.
      {"On Error Resume Next\nFor x = 1/0 To 100 : W \"in\" : Next\nW Err.Number", "92;"},
      // A failing Loop While condition leaves the loop instead of looping.
      {"On Error Resume Next\nDo : n = n + 1 : Loop While 1/0\nW n & \" \" & Err.Number", "1 11;"},
      {"With 42 : End With", "!err 424"},
      {"If 1 = 2 Then y = 1 Else y = 2 End If\nW y", "2;"},
      {"If 1 = 1 Then y = 1 End If\nW y", "1;"},
      {"Sub S() W \"s\"\nEnd Sub\nS", "s;"},
      // Err.Description is the plain text; the host's report adds the name.
      {"On Error Resume Next\nx = CInt(\"a\")\nW Err.Description", "Type mismatch;"},
  });
  RunResult r = RunScript("Option Explicit\nW y");
  EXPECT_EQ(ToNarrow(r.error.description), "Variable is undefined: 'y'");
}

// Compile errors with their numbers and (0-based) lines.
TEST(ScriptPlatformSemantics, CompileErrors) {
  struct Row {
    const char* script;
    int number;
    int line;
    const char* source_line;
  };
  const Row rows[] = {
      {"x = 1\ny = \"abc\nz = 2", 1033, 1, "y = \"abc"},
      {"x = 1\ny = $\nz = 2", 1032, 1, "y = $"},
      {"x = 1\ny = #99/99/99#\nz = 2", 1002, 1, "y = #99/99/99#"},
      {"x = &HFFFFFFFFF\nz = 2", 1031, 0, "x = &HFFFFFFFFF"},
      {"Class C\nProperty Get\nEnd Class", 1010, 1, "Property Get"},
      {"Class C\nProperty Foo X\nEnd Property\nEnd Class", 1049, 1, "Property Foo X"},
      {"Class C\nProperty Let P()\nEnd Property\nEnd Class", 1054, 1, "Property Let P()"},
      {"Class C\nSub Class_Initialize(a)\nEnd Sub\nEnd Class", 1053, 1, "Sub Class_Initialize(a)"},
      {"Class C\nPrivate Default Function F\nEnd Function\nEnd Class", 1057, 1,
       "Private Default Function F"},
      {"Class C\nPublic Default Function F\nEnd Function\n"
       "Public Default Function G\nEnd Function\nEnd Class",
       1052, 3, "Public Default Function G"},
      {"Property Get P\nEnd Property", 1048, 0, "Property Get P"},
      {"Class C\nSub S\nEnd Function\nEnd Class", 1016, 2, "End Function"},
      {"Class C\nDim x\nEnd Sub", 1047, 2, "End Sub"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    ScriptEngine engine;
    ScriptErrorInfo error;
    engine.SetErrorCallback([&](const ScriptErrorInfo& e) { error = e; });
    EXPECT_FALSE(engine.Parse(ToWide(row.script)));
    EXPECT_TRUE(error.compile_error);
    EXPECT_EQ(error.number, row.number);
    EXPECT_EQ(error.line, row.line);
    EXPECT_EQ(ToNarrow(error.source_line), row.source_line);
  }
}

// Script classes through the engine's public face: instances that a host
// keeps after Close, and limits inside class code and Execute text.
TEST(ScriptClasses, LimitsAndLifetime) {
  ScriptLimits limits;
  limits.max_steps = 10000;
  RunResult r = RunScript(
      "Class Spin : Sub Go() : Do : Loop : End Sub : End Class\n"
      "On Error Resume Next\nSet s = New Spin : s.Go\nW \"not reached\"",
      &limits);
  EXPECT_EQ(r.error.hresult, E_ABORT);
  r = RunScript("On Error Resume Next\nExecute \"Do : Loop\"\nW \"not reached\"", &limits);
  EXPECT_EQ(r.error.hresult, E_ABORT);
  // Terminate runs at the end of the run, while Response still works.
  EXPECT_EQ(RunScript("Class T : Sub Class_Terminate() : W \"bye\" : End Sub : End Class\n"
                      "Set obj = New T : W \"end\"")
                .text,
            "end;bye;");
}

}  // namespace
}  // namespace lun
