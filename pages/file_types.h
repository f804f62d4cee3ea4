// The built-in file-type table of the settings pages: the groups of file
// types a user can choose for indexing, each with its type list (the form
// of the document-type list, "|DOC|DOCX|DOCM|"), a name and a description.
// The pages list it through FTS.LUNFilterName / LUNFilterType /
// LUNFilterInfo by position, and store the chosen lists in "文档类型".
//
// Beside the classic rows, the Office Open XML types sit in the Word, Excel
// and PPT rows, one row stands for archives (whose members are indexed one
// by one), one for Outlook's data files (PST, OST: the mail a user brings
// from Windows, one record per message), and one row stands for the local
// mail of this platform
// (Thunderbird mbox files and Maildir folders, tokens "|THUNDERBIRD|" and
// "|MAILDIR|"), next to the other mail rows. The last two rows are the
// special tokens "|DIRECTORY|" and "|FILENAME|".
//
// Immutable; safe from any thread.
#ifndef LUN_PAGES_FILE_TYPES_H_
#define LUN_PAGES_FILE_TYPES_H_

#include <span>
#include <string_view>

namespace lun {

struct FileTypeRow {
  std::string_view types;        // type list, "|HTM|HTX|"
  std::string_view name;         // "Html文件"
  std::string_view description;  // "Html文件(*.HTM;*.HTX;)"
};

// The rows in display order.
std::span<const FileTypeRow> BuiltInFileTypes();

// Row `index`, or null outside the table.
const FileTypeRow* FileTypeAt(int index);

}  // namespace lun

#endif  // LUN_PAGES_FILE_TYPES_H_
