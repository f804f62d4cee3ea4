// Remote logins: password checks with a back-off per address, and the login
// cookie "LUNAUTH" that proves a login afterwards.
//
// The cookie is "<session id>.<expiry>.<mac>": a random 128-bit session id
// kept in a table here, the expiry (seconds since 1970) and the
// HMAC-SHA-256 of address, expiry and session id under a random secret made
// when the gate is (once per start of lun). The secret never leaves this
// object, so no page and no visitor can compute a cookie; a cookie is good
// only from the address it was made for, only until its expiry, only while
// its session is in the table, and only while the password is the one it
// was made with (changing the password ends every login). A restart ends
// them all.
//
// Guessing: after kFreeFailures wrong passwords from one address, each
// further attempt must wait 1 s, then 2, 4, ... up to 15 minutes after the
// last failure; an attempt inside the wait is refused without looking at the
// password. A right password clears the address's count; so does a day
// without failures.
//
// Thread safety: every member may be called from any thread.
#ifndef LUN_PAGES_LOGIN_GATE_H_
#define LUN_PAGES_LOGIN_GATE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace lun {

// The cookie that carries a remote login.
inline constexpr char kLoginCookieName[] = "LUNAUTH";

class LoginGate {
 public:
  // Seconds since 1970; tests pass their own clock.
  using Clock = std::function<int64_t()>;

  static constexpr int kFreeFailures = 5;
  static constexpr int64_t kMaxWaitSeconds = 15 * 60;
  static constexpr int64_t kLoginSeconds = 12 * 60 * 60;

  explicit LoginGate(Clock clock = {});

  enum class Outcome {
    kLoggedIn,       // `cookie` holds the value of "LUNAUTH"
    kWrongPassword,  // a failure, counted
    kNoPassword,     // no password is set: nobody can log in
    kMustWait,       // refused unchecked: `wait_seconds` left
  };
  struct Attempt {
    Outcome outcome = Outcome::kWrongPassword;
    std::string cookie;
    int64_t wait_seconds = 0;
  };

  // Checks password `given` from `address` against `stored_password` (the
  // stored form of config/password_hash.h).
  Attempt TryLogin(std::string_view address, std::string_view given,
                   std::string_view stored_password);

  // Seconds `address` must still wait before its next attempt (0: none).
  int64_t WaitSeconds(std::string_view address) const;

  // Whether `cookie` proves a login from `address` under `stored_password`.
  bool CookieValid(std::string_view cookie, std::string_view address,
                   std::string_view stored_password) const;

 private:
  struct Session {
    std::string address;
    int64_t expiry = 0;
    std::string password;  // the stored form the login was made with
  };
  struct Failures {
    int count = 0;
    int64_t last_failure = 0;
    int64_t retry_at = 0;
    bool checking = false;  // an attempt's password check is running
  };

  int64_t Now() const;
  std::string Mac(std::string_view address, int64_t expiry, std::string_view id) const;
  void DropExpired(int64_t now);

  const Clock clock_;
  const std::string secret_;
  mutable std::mutex mutex_;
  std::map<std::string, Session, std::less<>> sessions_;   // by session id (hex)
  std::map<std::string, Failures, std::less<>> failures_;  // by address
};

}  // namespace lun

#endif  // LUN_PAGES_LOGIN_GATE_H_
