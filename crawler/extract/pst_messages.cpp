#include "crawler/extract/pst_messages.h"

#include <libpff.h>

#include <ctime>
#include <memory>
#include <optional>

#include "crawler/extract/charset.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_result.h"
#include "crawler/extract/html_text.h"
#include "crawler/extract/rtf_text.h"
#include "crawler/extract/text_filters.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

// Node identifier types (the low five bits) and the properties read.
constexpr uint32_t kNidTypeMask = 0x1F;
constexpr uint32_t kNidTypeSearchFolder = 0x03;
constexpr uint32_t kSubject = 0x0037;
constexpr uint32_t kClientSubmitTime = 0x0039;
constexpr uint32_t kSenderName = 0x0C1A;
constexpr uint32_t kSenderEmail = 0x0C1F;
constexpr uint32_t kDisplayCc = 0x0E03;
constexpr uint32_t kDisplayTo = 0x0E04;
constexpr uint32_t kDeliveryTime = 0x0E06;
constexpr uint32_t kMessageSize = 0x0E08;
constexpr uint32_t kDisplayName = 0x3001;
constexpr uint32_t kCreationTime = 0x3007;
constexpr uint32_t kAttachFilename = 0x3704;
constexpr uint32_t kAttachLongFilename = 0x3707;
constexpr uint32_t kInternetCodepage = 0x3FDE;

// A folder tree deeper than this, or with more folders, is hostile.
constexpr int kMaxFolderDepth = 64;
constexpr uint32_t kMaxFolders = 100000;
constexpr size_t kReadBlock = 64 * 1024;

struct ItemFree {
  void operator()(libpff_item_t* item) const { libpff_item_free(&item, nullptr); }
};
using Item = std::unique_ptr<libpff_item_t, ItemFree>;

// The first line of libpff's error chain, where it says what it met.
std::string ErrorText(libpff_error_t* error) {
  if (!error) return "unknown error";
  char text[2048] = {};
  libpff_error_backtrace_sprint(error, text, sizeof text);
  libpff_error_free(&error);
  std::string line(text);
  line = line.substr(0, line.find('\n'));
  return line.empty() ? "unknown error" : line;
}

// The properties of an item (its first record set).
class Properties {
 public:
  explicit Properties(libpff_item_t* item) {
    if (libpff_item_get_record_set_by_index(item, 0, &set_, nullptr) != 1) set_ = nullptr;
  }
  ~Properties() {
    if (set_) libpff_record_set_free(&set_, nullptr);
  }
  Properties(const Properties&) = delete;
  Properties& operator=(const Properties&) = delete;

  std::string Text(uint32_t type) const {
    std::string text;
    WithEntry(type, [&](libpff_record_entry_t* entry) {
      size_t size = 0;
      if (libpff_record_entry_get_data_as_utf8_string_size(entry, &size, nullptr) != 1 ||
          size <= 1) {
        return;
      }
      text.resize(size);
      if (libpff_record_entry_get_data_as_utf8_string(
              entry, reinterpret_cast<uint8_t*>(text.data()), size, nullptr) != 1) {
        text.clear();
      }
      text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    });
    return text;
  }
  std::optional<uint32_t> Int32(uint32_t type) const {
    std::optional<uint32_t> value;
    WithEntry(type, [&](libpff_record_entry_t* entry) {
      uint32_t v = 0;
      if (libpff_record_entry_get_data_as_32bit_integer(entry, &v, nullptr) == 1) value = v;
    });
    return value;
  }
  // Seconds since 1970 of a time property; 0 when missing.
  int64_t UnixTime(uint32_t type) const {
    uint64_t filetime = 0;
    WithEntry(type, [&](libpff_record_entry_t* entry) {
      if (libpff_record_entry_get_data_as_filetime(entry, &filetime, nullptr) != 1) filetime = 0;
    });
    constexpr uint64_t kEpoch = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
    return filetime > kEpoch ? static_cast<int64_t>((filetime - kEpoch) / 10000000) : 0;
  }

 private:
  template <typename F>
  void WithEntry(uint32_t type, F&& use) const {
    libpff_record_entry_t* entry = nullptr;
    if (!set_ ||
        libpff_record_set_get_entry_by_type(
            set_, type, 0, &entry, LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE, nullptr) != 1) {
      return;
    }
    use(entry);
    libpff_record_entry_free(&entry, nullptr);
  }

  libpff_record_set_t* set_ = nullptr;
};

uint32_t Identifier(libpff_item_t* item) {
  uint32_t id = 0;
  return libpff_item_get_identifier(item, &id, nullptr) == 1 ? id : 0;
}

