#include "engine/storage/allocation.h"

#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/storage/engine_error.h"
#include "platform/error_log.h"

namespace lun {
namespace {

std::mutex& NotifierMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

AllocationFailureNotifier& Notifier() {
  static AllocationFailureNotifier* notifier = new AllocationFailureNotifier;
  return *notifier;
}

bool TryOnce(const std::function<bool()>& attempt) {
  try {
    return attempt();
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace

bool AllocateWithRetry(const std::function<bool()>& attempt, const AllocationPolicy& policy) {
  if (TryOnce(attempt)) return true;
  for (int i = 0; i < policy.retries; ++i) {
    std::this_thread::sleep_for(policy.delay);
    if (TryOnce(attempt)) return true;
  }
  AllocationFailureNotifier notifier;
  {
    std::lock_guard<std::mutex> lock(NotifierMutex());
    notifier = Notifier();
  }
  if (notifier) notifier(msg::kOutOfMemory, msg::kOutOfMemoryCaption);
  AppendEngineErrorLog(msg::kOutOfMemory);
  return false;
}

void SetAllocationFailureNotifier(AllocationFailureNotifier notifier) {
  std::lock_guard<std::mutex> lock(NotifierMutex());
  Notifier() = std::move(notifier);
}

}  // namespace lun
