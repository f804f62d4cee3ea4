#include "pages/script/lexer.h"

#include <cmath>
#include <unordered_map>

#include "automation/date_time.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

struct KeywordName {
  std::u16string_view name;
  Kw kw;
};

constexpr KeywordName kKeywords[] = {
    {u"and", Kw::kAnd},
    {u"byref", Kw::kByRef},
    {u"byval", Kw::kByVal},
    {u"call", Kw::kCall},
    {u"case", Kw::kCase},
    {u"class", Kw::kClass},
    {u"const", Kw::kConst},
    {u"dim", Kw::kDim},
    {u"do", Kw::kDo},
    {u"each", Kw::kEach},
    {u"else", Kw::kElse},
    {u"elseif", Kw::kElseIf},
    {u"empty", Kw::kEmpty},
    {u"end", Kw::kEnd},
    {u"eqv", Kw::kEqv},
    {u"erase", Kw::kErase},
    {u"exit", Kw::kExit},
    {u"false", Kw::kFalse},
    {u"for", Kw::kFor},
    {u"function", Kw::kFunction},
    {u"goto", Kw::kGoTo},
    {u"if", Kw::kIf},
    {u"imp", Kw::kImp},
    {u"in", Kw::kIn},
    {u"is", Kw::kIs},
    {u"loop", Kw::kLoop},
    {u"me", Kw::kMe},
    {u"mod", Kw::kMod},
    {u"new", Kw::kNew},
    {u"next", Kw::kNext},
    {u"not", Kw::kNot},
    {u"nothing", Kw::kNothing},
    {u"null", Kw::kNull},
    {u"on", Kw::kOn},
    {u"option", Kw::kOption},
    {u"or", Kw::kOr},
    {u"private", Kw::kPrivate},
    {u"public", Kw::kPublic},
    {u"redim", Kw::kReDim},
    {u"rem", Kw::kRem},
    {u"resume", Kw::kResume},
    {u"select", Kw::kSelect},
    {u"set", Kw::kSet},
    {u"sub", Kw::kSub},
    {u"then", Kw::kThen},
    {u"to", Kw::kTo},
    {u"true", Kw::kTrue},
    {u"until", Kw::kUntil},
    {u"wend", Kw::kWend},
    {u"while", Kw::kWhile},
    {u"with", Kw::kWith},
    {u"xor", Kw::kXor},
    {u"explicit", Kw::kExplicit},
    {u"step", Kw::kStep},
    {u"error", Kw::kError},
    {u"property", Kw::kProperty},
    {u"get", Kw::kGet},
    {u"let", Kw::kLet},
    {u"preserve", Kw::kPreserve},
    {u"default", Kw::kDefault},
    {u"randomize", Kw::kRandomize},
    {u"stop", Kw::kStop},
};

const std::unordered_map<std::u16string_view, Kw>& KeywordMap() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<std::u16string_view, Kw>();
    for (const auto& k : kKeywords) m->emplace(k.name, k.kw);
    return m;
  }();
  return *map;
}

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
         // Non-ASCII letters count as letters (names in Chinese pages);
         // punctuation blocks that cannot be names are excluded.
         (c >= 0x00C0 && c != 0x00D7 && c != 0x00F7 && !(c >= 0x2000 && c <= 0x2BFF) &&
          !(c >= 0x3000 && c <= 0x303F) && !(c >= 0xFF00 && c <= 0xFF20) && c != 0xFEFF);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

class Lexer {
 public:
  Lexer(std::u16string_view src, std::vector<Token>* out, LexError* err,
        std::vector<std::size_t>* line_starts)
      : s_(src), out_(out), err_(err), line_starts_(line_starts) {
    if (line_starts_) line_starts_->assign(1, 0);
  }

  bool Run();