// A subject may start with U+0001 and one character giving the length of
// its prefix ("RE: "); the text the user sees follows them.
std::string Subject(const Properties& p) {
  std::string subject = p.Text(kSubject);
  if (!subject.empty() && subject[0] == '\x01') {
    size_t next = 2;
    while (next < subject.size() && (subject[next] & 0xC0) == 0x80) ++next;
    subject.erase(0, std::min(next, subject.size()));
  }
  return subject;
}

std::string Sender(const Properties& p) {
  const std::string name = p.Text(kSenderName);
  const std::string email = p.Text(kSenderEmail);
  if (name.empty() || email.empty() || name == email) return name.empty() ? email : name;
  return name + " <" + email + ">";
}

// The received time, else the time it was sent, else when it was made.
int64_t MessageTime(const Properties& p) {
  for (uint32_t type : {kDeliveryTime, kClientSubmitTime, kCreationTime}) {
    if (const int64_t t = p.UnixTime(type); t > 0) return t;
  }
  return 0;
}

std::string DateLine(int64_t unix_time) {
  if (unix_time <= 0) return {};
  const std::time_t t = unix_time;
  std::tm tm{};
  char text[32] = {};
  if (!localtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0) {
    return {};
  }
  return text;
}

// The ICU name of a Windows code page, for the HTML body's bytes.
std::string CodePageCharset(std::optional<uint32_t> code_page) {
  if (!code_page || *code_page == 0) return {};
  switch (*code_page) {
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 54936:
      return "GB18030";
    default:
      return "cp" + std::to_string(*code_page);
  }
}

using BodyGetter = int (*)(libpff_item_t*, uint8_t*, size_t, libpff_error_t**);
using BodySizeGetter = int (*)(libpff_item_t*, size_t*, libpff_error_t**);

std::string BodyBytes(libpff_item_t* message, BodySizeGetter size_of, BodyGetter get) {
  size_t size = 0;
  if (size_of(message, &size, nullptr) != 1 || size == 0 || size > kMaxDocumentBytes) return {};
  std::string bytes(size, '\0');
  if (get(message, reinterpret_cast<uint8_t*>(bytes.data()), size, nullptr) != 1) return {};
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

// The message's body: which kind it is and its bytes.
struct Body {
  enum Kind { kNone, kPlain, kHtml, kRtf } kind = kNone;
  std::string bytes;  // plain: UTF-8 (libpff converts it); HTML: the message's code page
};

Body MessageBody(libpff_item_t* message) {
  if (std::string plain = BodyBytes(message, libpff_message_get_plain_text_body_size,
                                    libpff_message_get_plain_text_body);
      !plain.empty()) {
    return {Body::kPlain, std::move(plain)};
  }
  if (std::string html =
          BodyBytes(message, libpff_message_get_html_body_size, libpff_message_get_html_body);
      !html.empty()) {
    return {Body::kHtml, std::move(html)};
  }
  if (std::string rtf =
          BodyBytes(message, libpff_message_get_rtf_body_size, libpff_message_get_rtf_body);
      !rtf.empty()) {
    return {Body::kRtf, std::move(rtf)};
  }
  return {};
}

// The bytes of an attachment held in the store, when it is one and not
// over kArchiveMaxMemberBytes.
std::optional<std::string> AttachmentBytes(libpff_item_t* attachment) {
  int type = 0;
  size64_t size = 0;
  if (libpff_attachment_get_type(attachment, &type, nullptr) != 1 ||
      type != LIBPFF_ATTACHMENT_TYPE_DATA ||
      libpff_attachment_get_data_size(attachment, &size, nullptr) != 1 ||
      size > kArchiveMaxMemberBytes ||
      libpff_attachment_data_seek_offset(attachment, 0, SEEK_SET, nullptr) < 0) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = libpff_attachment_data_read_buffer(
        attachment, reinterpret_cast<uint8_t*>(bytes.data() + got),
        std::min(kReadBlock, bytes.size() - got), nullptr);
    if (n <= 0) return std::nullopt;
    got += static_cast<size_t>(n);
  }
  return bytes;
}

// A folder name as one component of a key.
std::string KeyComponent(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '_';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return name;
}

// Walks the folders of an opened store depth first, handing each message
// (its item, properties and key) to `visit`; false from it ends the walk.
class FolderWalk {
 public:
  using Visit = std::function<bool(libpff_item_t*, const std::string& key)>;
  explicit FolderWalk(Visit visit) : visit_(std::move(visit)) {}

