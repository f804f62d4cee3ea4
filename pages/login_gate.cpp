#include "pages/login_gate.h"

#include <charconv>
#include <ctime>

#include "config/password_hash.h"
#include "platform/crypto.h"

namespace lun {
namespace {

constexpr size_t kSecretBytes = 32;
constexpr size_t kSessionIdBytes = 16;
// Bounds of the two tables: a flood of logins or of guesses from many
// addresses costs a bounded amount of memory. Past the bound the oldest
// entries go (a guesser gains nothing: an address it drops starts counting
// again at zero only after kMaxAddresses other addresses failed too).
constexpr size_t kMaxSessions = 1024;
constexpr size_t kMaxAddresses = 4096;
// An address that has not failed for a day starts counting anew.
constexpr int64_t kForgetSeconds = 24 * 60 * 60;

}  // namespace

LoginGate::LoginGate(Clock clock) : clock_(std::move(clock)), secret_(RandomBytes(kSecretBytes)) {}

int64_t LoginGate::Now() const {
  return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

std::string LoginGate::Mac(std::string_view address, int64_t expiry, std::string_view id) const {
  const std::string message =
      std::string(address) + "|" + std::to_string(expiry) + "|" + std::string(id);
  return HexText(HmacSha256(secret_, message));
}

void LoginGate::DropExpired(int64_t now) {
  std::erase_if(sessions_, [now](const auto& entry) { return entry.second.expiry <= now; });
  while (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.expiry < oldest->second.expiry) oldest = it;
    }
    sessions_.erase(oldest);
  }
  std::erase_if(failures_, [now](const auto& entry) {
    return !entry.second.checking && entry.second.last_failure + kForgetSeconds <= now;
  });
  while (failures_.size() >= kMaxAddresses) {
    auto oldest = failures_.begin();
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
      if (it->second.last_failure < oldest->second.last_failure) oldest = it;
    }
    failures_.erase(oldest);
  }
}

int64_t LoginGate::WaitSeconds(std::string_view address) const {
  std::lock_guard lock(mutex_);
  const auto it = failures_.find(address);
  if (it == failures_.end()) return 0;
  const int64_t left = it->second.retry_at - Now();
  return left > 0 ? left : 0;
}

LoginGate::Attempt LoginGate::TryLogin(std::string_view address, std::string_view given,
                                       std::string_view stored_password) {
  Attempt attempt;
  if (stored_password.empty()) {
    attempt.outcome = Outcome::kNoPassword;
    return attempt;
  }
  {
    // One attempt per address at a time: guesses sent in parallel would
    // otherwise all pass before the first failure is counted.
    std::lock_guard lock(mutex_);
    DropExpired(Now());
    Failures& failures = failures_[std::string(address)];
    const int64_t wait = failures.retry_at - Now();
    if (failures.checking || wait > 0) {
      attempt.outcome = Outcome::kMustWait;
      attempt.wait_seconds = wait > 0 ? wait : 1;
      return attempt;
    }
    failures.checking = true;
  }
  // The slow hash runs outside the lock: other visitors are not held up.
  const bool right = VerifyPassword(given, stored_password);
  std::lock_guard lock(mutex_);
  const int64_t now = Now();
  if (!right) {
    Failures& failures = failures_[std::string(address)];
    failures.checking = false;
    ++failures.count;
    failures.last_failure = now;
    if (failures.count >= kFreeFailures) {
      const int doublings = failures.count - kFreeFailures;
      const int64_t wait = doublings >= 10
                               ? kMaxWaitSeconds
                               : std::min<int64_t>(int64_t{1} << doublings, kMaxWaitSeconds);
      failures.retry_at = now + wait;
      attempt.wait_seconds = wait;
    }
    attempt.outcome = Outcome::kWrongPassword;
    return attempt;
  }
  failures_.erase(std::string(address));
  const std::string id = HexText(RandomBytes(kSessionIdBytes));
  const int64_t expiry = now + kLoginSeconds;
  sessions_[id] = Session{std::string(address), expiry, std::string(stored_password)};
  attempt.outcome = Outcome::kLoggedIn;
  attempt.cookie = id + "." + std::to_string(expiry) + "." + Mac(address, expiry, id);
  return attempt;
}

bool LoginGate::CookieValid(std::string_view cookie, std::string_view address,
                            std::string_view stored_password) const {
  const size_t first = cookie.find('.');
  const size_t second = first == std::string_view::npos ? first : cookie.find('.', first + 1);
  if (second == std::string_view::npos || stored_password.empty()) return false;
  const std::string_view id = cookie.substr(0, first);
  const std::string_view expiry_text = cookie.substr(first + 1, second - first - 1);
  int64_t expiry = 0;
  const auto [end, error] =
      std::from_chars(expiry_text.data(), expiry_text.data() + expiry_text.size(), expiry);
  if (error != std::errc() || end != expiry_text.data() + expiry_text.size()) return false;
  if (!ConstantTimeEquals(cookie.substr(second + 1), Mac(address, expiry, id))) return false;
  std::lock_guard lock(mutex_);
  if (expiry <= Now()) return false;
  const auto it = sessions_.find(id);
  return it != sessions_.end() && it->second.address == address && it->second.expiry == expiry &&
         it->second.password == stored_password;
}

}  // namespace lun