 private:
  bool Fail(int number, std::size_t at) {
    err_->number = number;
    err_->line = line_;
    err_->column = static_cast<int>(at - line_start_);
    return false;
  }
  Token& Push(Tok kind, std::size_t at) {
    Token t;
    t.kind = kind;
    t.line = line_;
    t.column = static_cast<int>(at - line_start_);
    t.space_before = space_before_;
    space_before_ = false;
    out_->push_back(std::move(t));
    statement_start_ = kind == Tok::kNewLine || kind == Tok::kColon;
    return out_->back();
  }
  // Consumes a line break at pos_ (CR LF, CR or LF); returns false if none.
  bool LineBreak() {
    if (pos_ >= s_.size()) return false;
    if (s_[pos_] == u'\r') {
      ++pos_;
      if (pos_ < s_.size() && s_[pos_] == u'\n') ++pos_;
    } else if (s_[pos_] == u'\n') {
      ++pos_;
    } else {
      return false;
    }
    ++line_;
    line_start_ = pos_;
    if (line_starts_) line_starts_->push_back(pos_);
    return true;
  }
  void SkipToLineEnd() {
    while (pos_ < s_.size() && s_[pos_] != u'\r' && s_[pos_] != u'\n') ++pos_;
  }
  bool LexNumber();
  bool LexAmpersandNumber();
  bool LexString();
  bool LexDate();
  bool LexWord(bool bracketed);

  std::u16string_view s_;
  std::vector<Token>* out_;
  LexError* err_;
  std::vector<std::size_t>* line_starts_;
  std::size_t pos_ = 0;
  std::size_t line_start_ = 0;
  int line_ = 0;
  bool space_before_ = false;
  bool statement_start_ = true;
};

bool Lexer::Run() {
  while (pos_ < s_.size()) {
    char16_t c = s_[pos_];
    if (c == u' ' || c == u'\t' || c == 0xFEFF || c == u'\f' || c == u'\v') {
      ++pos_;
      space_before_ = true;
      continue;
    }
    if (c == u'\r' || c == u'\n') {
      Push(Tok::kNewLine, pos_);
      LineBreak();
      continue;
    }
    if (c == u'\'') {
      SkipToLineEnd();
      continue;
    }
    if (c == u'_') {
      // Continuation: "_" after a blank, and nothing but blanks after it.
      std::size_t k = pos_ + 1;
      while (k < s_.size() && (s_[k] == u' ' || s_[k] == u'\t')) ++k;
      bool at_end = k >= s_.size() || s_[k] == u'\r' || s_[k] == u'\n';
      if (space_before_ && at_end) {
        pos_ = k;
        if (!LineBreak()) break;
        space_before_ = true;
        continue;
      }
      return Fail(kCeInvalidCharacter, pos_);
    }
    if (IsDigit(c) || (c == u'.' && pos_ + 1 < s_.size() && IsDigit(s_[pos_ + 1]) &&
                       (space_before_ || out_->empty() ||
                        (out_->back().kind != Tok::kIdent && out_->back().kind != Tok::kRParen)))) {
      if (!LexNumber()) return false;
      continue;
    }
    if (c == u'"') {
      if (!LexString()) return false;
      continue;
    }
    if (c == u'#') {
      if (!LexDate()) return false;
      continue;
    }
    if (c == u'[') {
      if (!LexWord(true)) return false;
      continue;
    }
    if (IsLetter(c)) {
      if (!LexWord(false)) return false;
      continue;
    }
    std::size_t at = pos_;
    ++pos_;
    switch (c) {
      case u':':
        Push(Tok::kColon, at);
        break;
      case u'+':
        Push(Tok::kPlus, at);
        break;
      case u'-':
        Push(Tok::kMinus, at);
        break;
      case u'*':
        Push(Tok::kStar, at);
        break;
      case u'/':
        Push(Tok::kSlash, at);
        break;
      case u'\\':
        Push(Tok::kBackslash, at);
        break;
      case u'^':
        Push(Tok::kCaret, at);
        break;
      case u'(':
        Push(Tok::kLParen, at);
        break;
      case u')':
        Push(Tok::kRParen, at);
        break;
      case u',':
        Push(Tok::kComma, at);
        break;
      case u'.':
        Push(Tok::kDot, at);
        break;
      case u'&':
        if (pos_ < s_.size() && (IsDigit(s_[pos_]) ||
                                 ((s_[pos_] == u'H' || s_[pos_] == u'h') && pos_ + 1 < s_.size() &&
                                  HexValue(s_[pos_ + 1]) >= 0) ||
                                 ((s_[pos_] == u'O' || s_[pos_] == u'o') && pos_ + 1 < s_.size() &&
                                  s_[pos_ + 1] >= u'0' && s_[pos_ + 1] <= u'7'))) {
          pos_ = at;
          if (!LexAmpersandNumber()) return false;
        } else {
          Push(Tok::kAmp, at);
        }
        break;
      case u'=':
        // "=<" and "=>" are accepted as "<=" and ">=".
        if (pos_ < s_.size() && s_[pos_] == u'<') {
          ++pos_;
          Push(Tok::kLe, at);
        } else if (pos_ < s_.size() && s_[pos_] == u'>') {
          ++pos_;
          Push(Tok::kGe, at);
        } else {
          Push(Tok::kEq, at);
        }
        break;
      case u'<':
        if (pos_ < s_.size() && s_[pos_] == u'>') {
          ++pos_;
          Push(Tok::kNe, at);
        } else if (pos_ < s_.size() && s_[pos_] == u'=') {
          ++pos_;
          Push(Tok::kLe, at);
        } else {
          Push(Tok::kLt, at);
        }
        break;
      case u'>':
        if (pos_ < s_.size() && s_[pos_] == u'=') {
          ++pos_;
          Push(Tok::kGe, at);
        } else if (pos_ < s_.size() && s_[pos_] == u'<') {
          ++pos_;
          Push(Tok::kNe, at);
        } else {
          Push(Tok::kGt, at);
        }
        break;
      default:
        return Fail(kCeInvalidCharacter, at);
    }
  }
  Push(Tok::kNewLine, pos_);
  Push(Tok::kEof, pos_);
  return true;
}

