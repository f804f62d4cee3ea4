// The few cryptographic primitives the application needs, over OpenSSL:
// random bytes from the kernel, HMAC-SHA-256 for unforgeable tokens and
// PBKDF2-HMAC-SHA-256 for stored passwords, and a comparison whose time does
// not depend on where two values first differ.
//
// Thread safety: every function may be called from any thread.
#ifndef LUN_PLATFORM_CRYPTO_H_
#define LUN_PLATFORM_CRYPTO_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lun {

// `count` bytes from the system's cryptographic random source. Aborts the
// process when none can be had: every secret depends on it, and a fallback
// would be guessable.
std::string RandomBytes(size_t count);

// Lower-case hexadecimal text of `bytes`, and back (false for text that is
// not an even number of hexadecimal digits).
std::string HexText(std::string_view bytes);
bool FromHexText(std::string_view hex, std::string* bytes);

// The 32-byte HMAC-SHA-256 of `message` under `key`.
std::string HmacSha256(std::string_view key, std::string_view message);

// `length` bytes of PBKDF2-HMAC-SHA-256 of `password` with `salt`.
std::string Pbkdf2Sha256(std::string_view password, std::string_view salt, int iterations,
                         size_t length);

// a == b, in a time that depends only on the lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace lun

#endif  // LUN_PLATFORM_CRYPTO_H_
