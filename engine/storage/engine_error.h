// The engine's result codes, their texts, and the messages the storage layer
// writes to the engine error log ("TamrixError.Log", platform/error_log.h).
//
// Result codes 0-17 are what searches and recordset operations return; pages
// show them through EngineErrorText. Storage operations (project, tables,
// fields, records) instead return an EngineStatus: success, or failure with
// the message that was also written to the engine error log. Callers show
// the message (lundb prints it) and must not log it again.
#ifndef LUN_ENGINE_STORAGE_ENGINE_ERROR_H_
#define LUN_ENGINE_STORAGE_ENGINE_ERROR_H_

#include <string>
#include <string_view>
#include <utility>

namespace lun {

enum EngineCode : int {
  kEngineOk = 0,               // "成功"
  kRecordsetOpenFailed = 1,    // "记录集打开失败"
  kNoSuchTable = 2,            // "不存在的数据表"
  kWaitTimedOut = 3,           // "等待超时"
  kWaitFailed = 4,             // "等待失败"
  kRecordsetCreateFailed = 5,  // "创建记录集失败"
  kTableSearchFailed = 6,      // "数据表检索失败"
  kQuerySyntaxError = 7,       // "查询表达式语法错误"
  kOutOfMemoryH = 8,           // "内存分配失败(H)"
  kOutOfMemoryM = 9,           // "内存分配失败(M)"
  kEmptyRecordset = 10,        // "空的记录集"
  kSearchServerReset = 11,     // "检索服务器已复位"
  kTableSearchException = 12,  // "检索数据表发生异常"
  kQueryTooLong = 13,          // "检索表达式超长"
  kQueryEmpty = 14,            // "检索表达式为空"
  kDatabaseLocked = 15,        // "数据库被锁定"
  kTableLocked = 16,           // "数据表被锁定"
  kNoTargetConnection = 17,    // "目标连接不存在"
};

// The text of a result code; "未知错误" for any code outside 0-17.
const char* EngineErrorText(int code);

// Messages of the project, schema and record storage, exactly as logged.
namespace msg {
inline constexpr char kCannotOpenProject[] = "不能打开工程文件";
// Returned to the caller without being logged (the engine reports these two
// failures only by its return value).
inline constexpr char kCannotCreateProject[] = "不能创建工程文件";
inline constexpr char kNotAProjectFile[] = "工程文件标志错误";
inline constexpr char kTableNameTooLong[] = "表名长度大于256";
inline constexpr char kTableNameBadChar[] = "表名不能包含\\/:*?\"<>|";
inline constexpr char kFolderExists[] = "目录已存在!";
inline constexpr char kDataPathTooLong[] = "数据路径超长";
inline constexpr char kTableExists[] = "该表已经存在！";
inline constexpr char kTableNameInvalid[] = "表名不符合要求!";
inline constexpr char kFieldNameTooLong[] = "字段名长度大于256";
inline constexpr char kFieldNameBadChar[] = "字段名不能包含\\/:*?\"<>|";
inline constexpr char kFieldNameInvalid[] = "字段名不符合要求!";
inline constexpr char kFieldExists[] = "该字段已经存在！";
inline constexpr char kCannotOpenSchema[] = "不能打开DB8文件";
inline constexpr char kCannotOpenFile[] = "不能打开文件:";  // + path
inline constexpr char kCheckBytesBad[] = ",数据校验错误";   // "不能校验文件:" + path + this
inline constexpr char kCopyrightBad[] = ",版权错误";
inline constexpr char kVersionBad[] = ",数据版本错误";
inline constexpr char kCannotVerifyFile[] = "不能校验文件:";
inline constexpr char kCannotOpenData[] = "不能打开SD文件";
inline constexpr char kCannotOpenOffsets[] = "不能打开RD文件";
inline constexpr char kReadRawException[] = "取原始数据时发生异常！";
inline constexpr char kOutOfMemory[] = "内存分配失败";
inline constexpr char kOutOfMemoryCaption[] = "系统错误";
}  // namespace msg

// The message of a failed file operation: `what`, the path, ":" and the
// system's text for `error`.
std::string IoMessage(std::string_view what, const std::string& path, int error);

// Outcome of a storage operation. Failure carries the message that was
// written to the engine error log (empty for the few failures the engine
// does not report, such as an empty table name).
class [[nodiscard]] EngineStatus {
 public:
  static EngineStatus Ok() { return EngineStatus(true, {}); }
  // Fails with `message` and writes it to the engine error log.
  static EngineStatus Fail(std::string message);
  // Fails with `message` without writing it anywhere.
  static EngineStatus FailQuietly(std::string message = {}) {
    return EngineStatus(false, std::move(message));
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const std::string& message() const { return message_; }

 private:
  EngineStatus(bool ok, std::string message) : ok_(ok), message_(std::move(message)) {}
  bool ok_;
  std::string message_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_ENGINE_ERROR_H_
