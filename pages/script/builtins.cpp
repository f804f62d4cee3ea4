#include "pages/script/builtins.h"

#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "pages/script/builtin_library.h"
#include "pages/script/lexer.h"
#include "pages/script/runtime.h"

namespace lun::script {

namespace {

// The one registry: every library's table, in one index.
const std::vector<Builtin>& AllBuiltins() {
  static const auto* all = [] {
    auto* v = new std::vector<Builtin>();
    for (auto table : {StringBuiltins(), MathBuiltins(), DateBuiltins(), ArrayBuiltins()}) {
      v->insert(v->end(), table.begin(), table.end());
    }
    return v;
  }();
  return *all;
}

struct Constant {
  std::u16string_view name;
  Variant (*make)();
};

const std::unordered_map<std::u16string, int>& BuiltinIndex() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<std::u16string, int>();
    const auto& all = AllBuiltins();
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
      m->emplace(FoldName(all[i].name), i);
    }
    return m;
  }();
  return *map;
}

const std::unordered_map<std::u16string, Variant>& ConstantMap() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<std::u16string, Variant>();
    auto add = [m](std::u16string_view n, Variant v) { m->emplace(FoldName(n), std::move(v)); };
    add(u"vbCr", Variant::Bstr(u"\r"));
    add(u"vbLf", Variant::Bstr(u"\n"));
    add(u"vbCrLf", Variant::Bstr(u"\r\n"));
    add(u"vbNewLine", Variant::Bstr(u"\r\n"));
    add(u"vbTab", Variant::Bstr(u"\t"));
    add(u"vbFormFeed", Variant::Bstr(u"\f"));
    add(u"vbVerticalTab", Variant::Bstr(u"\v"));
    add(u"vbNullChar", Variant::Bstr(std::u16string(1, u'\0')));
    add(u"vbNullString", Variant::Bstr(u""));
    add(u"vbBinaryCompare", Variant::I2(0));
    add(u"vbTextCompare", Variant::I2(1));
    add(u"vbDatabaseCompare", Variant::I2(2));
    add(u"vbTrue", Variant::I2(-1));
    add(u"vbFalse", Variant::I2(0));
    add(u"vbUseDefault", Variant::I2(-2));
    add(u"vbObjectError", Variant::I4(-2147221504));
    const std::pair<std::u16string_view, std::int32_t> longs[] = {
        {u"vbBlack", 0x000000},         {u"vbRed", 0x0000FF},
        {u"vbGreen", 0x00FF00},         {u"vbYellow", 0x00FFFF},
        {u"vbBlue", 0xFF0000},          {u"vbMagenta", 0xFF00FF},
        {u"vbCyan", 0xFFFF00},          {u"vbWhite", 0xFFFFFF},
        {u"vbMsgBoxHelpButton", 16384}, {u"vbMsgBoxSetForeground", 65536},
        {u"vbMsgBoxRight", 524288},     {u"vbMsgBoxRtlReading", 1048576},
    };
    for (const auto& [n, v] : longs) add(n, Variant::I4(v));
    const std::pair<std::u16string_view, int> types[] = {
        {u"vbEmpty", 0},
        {u"vbNull", 1},
        {u"vbInteger", 2},
        {u"vbLong", 3},
        {u"vbSingle", 4},
        {u"vbDouble", 5},
        {u"vbCurrency", 6},
        {u"vbDate", 7},
        {u"vbString", 8},
        {u"vbObject", 9},
        {u"vbError", 10},
        {u"vbBoolean", 11},
        {u"vbVariant", 12},
        {u"vbDataObject", 13},
        {u"vbByte", 17},
        {u"vbArray", 8192},
        {u"vbSunday", 1},
        {u"vbMonday", 2},
        {u"vbTuesday", 3},
        {u"vbWednesday", 4},
        {u"vbThursday", 5},
        {u"vbFriday", 6},
        {u"vbSaturday", 7},
        {u"vbUseSystemDayOfWeek", 0},
        {u"vbUseSystem", 0},
        {u"vbFirstJan1", 1},
        {u"vbFirstFourDays", 2},
        {u"vbFirstFullWeek", 3},
        {u"vbGeneralDate", 0},
        {u"vbLongDate", 1},
        {u"vbShortDate", 2},
        {u"vbLongTime", 3},
        {u"vbShortTime", 4},
        {u"vbTristateTrue", -1},
        {u"vbTristateFalse", 0},
        {u"vbTristateUseDefault", -2},
        {u"vbOK", 1},
        {u"vbCancel", 2},
        {u"vbAbort", 3},
        {u"vbRetry", 4},
        {u"vbIgnore", 5},
        {u"vbYes", 6},
        {u"vbNo", 7},
        {u"vbOKOnly", 0},
        {u"vbOKCancel", 1},
        {u"vbAbortRetryIgnore", 2},
        {u"vbYesNoCancel", 3},
        {u"vbYesNo", 4},
        {u"vbRetryCancel", 5},
        {u"vbCritical", 16},
        {u"vbQuestion", 32},
        {u"vbExclamation", 48},
        {u"vbInformation", 64},
        {u"vbDefaultButton1", 0},
        {u"vbDefaultButton2", 256},
        {u"vbDefaultButton3", 512},
        {u"vbDefaultButton4", 768},
        {u"vbApplicationModal", 0},
        {u"vbSystemModal", 4096},
    };
    for (const auto& [n, v] : types) add(n, Variant::I2(static_cast<std::int16_t>(v)));
    return m;
  }();
  return *map;
}

}  // namespace

int FindBuiltin(std::u16string_view folded) {
  auto it = BuiltinIndex().find(std::u16string(folded));
  return it == BuiltinIndex().end() ? -1 : it->second;
}

const Builtin& GetBuiltin(int index) { return AllBuiltins()[index]; }

bool FindBuiltinConstant(std::u16string_view folded, Variant* value) {
  auto it = ConstantMap().find(std::u16string(folded));
  if (it == ConstantMap().end()) return false;
  *value = it->second;
  return true;
}

void RandomizeSeed(BuiltinHost& host, const Variant* seed) {
  double s = 0;
  if (seed && !seed->is_empty()) {
    s = ToDouble(*seed);
  } else {
    double now = LocalNowSerial(true);
    s = (now - std::floor(now)) * 86400.0;
  }
  std::uint64_t bits = 0;
  std::memcpy(&bits, &s, sizeof bits);
  std::uint32_t mix = static_cast<std::uint32_t>((bits >> 32) ^ bits);
  mix ^= mix >> 16;
  host.rnd_seed = (host.rnd_seed & 0xFF) | ((mix & 0xFFFF) << 8);
  host.rnd_seed &= 0xFFFFFF;
}

}  // namespace lun::script
