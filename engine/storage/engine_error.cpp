#include "engine/storage/engine_error.h"

#include <array>

#include "platform/error_log.h"

namespace lun {
namespace {

constexpr std::array<const char*, 18> kTexts = {
    "成功",                // 0
    "记录集打开失败",      // 1
    "不存在的数据表",      // 2
    "等待超时",            // 3
    "等待失败",            // 4
    "创建记录集失败",      // 5
    "数据表检索失败",      // 6
    "查询表达式语法错误",  // 7
    "内存分配失败(H)",     // 8
    "内存分配失败(M)",     // 9
    "空的记录集",          // 10
    "检索服务器已复位",    // 11
    "检索数据表发生异常",  // 12
    "检索表达式超长",      // 13
    "检索表达式为空",      // 14
    "数据库被锁定",        // 15
    "数据表被锁定",        // 16
    "目标连接不存在",      // 17
};

}  // namespace

const char* EngineErrorText(int code) {
  if (code < 0 || code >= static_cast<int>(kTexts.size())) return "未知错误";
  return kTexts[static_cast<size_t>(code)];
}

std::string IoMessage(std::string_view what, const std::string& path, int error) {
  return std::string(what) + path + ":" + ErrorText(error);
}

EngineStatus EngineStatus::Fail(std::string message) {
  AppendEngineErrorLog(message);
  return EngineStatus(false, std::move(message));
}

}  // namespace lun
