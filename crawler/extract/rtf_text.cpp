#include "crawler/extract/rtf_text.h"

#include <map>
#include <string>
#include <vector>

#include "crawler/extract/charset.h"

namespace lun {
namespace {

// Destinations whose content is not body text.
constexpr std::string_view kSkippedDestinations[] = {
    "fonttbl",  "colortbl",  "stylesheet", "info",        "pict",       "object",
    "themedata", "colorschememapping", "datastore", "latentstyles", "listtable",
    "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "mmathPr", "fldinst",
    "filetbl", "revtbl", "pntext", "pntxta", "pntxtb", "template", "userprops",
    "wgrffmtfilter", "operator", "author", "title", "bkmkstart", "bkmkend", "nonshppict",
};

// The Windows code page of an RTF \fcharset value; 0 for "use \ansicpg".
int CodePageOfCharset(long charset) {
  switch (charset) {
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
  }
}

struct GroupState {
  bool skip = false;       // inside a destination without body text
  bool font_table = false; // inside \fonttbl: record font charsets
  int uc = 1;              // characters to skip after \uN
  int code_page = 0;       // from the current font; 0: the document's
};

class RtfReader {
 public:
  RtfReader(std::string_view in, size_t limit) : p_(in.data()), end_(in.data() + in.size()), sink_(limit) {}

