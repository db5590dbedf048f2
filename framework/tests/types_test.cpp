// Times, addresses, maps and the small helpers of kora: hashing, files, text
// and tracing.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "kora/kora.h"

namespace {

// Sets TZ for the life of the object and restores the previous value after.
class ScopedTZ {
  public:
    explicit ScopedTZ(const char* tz) {
        if (const char* old = getenv("TZ")) m_old = old, m_had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTZ() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::string m_old;
    bool m_had = false;
};

// A private directory, removed with its files at the end of the test.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/kora_test_XXXXXX";
        if (mkdtemp(tmpl)) m_path = tmpl;
    }
    ~TempDir() {
        for (const std::string& f : m_files) unlink(f.c_str());
        rmdir(m_path.c_str());
    }
    std::string File(const std::string& name) {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
    std::vector<std::string> m_files;
};

}  // namespace

// ---- cTime ----

TEST(Time, SecondsRoundDownBeforeAndAfterTheEpoch) {
    struct {
        int64_t micros, seconds;
    } const cases[] = {
        {0, 0},
        {999999, 0},
        {1000000, 1},
        {1700000000000000, 1700000000},
        {-1, -1},
        {-999999, -1},
        {-1000000, -1},
        {-1000001, -2},
        {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::min() / 1000000 - 1},
    };
    for (const auto& c : cases) {
        kora::cTime t;
        t.FromMicroseconds(c.micros);
        EXPECT_EQ(t.ToSeconds(), c.seconds) << c.micros;
    }
    for (int64_t s : {int64_t(0), int64_t(1), int64_t(-1), int64_t(-86400), int64_t(4102444800)}) {
        kora::cTime t;
        t.FromSeconds(s);
        EXPECT_EQ(t.ToSeconds(), s);
        EXPECT_EQ(t.ToMicroseconds(), s * 1000000);
    }
}

