// The login password "登陆口令" as it is stored: a salted PBKDF2-HMAC-SHA-256
// hash, never the text. The stored form is
//   pbkdf2-sha256$<iterations>$<salt, hex>$<hash, hex>
// so that the cost can be raised later without breaking stored values. An
// empty value means "no password set".
//
// A value in any other form is a password stored as text by an earlier
// version: it is still accepted by VerifyPassword, and UpgradeStoredPassword
// (run once at start-up) replaces it by its hash.
//
// Thread safety: pure functions, except UpgradeStoredPassword (the store
// locks itself).
#ifndef LUN_CONFIG_PASSWORD_HASH_H_
#define LUN_CONFIG_PASSWORD_HASH_H_

#include <string>
#include <string_view>

namespace lun {

class SettingsStore;

// PBKDF2 rounds of a new hash: about a tenth of a second per check here,
// which is what makes offline guessing of a stolen settings file slow; online
// guessing is held back by the login back-off besides.
inline constexpr int kPasswordHashIterations = 200000;

// The stored form of `password` with a fresh random salt; "" for "".
// Tests pass fewer `iterations` to stay quick; the stored form records them.
std::string HashPassword(std::string_view password, int iterations = kPasswordHashIterations);

// Whether `stored` is in the hashed form above.
bool IsPasswordHash(std::string_view stored);

// Whether `given` is the password `stored` (hashed, or text of an earlier
// version). Never true when no password is set (`stored` empty).
bool VerifyPassword(std::string_view given, std::string_view stored);

// The stored form of a value a settings page or window writes: a new
// password is hashed, a value already in hashed form (written back
// unchanged) is kept.
std::string StoredPasswordForm(std::string_view value);

// Replaces a password stored as text by its hash and saves the settings.
// False when the settings file could not be saved (the value is then kept
// as it was, to be converted at the next start).
bool UpgradeStoredPassword(SettingsStore& settings);

}  // namespace lun

#endif  // LUN_CONFIG_PASSWORD_HASH_H_
