#include "config/password_hash.h"

#include <charconv>

#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "platform/crypto.h"

namespace lun {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
// Bounds a stored value may claim: a damaged or hostile settings file must
// not make one check run for hours.
constexpr int kMaxIterations = 10000000;

struct ParsedHash {
  int iterations = 0;
  std::string salt;
  std::string hash;
};

bool ParseHash(std::string_view stored, ParsedHash* out) {
  const size_t first = stored.find('$');
  if (first == std::string_view::npos || stored.substr(0, first) != kScheme) return false;
  const size_t second = stored.find('$', first + 1);
  if (second == std::string_view::npos) return false;
  const size_t third = stored.find('$', second + 1);
  if (third == std::string_view::npos) return false;
  const std::string_view rounds = stored.substr(first + 1, second - first - 1);
  int iterations = 0;
  const auto [end, error] =
      std::from_chars(rounds.data(), rounds.data() + rounds.size(), iterations);
  if (error != std::errc() || end != rounds.data() + rounds.size() || iterations < 1 ||
      iterations > kMaxIterations) {
    return false;
  }
  ParsedHash parsed;
  parsed.iterations = iterations;
  if (!FromHexText(stored.substr(second + 1, third - second - 1), &parsed.salt) ||
      !FromHexText(stored.substr(third + 1), &parsed.hash) || parsed.salt.empty() ||
      parsed.hash.size() != kHashBytes) {
    return false;
  }
  *out = std::move(parsed);
  return true;
}

std::string FormatHash(int iterations, std::string_view salt, std::string_view password) {
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + HexText(salt) + "$" +
         HexText(Pbkdf2Sha256(password, salt, iterations, kHashBytes));
}

}  // namespace

std::string HashPassword(std::string_view password, int iterations) {
  if (password.empty()) return {};
  return FormatHash(iterations, RandomBytes(kSaltBytes), password);
}

bool IsPasswordHash(std::string_view stored) {
  ParsedHash parsed;
  return ParseHash(stored, &parsed);
}

bool VerifyPassword(std::string_view given, std::string_view stored) {
  if (stored.empty()) return false;
  ParsedHash parsed;
  if (!ParseHash(stored, &parsed)) return ConstantTimeEquals(given, stored);
  return ConstantTimeEquals(Pbkdf2Sha256(given, parsed.salt, parsed.iterations, kHashBytes),
                            parsed.hash);
}

std::string StoredPasswordForm(std::string_view value) {
  return IsPasswordHash(value) ? std::string(value) : HashPassword(value);
}

bool UpgradeStoredPassword(SettingsStore& settings) {
  const std::string stored = settings.GetValue(kSearchSection, key::kLoginPassword);
  if (stored.empty() || IsPasswordHash(stored)) return true;
  settings.SetValue(kSearchSection, key::kLoginPassword, HashPassword(stored));
  if (settings.Save()) return true;
  settings.SetValue(kSearchSection, key::kLoginPassword, stored);
  return false;
}

}  // namespace lun
