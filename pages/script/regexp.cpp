#include "pages/script/regexp.h"

#include <unicode/regex.h>

#include <string>
#include <vector>

#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

// The platform's compile errors of a pattern, and the ICU statuses that
// mean each. Anything else ICU refuses is a plain syntax error.
struct PatternError {
  int number;
  std::u16string_view text;
};
constexpr PatternError kRegexSyntax = {5017, u"Syntax error in regular expression"};

PatternError PatternErrorOf(UErrorCode status) {
  switch (status) {
    case U_REGEX_RULE_SYNTAX:  // "*a", "a**": nothing to repeat
    case U_REGEX_BAD_INTERVAL:
      return {5018, u"Unexpected quantifier"};
    case U_REGEX_MISSING_CLOSE_BRACKET:
      return {5019, u"Expected ']' in regular expression"};
    case U_REGEX_MISMATCHED_PAREN:
      return {5020, u"Expected ')' in regular expression"};
    case U_REGEX_INVALID_RANGE:
      return {5021, u"Invalid range in character set"};
    default:
      return kRegexSyntax;
  }
}
constexpr std::u16string_view kRunawayText =
    u"Regular expression stopped: the match took too long (a pattern that backtracks "
    u"without end)";

bool IsPut(std::uint16_t flags) { return flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF); }

HResult InvalidCall(ExcepInfo* excep) {
  return RaiseException(excep, kErrInvalidCall, ErrorDescription(kErrInvalidCall));
}

// A read-only collection of values: Count, Item(i) (the default member)
// and For Each. Matches and SubMatches are both this.
class ValueCollection : public Dispatch {
 public:
  ValueCollection(std::vector<Variant> items, std::u16string type_name)
      : items_(std::move(items)), type_name_(std::move(type_name)) {}

  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Item", DISPID_VALUE}, {u"Count", 1}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    Variant ignored;
    if (!result) result = &ignored;
    switch (id) {
      case 1:
        if (!args.empty()) return DISP_E_BADPARAMCOUNT;
        *result = Variant::I4(static_cast<std::int32_t>(items_.size()));
        return S_OK;
      case DISPID_VALUE: {
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        Variant index;
        if (ChangeType(args[0], VT_I4, &index) != S_OK) return DISP_E_TYPEMISMATCH;
        if (index.AsInteger() < 0 ||
            index.AsInteger() >= static_cast<std::int64_t>(items_.size())) {
          return InvalidCall(excep);
        }
        *result = items_[static_cast<std::size_t>(index.AsInteger())];
        return S_OK;
      }
      case DISPID_NEWENUM:
        *result = Variant::Object(std::make_shared<VectorEnumerator>(items_));
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }
  std::u16string TypeName() const override { return type_name_; }

 private:
  std::vector<Variant> items_;
  std::u16string type_name_;
};

class Match : public Dispatch {
 public:
  Match(std::u16string value, std::int32_t first_index, std::vector<Variant> submatches)
      : value_(std::move(value)),
        first_index_(first_index),
        submatches_(std::make_shared<ValueCollection>(std::move(submatches), u"ISubMatches")) {}

  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {
        {u"Value", DISPID_VALUE}, {u"FirstIndex", 1}, {u"Length", 2}, {u"SubMatches", 3}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo*) override {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    Variant ignored;
    if (!result) result = &ignored;
    switch (id) {
      case DISPID_VALUE:
        *result = Variant::Bstr(value_);
        return S_OK;
      case 1:
        *result = Variant::I4(first_index_);
        return S_OK;
      case 2:
        *result = Variant::I4(static_cast<std::int32_t>(value_.size()));
        return S_OK;
      case 3:
        *result = Variant::Object(submatches_);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }
  std::u16string TypeName() const override { return u"IMatch2"; }

 private:
  std::u16string value_;
  std::int32_t first_index_;
  std::shared_ptr<ValueCollection> submatches_;
};

class RegExp : public Dispatch {
 public:
  enum : DispId { kPattern = 1, kIgnoreCase, kGlobal, kMultiline, kTest, kExecute, kReplace };

  explicit RegExp(RegExpLimits limits) : limits_(std::move(limits)) {}

  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    static constexpr MemberName kMembers[] = {{u"Pattern", kPattern}, {u"IgnoreCase", kIgnoreCase},
                                              {u"Global", kGlobal},   {u"Multiline", kMultiline},
                                              {u"Test", kTest},       {u"Execute", kExecute},
                                              {u"Replace", kReplace}};
    return LookupMember(kMembers, name, id);
  }
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  std::u16string TypeName() const override { return u"IRegExp2"; }

