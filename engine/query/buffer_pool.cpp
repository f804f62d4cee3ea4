#include "engine/query/buffer_pool.h"

#include <cstring>
#include <filesystem>
#include <mutex>

#include "config/settings_store.h"
#include "engine/storage/exclusive_gate.h"
#include "platform/error_log.h"
#include "platform/coding.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/uuid.h"

namespace lun {
namespace {

constexpr size_t kMaxKeyLength = 1023;
constexpr char kPoolFolderName[] = "8C30FD34-BAC0-4e9e-BA5C-F2A595A2850F";
constexpr size_t kHeaderBytes = 8;

long ClampedNumber(const SettingsStore& s, const char* key, long fallback, long low, long high) {
  const std::string text = s.GetValue(kSearchSection, key);
  if (text.empty()) return fallback;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return (v < low || v > high) ? fallback : v;
}

// Two characters for a 32-bit number: keys are UTF-16 text.
void AppendNumber(std::u16string& key, uint32_t v) {
  key.push_back(static_cast<char16_t>(v >> 16));
  key.push_back(static_cast<char16_t>(v & 0xFFFF));
}

}  // namespace

struct BufferPool::Entry {
  ExclusiveGate gate;
  std::mutex mutex;  // guards key and stored_at against concurrent shared holders
  std::u16string key;
  std::chrono::steady_clock::time_point stored_at{};
  bool used = false;
  std::string path;
};

BufferPoolSettings BufferPoolSettings::From(const SettingsStore& settings) {
  BufferPoolSettings s;
  s.validity = std::chrono::seconds(
      ClampedNumber(settings, key::kCacheValidity, 1000000, 1, 1000000));
  std::string base = settings.GetValue(kSearchSection, key::kCachePath);
  if (base.empty()) base = TempDirectory();
  const std::string pool_folder = JoinPath(base, kPoolFolderName);
  if (settings.GetValue(kSearchSection, key::kCachePoolEnabled).find("是") == std::string::npos) {
    return s;
  }
  s.size = static_cast<size_t>(ClampedNumber(settings, key::kCachePoolSize, 100, 1, 100));
  std::error_code ignored;
  std::filesystem::remove_all(pool_folder, ignored);
  s.folder = JoinPath(pool_folder, NewUuidText());
  MakeDirectories(s.folder, 0700);
  return s;
}

std::optional<std::u16string> BufferPoolKey(const TokenList& postfix, bool in_all,
                                            uint32_t record_count, uint32_t deleted_count) {
  std::u16string key;
  key.push_back(in_all ? u'1' : u'0');
  AppendNumber(key, record_count);
  AppendNumber(key, deleted_count);
  for (const QueryToken& t : postfix) {
    if (t.type == TokenType::kTerm) {
      key.push_back(static_cast<char16_t>(t.field + 2));
      key.push_back(static_cast<char16_t>(static_cast<int>(t.comparison) + 2));
      key += t.text;
    } else {
      key.push_back(static_cast<char16_t>(static_cast<int>(t.type) + 1));
    }
    key.push_back(u'\xFFFF');
    if (key.size() > kMaxKeyLength) return std::nullopt;
  }
  return key;
}

BufferPool::BufferPool(std::string folder, size_t size, std::chrono::milliseconds validity)
    : folder_(std::move(folder)), validity_(validity) {
  MakeDirectories(folder_, 0700);
  for (size_t i = 0; i < size; ++i) {
    auto e = std::make_unique<Entry>();
    e->path = JoinPath(folder_, "Buf" + std::to_string(i));
    entries_.push_back(std::move(e));
  }
}

BufferPool::~BufferPool() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

size_t BufferPool::StartPosition(const std::u16string& key) const {
  return (key.size() % 10) * entries_.size() / 10;
}

bool BufferPool::Lookup(const std::u16string& key, ResultSet* result) {
  const size_t n = entries_.size();
  for (size_t probe = 0; probe < n; ++probe) {
    Entry& e = *entries_[(StartPosition(key) + probe) % n];
    if (!e.gate.TryEnterShared()) continue;
    bool hit = false;
    {
      std::lock_guard lock(e.mutex);
      hit = e.used && e.key == key;
    }
    std::string data;
    if (hit) hit = ReadWholeFile(DefaultFileSystem(), e.path, &data) == 0;
    e.gate.LeaveShared();
    if (!hit || data.size() < kHeaderBytes) continue;
    const uint32_t count = DecodeFixed32(data.data() + 0);
    const bool weights = DecodeFixed32(data.data() + 4) != 0;
    if (data.size() != kHeaderBytes + uint64_t{4} * count * (weights ? 2 : 1)) continue;
    result->records.resize(count);
    result->weights.resize(weights ? count : 0);
    for (uint32_t i = 0; i < count; ++i) {
      result->records[i] = DecodeFixed32(data.data() + kHeaderBytes + 4 * i);
      if (weights) result->weights[i] = DecodeFixed32(data.data() + kHeaderBytes + 4 * (count + i));
    }
    return true;
  }
  return false;
}

void BufferPool::Store(const std::u16string& key, const ResultSet& result) {
  const size_t n = entries_.size();
  if (n == 0) return;
  const auto now = std::chrono::steady_clock::now();
  Entry* target = nullptr;
  for (size_t probe = 0; probe < n && !target; ++probe) {
    Entry& e = *entries_[(StartPosition(key) + probe) % n];
    if (!e.gate.TryEnterShared()) continue;
    {
      std::lock_guard lock(e.mutex);
      if (!e.used || now - e.stored_at > validity_) target = &e;
    }
    e.gate.LeaveShared();
  }
  if (!target) target = entries_[StartPosition(key)].get();

  std::string data;
  PutFixed32(&data, static_cast<uint32_t>(result.count()));
  PutFixed32(&data, result.has_weights() ? 1 : 0);
  for (const uint32_t r : result.records) PutFixed32(&data, r);
  for (const uint32_t w : result.weights) PutFixed32(&data, w);

  target->gate.Enter();
  const bool written = ReplaceFileAtomically(DefaultFileSystem(), target->path, data, 0600) == 0;
  {
    std::lock_guard lock(target->mutex);
    target->used = written;
    target->key = written ? key : std::u16string();
    target->stored_at = now;
  }
  target->gate.Leave();
  if (!written) AppendEngineErrorLog("不能写缓冲文件");
}

}  // namespace lun
