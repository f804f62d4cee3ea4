// The choices a new installation starts with: what the first-run wizard
// shows checked, and what a headless first run keeps.
//
// Stored settings always win: only keys that are empty are filled, so a
// settings file prepared beforehand (or a second wizard run) is never
// overwritten.
#ifndef LUN_APP_FIRST_RUN_DEFAULTS_H_
#define LUN_APP_FIRST_RUN_DEFAULTS_H_

namespace lun {

class SettingsStore;

// Documents a desktop user searches: office formats old and new, PDF, plain
// text, web pages, mail files, e-books and compiled help.
inline constexpr char kFirstRunDocumentTypes[] =
    "|DOC|DOCX|DOCM|XLS|XLSX|XLSM|PPT|PPTX|PPTM|WPS|RTF|ODT|ODS|ODP|PDF|TXT|HTM|HTML|MHT|MHTML|"
    "EML|EPUB|CHM|OTT|OTS|OTP|ODG|OTG|ODF|SXW|STW|SXC|STC|SXI|STI|SXD|SXG|STM|";
// Text files read as plain text.
inline constexpr char kFirstRunOtherTextTypes[] = "*.md;*.csv;*.log;*.ini;*.xml;*.json;";

// Fills "文档类型" and "其他文本类型" with the defaults above where they are
// empty (the permitted roots default to the home directory elsewhere).
void ApplyFirstRunDefaults(SettingsStore& settings);

}  // namespace lun

#endif  // LUN_APP_FIRST_RUN_DEFAULTS_H_
