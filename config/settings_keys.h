// Names and defaults of the settings. Every key lives in section "检索设置"
// (kSearchSection) and every value is text; flags are the words "TRUE" and
// "FALSE", some security keys use "允许" (allow) and "禁止" (forbid).
//
// Two tests of a flag exist and both are in use: the start-up treats any
// value other than exactly "FALSE" as on (FlagOnAtStartup), the setter of the
// settings pages only exactly "TRUE" (FlagIsTrue).
#ifndef LUN_CONFIG_SETTINGS_KEYS_H_
#define LUN_CONFIG_SETTINGS_KEYS_H_

#include <string_view>

namespace lun {

inline constexpr char kSearchSection[] = "检索设置";

namespace key {
inline constexpr char kPublishPort[] = "发布端口";           // default "8484"
inline constexpr char kAutoStart[] = "AutoStart";            // default "TRUE", any case
inline constexpr char kRealtimeMonitor[] = "实时监控";       // default "TRUE"
inline constexpr char kRealtimeDelete[] = "实时文件删除";    // default "FALSE"
inline constexpr char kFullScanDone[] = "完成全面扫描";      // default "FALSE"
// Files of no admitted type whose content is text are indexed as text.
inline constexpr char kDetectText[] = "识别无扩展名文本";  // default "TRUE"
// Text in pictures and scanned PDF pages is recognised (slow; opt-in).
inline constexpr char kImageTextRecognition[] = "图片文字识别";  // default "FALSE"
inline constexpr char kDocumentTypes[] = "文档类型";         // type list
inline constexpr char kOtherTextTypes[] = "其他文本类型";    // extension patterns, ";"
inline constexpr char kPlugTypes[] = "LUNPlugType";          // type list
inline constexpr char kMsnPlugTypes[] = "MSNPlugType";       // type list
inline constexpr char kPermittedPaths[] = "允许扫描";        // directories, "|"
inline constexpr char kForbiddenPaths[] = "禁止扫描";        // directories, "|"
inline constexpr char kDataDirectory[] = "数据目录";         // default "Data/local.db"
inline constexpr char kDataSource[] = "数据源";              // written at start
inline constexpr char kModulePath[] = "ModulePath";          // written at start
inline constexpr char kVersion[] = "VERSION";                // default "0.0"
inline constexpr char kLocalUserId[] = "本地用户ID";         // session code
inline constexpr char kIndexError[] = "索引错误";            // default "FALSE"
inline constexpr char kUpdateServer[] = "升级服务器";        // URL
inline constexpr char kDefaultSearch[] = "默认搜索";
inline constexpr char kQuickSearchContent[] = "在内容中快速搜索";  // default "FALSE"
inline constexpr char kRecordsPerPage[] = "每页记录数";      // default "10"
inline constexpr char kDisplayLength[] = "显示长度";         // default "150"
inline constexpr char kRemoteLogin[] = "远程登陆";           // "允许" / "禁止"
inline constexpr char kRemoteDownload[] = "远程下载";        // "允许" / "禁止"
inline constexpr char kAutoLogin[] = "自动登陆";             // "允许" / "禁止"
inline constexpr char kLoginPassword[] = "登陆口令";
inline constexpr char kPasswordQuestion[] = "密码问题";      // default "你叫什么名字？"
inline constexpr char kPasswordAnswer[] = "密码答案";
inline constexpr char kChannelCount[] = "通道数";            // default "10"
inline constexpr char kSearchWaitTimeout[] = "检索等待超时"; // ms, default "3000"
inline constexpr char kCacheValidity[] = "缓冲有效时间";     // default "1000000"
inline constexpr char kCachePath[] = "缓冲路径";
inline constexpr char kCachePoolEnabled[] = "启用缓冲池";    // "是" / "否", default "否"
inline constexpr char kCachePoolSize[] = "缓冲池大小";       // default "100"
inline constexpr char kWriteBackInterval[] = "回写间隔";     // default "100", kept for others
inline constexpr char kMaxRecordsPerUnit[] = "单体最大记录数";  // default "4000", kept for others
}  // namespace key

inline constexpr char kTrue[] = "TRUE";
inline constexpr char kFalse[] = "FALSE";
inline constexpr char kAllow[] = "允许";
inline constexpr char kForbid[] = "禁止";

inline bool FlagOnAtStartup(std::string_view value) { return value != kFalse; }
inline bool FlagIsTrue(std::string_view value) { return value == kTrue; }

}  // namespace lun

#endif  // LUN_CONFIG_SETTINGS_KEYS_H_