bool Lexer::LexNumber() {
  std::size_t at = pos_;
  std::size_t k = pos_;
  bool is_float = false;
  while (k < s_.size() && IsDigit(s_[k])) ++k;
  if (k < s_.size() && s_[k] == u'.') {
    is_float = true;
    ++k;
    while (k < s_.size() && IsDigit(s_[k])) ++k;
  }
  if (k < s_.size() && (s_[k] == u'e' || s_[k] == u'E')) {
    std::size_t e = k + 1;
    if (e < s_.size() && (s_[e] == u'+' || s_[e] == u'-')) ++e;
    if (e < s_.size() && IsDigit(s_[e])) {
      is_float = true;
      k = e;
      while (k < s_.size() && IsDigit(s_[k])) ++k;
    }
  }
  // A letter glued to a number ("12abc") is not a number.
  if (k < s_.size() && (IsLetter(s_[k]) || s_[k] == u'_')) {
    return Fail(kCeExpectedEndOfStatement, k);
  }
  std::string ascii;
  for (std::size_t i = at; i < k; ++i) ascii.push_back(static_cast<char>(s_[i]));
  pos_ = k;
  double v = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(v)) return Fail(kCeInvalidNumber, at);
  Token& t = Push(Tok::kNumber, at);
  if (!is_float && v <= 32767) {
    t.value = Variant::I2(static_cast<std::int16_t>(v));
  } else if (!is_float && v <= 2147483647.0) {
    t.value = Variant::I4(static_cast<std::int32_t>(v));
  } else {
    t.value = Variant::R8(v);
  }
  return true;
}

bool Lexer::LexAmpersandNumber() {
  std::size_t at = pos_;
  ++pos_;  // '&'
  int base = 8;
  int short_digits = 6;
  if (s_[pos_] == u'H' || s_[pos_] == u'h') {
    base = 16;
    short_digits = 4;
    ++pos_;
  } else if (s_[pos_] == u'O' || s_[pos_] == u'o') {
    ++pos_;
  }
  std::uint64_t acc = 0;
  int digits = 0;
  while (pos_ < s_.size()) {
    int d = HexValue(s_[pos_]);
    if (d < 0 || d >= base) break;
    acc = acc * base + d;
    if (acc != 0) ++digits;  // leading zeros do not count
    ++pos_;
    if (acc > 0xFFFFFFFFull) return Fail(kCeInvalidNumber, at);
  }
  if (base == 16 && digits > 8) return Fail(kCeInvalidNumber, at);
  // A trailing "&" is accepted and, on the platform, changes nothing.
  if (pos_ < s_.size() && s_[pos_] == u'&') ++pos_;
  Token& t = Push(Tok::kNumber, at);
  if (digits <= short_digits && acc <= 0xFFFF) {
    t.value = Variant::I2(static_cast<std::int16_t>(static_cast<std::uint16_t>(acc)));
  } else {
    t.value = Variant::I4(static_cast<std::int32_t>(static_cast<std::uint32_t>(acc)));
  }
  return true;
}

