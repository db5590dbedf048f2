// Wire and text forms of the kora scalars, strings, string maps, times and
// addresses; reference counting, the Ref handle and the object factory; the
// text and file helpers and tracing.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "kora/kora.h"

using namespace kora;
using namespace std::string_literals;

// The largest single allocation the process asked for since the last reset; lets
// the tests prove that a hostile length prefix is refused before allocating.
static std::atomic<size_t> g_largestAlloc{0};

// The replaced forms allocate with malloc and free with free, all out of line
// so the compiler never pairs an inlined malloc() or free() with a new or
// delete expression; the array forms are the library's, which call these.
__attribute__((noinline)) static void* TrackedAlloc(size_t size) noexcept {
    size_t seen = g_largestAlloc.load();
    while (size > seen && !g_largestAlloc.compare_exchange_weak(seen, size)) {
    }
    return std::malloc(size ? size : 1);
}
__attribute__((noinline)) void* operator new(size_t size) {
    if (void* p = TrackedAlloc(size)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return TrackedAlloc(size);
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Wire(const ISerialize& v) {
    cSerializeBuffer b;
    EXPECT_TRUE(v.Serialize(b));
    return Bytes(b.Data(), b.Data() + b.Size());
}

cSerializeBuffer Buffer(const Bytes& bytes) {
    return cSerializeBuffer(bytes.data(), bytes.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Every proper prefix of a form.
std::vector<Bytes> Cuts(const Bytes& wire) {
    std::vector<Bytes> out;
    for (size_t len = 0; len < wire.size(); ++len)
        out.emplace_back(wire.begin(), wire.begin() + len);
    return out;
}

// The wire form of an s_string: version, u32 length, bytes.
Bytes Str(const std::string& s, int64_t length = -1) {
    Bytes out = {1, 0};
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t((length < 0 ? s.size() : uint64_t(length)) >> shift));
    return Concat({out, Bytes(s.begin(), s.end())});
}

template <class T, class... A>
std::shared_ptr<ISerialize> Val(A... a) {
    return std::make_shared<T>(a...);
}

cTime Seconds(int64_t s) {
    cTime t;
    t.FromSeconds(s);
    return t;
}

xmlDocPtr Parse(const std::string& text) {
    return xmlReadMemory(text.data(), int(text.size()), "map.xml", nullptr, XML_PARSE_NONET);
}

struct Mixin {
    virtual ~Mixin() = default;
    int tag = 7;
};

// A test object whose counted base is not the first base of the class, so the
// counted subobject does not start at the allocation's address.
struct Mixed : Mixin, ISerialize {
    bool Serialize(cSerializeBuffer&) const override { return true; }
    int Deserialize(cSerializeBuffer&) override { return 1; }
    std::string ToString(const std::string&) const override { return "Mixed"; }
};

struct Throws : s_string {
    Throws() { throw std::runtime_error("no"); }
};

}  // namespace

// Every scalar: its type name, the golden bytes, the read back into an object
// the factory makes for the name, a failure at every truncation and on another
// version, and in both failures the value held is kept.
TEST(Scalars, WireFormsAreGolden) {
    struct {
        const char* type;
        std::shared_ptr<ISerialize> value;
        Bytes wire;
    } const cases[] = {
        {"s_bool", Val<s_bool>(true), {1, 0, 1}},
        {"s_int8", Val<s_int8>(-2), {1, 0, 0xFE}},
        {"s_uint8", Val<s_uint8>(0xAB), {1, 0, 0xAB}},
        {"s_int16", Val<s_int16>(-2), {1, 0, 0xFE, 0xFF}},
        {"s_uint16", Val<s_uint16>(0x1234), {1, 0, 0x34, 0x12}},
        {"s_int32", Val<s_int32>(-2), {1, 0, 0xFE, 0xFF, 0xFF, 0xFF}},
        {"s_uint32", Val<s_uint32>(0x12345678u), {1, 0, 0x78, 0x56, 0x34, 0x12}},
        {"s_int64", Val<s_int64>(INT64_MIN), {1, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"s_uint64", Val<s_uint64>(0x0102030405060708ull), {1, 0, 8, 7, 6, 5, 4, 3, 2, 1}},
        {"s_string", Val<s_string>("a\0b\xff"s), {1, 0, 4, 0, 0, 0, 'a', 0, 'b', 0xFF}},
        {"cTime", Val<cTime>(Seconds(-1)), {1, 0, 0xC0, 0xBD, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"s_socket_addr", Val<s_socket_addr>("192.168.1.2", 80), {1, 0, 2, 1, 0xA8, 0xC0, 80, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(c.value->TypeName(), c.type);
        EXPECT_EQ(Wire(*c.value), c.wire);
        auto back = Ref<ISerialize>::Adopt(cObjectFactory::CreateObject(c.type));
        ASSERT_TRUE(back);
        cSerializeBuffer in = Buffer(c.wire);
        EXPECT_EQ(back->Deserialize(in), 1);
        EXPECT_TRUE(in.Remaining() == 0 && Wire(*back) == c.wire);

        std::vector<Bytes> refused = Cuts(c.wire);
        for (uint8_t version : {0, 2, 0xFF})
            refused.push_back(Concat({{version}, Bytes(c.wire.begin() + 1, c.wire.end())}));
        for (const Bytes& r : refused) {
            cSerializeBuffer bad = Buffer(r);
            EXPECT_TRUE(back->Deserialize(bad) == 0 && Wire(*back) == c.wire)
                << r.size() << " bytes";
        }
    }
    s_bool b;
    cSerializeBuffer seven = Buffer({1, 0, 7});
    EXPECT_TRUE(b.Deserialize(seven) == 1 && b);
}

TEST(Scalars, TextFormsByFormat) {
    struct {
        std::shared_ptr<ISerialize> value;
        const char *format, *text;
    } const cases[] = {
        {Val<s_uint8>(5), "02", "05"},
        {Val<s_uint8>(123), "02", "123"},
        {Val<s_uint64>(1), "16", "0000000000000001"},
        {Val<s_int32>(-5), "04", "-005"},
        {Val<s_int64>(INT64_MIN), "", "-9223372036854775808"},
        {Val<s_uint64>(UINT64_MAX), "", "18446744073709551615"},
        {Val<s_uint8>(7), "hex", "0x07"},
        {Val<s_int8>(-1), "hex", "0xFF"},
        {Val<s_int16>(-2), "hex2", "FFFE"},
        {Val<s_uint32>(0xABu), "hex", "0x000000AB"},
        {Val<s_int64>(0x1F), "hex", "0x000000000000001F"},
        {Val<s_bool>(true), "hex", "true"},
        {Val<s_bool>(false), "", "false"},
        {Val<s_string>("a b"), "", "a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value->ToString(c.format), c.text)
            << c.value->TypeName() << " format \"" << c.format << "\"";
}

TEST(Strings, AbsurdLengthPrefixFailsWithoutAllocating) {
    // Three payload bytes follow the prefix, so every length above 3 is a lie.
    for (uint32_t len : {0xFFFFFFFFu, 0x80000000u, 0x10000000u, 4u}) {
        s_string s("kept");
        cSerializeBuffer in = Buffer(Str("xyz", len));
        g_largestAlloc = 0;
        EXPECT_EQ(s.Deserialize(in), 0) << len;
        EXPECT_TRUE(g_largestAlloc.load() < 4096 && s == "kept") << len;
    }
}

TEST(StringMap, BinaryForm) {
    s_map_string_string m;
    EXPECT_EQ(Wire(m), Bytes({1, 0, 1, 0, 0, 0}));
    m.SetAt("b", "2");
    m.SetAt("a", "");
    const Bytes wire = Concat({{1, 0}, {1, 0, 2, 0}, Str("a"), Str(""), Str("b"), Str("2")});
    EXPECT_TRUE(Wire(m) == wire && m.ToString("") == "{a=, b=2}");

    // Reading clears the map first; a repeated key overwrites.
    const Bytes twice = Concat({{1, 0}, {1, 0, 2, 0}, Str("k"), Str("1"), Str("k"), Str("2")});
    s_map_string_string back;
    back.SetAt("stale", "x");
    cSerializeBuffer in = Buffer(twice);
    EXPECT_TRUE(back.Deserialize(in) == 1 && back.ToString("") == "{k=2}");

    // Every cut and a count beyond the entries fail, leaving the map empty.
    std::vector<Bytes> refused = Cuts(wire);
    refused.push_back(wire);
    refused.back()[4] = 3;
    for (const Bytes& r : refused) {
        back.SetAt("stale", "x");
        cSerializeBuffer cut = Buffer(r);
        EXPECT_TRUE(back.Deserialize(cut) == 0 && back.empty()) << r.size() << " bytes";
    }
}

TEST(StringMap, XmlRoundTripThroughText) {
    s_map_string_string m;
    m.SetAt("plain", "value");
    m.SetAt("with space", "<a & \"b\" 'c'>");
    m.SetAt("", "empty key");
    m.SetAt("gr\xC3\xBC\xC3\x9F", "\xE2\x82\xAC 5");  // UTF-8 text
    m.SetAt("lines", "one\ntwo\ttab");

    // Written as a new node and below a given parent, dumped as text and parsed again.
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNode* parent = xmlNewNode(nullptr, BAD_CAST "parent");
    xmlDocSetRootElement(doc, parent);
    xmlNode* created = nullptr;
    ASSERT_TRUE(m.Serialize(created, "settings"));
    xmlAddChild(parent, created);
    xmlNode* node = parent;
    ASSERT_TRUE(m.Serialize(node, "appended") && node == parent);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    xmlFreeDoc(doc);
    doc = Parse(std::string(reinterpret_cast<const char*>(text), size_t(size)));
    xmlFree(text);
    ASSERT_NE(doc, nullptr);
    int read = 0;
    for (xmlNode* child = xmlDocGetRootElement(doc)->children; child; child = child->next, ++read) {
        s_map_string_string back;
        back.SetAt("stale", "x");
        std::string error;
        EXPECT_TRUE(back.Deserialize(child, error) && back == m) << error;
    }
    EXPECT_EQ(read, 2);
    xmlFreeDoc(doc);
}

TEST(StringMap, BadXmlIsRefusedWithAReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"<m><entry key='a'>1</entry><bogus/></m>", "bogus"},  // a part of the error text
        {"<m><entry>1</entry></m>", "key"},
        {nullptr, ""},  // no node at all
    };
    for (const auto& c : cases) {
        xmlDocPtr doc = c.first ? Parse(c.first) : nullptr;
        xmlNode* node = doc ? xmlDocGetRootElement(doc) : nullptr;
        s_map_string_string m;
        m.SetAt("stale", "x");
        std::string error;
        EXPECT_FALSE(m.Deserialize(node, error)) << c.first;
        EXPECT_TRUE(!error.empty() && error.find(c.second) != std::string::npos && m.empty())
            << error;
        xmlFreeDoc(doc);
    }
}

// ---- reference counting and the object factory ----

TEST(GarbageCollectable, NewReleaseAndRefBalanceTheLiveCount) {
    const size_t start = GC::LiveCount();
    s_string* s = New<s_string>("x");
    EXPECT_EQ(GC::LiveCount(), start + 1);
    // A copy counts for itself.
    EXPECT_TRUE(s->AddRef() == 2 && s_string(*s).GetRefCount() == 1 && s->Release() == 1);
    {
        auto a = Ref<s_string>::Adopt(s);  // takes the last reference
        Ref<s_string> b = a, c = std::move(b);
        EXPECT_TRUE(!b && s->GetRefCount() == 2);
        c = Ref<s_string>::Share(s);  // the object it holds again
        EXPECT_EQ(s->GetRefCount(), 2);
        s_string* out = c.Detach();
        EXPECT_TRUE(!c && out->Release() == 1);
        EXPECT_FALSE(Ref<s_string>::Share(nullptr));
    }
    EXPECT_EQ(GC::LiveCount(), start);

    // The counted base need not come first, and a failed construction leaves nothing.
    ISerialize* mixed = New<Mixed>();
    EXPECT_EQ(GC::LiveCount(), start + 1);
    EXPECT_EQ(mixed->Release(), 0);
    EXPECT_TRUE(New<Throws>() == nullptr && GC::LiveCount() == start);
}

// A peer announcement through the factory: type name, version, fields. Its
// damaged forms and unknown types give null or an object, and leak nothing.
TEST(ObjectFactory, ReadsRegisteredTypesOnlyAndDamageLeaksNothing) {
    const auto types = cObjectFactory::RegisteredTypes();
    EXPECT_NE(std::find(types.begin(), types.end(), "s_peerinfo"), types.end());
    EXPECT_FALSE(cObjectFactory::CreateObject("NoSuchType") || cObjectFactory::CreateObject(""));
    s_peerinfo peer;
    peer.Identity = "admin", peer.ProcessName = "webui";
    peer.Pid = 12, peer.Uid = 34, peer.Gid = 56;
    const Bytes wire = Concat({Str("s_peerinfo"),
                               {1, 0},
                               Str("admin"),
                               Str("webui"),
                               {1, 0, 12, 0, 0, 0},
                               {1, 0, 34, 0, 0, 0},
                               {1, 0, 56, 0, 0, 0}});
    cSerializeBuffer out;
    EXPECT_TRUE(cObjectFactory::Serialize(peer, out));
    EXPECT_EQ(Bytes(out.Data(), out.Data() + out.Size()), wire);
    cSerializeBuffer in = Buffer(wire);
    auto back = Ref<ISerialize>::Adopt(cObjectFactory::Deserialize(in));
    ASSERT_TRUE(back && in.Remaining() == 0);
    EXPECT_EQ(back->ToString(""), peer.ToString(""));

    const size_t start = GC::LiveCount();
    std::vector<Bytes> refused = Cuts(wire);
    refused.push_back(wire);
    refused.back()[16] = 2;  // the object's version
    refused.push_back(Concat({Str("NoSuchType"), {1, 0}}));
    for (const Bytes& r : refused) {
        cSerializeBuffer buf = Buffer(r);
        EXPECT_EQ(cObjectFactory::Deserialize(buf), nullptr) << r.size() << " bytes";
    }
    // Single-byte damage anywhere, type name included.
    for (size_t i = 0; i < wire.size(); ++i) {
        Bytes damaged = wire;
        damaged[i] ^= 0xFF;
        cSerializeBuffer buf = Buffer(damaged);
        if (ISerialize* obj = cObjectFactory::Deserialize(buf)) obj->Release();
    }
    EXPECT_EQ(GC::LiveCount(), start);
}

// ---- cTime ----

TEST(Time, SecondsRoundDownAndSaturate) {
    constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;
    const std::pair<int64_t, int64_t> micros[] = {
        {0, 0},        {999999, 0},    {1000000, 1},   {-1, -1},
        {-999999, -1}, {-1000000, -1}, {-1000001, -2}, {kMin, kMin / 1000000 - 1}};
    for (const auto& c : micros) {
        cTime t;
        t.FromMicroseconds(c.first);
        EXPECT_EQ(t.ToSeconds(), c.second) << c.first;
    }
    for (int64_t s : {int64_t(-86400), int64_t(4102444800)})
        EXPECT_TRUE(Seconds(s).ToSeconds() == s && Seconds(s).ToMicroseconds() == s * 1000000) << s;
    EXPECT_TRUE(Seconds(kMax).ToMicroseconds() == kMax && Seconds(kMin).ToMicroseconds() == kMin);
    EXPECT_TRUE(Seconds(-5) < Seconds(5) && !(Seconds(5) < Seconds(-5)));
    EXPECT_GT(cTime::Now().ToSeconds(), 1577836800);  // after 2020-01-01
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
        const cTime t = Seconds(c.seconds);
        EXPECT_EQ(t.ToISO8601String() + " " + t.ToString("") + " " + t.ToDateString() + " " +
                      t.ToTimeString(),
                  std::string(c.iso) + " " + c.iso + " " + c.date + " " + c.time)
            << c.tz;
    }
    had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// ---- s_socket_addr ----

TEST(SocketAddr, InitFromString) {
    const std::pair<std::string, uint32_t> accepted[] = {
        {"1.2.3.4", 0x01020304}, {"0.0.0.0", 0}, {"255.255.255.255", 0xFFFFFFFF}};
    for (const auto& c : accepted) {
        s_socket_addr a("9.9.9.9", 7);
        EXPECT_TRUE(a.InitFromString(c.first, 80) && a.GetIP() == c.second && a.GetPort() == 80)
            << c.first;
    }
    // Forms that inet_aton would take included; a refusal changes nothing.
    std::vector<std::string> refused = {"1.2.3",         "256.1.1.1", "1.2.3.256",  " 1.2.3.4",
                                        "1.2.3.4 ",      "",          "1.2.3.4.5",  "1..3.4",
                                        "-1.2.3.4",      "0x1.2.3.4", "1.2.3.4/24", "::1",
                                        "1.2.3.4\0junk"s};
    for (const std::string& text : refused) {
        s_socket_addr a("9.9.9.9", 7);
        EXPECT_TRUE(!a.InitFromString(text, 80) && a.ToString("") == "9.9.9.9:7")
            << '"' << text << '"';
    }
    EXPECT_EQ(s_socket_addr("1.2.3", 5).ToString(""), "0.0.0.0:5");
}

TEST(SocketAddr, TextFormsAndOrder) {
    EXPECT_EQ(s_socket_addr::FromIP(0xC0A80001).GetIPString(), "192.168.0.1");
    EXPECT_EQ(s_socket_addr("10.0.0.1").ToString(""), "10.0.0.1");
    std::vector<s_socket_addr> v = {s_socket_addr("192.168.0.1"), s_socket_addr("10.0.0.10"),
                                    s_socket_addr("10.0.0.2", 9), s_socket_addr("10.0.0.2", 1),
                                    s_socket_addr("9.255.255.255")};
    std::sort(v.begin(), v.end());
    std::vector<std::string> texts;
    for (const auto& a : v) texts.push_back(a.ToString(""));
    EXPECT_EQ(texts, (std::vector<std::string>{"9.255.255.255", "10.0.0.2:1", "10.0.0.2:9",
                                               "10.0.0.10", "192.168.0.1"}));
    EXPECT_NE(s_socket_addr("1.2.3.4", 1), s_socket_addr("1.2.3.4", 2));
}

// ---- text helpers, files ----

TEST(Helper, GetStringTokensAndFormatString) {
    using V = std::vector<std::string>;
    EXPECT_EQ(cHelper::GetStringTokens(".a..b.", "."), (V{"a", "b"}));
    EXPECT_EQ(cHelper::GetStringTokens("...", "."), V{});
    EXPECT_EQ(cHelper::GetStringTokens("abc", ""), V{"abc"});
    EXPECT_EQ(cHelper::GetStringTokens("a b,c, d", " ,"), (V{"a", "b", "c", "d"}));
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatString("%s:%d", longText.c_str(), -3), longText + ":-3");
}

// Binary content longer than one read chunk comes back whole; a directory
// leaves the text as it was.
TEST(File, StringFromFileReadsBinaryContentWhole) {
    const std::string dir = testing::TempDir(),
                      path = dir + "kora_binary_" + std::to_string(getpid());
    const std::string content = std::string("a\0b\r\n\xff", 6) + std::string(20000, 'z');
    {
        cFile f;
        ASSERT_TRUE(f.Open(path, "wb"));
        EXPECT_EQ(f.Write(content), content.size());
    }
    std::string text;
    EXPECT_TRUE(cFileHelper::StringFromFile(path, text) && text == content);
    EXPECT_TRUE(!cFileHelper::StringFromFile(dir, text) && text == content);
    std::remove(path.c_str());
    cFile closed;  // never opened: writes nothing
    EXPECT_EQ(closed.Write("x"), 0u);
}

// ---- tracing ----

TEST(Trace, HandlerReceivesRecordsAndMayTraceItself) {
    if (getenv("KORA_TRACE_LEVEL")) GTEST_SKIP() << "level filter set in the environment";
    std::vector<cTraceRecord> seen;
    cTracepoint::SetHandler([&](const cTraceRecord& r) {
        seen.push_back(r);
        if (r.text == "outer") cTracepoint::Call("T", "1", 1, "inner", "", "", 0);
    });
    cTracepoint::Call("DTSV", "001", 1, "request failed", "path /x", "server.cpp", 42);
    cTracepoint::Call(nullptr, nullptr, 0, "info", "", nullptr, 0);
    cTracepoint::Call("T", "1", 1, "outer", "", "", 0);
    cTracepoint::SetHandler(nullptr);
    cTracepoint::Call("DTSV", "001", 0, "to the default output", "", __FILE__, __LINE__);

    ASSERT_EQ(seen.size(), 4u);
    const cTraceRecord& r = seen[0];
    EXPECT_EQ(r.module + "/" + r.version + " " + r.text + " " + r.detail,
              "DTSV/001 request failed path /x");
    EXPECT_EQ(r.file + ":" + std::to_string(r.line) + " " + std::to_string(r.level),
              "server.cpp:42 1");
    EXPECT_EQ(seen[1].module + std::to_string(seen[1].level), "0");
    EXPECT_EQ(seen[3].text, "inner");
}

// Run only inside the child started by LevelFilterFromEnvironment, where the
// environment sets the level and the output file before the first record.
TEST(TraceChild, Emit) {
    if (!getenv("KORA_TRACE_CHILD")) GTEST_SKIP() << "runs in a child process only";
    cTracepoint::Call("DTCL", "001", 0, "informational dropped", "", "c.cpp", 1);
    cTracepoint::Call("DTCL", "001", 1, "error kept", "with detail", "c.cpp", 2);
}

TEST(Trace, LevelFilterFromEnvironment) {
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string out = testing::TempDir() + "kora_trace_" + std::to_string(getpid()) + ".log";
    const std::string cmd = "KORA_TRACE_CHILD=1 KORA_TRACE_LEVEL=1 KORA_TRACE_FILE='" + out +
                            "' '" + std::string(self) +
                            "' --gtest_filter=TraceChild.Emit >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string log;
    ASSERT_TRUE(cFileHelper::StringFromFile(out, log));
    std::remove(out.c_str());
    EXPECT_NE(log.find("DTCL/001 error kept with detail (c.cpp:2)\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;  // the other one dropped
}