  // False when the walk was ended.
  bool Folder(libpff_item_t* folder, const std::string& path, int depth) {
    if (depth > kMaxFolderDepth || ++folders_ > kMaxFolders) return Damage();
    int messages = 0;
    if (libpff_folder_get_number_of_sub_messages(folder, &messages, nullptr) != 1) {
      Damage();
      messages = 0;
    }
    for (int i = 0; i < messages; ++i) {
      libpff_item_t* raw = nullptr;
      if (libpff_folder_get_sub_message(folder, i, &raw, nullptr) != 1 || !raw) {
        Damage();
        continue;
      }
      Item message(raw);
      const std::string name = std::to_string(Identifier(message.get())) + ".eml";
      if (!visit_(message.get(), path.empty() ? name : path + "/" + name)) return false;
    }
    int folders = 0;
    if (libpff_folder_get_number_of_sub_folders(folder, &folders, nullptr) != 1) {
      Damage();
      folders = 0;
    }
    for (int i = 0; i < folders; ++i) {
      libpff_item_t* raw = nullptr;
      if (libpff_folder_get_sub_folder(folder, i, &raw, nullptr) != 1 || !raw) {
        Damage();
        continue;
      }
      Item sub(raw);
      if ((Identifier(sub.get()) & kNidTypeMask) == kNidTypeSearchFolder) continue;
      const std::string name = KeyComponent(Properties(sub.get()).Text(kDisplayName));
      if (!Folder(sub.get(), path.empty() ? name : path + "/" + name, depth + 1)) return false;
    }
    return true;
  }

  uint32_t damaged() const { return damaged_; }

 private:
  bool Damage() {
    ++damaged_;
    return true;
  }

  Visit visit_;
  uint32_t folders_ = 0;
  uint32_t damaged_ = 0;
};

// Opens the store at `path` and walks its folders; the error says why not.
class Store {
 public:
  ~Store() {
    if (file_) {
      libpff_file_close(file_, nullptr);
      libpff_file_free(&file_, nullptr);
    }
  }

  bool Open(const std::string& path, std::string* error) {
    libpff_error_t* e = nullptr;
    if (libpff_file_initialize(&file_, &e) != 1) {
      *error = ErrorText(e);
      return false;
    }
    if (libpff_file_open(file_, path.c_str(), LIBPFF_OPEN_READ, &e) != 1) {
      *error = "not an Outlook data file, or its header is damaged (" + ErrorText(e) + ")";
      libpff_file_free(&file_, nullptr);
      return false;
    }
    // The 8-bit stores of Outlook before 2003 hold their text in the code
    // page of the Windows that wrote them; here that is most often
    // Simplified Chinese. Unicode stores are not affected.
    uint8_t type = 0;
    if (libpff_file_get_type(file_, &type, nullptr) == 1 && type == LIBPFF_FILE_TYPE_32BIT) {
      libpff_file_set_ascii_codepage(file_, LIBPFF_CODEPAGE_WINDOWS_936, nullptr);
    }
    return true;
  }

  // Walks every folder; false (with `error`) when there is no root folder.
  bool Walk(FolderWalk* walk, std::string* error) {
    libpff_item_t* raw = nullptr;
    libpff_error_t* e = nullptr;
    if (libpff_file_get_root_folder(file_, &raw, &e) != 1 || !raw) {
      *error = "no folder can be read: the file is truncated or damaged";
      if (e) libpff_error_free(&e);
      return false;
    }
    Item root(raw);
    walk->Folder(root.get(), "", 0);
    return true;
  }

 private:
  libpff_file_t* file_ = nullptr;
};

class MessageReader {
 public:
  explicit MessageReader(const ArchiveMemberWanted& wanted) : wanted_(wanted) {}