  ExtractResult Run() {
    ExtractResult result;
    if (std::string_view(p_, static_cast<size_t>(end_ - p_)).substr(0, 5) != "{\\rtf") {
      return {ExtractStatus::kDamaged, {}, "not an RTF document"};
    }
    bool damaged = false;
    while (p_ < end_ && !sink_.full()) {
      const char c = *p_++;
      if (c == '{') {
        if (static_cast<int>(stack_.size()) >= kRtfMaxDepth) {
          damaged = true;
          result.message = "groups nested too deep";
          break;
        }
        Flush();
        stack_.push_back(state_);
      } else if (c == '}') {
        Flush();
        if (stack_.empty()) continue;  // a stray close brace: ignore it
        state_ = stack_.back();
        stack_.pop_back();
        pending_skip_ = 0;
      } else if (c == '\\') {
        ControlSequence();
      } else if (c == '\r' || c == '\n') {
        // Line ends in the source are not text.
      } else {
        Byte(static_cast<unsigned char>(c));
      }
    }
    Flush();
    if (!damaged && !stack_.empty() && !sink_.full()) {
      damaged = true;
      result.message = "document ends inside a group";
    }
    std::u16string& text = sink_.text();
    while (!text.empty() && (text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    ScrubControlCharacters(&text);
    result.text = sink_.Take();
    result.status = damaged ? ExtractStatus::kPartial : ExtractStatus::kOk;
    return result;
  }

 private:
  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // One text byte (raw or \'hh), unless skipped.
  void Byte(unsigned char b) {
    if (pending_skip_ > 0) {
      --pending_skip_;
      return;
    }
    if (state_.skip) return;
    const int cp = state_.code_page ? state_.code_page : document_code_page_;
    if (cp != pending_code_page_) {
      Flush();
      pending_code_page_ = cp;
    }
    pending_.push_back(static_cast<char>(b));
  }

  void Emit(std::u16string_view text) {
    Flush();
    if (!state_.skip) sink_.Append(text);
  }

  void Flush() {
    if (pending_.empty()) return;
    bool ascii = true;
    for (char c : pending_) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::u16string text;
    if (ascii) {
      text.assign(pending_.begin(), pending_.end());
    } else if (!DecodeWithCharset(pending_, "cp" + std::to_string(pending_code_page_), &text)) {
      DecodeWithCharset(pending_, "cp1252", &text);
    }
    pending_.clear();
    sink_.Append(text);
  }

  void ControlSequence() {
    if (p_ >= end_) return;
    const char c = *p_;
    if (!IsLetter(c)) {
      ++p_;
      switch (c) {
        case '\'': {
          if (end_ - p_ < 2) {
            p_ = end_;
            return;
          }
          const int hi = HexValue(p_[0]);
          const int lo = HexValue(p_[1]);
          p_ += 2;
          if (hi >= 0 && lo >= 0) Byte(static_cast<unsigned char>(hi * 16 + lo));
          return;
        }
        case '\\': case '{': case '}': Byte(static_cast<unsigned char>(c)); return;
        case '~': Emit(u" "); return;
        case '_': Emit(u"-"); return;
        case '*': state_.skip = true; return;  // an ignorable destination
        case '\r': case '\n': Emit(u"\n"); return;
        case '\t': Emit(u"\t"); return;
        default: return;  // \- (optional hyphen), \| and others: no text
      }
    }
    const char* word_start = p_;
    while (p_ < end_ && IsLetter(*p_) && p_ - word_start < 32) ++p_;
    const std::string_view word(word_start, static_cast<size_t>(p_ - word_start));
    bool has_param = false;
    long param = 0;
    bool negative = false;
    if (p_ < end_ && *p_ == '-') {
      negative = true;
      ++p_;
    }
    const char* digits = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9' && p_ - digits < 10) {
      param = param * 10 + (*p_ - '0');
      ++p_;
    }
    has_param = p_ > digits;
    if (negative) param = -param;
    if (p_ < end_ && *p_ == ' ') ++p_;  // the delimiter belongs to the word
    Word(word, has_param, param);
  }

  void Word(std::string_view word, bool has_param, long param) {
    if (word == "bin") {
      // Binary data: skip it whole, however the group is read.
      const long n = has_param && param > 0 ? param : 0;
      p_ = n >= end_ - p_ ? end_ : p_ + n;
      return;
    }
    if (word == "u" && has_param) {
      if (pending_skip_ > 0) {
        --pending_skip_;
        return;
      }
      const long v = param < 0 ? param + 65536 : param;
      if (v >= 0 && v <= 0xFFFF) {
        const char16_t ch = static_cast<char16_t>(v);
        Emit(std::u16string_view(&ch, 1));
      }
      pending_skip_ = state_.uc;
      return;
    }
    if (pending_skip_ > 0) {
      --pending_skip_;  // a control word stands for one fallback character
      return;
    }
    if (word == "uc" && has_param) {
      state_.uc = param >= 0 && param < 16 ? static_cast<int>(param) : 1;
    } else if (word == "ansicpg" && has_param) {
      document_code_page_ = param > 0 && param < 100000 ? static_cast<int>(param) : 1252;
    } else if (word == "f" && has_param) {
      if (state_.font_table) {
        current_font_ = param;
      } else {
        const auto it = font_code_pages_.find(param);
        state_.code_page = it == font_code_pages_.end() ? 0 : it->second;
      }
    } else if (word == "fcharset" && has_param && state_.font_table) {
      font_code_pages_[current_font_] = CodePageOfCharset(param);
    } else if (word == "fonttbl") {
      Flush();
      state_.skip = true;
      state_.font_table = true;
    } else if (word == "par" || word == "line" || word == "sect" || word == "page" ||
               word == "row") {
      Emit(u"\n");
    } else if (word == "tab" || word == "cell") {
      Emit(u"\t");
    } else if (word == "emdash") {
      Emit(u"\u2014");
    } else if (word == "endash") {
      Emit(u"\u2013");
    } else if (word == "bullet") {
      Emit(u"\u2022");
    } else if (word == "lquote") {
      Emit(u"\u2018");
    } else if (word == "rquote") {
      Emit(u"\u2019");
    } else if (word == "ldblquote") {
      Emit(u"\u201C");
    } else if (word == "rdblquote") {
      Emit(u"\u201D");
    } else {
      for (std::string_view skipped : kSkippedDestinations) {
        if (word == skipped) {
          Flush();
          state_.skip = true;
          return;
        }
      }
    }
  }

  const char* p_;
  const char* end_;
  TextSink sink_;
  GroupState state_;
  std::vector<GroupState> stack_;
  std::map<long, int> font_code_pages_;
  long current_font_ = 0;
  int document_code_page_ = 1252;
  int pending_code_page_ = 1252;
  int pending_skip_ = 0;
  std::string pending_;
};

}  // namespace

ExtractResult RtfText(std::string_view bytes, size_t limit) {
  return RtfReader(bytes, limit).Run();
}

}  // namespace lun
