// Login passwords: salted yescrypt hashes through libcrypt, the rules a new
// password must meet, and generated passwords for the first start. A password
// never leaves this unit in any other form than its hash.
#pragma once

#include <string>

namespace tesseld {

// Longest password taken; bounds the work one request can cause.
constexpr size_t kMaxPasswordLength = 128;

// A new salted hash of the password, or "" when libcrypt fails.
std::string HashPassword(const std::string& password);

// Whether the password hashes to `hash`; compares in constant time. An empty
// or damaged hash matches nothing (the work is still done, so a missing user
// takes as long as a wrong password).
bool VerifyPassword(const std::string& password, const std::string& hash);

// Rules for a new password: at least `minLength` characters, at most
// kMaxPasswordLength, printable characters only, and by `complexity`:
// 0 nothing more; 1 letters and digits; 2 lower and upper case letters and
// digits; 3 all of these and a character that is none of them.
bool PasswordAcceptable(const std::string& password, unsigned minLength, unsigned complexity,
                        std::string& why);

// A random password of `length` characters that meets complexity 3.
std::string GeneratePassword(size_t length = 16);

}  // namespace tesseld
