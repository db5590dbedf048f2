// Field checks and text helpers: tables of (input, accepted?) and, for every
// character check, a sweep over all 256 byte values against the exact set.
#include "tessel/checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

using namespace tessel;

namespace {

using Check = std::function<bool(const std::string&)>;

struct Row {
    std::string input;
    bool accepted;
};

void ExpectTable(const char* name, const Check& check, std::initializer_list<Row> rows) {
    for (const Row& r : rows)
        EXPECT_EQ(check(r.input), r.accepted)
            << name << "(\"" << r.input << "\") length " << r.input.size();
}

// Puts every byte value between `before` and `after` and expects acceptance
// exactly for the bytes of `set`.
void ExpectCharacterSet(const char* name, const Check& check, const std::string& before,
                        const std::string& after, const std::string& set) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool inSet = set.find(ch) != std::string::npos;
        EXPECT_EQ(check(before + ch + after), inSet) << name << " byte " << c;
    }
}

std::string Repeat(char c, size_t n) {
    return std::string(n, c);
}

const std::string kCredentialSet =
    "#@~%$,*'=!+-\\/?(){}.:;[]_|0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const std::string kShellSet =
    "#@~%$,*=!+-/?(){}.:;[]_|<> %?$0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const std::string kHostSet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
const std::string kEmailNameSet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.!#$%&'*+-/=?^_`{|}~";
const std::string kHexSet = "0123456789ABCDEFabcdef";

const std::string kLabel63 = Repeat('a', 63);

}  // namespace

TEST(Checks, CharacterSetsAreExact) {
    ASSERT_EQ(kCredentialSet.size(), 88u);
    ASSERT_EQ(kShellSet.size(), 92u);
    ASSERT_EQ(kEmailNameSet.size(), 82u);
    ExpectCharacterSet("CheckCredentials", CheckCredentials, "a", "b", kCredentialSet);
    ExpectCharacterSet("CheckShellString", CheckShellString, "a", "b", kShellSet);
    ExpectCharacterSet("CheckHostname", CheckHostname, "a", "b", kHostSet);
    ExpectCharacterSet("CheckEmailName", CheckEmailName, "a", "b", kEmailNameSet);
    ExpectCharacterSet("CheckOID", CheckOID, "1.3", "", ".0123456789");
    ExpectCharacterSet("CheckMacAddr digit", CheckMacAddr, "0", ":00:00:00:00:00", kHexSet);
    ExpectCharacterSet("CheckMacAddr separator", CheckMacAddr, "00", "00:00:00:00:00", ":");
    ExpectCharacterSet(
        "CheckUintString",
        [](const std::string& s) {
            unsigned v = 0;
            return CheckUintString(s, v);
        },
        "1", "2", "0123456789");
}

TEST(Checks, Credentials) {
    ExpectTable("CheckCredentials", CheckCredentials,
                {
                    {"", true},
                    {kCredentialSet, true},
                    {"pass\\word", true},
                    {"O'Brien", true},
                    {Repeat('x', 255), true},
                    {Repeat('x', 256), false},
                    {"pass word", false},
                    {"pass\"word", false},
                    {"a&b", false},
                    {"a^b", false},
                    {"a`b", false},
                    {"a<b", false},
                    {"a>b", false},
                    {"tab\t", false},
                    {"line\n", false},
                    {std::string("nul\0", 4), false},
                    {"gr\xC3\xBC\xC3\x9F", false},
                });
}

TEST(Checks, ShellString) {
    ExpectTable("CheckShellString", CheckShellString,
                {
                    {"", true},
                    {kShellSet, true},
                    {kShellSet + Repeat('x', 8), true},  // 100 characters
                    {kShellSet + Repeat('x', 9), false},
                    {"Router <alerts@example.com>", true},
                    {"a b", true},
                    {Repeat('x', 100), true},
                    {Repeat('x', 101), false},
                    {"it's", false},
                    {"say \"hi\"", false},
                    {"back\\slash", false},
                    {"a&b", false},
                    {"a^b", false},
                    {"`id`", false},
                    {"line\n", false},
                });
}

