// Times, addresses and the small helpers of kora: text, files and tracing.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "kora/kora.h"

namespace {

// A private directory, removed with everything in it at the end of the test.
struct TempDir {
    TempDir() {
        char tmpl[] = "/tmp/kora_test_XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

kora::cTime Seconds(int64_t s) {
    kora::cTime t;
    t.FromSeconds(s);
    return t;
}

}  // namespace

// ---- cTime ----

TEST(Time, SecondsRoundDownAndSaturate) {
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const std::pair<int64_t, int64_t> micros[] = {
        {0, 0},        {999999, 0},    {1000000, 1},   {-1, -1},
        {-999999, -1}, {-1000000, -1}, {-1000001, -2}, {kMin, kMin / 1000000 - 1}};
    for (const auto& c : micros) {
        kora::cTime t;
        t.FromMicroseconds(c.first);
        EXPECT_EQ(t.ToSeconds(), c.second) << c.first;
    }
    for (int64_t s : {int64_t(-86400), int64_t(4102444800)}) {
        EXPECT_EQ(Seconds(s).ToSeconds(), s);
        EXPECT_EQ(Seconds(s).ToMicroseconds(), s * 1000000);
    }
    EXPECT_EQ(Seconds(kMax).ToMicroseconds(), kMax);
    EXPECT_EQ(Seconds(kMin).ToMicroseconds(), kMin);
    EXPECT_TRUE(Seconds(-5) < Seconds(5));
    EXPECT_FALSE(Seconds(5) < Seconds(-5));
    EXPECT_GT(kora::cTime::Now().ToSeconds(), 1577836800);  // after 2020-01-01
}

TEST(Time, TextFormsInTheLocalZone) {
    struct {
        const char* tz;
        int64_t seconds;
        const char *iso, *date, *time;
    } const cases[] = {
        {"UTC", 1700000000, "2023-11-14T22:13:20+00:00", "2023-11-14", "22:13:20"},
        {"UTC", -1, "1969-12-31T23:59:59+00:00", "1969-12-31", "23:59:59"},
        {"UTC-2", 0, "1970-01-01T02:00:00+02:00", "1970-01-01", "02:00:00"},
        {"<-0330>3:30", 0, "1969-12-31T20:30:00-03:30", "1969-12-31", "20:30:00"},
    };
    const char* had = getenv("TZ");
    const std::string saved = had ? had : "";
    for (const auto& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        const kora::cTime t = Seconds(c.seconds);
        EXPECT_EQ(t.ToISO8601String(), c.iso) << c.tz;
        EXPECT_EQ(t.ToString(""), c.iso) << c.tz;
        EXPECT_EQ(t.ToDateString(), c.date) << c.tz;
        EXPECT_EQ(t.ToTimeString(), c.time) << c.tz;
    }
    had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// ---- s_socket_addr ----

TEST(SocketAddr, InitFromString) {
    const std::pair<std::string, uint32_t> accepted[] = {
        {"1.2.3.4", 0x01020304}, {"0.0.0.0", 0}, {"255.255.255.255", 0xFFFFFFFF}};
    for (const auto& c : accepted) {
        kora::s_socket_addr a("9.9.9.9", 7);
        EXPECT_TRUE(a.InitFromString(c.first, 80)) << c.first;
        EXPECT_EQ(a.GetIP(), c.second) << c.first;
        EXPECT_EQ(a.GetPort(), 80) << c.first;
    }
    // Forms that inet_aton would take included; a refusal changes nothing.
    std::vector<std::string> refused = {"1.2.3",    "256.1.1.1", "1.2.3.256",  " 1.2.3.4",
                                        "1.2.3.4 ", "",          "1.2.3.4.5",  "1..3.4",
                                        "-1.2.3.4", "0x1.2.3.4", "1.2.3.4/24", "::1"};
    refused.push_back(std::string("1.2.3.4\0junk", 12));
    for (const std::string& text : refused) {
        kora::s_socket_addr a("9.9.9.9", 7);
        EXPECT_FALSE(a.InitFromString(text, 80)) << '"' << text << '"';
        EXPECT_EQ(a.ToString(""), "9.9.9.9:7") << '"' << text << '"';
    }
    EXPECT_EQ(kora::s_socket_addr("1.2.3", 5).ToString(""), "0.0.0.0:5");
}

TEST(SocketAddr, TextFormsAndOrder) {
    EXPECT_EQ(kora::s_socket_addr::FromIP(0xC0A80001).GetIPString(), "192.168.0.1");
    EXPECT_EQ(kora::s_socket_addr("10.0.0.1").ToString(""), "10.0.0.1");
    std::vector<kora::s_socket_addr> v = {
        kora::s_socket_addr("192.168.0.1"), kora::s_socket_addr("10.0.0.10"),
        kora::s_socket_addr("10.0.0.2", 9), kora::s_socket_addr("10.0.0.2", 1),
        kora::s_socket_addr("9.255.255.255")};
    std::sort(v.begin(), v.end());
    std::vector<std::string> texts;
    for (const auto& a : v) texts.push_back(a.ToString(""));
    EXPECT_EQ(texts, (std::vector<std::string>{"9.255.255.255", "10.0.0.2:1", "10.0.0.2:9",
                                               "10.0.0.10", "192.168.0.1"}));
    EXPECT_NE(kora::s_socket_addr("1.2.3.4", 1), kora::s_socket_addr("1.2.3.4", 2));
}

// ---- text helpers, files ----

TEST(Helper, GetStringTokensAndFormatString) {
    using V = std::vector<std::string>;
    EXPECT_EQ(kora::cHelper::GetStringTokens(".a..b.", "."), (V{"a", "b"}));
    EXPECT_EQ(kora::cHelper::GetStringTokens("...", "."), V{});
    EXPECT_EQ(kora::cHelper::GetStringTokens("abc", ""), V{"abc"});
    EXPECT_EQ(kora::cHelper::GetStringTokens("a b,c, d", " ,"), (V{"a", "b", "c", "d"}));
    const std::string longText(5000, 'x');
    EXPECT_EQ(kora::FormatString("%s:%d", longText.c_str(), -3), longText + ":-3");
}

// Binary content longer than one read chunk comes back whole; a directory
// leaves the text as it was.
TEST(File, StringFromFileReadsBinaryContentWhole) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.path + "/binary";
    const std::string content = std::string("a\0b\r\n\xff", 6) + std::string(20000, 'z');
    {
        kora::cFile f;
        ASSERT_TRUE(f.Open(path, "wb"));
        EXPECT_EQ(f.Write(content), content.size());
    }
    std::string text;
    EXPECT_TRUE(kora::cFileHelper::StringFromFile(path, text));
    EXPECT_EQ(text, content);
    EXPECT_FALSE(kora::cFileHelper::StringFromFile(dir.path, text));
    EXPECT_EQ(text, content);
    kora::cFile closed;  // never opened: writes nothing
    EXPECT_EQ(closed.Write("x"), 0u);
}

// ---- tracing ----

TEST(Trace, HandlerReceivesRecordsAndMayTraceItself) {
    if (getenv("KORA_TRACE_LEVEL")) GTEST_SKIP() << "level filter set in the environment";
    std::vector<kora::cTraceRecord> seen;
    kora::cTracepoint::SetHandler([&](const kora::cTraceRecord& r) {
        seen.push_back(r);
        if (r.text == "outer") kora::cTracepoint::Call("T", "1", 1, "inner", "", "", 0);
    });
    kora::cTracepoint::Call("DTSV", "001", 1, "request failed", "path /x", "server.cpp", 42);
    kora::cTracepoint::Call(nullptr, nullptr, 0, "info", "", nullptr, 0);
    kora::cTracepoint::Call("T", "1", 1, "outer", "", "", 0);
    kora::cTracepoint::SetHandler(nullptr);
    kora::cTracepoint::Call("DTSV", "001", 0, "to the default output", "", __FILE__, __LINE__);

    ASSERT_EQ(seen.size(), 4u);
    const kora::cTraceRecord& r = seen[0];
    EXPECT_EQ(r.module + "/" + r.version + " " + r.text + " " + r.detail,
              "DTSV/001 request failed path /x");
    EXPECT_EQ(r.file + ":" + std::to_string(r.line) + " " + std::to_string(r.level),
              "server.cpp:42 1");
    EXPECT_EQ(seen[1].module, "");
    EXPECT_EQ(seen[1].level, 0);
    EXPECT_EQ(seen[3].text, "inner");
}

// Run only inside the child started by LevelFilterFromEnvironment, where the
// environment sets the level and the output file before the first record.
TEST(TraceChild, Emit) {
    if (!getenv("KORA_TRACE_CHILD")) GTEST_SKIP() << "runs in a child process only";
    kora::cTracepoint::Call("DTCL", "001", 0, "informational dropped", "", "c.cpp", 1);
    kora::cTracepoint::Call("DTCL", "001", 1, "error kept", "with detail", "c.cpp", 2);
}

TEST(Trace, LevelFilterFromEnvironment) {
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    TempDir dir;
    const std::string out = dir.path + "/trace.log";
    const std::string cmd = "KORA_TRACE_CHILD=1 KORA_TRACE_LEVEL=1 KORA_TRACE_FILE='" + out +
                            "' '" + std::string(self) +
                            "' --gtest_filter=TraceChild.Emit >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string log;
    ASSERT_TRUE(kora::cFileHelper::StringFromFile(out, log));
    EXPECT_NE(log.find("DTCL/001 error kept with detail (c.cpp:2)\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;  // the other one dropped
}