bool Lexer::LexString() {
  std::size_t at = pos_;
  ++pos_;
  std::u16string value;
  while (true) {
    if (pos_ >= s_.size()) return Fail(kCeUnterminatedString, at);
    char16_t c = s_[pos_];
    if (c == u'"') {
      if (pos_ + 1 < s_.size() && s_[pos_ + 1] == u'"') {
        value.push_back(u'"');
        pos_ += 2;
        continue;
      }
      ++pos_;
      break;
    }
    // A lone CR or LF is part of the string (page translation puts them
    // there); a CR LF pair ends the line and so the string is unterminated.
    if (c == u'\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == u'\n') {
      return Fail(kCeUnterminatedString, at);
    }
    value.push_back(c);
    ++pos_;
  }
  Token& t = Push(Tok::kString, at);
  t.text = std::move(value);
  return true;
}

bool Lexer::LexDate() {
  std::size_t at = pos_;
  std::size_t k = pos_ + 1;
  while (k < s_.size() && s_[k] != u'#' && s_[k] != u'\r' && s_[k] != u'\n') ++k;
  if (k >= s_.size() || s_[k] != u'#') return Fail(kCeSyntax, at);
  double serial = 0;
  if (!ParseDateText(s_.substr(at + 1, k - at - 1), &serial)) {
    return Fail(kCeSyntax, at);
  }
  pos_ = k + 1;
  Token& t = Push(Tok::kDate, at);
  t.value = Variant::Date(serial);
  return true;
}

bool Lexer::LexWord(bool bracketed) {
  std::size_t at = pos_;
  std::u16string word;
  if (bracketed) {
    std::size_t k = pos_ + 1;
    while (k < s_.size() && s_[k] != u']' && s_[k] != u'\r' && s_[k] != u'\n') ++k;
    if (k >= s_.size() || s_[k] != u']') return Fail(kCeExpectedIdentifier, at);
    word.assign(s_.substr(pos_ + 1, k - pos_ - 1));
    pos_ = k + 1;
  } else {
    std::size_t k = pos_;
    while (k < s_.size() && (IsLetter(s_[k]) || IsDigit(s_[k]) || s_[k] == u'_')) ++k;
    word.assign(s_.substr(pos_, k - pos_));
    pos_ = k;
  }
  if (word.size() > kMaxIdentifier) return Fail(kCeIdentifierTooLong, at);
  std::u16string folded = FoldName(word);
  Kw kw = Kw::kNone;
  if (!bracketed) {
    auto it = KeywordMap().find(folded);
    if (it != KeywordMap().end()) kw = it->second;
  }
  // Rem where a statement may start is a comment to the end of the line.
  bool was_statement_start = statement_start_ || out_->empty();
  if (kw == Kw::kRem && was_statement_start &&
      (pos_ >= s_.size() || s_[pos_] == u' ' || s_[pos_] == u'\t' || s_[pos_] == u'\r' ||
       s_[pos_] == u'\n')) {
    SkipToLineEnd();
    return true;
  }
  Token& t = Push(Tok::kIdent, at);
  t.kw = kw;
  t.text = std::move(word);
  t.folded = std::move(folded);
  return true;
}

}  // namespace

bool IsReserved(Kw kw) { return kw != Kw::kNone && kw < Kw::kExplicit; }

std::u16string FoldName(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

bool Lex(std::u16string_view source, std::vector<Token>* tokens, LexError* error,
         std::vector<std::size_t>* line_starts) {
  tokens->clear();
  Lexer lexer(source, tokens, error, line_starts);
  return lexer.Run();
}

}  // namespace lun::script