TEST(Checks, UintString) {
    struct {
        std::string input;
        bool accepted;
        unsigned value;
    } const rows[] = {
        {"", true, 0},
        {"0", true, 0},
        {"007", true, 7},
        {"4294967295", true, 4294967295u},
        {"4294967296", true, 4294967295u},
        {"99999999999999999999999", true, 4294967295u},
        {Repeat('9', 100), true, 4294967295u},
        {Repeat('0', 99) + "5", true, 5},
        {Repeat('9', 101), false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {"1 ", false, 0},
        {" 1", false, 0},
        {"0x10", false, 0},
        {"1.5", false, 0},
    };
    for (const auto& r : rows) {
        unsigned value = 777;
        EXPECT_EQ(CheckUintString(r.input, value), r.accepted) << '"' << r.input << '"';
        EXPECT_EQ(value, r.accepted ? r.value : 777u) << '"' << r.input << '"';
    }
}

TEST(Checks, OID) {
    ExpectTable("CheckOID", CheckOID,
                {
                    {"", true},
                    {"1.3.6.1.4.1", true},
                    {"1.3.6.1.4.1.99999.1.2", true},
                    {"1.3", true},
                    {"1.3.", true},  // a longer OID ending in "." passes
                    {"1." + Repeat('1', 98), true},
                    {"1." + Repeat('1', 99), false},
                    {"1.", false},
                    {"1", false},
                    {"2.5", false},
                    {"11.2", false},
                    {"0.1", false},
                    {".1.3", false},
                    {"1..3", false},
                    {".", false},
                    {"..", false},
                    {"1.3.a", false},
                    {"1.3.6 ", false},
                    {"1,3,6", false},
                });
}

TEST(Checks, MacAddr) {
    ExpectTable("CheckMacAddr", CheckMacAddr,
                {
                    {"00:11:22:33:44:55", true},
                    {"aA:bB:cC:dD:eE:fF", true},
                    {"AB:CD:EF:ab:cd:ef", true},
                    {"00:00:00:00:00:00", true},
                    {"00-11-22-33-44-55", false},
                    {"00.11.22.33.44.55", false},
                    {"001122334455", false},
                    {"0011.2233.4455", false},
                    {"00:11:22:33:44:5", false},
                    {"00:11:22:33:44:555", false},
                    {"0:11:22:33:44:555", false},
                    {"00:11:22:33:44::5", false},
                    {"00:11:22:33:44:5g", false},
                    {" 00:11:22:33:44:55", false},
                    {"00:11:22:33:44:55 ", false},
                    {"", false},
                });
}

TEST(Checks, Hostname) {
    const std::string max255 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + kLabel63;
    ExpectTable("CheckHostname", CheckHostname,
                {
                    {"", true},
                    {"router", true},
                    {"my-host.example.com", true},
                    {"192.168.1.1", true},
                    {".leading", true},
                    {"trailing.", true},
                    {"-dash-", true},
                    {kHostSet, true},
                    {kLabel63, true},
                    {kLabel63 + "a", false},
                    {"www." + kLabel63 + ".com", true},
                    {"www." + kLabel63 + "a.com", false},
                    {max255, true},
                    {max255 + ".", false},  // 256 characters
                    {"a_b", false},
                    {"a..b", false},
                    {"a b", false},
                    {"a/b", false},
                    {"user@host", false},
                    {"h\xC3\xB6st", false},
                });
}

TEST(Checks, EmailName) {
    const std::string max255 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + kLabel63;
    ExpectTable("CheckEmailName", CheckEmailName,
                {
                    {"", true},
                    {"john.doe", true},
                    {kEmailNameSet, true},
                    {"o'neil+tag", true},
                    {kLabel63, true},
                    {kLabel63 + "a", false},
                    {max255, true},
                    {max255 + ".", false},
                    {"a..b", false},
                    {"a b", false},
                    {"a\"b", false},
                    {"a(b)", false},
                    {"a@b", false},
                    {"a,b", false},
                });
}

TEST(Checks, EmailAddr) {
    ExpectTable("CheckEmailAddr", CheckEmailAddr,
                {
                    {"user@example.com", true},
                    {"first.last+tag@mail.example.org", true},
                    {"o'neil@x.com", true},
                    {"@example.com", true},  // empty parts are not refused
                    {"user@", true},
                    {"@", true},
                    {"no-at-sign", false},
                    {"", false},
                    {"a@b@c", false},
                    {"us er@x.com", false},
                    {"a..b@x.com", false},
                    {"user@ex_ample.com", false},
                    {"user@a..b", false},
                    {"user@[1.2.3.4]", false},
                    {kLabel63 + "@x.com", true},
                    {kLabel63 + "a@x.com", false},
                    {"user@" + kLabel63 + "a.com", false},
                });
}

TEST(TextHelpers, ObfuscateString) {
    EXPECT_EQ(ObfuscateString(""), "");
    EXPECT_EQ(ObfuscateString("a"), "*******");
    EXPECT_EQ(ObfuscateString("*******"), "*******");
    EXPECT_EQ(ObfuscateString(Repeat('s', 1000)), "*******");
}

TEST(TextHelpers, ClearNewLine) {
    const struct {
        const char *in, *out;
    } rows[] = {
        {"", ""},
        {"4.2.1", "4.2.1"},
        {"4.2.1\n", "4.2.1"},
        {"line one\nline two", "line one"},
        {"dos\r\nline", "dos"},
        {"a\rb\nc", "a"},
        {"text\r", "text"},
        {"\nafter", ""},
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
        {"10.1.2.3", "255.0.0.0", true, "10.0.0.0/8"},
        {"172.16.5.4", "255.255.240.0", true, "172.16.0.0/20"},
        {"10.1.2.3", "255.255.255.255", true, "10.1.2.3/32"},
        {"10.1.2.3", "0.0.0.0", true, "0.0.0.0/0"},
        {"10.1.2.3", "0.0.0.0", false, "10.1.2.3/0"},
        {"10.1.2.3", "255.0.255.0", true, "10.0.2.0/16"},  // bits counted, contiguous or not
    };
    for (const auto& r : rows)
        EXPECT_EQ(GetNetworkString(kora::s_socket_addr(r.address), kora::s_socket_addr(r.netmask),
                                   r.network),
                  r.text)
            << r.address << " " << r.netmask;
}

TEST(TextHelpers, IsFreeServicePort) {
    const struct {
        uint64_t port;
        bool free;
    } rows[] = {
        {0, false},
        {1, true},
        {21, true},
        {22, false},
        {23, true},
        {53, false},
        {80, true},
        {123, false},
        {8080, true},
        {65535, true},
        {65536, false},
        {(1ull << 32) + 22, false},
        {(1ull << 32) + 80, false},
        {std::numeric_limits<uint64_t>::max(), false},
    };
    for (const auto& r : rows) EXPECT_EQ(IsFreeServicePort(r.port), r.free) << r.port;
}