TEST(Time, FromSecondsSaturatesInsteadOfOverflowing) {
    kora::cTime t;
    t.FromSeconds(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(t.ToMicroseconds(), std::numeric_limits<int64_t>::max());
    t.FromSeconds(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(t.ToMicroseconds(), std::numeric_limits<int64_t>::min());
}

TEST(Time, TextFormsInTheLocalZone) {
    struct {
        const char* tz;
        int64_t seconds;
        const char *iso, *date, *time;
    } const cases[] = {
        {"UTC", 0, "1970-01-01T00:00:00+00:00", "1970-01-01", "00:00:00"},
        {"UTC", 1700000000, "2023-11-14T22:13:20+00:00", "2023-11-14", "22:13:20"},
        {"UTC", -1, "1969-12-31T23:59:59+00:00", "1969-12-31", "23:59:59"},
        {"UTC-2", 0, "1970-01-01T02:00:00+02:00", "1970-01-01", "02:00:00"},
        {"<-0330>3:30", 0, "1969-12-31T20:30:00-03:30", "1969-12-31", "20:30:00"},
    };
    for (const auto& c : cases) {
        ScopedTZ tz(c.tz);
        kora::cTime t;
        t.FromSeconds(c.seconds);
        EXPECT_EQ(t.ToISO8601String(), c.iso) << c.tz;
        EXPECT_EQ(t.ToString(""), c.iso) << c.tz;
        EXPECT_EQ(t.ToDateString(), c.date) << c.tz;
        EXPECT_EQ(t.ToTimeString(), c.time) << c.tz;
    }
}

TEST(Time, BinaryRoundTripAndOrder) {
    const int64_t values[] = {0,
                              1,
                              -1,
                              1700000000123456,
                              std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max()};
    for (int64_t v : values) {
        kora::cTime t, back;
        t.FromMicroseconds(v);
        kora::cSerializeBuffer b;
        ASSERT_TRUE(t.Serialize(b));
        EXPECT_EQ(back.Deserialize(b), 1);
        EXPECT_EQ(back, t);
    }
    kora::cTime a, b;
    a.FromSeconds(-5);
    b.FromSeconds(5);
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_NE(a, b);
    EXPECT_GT(kora::cTime::Now().ToSeconds(), 1577836800);  // after 2020-01-01
}

// ---- s_socket_addr ----

TEST(SocketAddr, InitFromString) {
    struct {
        std::string text;
        bool ok;
        uint32_t ip;
    } const cases[] = {
        {"1.2.3.4", true, 0x01020304},
        {"0.0.0.0", true, 0},
        {"255.255.255.255", true, 0xFFFFFFFF},
        {"192.168.1.254", true, 0xC0A801FE},
        {"1.2.3", false, 0},
        {"256.1.1.1", false, 0},
        {"1.2.3.256", false, 0},
        {" 1.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"", false, 0},
        {"1.2.3.4.5", false, 0},
        {"1..3.4", false, 0},
        {"a.b.c.d", false, 0},
        {"-1.2.3.4", false, 0},
        {"0x1.2.3.4", false, 0},
        {"1.2.3.4/24", false, 0},
        {"1.2.3.4:80", false, 0},
        {"::1", false, 0},
        {std::string("1.2.3.4\0", 8), false, 0},
        {std::string("1.2.3.4\0junk", 12), false, 0},
    };
    for (const auto& c : cases) {
        kora::s_socket_addr a("9.9.9.9", 7);
        EXPECT_EQ(a.InitFromString(c.text, 80), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(a.GetIP(), c.ok ? c.ip : 0x09090909u) << '"' << c.text << '"';
        EXPECT_EQ(a.GetPort(), c.ok ? 80 : 7) << '"' << c.text << '"';
    }
    kora::s_socket_addr bad("1.2.3", 5);
    EXPECT_EQ(bad.GetIP(), 0u);
    EXPECT_EQ(bad.GetPort(), 5);
}

TEST(SocketAddr, TextFormsAndOrder) {
    EXPECT_EQ(kora::s_socket_addr::FromIP(0xC0A80001).GetIPString(), "192.168.0.1");
    EXPECT_EQ(kora::s_socket_addr("10.0.0.1", 8080).ToString(""), "10.0.0.1:8080");
    EXPECT_EQ(kora::s_socket_addr("10.0.0.1").ToString(""), "10.0.0.1");
    EXPECT_EQ(kora::s_socket_addr().GetIPString(), "0.0.0.0");

    std::vector<kora::s_socket_addr> v = {
        kora::s_socket_addr("192.168.0.1"), kora::s_socket_addr("10.0.0.10"),
        kora::s_socket_addr("10.0.0.2", 9), kora::s_socket_addr("10.0.0.2", 1),
        kora::s_socket_addr("9.255.255.255")};
    std::sort(v.begin(), v.end());
    std::vector<std::string> texts;
    for (const auto& a : v) texts.push_back(a.ToString(""));
    EXPECT_EQ(texts, (std::vector<std::string>{"9.255.255.255", "10.0.0.2:1", "10.0.0.2:9",
                                               "10.0.0.10", "192.168.0.1"}));
    EXPECT_EQ(kora::s_socket_addr("1.2.3.4", 1), kora::s_socket_addr("1.2.3.4", 1));
    EXPECT_NE(kora::s_socket_addr("1.2.3.4", 1), kora::s_socket_addr("1.2.3.4", 2));
}

// ---- cMap ----

TEST(Map, SetAtAndTryGetValue) {
    kora::cMap<std::string, int> m;
    m.SetAt("a", 1);
    m.SetAt("a", 2);
    m.SetAt("b", 3);
    EXPECT_EQ(m.size(), 2u);
    int v = -1;
    EXPECT_TRUE(m.TryGetValue("a", v));
    EXPECT_EQ(v, 2);
    v = -1;
    EXPECT_FALSE(m.TryGetValue("c", v));
    EXPECT_EQ(v, -1);
    EXPECT_EQ(m.count("c"), 0u);  // a failed lookup adds nothing
}

// ---- hashing ----

TEST(Hash, Sha256KnownVectors) {
    const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    kora::cSHA256Calculator h;
    EXPECT_EQ(h.GetResult(), empty);
    h.Add("abc");
    EXPECT_EQ(h.GetResult(), abc);
    EXPECT_EQ(h.GetResult(), empty);  // the result starts a new digest
    h.Add("a");
    h.Add("b", 1);
    h.Add(std::string("c"));
    EXPECT_EQ(h.GetResult(), abc);
    h.Add("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    EXPECT_EQ(h.GetResult(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// ---- files ----

TEST(File, StringFromFile) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::string text = "untouched";
    EXPECT_FALSE(kora::cFileHelper::StringFromFile(dir.Path() + "/missing", text));
    EXPECT_EQ(text, "untouched");
    EXPECT_FALSE(kora::cFileHelper::StringFromFile(dir.Path(), text));  // a directory
    EXPECT_EQ(text, "untouched");

    const std::string path = dir.File("binary");
    std::string content("a\0b\r\n\xff", 6);
    content += std::string(20000, 'z');  // more than one read chunk
    {
        kora::cFile f;
        ASSERT_TRUE(f.Open(path, "wb"));
        EXPECT_TRUE(f.IsOpen());
        EXPECT_EQ(f.Write(content), content.size());
    }
    EXPECT_TRUE(kora::cFile::Exists(path));
    EXPECT_TRUE(kora::cFileHelper::StringFromFile(path, text));
    EXPECT_EQ(text, content);

    const std::string empty = dir.File("empty");
    {
        kora::cFile f;
        ASSERT_TRUE(f.Open(empty, "w"));
    }
    EXPECT_TRUE(kora::cFileHelper::StringFromFile(empty, text));
    EXPECT_EQ(text, "");

    EXPECT_TRUE(kora::cFile::Delete(path));
    EXPECT_FALSE(kora::cFile::Exists(path));
    EXPECT_FALSE(kora::cFile::Delete(path));
    kora::cFile closed;
    EXPECT_FALSE(closed.Open(dir.Path() + "/no/such/dir", "w"));
    EXPECT_EQ(closed.Write("x"), 0u);
}

// ---- text helpers ----

TEST(Helper, GetStringTokens) {
    using V = std::vector<std::string>;
    struct {
        const char *text, *delimiters;
        V tokens;
    } const cases[] = {
        {"a.b.c", ".", V{"a", "b", "c"}},
        {".a..b.", ".", V{"a", "b"}},
        {"", ".", V{}},
        {"...", ".", V{}},
        {"abc", ".", V{"abc"}},
        {"abc", "", V{"abc"}},
        {"a b,c, d", " ,", V{"a", "b", "c", "d"}},
        {"www.example.com", ".", V{"www", "example", "com"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kora::cHelper::GetStringTokens(c.text, c.delimiters), c.tokens)
            << '"' << c.text << "\" by \"" << c.delimiters << '"';
}

TEST(Helper, FormatString) {
    EXPECT_EQ(kora::FormatString("%s:%u, %d", "name", 5u, -3), "name:5, -3");
    EXPECT_EQ(kora::FormatString("%s", ""), "");
    const std::string longText(5000, 'x');
    const std::string out = kora::FormatString("<%s>", longText.c_str());
    EXPECT_EQ(out.size(), 5002u);
    EXPECT_EQ(out, "<" + longText + ">");
}

// ---- tracing ----

namespace {
std::vector<kora::cTraceRecord>& Captured() {
    static std::vector<kora::cTraceRecord> records;
    return records;
}
}  // namespace

TEST(Trace, HandlerReceivesRecords) {
    if (getenv("KORA_TRACE_LEVEL")) GTEST_SKIP() << "level filter set in the environment";
    Captured().clear();
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) { Captured().push_back(r); });
    kora::cTracepoint::Call("DTSV", "001", 1, "request failed", "path /x", "server.cpp", 42);
    kora::cTracepoint::Call(nullptr, nullptr, 0, "info", "", nullptr, 0);
    kora::cTracepoint::SetHandler(nullptr);
    kora::cTracepoint::Call("DTSV", "001", 0, "to the default output", "", __FILE__, __LINE__);

    ASSERT_EQ(Captured().size(), 2u);
    const kora::cTraceRecord& r = Captured()[0];
    EXPECT_EQ(r.module, "DTSV");
    EXPECT_EQ(r.version, "001");
    EXPECT_EQ(r.level, 1);
    EXPECT_EQ(r.text, "request failed");
    EXPECT_EQ(r.detail, "path /x");
    EXPECT_EQ(r.file, "server.cpp");
    EXPECT_EQ(r.line, 42);
    EXPECT_EQ(Captured()[1].module, "");
    EXPECT_EQ(Captured()[1].level, 0);
}

TEST(Trace, HandlerMayTraceItself) {
    Captured().clear();
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
        Captured().push_back(r);
        if (r.text == "outer") kora::cTracepoint::Call("T", "1", 1, "inner", "", "", 0);
    });
    kora::cTracepoint::Call("T", "1", 1, "outer", "", "", 0);
    kora::cTracepoint::SetHandler(nullptr);
    ASSERT_EQ(Captured().size(), 2u);
    EXPECT_EQ(Captured()[1].text, "inner");
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
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    TempDir dir;
    const std::string out = dir.File("trace.log");
    const std::string cmd = "KORA_TRACE_CHILD=1 KORA_TRACE_LEVEL=1 KORA_TRACE_FILE='" + out +
                            "' '" + std::string(self) +
                            "' --gtest_filter=TraceChild.Emit >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string log;
    ASSERT_TRUE(kora::cFileHelper::StringFromFile(out, log));
    EXPECT_NE(log.find("DTCL/001 error kept with detail (c.cpp:2)"), std::string::npos) << log;
    EXPECT_EQ(log.find("dropped"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}
