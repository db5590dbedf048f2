// Field checks swept over all 256 byte values against their exact sets, then
// lengths, positions and labels; text helpers.
#include "tessel/checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>

using namespace tessel;

namespace {

using Check = std::function<bool(const std::string&)>;

bool Uint(const std::string& s) {
    unsigned v = 0;
    return CheckUintString(s, v);
}

const std::map<std::string, Check> kChecks = {{"Credentials", CheckCredentials},
                                              {"Shell", CheckShellString},
                                              {"Uint", Uint},
                                              {"OID", CheckOID},
                                              {"Mac", CheckMacAddr},
                                              {"Host", CheckHostname},
                                              {"EmailName", CheckEmailName},
                                              {"EmailAddr", CheckEmailAddr},
                                              {"Digits6", IsDigits<6>},
                                              {"SnmpPassword", IsSnmpPassword}};

std::string X(size_t n, char c = 'x') {
    return std::string(n, c);
}

const std::string kLabel63 = X(63, 'a');
const std::string kName255 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + kLabel63;

}  // namespace

TEST(Checks, CharacterSetsAreExact) {
    const struct {
        const char* check;
        std::string before, after, set;
    } sweeps[] = {
        {"Credentials", "a", "b",
         "#@~%$,*'=!+-\\/"
         "?(){}.:;[]_|0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"},
        {"Shell", "a", "b",
         "#@~%$,*=!+-/?(){}.:;[]_|<> "
         "%?$0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"},
        {"Host", "a", "b", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-"},
        {"EmailName", "a", "b",
         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.!#$%&'*+-/=?^_`{|}~"},
        {"OID", "1.3", "", ".0123456789"},
        {"Mac", "0", ":00:00:00:00:00", "0123456789ABCDEFabcdef"},
        {"Mac", "00", "00:00:00:00:00", ":"},
        {"Uint", "1", "2", "0123456789"},
    };
    for (const auto& s : sweeps) {
        for (int c = 0; c < 256; ++c) {
            const char ch = static_cast<char>(c);
            EXPECT_EQ(kChecks.at(s.check)(s.before + ch + s.after),
                      s.set.find(ch) != std::string::npos)
                << s.check << " byte " << c;
        }
    }
}

// Per check: inputs accepted, then inputs refused.
TEST(Checks, LengthsPositionsAndLabels) {
    using V = std::vector<std::string>;
    const struct {
        const char* check;
        V accepted, refused;
    } table[] = {
        {"Credentials", V{"", X(255)}, V{X(256), "end\n"}},
        {"Shell", V{"", X(100)}, V{X(101)}},
        // strtoul would take the signs and the blanks; the character set does not.
        {"Uint", V{X(100, '9')}, V{X(101, '9'), "-1", "+1", " 1", "1 "}},
        // A longer OID ending in "." passes; "1." alone does not.
        {"OID", V{"", "1.3.6.1.4.1", "1.3.", "1." + X(98, '1')},
         V{"1." + X(99, '1'), "1.", "1", "2.5", "11.2", ".1.3", "1..3"}},
        // The last one has 17 characters with the separators misplaced.
        {"Mac", V{"00:11:22:33:44:55", "aA:bB:cC:dD:eE:fF", "00:00:00:00:00:00"},
         V{"00-11-22-33-44-55", "001122334455", "00:11:22:33:44:5", "", "00:11:22:33:44:555",
           "0:11:22:33:44:555"}},
        {"Host",
         V{"", "192.168.1.1", ".leading-", "-trailing.", kLabel63, "www." + kLabel63 + ".com",
           kName255},
         V{kLabel63 + "a", "www." + kLabel63 + "a.com", kName255 + ".", "a_b", "a..b"}},
        {"EmailName", V{"", kLabel63, kName255}, V{kLabel63 + "a", kName255 + ".", "a..b"}},
        {"Digits6", V{"", "262011"}, V{"2620112", "26a", "-1"}},
        {"SnmpPassword", V{"", "abcdefgh"}, V{"abcdefg", "abc def gh"}},
        // The local part has its own set; empty parts are not refused.
        {"EmailAddr", V{"user@example.com", "o'neil+tag@x.com", "@example.com", "user@"},
         V{"no-at-sign", "", "a@b@c", "a..b@x.com", "user@ex_ample.com", kLabel63 + "a@x.com",
           "user@" + kLabel63 + "a.com"}},
    };
    for (const auto& t : table) {
        for (const auto* inputs : {&t.accepted, &t.refused})
            for (const std::string& in : *inputs)
                EXPECT_EQ(kChecks.at(t.check)(in), inputs == &t.accepted)
                    << t.check << "(\"" << in << "\") length " << in.size();
    }
}

TEST(Checks, UintStringValue) {
    const struct {
        std::string input;
        bool accepted;
        unsigned value;
    } rows[] = {
        {"", true, 0},
        {"007", true, 7},
        {"4294967295", true, 4294967295u},
        {"4294967296", true, 4294967295u},
        {X(100, '9'), true, 4294967295u},
        {"-1", false, 0},
    };
    for (const auto& r : rows) {
        unsigned value = 777;
        EXPECT_EQ(CheckUintString(r.input, value), r.accepted) << '"' << r.input << '"';
        EXPECT_EQ(value, r.accepted ? r.value : 777u) << '"' << r.input << '"';
    }
}

TEST(TextHelpers, ObfuscateAndClearNewLine) {
    EXPECT_EQ(ObfuscateString(""), "");
    EXPECT_EQ(ObfuscateString("a"), "*******");
    EXPECT_EQ(ObfuscateString(X(1000)), "*******");
    const struct {
        const char *in, *out;
    } rows[] = {
        {"", ""},
        {"4.2.1\n", "4.2.1"},
        {"line one\nline two", "line one"},
        {"dos\r\nline", "dos"},
        {"a\rb\nc", "a"},
        {"text\r", "text"},
    };
    for (const auto& r : rows) EXPECT_EQ(ClearNewLine(r.in), r.out) << r.in;
}

TEST(TextHelpers, GetNetworkString) {
    const struct {
        const char *address, *netmask;
        bool network;
        const char* text;
    } rows[] = {
        {"192.168.1.77", "255.255.255.0", true, "192.168.1.0/24"},
        {"192.168.1.77", "255.255.255.0", false, "192.168.1.77/24"},
        {"10.1.2.3", "255.255.255.255", true, "10.1.2.3/32"},
        {"10.1.2.3", "0.0.0.0", true, "0.0.0.0/0"},
        {"10.1.2.3", "255.0.255.0", true, "10.0.2.0/16"},  // bits counted, contiguous or not
    };
    for (const auto& r : rows)
        EXPECT_EQ(GetNetworkString(kora::s_socket_addr(r.address), kora::s_socket_addr(r.netmask),
                                   r.network),
                  r.text)
            << r.address << " " << r.netmask;
}

// Port 0, the ports of the device's own services and anything beyond 16 bits
// (a free port in the low bits included) are refused.
TEST(TextHelpers, IsFreeServicePort) {
    for (uint64_t port : {1, 80, 65535}) EXPECT_TRUE(IsFreeServicePort(port)) << port;
    for (uint64_t port :
         std::initializer_list<uint64_t>{0, 22, 53, 123, 65536, (1ull << 32) + 80,
                                         (1ull << 32) + 22, std::numeric_limits<uint64_t>::max()})
        EXPECT_FALSE(IsFreeServicePort(port)) << port;
}