 private:
  // Reads or writes one of the flags.
  HResult FlagMember(bool* flag, bool put, std::span<const Variant> args, Variant* result);
  // Argument i as text; Null is error 94.
  static HResult TextArg(std::span<const Variant> args, std::size_t i, std::u16string* out,
                         ExcepInfo* excep);
  // Compiles the pattern with the flags if they changed since.
  HResult Compile(ExcepInfo* excep);
  // Calls on_match(matcher) for each match in `text` (the first only when
  // `all` is false).
  template <typename F>
  HResult ForEachMatch(const std::u16string& text, bool all, ExcepInfo* excep, F on_match);
  static UBool KeepGoing(const void* context, int32_t steps);

  HResult Test(std::span<const Variant> args, Variant* result, ExcepInfo* excep);
  HResult Execute(std::span<const Variant> args, Variant* result, ExcepInfo* excep);
  HResult Replace(std::span<const Variant> args, Variant* result, ExcepInfo* excep);

  RegExpLimits limits_;
  std::u16string pattern_;
  bool ignore_case_ = false;
  bool global_ = false;
  bool multiline_ = false;
  std::unique_ptr<icu::RegexPattern> compiled_;
  bool dirty_ = true;
};

HResult RegExp::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                       Variant* result, ExcepInfo* excep) {
  Variant ignored;
  if (!result) result = &ignored;
  const bool put = IsPut(flags);
  switch (id) {
    case kPattern:
      if (put) {
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        if (HResult hr = TextArg(args, 0, &pattern_, excep); hr != S_OK) return hr;
        dirty_ = true;
        return S_OK;
      }
      if (!args.empty()) return DISP_E_BADPARAMCOUNT;
      *result = Variant::Bstr(pattern_);
      return S_OK;
    case kIgnoreCase:
      return FlagMember(&ignore_case_, put, args, result);
    case kGlobal:
      return FlagMember(&global_, put, args, result);
    case kMultiline:
      return FlagMember(&multiline_, put, args, result);
    case kTest:
    case kExecute:
    case kReplace:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (HResult hr = Compile(excep); hr != S_OK) return hr;
      return id == kTest      ? Test(args, result, excep)
             : id == kExecute ? Execute(args, result, excep)
                              : Replace(args, result, excep);
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HResult RegExp::FlagMember(bool* flag, bool put, std::span<const Variant> args, Variant* result) {
  if (!put) {
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    *result = Variant::Bool(*flag);
    return S_OK;
  }
  if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
  Variant v;
  if (ChangeType(args[0], VT_BOOL, &v) != S_OK) return DISP_E_TYPEMISMATCH;
  if (flag != &global_) dirty_ = dirty_ || *flag != v.AsBool();
  *flag = v.AsBool();
  return S_OK;
}

HResult RegExp::TextArg(std::span<const Variant> args, std::size_t i, std::u16string* out,
                        ExcepInfo* excep) {
  if (args[i].is_null()) {
    return RaiseException(excep, kErrInvalidNull, ErrorDescription(kErrInvalidNull));
  }
  Variant v;
  if (ChangeType(args[i], VT_BSTR, &v) != S_OK) return DISP_E_TYPEMISMATCH;
  *out = std::u16string(v.AsString());
  return S_OK;
}

HResult RegExp::Compile(ExcepInfo* excep) {
  if (!dirty_) return S_OK;
  compiled_.reset();
  std::uint32_t flags = 0;
  if (ignore_case_) flags |= UREGEX_CASE_INSENSITIVE;
  if (multiline_) flags |= UREGEX_MULTILINE;
  UParseError parse_error;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString source(reinterpret_cast<const UChar*>(pattern_.data()),
                            static_cast<int32_t>(pattern_.size()));
  compiled_.reset(icu::RegexPattern::compile(source, flags, parse_error, status));
  if (U_FAILURE(status)) {
    compiled_.reset();
    if (status == U_MEMORY_ALLOCATION_ERROR) {
      return RaiseException(excep, kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
    }
    const PatternError error = PatternErrorOf(status);
    return RaiseException(excep, error.number, error.text);
  }
  dirty_ = false;
  return S_OK;
}

UBool RegExp::KeepGoing(const void* context, int32_t) {
  const auto* self = static_cast<const RegExp*>(context);
  return !(self->limits_.should_stop && self->limits_.should_stop());
}

template <typename F>
HResult RegExp::ForEachMatch(const std::u16string& text, bool all, ExcepInfo* excep, F on_match) {
  UErrorCode status = U_ZERO_ERROR;
  // An alias of `text`, which outlives the matcher.
  const icu::UnicodeString input(false, reinterpret_cast<const UChar*>(text.data()),
                                 static_cast<int32_t>(text.size()));
  std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
  if (U_SUCCESS(status)) matcher->setTimeLimit(limits_.match_time_limit, status);
  if (U_SUCCESS(status)) matcher->setMatchCallback(&RegExp::KeepGoing, this, status);
  while (U_SUCCESS(status) && matcher->find(status)) {
    if (HResult hr = on_match(*matcher); hr != S_OK) return hr;
    if (!all) break;
  }
  if (U_SUCCESS(status)) return S_OK;
  if (status == U_REGEX_TIME_OUT || status == U_REGEX_STOPPED_BY_CALLER ||
      status == U_REGEX_STACK_OVERFLOW) {
    return RaiseException(excep, kErrInvalidCall, kRunawayText);
  }
  return RaiseException(excep, kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
}

HResult RegExp::Test(std::span<const Variant> args, Variant* result, ExcepInfo* excep) {
  if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
  std::u16string text;
  if (HResult hr = TextArg(args, 0, &text, excep); hr != S_OK) return hr;
  bool found = false;
  HResult hr = ForEachMatch(text, false, excep, [&](icu::RegexMatcher&) {
    found = true;
    return S_OK;
  });
  if (hr != S_OK) return hr;
  *result = Variant::Bool(found);
  return S_OK;
}

HResult RegExp::Execute(std::span<const Variant> args, Variant* result, ExcepInfo* excep) {
  if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
  std::u16string text;
  if (HResult hr = TextArg(args, 0, &text, excep); hr != S_OK) return hr;
  std::vector<Variant> matches;
  HResult hr = ForEachMatch(text, global_, excep, [&](icu::RegexMatcher& m) {
    UErrorCode status = U_ZERO_ERROR;
    const std::int32_t start = m.start(status), end = m.end(status);
    std::vector<Variant> groups;
    for (std::int32_t g = 1; g <= m.groupCount(); ++g) {
      const std::int32_t gs = m.start(g, status), ge = m.end(g, status);
      // A group that took no part in the match is Empty.
      groups.push_back(gs < 0 ? Variant() : Variant::Bstr(text.substr(gs, ge - gs)));
    }
    matches.push_back(Variant::Object(
        std::make_shared<Match>(text.substr(start, end - start), start, std::move(groups))));
    return S_OK;
  });
  if (hr != S_OK) return hr;
  *result =
      Variant::Object(std::make_shared<ValueCollection>(std::move(matches), u"IMatchCollection2"));
  return S_OK;
}

HResult RegExp::Replace(std::span<const Variant> args, Variant* result, ExcepInfo* excep) {
  if (args.size() != 2) return DISP_E_BADPARAMCOUNT;
  std::u16string text, with;
  if (HResult hr = TextArg(args, 0, &text, excep); hr != S_OK) return hr;
  if (HResult hr = TextArg(args, 1, &with, excep); hr != S_OK) return hr;
  std::u16string out;
  std::size_t last = 0;
  HResult hr = ForEachMatch(text, global_, excep, [&](icu::RegexMatcher& m) {
    UErrorCode status = U_ZERO_ERROR;
    const std::size_t start = static_cast<std::size_t>(m.start(status));
    const std::size_t end = static_cast<std::size_t>(m.end(status));
    const int groups = m.groupCount();
    out.append(text, last, start - last);
    auto group = [&](int g) {
      const std::int32_t gs = m.start(g, status), ge = m.end(g, status);
      if (gs >= 0) out.append(text, gs, ge - gs);
    };
    for (std::size_t i = 0; i < with.size(); ++i) {
      const char16_t c = with[i];
      const char16_t next = i + 1 < with.size() ? with[i + 1] : 0;
      if (c != u'$' || next == 0) {
        out.push_back(c);
        continue;
      }
      if (next == u'$') {
        out.push_back(u'$');
      } else if (next == u'&') {
        out.append(text, start, end - start);
      } else if (next == u'`') {
        out.append(text, 0, start);
      } else if (next == u'\'') {
        out.append(text, end);
      } else if (next >= u'1' && next <= u'9' && next - u'0' <= groups) {
        // $nn when that group exists, else $n.
        const char16_t after = i + 2 < with.size() ? with[i + 2] : 0;
        const int two = (next - u'0') * 10 + (after - u'0');
        if (after >= u'0' && after <= u'9' && two <= groups) {
          group(two);
          ++i;
        } else {
          group(next - u'0');
        }
      } else {
        out.push_back(u'$');
        continue;
      }
      ++i;
    }
    last = end;
    if (out.size() > limits_.max_result_length) {
      return RaiseException(excep, kErrOutOfStringSpace, ErrorDescription(kErrOutOfStringSpace));
    }
    return S_OK;
  });
  if (hr != S_OK) return hr;
  out.append(text, last);
  if (out.size() > limits_.max_result_length) {
    return RaiseException(excep, kErrOutOfStringSpace, ErrorDescription(kErrOutOfStringSpace));
  }
  *result = Variant::Bstr(std::move(out));
  return S_OK;
}

}  // namespace

std::shared_ptr<Dispatch> NewRegExp(RegExpLimits limits) {
  return std::make_shared<RegExp>(std::move(limits));
}

}  // namespace lun::script
