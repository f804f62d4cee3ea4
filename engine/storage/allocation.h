// The engine's rule for large memory blocks: when a request fails, it is
// retried up to 600 times, 50 ms apart (about 30 seconds), so that a
// momentary shortage does not fail an index write or a search. When every
// attempt fails, "内存分配失败" (caption "系统错误") is shown through the
// notifier set below and written to the engine error log, and the request
// reports failure. A request that succeeds on a retry returns normally
// without any message.
//
// Thread safety: any thread. The notifier is process-wide.
#ifndef LUN_ENGINE_STORAGE_ALLOCATION_H_
#define LUN_ENGINE_STORAGE_ALLOCATION_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

struct AllocationPolicy {
  int retries = 600;
  std::chrono::milliseconds delay{50};
};

// Runs `attempt` until it returns true: once, then up to policy.retries more
// times, policy.delay apart. An attempt fails by returning false or by
// throwing std::bad_alloc (or std::length_error). Returns false, after
// notifying and logging, when every attempt failed.
[[nodiscard]] bool AllocateWithRetry(const std::function<bool()>& attempt,
                                     const AllocationPolicy& policy = {});

// Sizes a buffer under the rule above; the new bytes are zero.
template <typename Buffer>
[[nodiscard]] bool ResizeWithRetry(Buffer& buffer, size_t size,
                                   const AllocationPolicy& policy = {}) {
  return AllocateWithRetry([&] {
    buffer.resize(size);
    return true;
  }, policy);
}

// Reserves capacity under the rule above.
template <typename Buffer>
[[nodiscard]] bool ReserveWithRetry(Buffer& buffer, size_t capacity,
                                    const AllocationPolicy& policy = {}) {
  return AllocateWithRetry([&] {
    buffer.reserve(capacity);
    return true;
  }, policy);
}

// Shows a message box (text, caption) to the user. The application sets one
// that uses its count-down box; without one, the failure is only logged.
using AllocationFailureNotifier = std::function<void(std::string_view text, std::string_view caption)>;
void SetAllocationFailureNotifier(AllocationFailureNotifier notifier);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_ALLOCATION_H_
