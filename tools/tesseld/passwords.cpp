#include "passwords.h"

#include <crypt.h>
#include <string.h>
#include <sys/random.h>

#include <cctype>
#include <memory>

namespace tesseld {

namespace {

// yescrypt at libcrypt's default cost.
constexpr const char* kPrefix = "$y$";

// A setting to hash against when there is no stored hash, so that a missing
// user costs the same work as a wrong password.
const std::string& DummySetting() {
    static const std::string setting = [] {
        char buffer[CRYPT_GENSALT_OUTPUT_SIZE];
        const char* s = crypt_gensalt_rn(kPrefix, 0, nullptr, 0, buffer, sizeof buffer);
        return std::string(s ? s : "");
    }();
    return setting;
}

// crypt_rn into a private work area; "" on failure.
std::string Crypt(const std::string& password, const std::string& setting) {
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_rn(password.c_str(), setting.c_str(), data.get(), sizeof *data);
    std::string result = out && out[0] != '*' ? out : "";
    // The work area holds material derived from the password.
    explicit_bzero(data.get(), sizeof *data);
    return result;
}

bool SameBytes(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::string HashPassword(const std::string& password) {
    if (password.size() > kMaxPasswordLength || password.find('\0') != std::string::npos) return "";
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(kPrefix, 0, nullptr, 0, setting, sizeof setting)) return "";
    return Crypt(password, setting);
}

bool VerifyPassword(const std::string& password, const std::string& hash) {
    const bool usable = !hash.empty() && password.size() <= kMaxPasswordLength &&
                        password.find('\0') == std::string::npos;
    const std::string computed = Crypt(usable ? password : "", usable ? hash : DummySetting());
    return usable && !computed.empty() && SameBytes(computed, hash);
}

bool PasswordAcceptable(const std::string& password, unsigned minLength, unsigned complexity,
                        std::string& why) {
    if (password.size() < minLength) {
        why = "shorter than " + std::to_string(minLength) + " characters";
        return false;
    }
    if (password.size() > kMaxPasswordLength) {
        why = "longer than " + std::to_string(kMaxPasswordLength) + " characters";
        return false;
    }
    bool lower = false, upper = false, digit = false, other = false;
    for (unsigned char c : password) {
        if (c < 0x20 || c == 0x7f) {
            why = "holds a control character";
            return false;
        }
        if (std::islower(c))
            lower = true;
        else if (std::isupper(c))
            upper = true;
        else if (std::isdigit(c))
            digit = true;
        else
            other = true;
    }
    struct Rule {
        unsigned from;
        bool met;
        const char* missing;
    };
    const Rule rules[] = {
        {1, (lower || upper) && digit, "needs letters and digits"},
        {2, lower && upper, "needs lower and upper case letters"},
        {3, other, "needs a character that is neither a letter nor a digit"},
    };
    for (const Rule& rule : rules)
        if (complexity >= rule.from && !rule.met) {
            why = rule.missing;
            return false;
        }
    return true;
}

std::string GeneratePassword(size_t length) {
    // No look-alike characters (0/O, 1/l/I), so the password can be typed.
    static const std::string groups[] = {"abcdefghijkmnopqrstuvwxyz", "ABCDEFGHJKLMNPQRSTUVWXYZ",
                                         "23456789", "-_.+=%#"};
    std::string all;
    for (const auto& g : groups) all += g;
    if (length < 4) length = 4;
    for (;;) {
        std::string password;
        unsigned char random[64];
        while (password.size() < length) {
            if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
                continue;
            for (unsigned char r : random) {
                // Rejection sampling keeps every character equally likely.
                if (r >= 256 - 256 % all.size()) continue;
                password.push_back(all[r % all.size()]);
                if (password.size() == length) break;
            }
        }
        std::string why;
        if (PasswordAcceptable(password, 0, 3, why)) return password;
    }
}

}  // namespace tesseld