  ArchiveMember Read(libpff_item_t* message, const std::string& key) {
    const Properties p(message);
    ArchiveMember m;
    m.key = key;
    m.name = Subject(p);
    m.type = kMailStoreMessageType;
    m.mtime = MessageTime(p);
    TextSink sink(kServiceTextLimit);
    for (const std::string& line :
         {m.name, Sender(p), p.Text(kDisplayTo), p.Text(kDisplayCc), DateLine(m.mtime)}) {
      if (line.empty()) continue;
      sink.AppendUtf8(line);
      sink.NewLine();
    }
    AppendBody(message, p, &sink);
    AppendAttachments(message, &sink);
    std::u16string& text = sink.text();
    while (!text.empty() && (text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    ScrubControlCharacters(&text);
    m.text = sink.Take();
    m.size = p.Int32(kMessageSize).value_or(static_cast<uint32_t>(m.text.size() * 2));
    return m;
  }

 private:
  void AppendBody(libpff_item_t* message, const Properties& p, TextSink* sink) {
    Body body = MessageBody(message);
    sink->NewLine();
    switch (body.kind) {
      case Body::kPlain:
        sink->AppendUtf8(body.bytes);
        break;
      case Body::kHtml:
        HtmlToText(body.bytes, sink, CodePageCharset(p.Int32(kInternetCodepage)));
        break;
      case Body::kRtf:
        sink->Append(RtfText(body.bytes, kServiceTextLimit).text);
        break;
      case Body::kNone:
        break;
    }
    sink->NewLine();
  }

  void AppendAttachments(libpff_item_t* message, TextSink* sink) {
    int count = 0;
    if (libpff_message_get_number_of_attachments(message, &count, nullptr) != 1) return;
    for (int i = 0; i < count && !sink->full(); ++i) {
      libpff_item_t* raw = nullptr;
      if (libpff_message_get_attachment(message, i, &raw, nullptr) != 1 || !raw) continue;
      Item attachment(raw);
      const Properties p(attachment.get());
      std::string name = p.Text(kAttachLongFilename);
      if (name.empty()) name = p.Text(kAttachFilename);
      if (name.empty()) continue;
      sink->NewLine();
      sink->AppendUtf8(name);
      sink->NewLine();
      const std::string type = UpperExtension(name);
      if (type.empty() || IsArchiveType(type) || IsMailStoreType(type) || !wanted_(type)) continue;
      if (std::optional<std::string> bytes = AttachmentBytes(attachment.get())) {
        sink->Append(ArchiveMemberText(*bytes, type));
        sink->NewLine();
      }
    }
  }

  const ArchiveMemberWanted& wanted_;
};

// A header of the message copy, its value in UTF-8 as RFC 6532 allows;
// a line break in a value would start a header of its own.
std::string Header(const char* field, std::string value) {
  if (value.empty()) return {};
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return std::string(field) + ": " + value + "\r\n";
}

std::string MimeCopy(libpff_item_t* message) {
  const Properties p(message);
  std::string out;
  out += Header("Subject", Subject(p));
  out += Header("From", Sender(p));
  out += Header("To", p.Text(kDisplayTo));
  out += Header("Cc", p.Text(kDisplayCc));
  if (const int64_t t = MessageTime(p); t > 0) {
    const std::time_t tt = t;
    std::tm tm{};
    char date[64] = {};
    if (gmtime_r(&tt, &tm) &&
        std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm)) {
      out += Header("Date", date);
    }
  }
  out += "MIME-Version: 1.0\r\n";
  Body body = MessageBody(message);
  std::string charset = "UTF-8";
  const char* subtype = "plain";
  if (body.kind == Body::kHtml) {
    subtype = "html";
    charset = CodePageCharset(p.Int32(kInternetCodepage));
    if (charset.empty()) charset = "UTF-8";
  } else if (body.kind == Body::kRtf) {
    body.bytes = ToNarrow(RtfText(body.bytes, kServiceTextLimit).text);
  }
  out += std::string("Content-Type: text/") + subtype + "; charset=\"" + charset + "\"\r\n";
  out += "Content-Transfer-Encoding: 8bit\r\n\r\n";
  return out + body.bytes;
}

}  // namespace

bool IsMailStoreType(std::string_view type) { return type == "PST" || type == "OST"; }

ArchiveSummary WalkMailStore(const std::string& path, std::string_view key,
                             const MailStoreLimits& limits, const ArchiveMemberWanted& wanted,
                             const OnArchiveMember& on_message) {
  ArchiveSummary summary;
  Store store;
  if (!store.Open(path, &summary.error)) return summary;
  summary.opened = true;
  TextSink names(kServiceTextLimit);
  MessageReader reader(wanted);
  uint32_t messages = 0;
  uint64_t text_units = 0;
  FolderWalk walk([&](libpff_item_t* message, const std::string& inner) {
    // Every message written is listed, or it could never be taken back.
    if (messages >= limits.max_messages || text_units >= limits.max_text_units ||
        names.size() + inner.size() + 1 > kServiceTextLimit) {
      summary.capped = true;
      return false;
    }
    ArchiveMember m = reader.Read(message, ArchiveMemberKey(key, inner));
    ++messages;
    text_units += m.text.size();
    names.AppendUtf8(inner);
    names.NewLine();
    return on_message(m);
  });
  if (!store.Walk(&walk, &summary.error)) return summary;
  std::u16string& listed = names.text();
  while (!listed.empty() && listed.back() == u'\n') listed.pop_back();
  summary.names = names.Take();
  if (walk.damaged() > 0) {
    summary.error = std::to_string(walk.damaged()) +
                    " folders or messages could not be read: the file is truncated or damaged";
  }
  return summary;
}

bool ReadMailStoreMessage(const std::string& path, std::string_view key, std::string* message) {
  Store store;
  std::string error;
  if (!store.Open(path, &error)) return false;
  bool found = false;
  FolderWalk walk([&](libpff_item_t* item, const std::string& inner) {
    if (ArchiveMemberKey(path, inner) != key) return true;
    *message = MimeCopy(item);
    found = true;
    return false;
  });
  return store.Walk(&walk, &error) && found;
}

}  // namespace lun
