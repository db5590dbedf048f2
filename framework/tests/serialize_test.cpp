// Wire and text forms of the kora scalars, strings and string maps, reference
// counting, the Ref handle and the object factory.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "kora/kora.h"

// The largest single allocation the process asked for since the last reset; lets
// the tests prove that a hostile length prefix is refused before allocating.
static std::atomic<size_t> g_largestAlloc{0};

// Every allocation form goes through one tracker, so the pairs stay matched; all
// out of line, so the compiler never pairs an inlined malloc() or free() with a
// new or delete expression.
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
__attribute__((noinline)) void* operator new[](size_t size) {
    return operator new(size);
}
__attribute__((noinline)) void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return TrackedAlloc(size);
}
__attribute__((noinline)) void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return TrackedAlloc(size);
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Wire(const kora::ISerialize& v) {
    kora::cSerializeBuffer b;
    EXPECT_TRUE(v.Serialize(b));
    return Bytes(b.Data(), b.Data() + b.Size());
}

kora::cSerializeBuffer Buffer(const Bytes& bytes) {
    return kora::cSerializeBuffer(bytes.data(), bytes.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The wire form of an s_string: version, u32 length, bytes.
Bytes Str(const std::string& s) {
    Bytes out = {1,
                 0,
                 static_cast<uint8_t>(s.size()),
                 static_cast<uint8_t>(s.size() >> 8),
                 static_cast<uint8_t>(s.size() >> 16),
                 static_cast<uint8_t>(s.size() >> 24)};
    for (char c : s) out.push_back(static_cast<uint8_t>(c));
    return out;
}

struct WireCase {
    const char* name;
    std::shared_ptr<kora::ISerialize> value;  // serialized
    std::shared_ptr<kora::ISerialize> blank;  // read back into
    Bytes wire;
};

template <class T, class V>
WireCase Case(const char* name, V v, Bytes wire) {
    return {name, std::make_shared<T>(v), std::make_shared<T>(), std::move(wire)};
}

kora::cTime Seconds(int64_t s) {
    kora::cTime t;
    t.FromSeconds(s);
    return t;
}

}  // namespace

TEST(SerializeBuffer, ReadNeverPassesTheEnd) {
    kora::cSerializeBuffer b;
    uint32_t v = 0x01020304;
    b.Write(&v, 4);
    uint8_t out[8] = {};
    EXPECT_EQ(b.Read(out, 5), 0);
    EXPECT_EQ(b.ReadPosition(), 0u);
    EXPECT_NE(b.Read(out, 4), 0);
    EXPECT_EQ(b.Read(out, 1), 0);
    EXPECT_NE(b.Read(out, 0), 0);
}

// Every scalar: the golden bytes, the read back, a failure at every truncation
// and on another version, and in both failures the value held is kept.
TEST(Scalars, WireFormsAreGolden) {
    const WireCase cases[] = {
        Case<kora::s_bool>("bool false", false, {1, 0, 0}),
        Case<kora::s_bool>("bool true", true, {1, 0, 1}),
        Case<kora::s_int8>("int8", -2, {1, 0, 0xFE}),
        Case<kora::s_uint8>("uint8", 0xAB, {1, 0, 0xAB}),
        Case<kora::s_int16>("int16", -2, {1, 0, 0xFE, 0xFF}),
        Case<kora::s_uint16>("uint16", 0x1234, {1, 0, 0x34, 0x12}),
        Case<kora::s_int32>("int32", -2, {1, 0, 0xFE, 0xFF, 0xFF, 0xFF}),
        Case<kora::s_uint32>("uint32", 0x12345678u, {1, 0, 0x78, 0x56, 0x34, 0x12}),
        Case<kora::s_int64>("int64 min", std::numeric_limits<int64_t>::min(),
                            {1, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}),
        Case<kora::s_int64>("int64 -1", -1, {1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
        Case<kora::s_uint64>("uint64", 0x0102030405060708ull, {1, 0, 8, 7, 6, 5, 4, 3, 2, 1}),
        Case<kora::s_string>("string", "ab", {1, 0, 2, 0, 0, 0, 'a', 'b'}),
        Case<kora::s_string>("empty string", "", {1, 0, 0, 0, 0, 0}),
        Case<kora::cTime>("time 1s", Seconds(1), {1, 0, 0x40, 0x42, 0x0F, 0, 0, 0, 0, 0}),
        Case<kora::cTime>("time -1s", Seconds(-1),
                          {1, 0, 0xC0, 0xBD, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
        Case<kora::s_socket_addr>("address", kora::s_socket_addr("192.168.1.2", 80),
                                  {1, 0, 2, 1, 0xA8, 0xC0, 80, 0}),
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Wire(*c.value), c.wire);
        kora::cSerializeBuffer in = Buffer(c.wire);
        EXPECT_EQ(c.blank->Deserialize(in), 1);
        EXPECT_EQ(in.Remaining(), 0u);
        const std::string text = c.value->ToString("");
        EXPECT_EQ(c.blank->ToString(""), text);

        for (size_t len = 0; len < c.wire.size(); ++len) {
            kora::cSerializeBuffer cut(c.wire.data(), len);
            EXPECT_EQ(c.blank->Deserialize(cut), 0) << "length " << len;
            EXPECT_EQ(c.blank->ToString(""), text);
        }
        for (uint8_t version : {0, 2, 0xFF}) {
            Bytes other = c.wire;
            other[0] = version;
            kora::cSerializeBuffer in2 = Buffer(other);
            EXPECT_EQ(c.blank->Deserialize(in2), 0) << "version " << int(version);
            EXPECT_EQ(c.blank->ToString(""), text);
        }
    }
}

TEST(Scalars, TypeNamesAndVersions) {
    EXPECT_EQ(kora::s_int8().TypeName(), "s_int8");
    EXPECT_EQ(kora::s_uint16().TypeName(), "s_uint16");
    EXPECT_EQ(kora::s_int32().TypeName(), "s_int32");
    EXPECT_EQ(kora::s_uint64().TypeName(), "s_uint64");
    EXPECT_EQ(kora::s_bool().TypeName(), "s_bool");
    EXPECT_EQ(kora::s_uint32().Version(), 1u);
    EXPECT_EQ(kora::s_map_string_string().TypeName(), "s_map_string_string");
    EXPECT_EQ(kora::s_map_string_string().Version(), 1u);
}

TEST(Scalars, BoolReadsNonzeroAsTrue) {
    kora::s_bool b;
    kora::cSerializeBuffer in = Buffer({1, 0, 7});
    EXPECT_EQ(b.Deserialize(in), 1);
    EXPECT_TRUE(b);
}

TEST(Scalars, TextFormsByFormat) {
    struct {
        std::shared_ptr<kora::ISerialize> value;
        const char* format;
        const char* text;
    } const cases[] = {
        {std::make_shared<kora::s_uint8>(5), "", "5"},
        {std::make_shared<kora::s_uint8>(5), "02", "05"},
        {std::make_shared<kora::s_uint8>(123), "02", "123"},
        {std::make_shared<kora::s_uint32>(42), "08", "00000042"},
        {std::make_shared<kora::s_uint64>(1), "16", "0000000000000001"},
        {std::make_shared<kora::s_uint16>(7), "10", "0000000007"},
        {std::make_shared<kora::s_int32>(-42), "", "-42"},
        {std::make_shared<kora::s_int32>(-5), "04", "-005"},
        {std::make_shared<kora::s_int8>(-128), "", "-128"},
        {std::make_shared<kora::s_int64>(std::numeric_limits<int64_t>::min()), "",
         "-9223372036854775808"},
        {std::make_shared<kora::s_uint64>(std::numeric_limits<uint64_t>::max()), "",
         "18446744073709551615"},
        {std::make_shared<kora::s_uint8>(7), "hex", "0x07"},
        {std::make_shared<kora::s_uint8>(0xAB), "hex2", "AB"},
        {std::make_shared<kora::s_int8>(-1), "hex", "0xFF"},
        {std::make_shared<kora::s_int16>(-2), "hex2", "FFFE"},
        {std::make_shared<kora::s_uint16>(0xA), "hex", "0x000A"},
        {std::make_shared<kora::s_uint32>(0xABu), "hex", "0x000000AB"},
        {std::make_shared<kora::s_int32>(-1), "hex2", "FFFFFFFF"},
        {std::make_shared<kora::s_uint64>(std::numeric_limits<uint64_t>::max()), "hex2",
         "FFFFFFFFFFFFFFFF"},
        {std::make_shared<kora::s_int64>(0x1F), "hex", "0x000000000000001F"},
        {std::make_shared<kora::s_bool>(true), "", "true"},
        {std::make_shared<kora::s_bool>(false), "", "false"},
        {std::make_shared<kora::s_bool>(true), "hex", "true"},
        {std::make_shared<kora::s_string>("a b"), "", "a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value->ToString(c.format), c.text)
            << c.value->TypeName() << " format \"" << c.format << "\"";
}

TEST(Strings, AbsurdLengthPrefixFailsWithoutAllocating) {
    const uint32_t lengths[] = {0xFFFFFFFFu, 0x80000000u, 0x10000000u, 4};
    for (uint32_t len : lengths) {
        // Three payload bytes follow the prefix, so every length above 3 is a lie.
        Bytes wire = {1,
                      0,
                      static_cast<uint8_t>(len),
                      static_cast<uint8_t>(len >> 8),
                      static_cast<uint8_t>(len >> 16),
                      static_cast<uint8_t>(len >> 24),
                      'x',
                      'y',
                      'z'};
        kora::s_string s("kept");
        kora::cSerializeBuffer in = Buffer(wire);
        g_largestAlloc = 0;
        EXPECT_EQ(s.Deserialize(in), 0) << len;
        EXPECT_LT(g_largestAlloc.load(), 4096u) << len;
        EXPECT_EQ(s, "kept");
    }
    kora::s_string s;
    kora::cSerializeBuffer exact = Buffer({1, 0, 3, 0, 0, 0, 'x', 'y', 'z'});
    EXPECT_EQ(s.Deserialize(exact), 1);
    EXPECT_EQ(s, "xyz");
}

TEST(Strings, BinaryContentSurvives) {
    kora::s_string s(std::string("a\0b\xff", 4));
    kora::cSerializeBuffer b;
    s.Serialize(b);
    kora::s_string back;
    EXPECT_EQ(back.Deserialize(b), 1);
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.size(), 4u);
}

TEST(StringMap, BinaryFormIsGolden) {
    kora::s_map_string_string m;
    m.SetAt("b", "2");
    m.SetAt("a", "");
    const Bytes wire = Concat({{1, 0}, {1, 0, 2, 0}, Str("a"), Str(""), Str("b"), Str("2")});
    EXPECT_EQ(Wire(m), wire);
    EXPECT_EQ(Wire(kora::s_map_string_string()), Bytes({1, 0, 1, 0, 0, 0}));

    kora::s_map_string_string back;
    back.SetAt("stale", "x");
    kora::cSerializeBuffer in = Buffer(wire);
    EXPECT_EQ(back.Deserialize(in), 1);
    EXPECT_EQ(back, m);
    EXPECT_EQ(back.ToString(""), "{a=, b=2}");
}

TEST(StringMap, ReadClearsAndRepeatedKeyOverwrites) {
    const Bytes wire = Concat({{1, 0}, {1, 0, 2, 0}, Str("k"), Str("1"), Str("k"), Str("2")});
    kora::s_map_string_string m;
    m.SetAt("old", "x");
    kora::cSerializeBuffer in = Buffer(wire);
    EXPECT_EQ(m.Deserialize(in), 1);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m["k"], "2");

    kora::cSerializeBuffer empty = Buffer({1, 0, 1, 0, 0, 0});
    EXPECT_EQ(m.Deserialize(empty), 1);
    EXPECT_TRUE(m.empty());
}

TEST(StringMap, EveryTruncationFailsCleanly) {
    kora::s_map_string_string m;
    m.SetAt("key", "value");
    m.SetAt("other", "text");
    const Bytes wire = Wire(m);
    for (size_t len = 0; len < wire.size(); ++len) {
        kora::s_map_string_string back;
        back.SetAt("stale", "x");
        kora::cSerializeBuffer cut(wire.data(), len);
        EXPECT_EQ(back.Deserialize(cut), 0) << "length " << len;
        EXPECT_TRUE(back.empty()) << "length " << len;
    }
    // A count larger than the entries present fails as well.
    Bytes more = wire;
    more[4] = 3;
    kora::s_map_string_string back;
    kora::cSerializeBuffer in = Buffer(more);
    EXPECT_EQ(back.Deserialize(in), 0);
    EXPECT_TRUE(back.empty());
}

namespace {

// Dumps `root` as an XML document and parses it back; returns the new document.
xmlDocPtr ThroughText(xmlNode* root) {
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlDocSetRootElement(doc, root);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    xmlFreeDoc(doc);
    xmlDocPtr back = xmlReadMemory(reinterpret_cast<const char*>(text), size, "map.xml", nullptr,
                                   XML_PARSE_NONET);
    xmlFree(text);
    return back;
}

xmlDocPtr Parse(const std::string& text) {
    return xmlReadMemory(text.data(), static_cast<int>(text.size()), "map.xml", nullptr,
                         XML_PARSE_NONET);
}

}  // namespace

TEST(StringMap, XmlRoundTrip) {
    kora::s_map_string_string m;
    m.SetAt("plain", "value");
    m.SetAt("with space", "<a & \"b\" 'c'>");
    m.SetAt("empty", "");
    m.SetAt("", "empty key");
    m.SetAt("gr\xC3\xBC\xC3\x9F", "\xE2\x82\xAC 5");  // UTF-8 text
    m.SetAt("lines", "one\ntwo\ttab");

    xmlNode* root = nullptr;
    ASSERT_TRUE(m.Serialize(root, "settings"));
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "settings");
    xmlDocPtr doc = ThroughText(root);
    ASSERT_NE(doc, nullptr);

    kora::s_map_string_string back;
    back.SetAt("stale", "x");
    std::string error;
    xmlNode* node = xmlDocGetRootElement(doc);
    EXPECT_TRUE(back.Deserialize(node, error)) << error;
    EXPECT_EQ(back, m);
    xmlFreeDoc(doc);
}

TEST(StringMap, XmlAppendsToAGivenParent) {
    kora::s_map_string_string m;
    m.SetAt("k", "v");
    xmlNode* parent = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("parent"));
    xmlNode* node = parent;
    ASSERT_TRUE(m.Serialize(node, "map"));
    EXPECT_EQ(node, parent);
    ASSERT_NE(parent->children, nullptr);
    xmlNode* child = parent->children;
    kora::s_map_string_string back;
    std::string error;
    EXPECT_TRUE(back.Deserialize(child, error)) << error;
    EXPECT_EQ(back, m);
    xmlFreeNode(parent);
}

TEST(StringMap, BadXmlIsRefusedWithAReason) {
    struct {
        const char* xml;
        const char* error;  // a part of the expected error text
    } const cases[] = {
        {"<m><entry key='a'>1</entry><bogus/></m>", "bogus"},
        {"<m><entry>1</entry></m>", "key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        xmlDocPtr doc = Parse(c.xml);
        ASSERT_NE(doc, nullptr);
        kora::s_map_string_string m;
        m.SetAt("stale", "x");
        std::string error;
        xmlNode* node = xmlDocGetRootElement(doc);
        EXPECT_FALSE(m.Deserialize(node, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(m.empty());
        xmlFreeDoc(doc);
    }
    kora::s_map_string_string m;
    std::string error;
    xmlNode* none = nullptr;
    EXPECT_FALSE(m.Deserialize(none, error));
    EXPECT_FALSE(error.empty());
}

TEST(ISerialize, XmlFormIsOptional) {
    kora::s_uint8 v;
    xmlNode* node = nullptr;
    EXPECT_FALSE(v.Serialize(node, "v"));
    std::string error;
    EXPECT_FALSE(v.Deserialize(node, error));
    EXPECT_EQ(error, "Deserialize(xml) not implemented");
}

// ---- reference counting ----

namespace {

struct Mixin {
    virtual ~Mixin() = default;
    int tag = 7;
};

// A test object whose counted base is not the first base of the class, so the
// counted subobject does not start at the allocation's address.
class Mixed : public Mixin, public kora::ISerialize {
  public:
    bool Serialize(kora::cSerializeBuffer&) const override { return true; }
    int Deserialize(kora::cSerializeBuffer&) override { return 1; }
    std::string ToString(const std::string&) const override { return "Mixed"; }
};

struct Throws : kora::s_string {
    Throws() { throw std::runtime_error("no"); }
};

// A registered test record: version 2, one number, one text, one map.
class TestRecord : public kora::ISerialize {
  public:
    unsigned Version() const override { return 2; }
    std::string TypeName() const override { return "TestRecord"; }
    bool Serialize(kora::cSerializeBuffer& b) const override {
        SerializeVersion(b);
        return number.Serialize(b) && text.Serialize(b) && map.Serialize(b);
    }
    int Deserialize(kora::cSerializeBuffer& b) override {
        if (DeserializeVersion(b) != 2) return 0;
        return number.Deserialize(b) && text.Deserialize(b) && map.Deserialize(b) ? 2 : 0;
    }
    std::string ToString(const std::string&) const override {
        return kora::FormatString("TestRecord:Number:%u, Text:%s", unsigned(number), text.c_str());
    }
    kora::s_uint32 number;
    kora::s_string text;
    kora::s_map_string_string map;
};

kora::RegisterObject<TestRecord> r_TestRecord;

Bytes RecordWire() {
    TestRecord r;
    r.number = 42;
    r.text = "hello";
    r.map.SetAt("k", "v");
    kora::cSerializeBuffer b;
    EXPECT_TRUE(kora::cObjectFactory::Serialize(r, b));
    return Bytes(b.Data(), b.Data() + b.Size());
}

}  // namespace

TEST(GarbageCollectable, NewAndReleaseBalanceTheLiveCount) {
    const size_t start = kora::GC::LiveCount();
    kora::s_string* s = kora::New<kora::s_string>("x");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(kora::GC::LiveCount(), start + 1);
    EXPECT_EQ(s->GetRefCount(), 1);
    EXPECT_EQ(s->AddRef(), 2);
    {
        kora::s_string copy(*s);
        EXPECT_EQ(copy.GetRefCount(), 1);
        EXPECT_EQ(copy, "x");
        EXPECT_EQ(kora::GC::LiveCount(), start + 1);
    }
    EXPECT_EQ(s->Release(), 1);
    EXPECT_EQ(kora::GC::LiveCount(), start + 1);
    EXPECT_EQ(s->Release(), 0);
    EXPECT_EQ(kora::GC::LiveCount(), start);
}

TEST(GarbageCollectable, CountedBaseNeedNotComeFirst) {
    const size_t start = kora::GC::LiveCount();
    Mixed* m = kora::New<Mixed>();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(kora::GC::LiveCount(), start + 1);
    kora::ISerialize* asBase = m;
    EXPECT_EQ(asBase->Release(), 0);
    EXPECT_EQ(kora::GC::LiveCount(), start);
}

TEST(GarbageCollectable, FailedConstructionLeavesNothingBehind) {
    const size_t start = kora::GC::LiveCount();
    EXPECT_EQ(kora::New<Throws>(), nullptr);
    EXPECT_EQ(kora::GC::LiveCount(), start);
}

TEST(GarbageCollectable, RefHoldsOneReference) {
    const size_t start = kora::GC::LiveCount();
    kora::s_uint8* raw = kora::New<kora::s_uint8>(3);
    {
        kora::Ref<kora::s_uint8> a = kora::Ref<kora::s_uint8>::Adopt(raw);
        EXPECT_EQ(raw->GetRefCount(), 1);
        kora::Ref<kora::s_uint8> b = a;
        EXPECT_EQ(raw->GetRefCount(), 2);
        kora::Ref<kora::s_uint8> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(raw->GetRefCount(), 2);
        kora::Ref<kora::s_uint8> d = kora::Ref<kora::s_uint8>::Share(raw);
        EXPECT_EQ(raw->GetRefCount(), 3);
        d = kora::Ref<kora::s_uint8>();
        EXPECT_EQ(raw->GetRefCount(), 2);
        EXPECT_EQ(*c, 3);
        EXPECT_EQ(c->Value(), 3);
        EXPECT_EQ(c.get(), raw);
        kora::s_uint8* out = c.Detach();
        EXPECT_FALSE(c);
        EXPECT_EQ(out->GetRefCount(), 2);
        out->Release();
        kora::Ref<kora::s_uint8> none = kora::Ref<kora::s_uint8>::Share(nullptr);
        EXPECT_FALSE(none);
    }
    EXPECT_EQ(kora::GC::LiveCount(), start);
}

TEST(ISerialize, BaseDefaults) {
    Mixed m;
    EXPECT_EQ(m.Version(), 0u);
    EXPECT_EQ(m.TypeName(), "?");
    kora::cSerializeBuffer b;
    m.SerializeVersion(b);
    EXPECT_EQ(Bytes(b.Data(), b.Data() + b.Size()), Bytes({0, 0}));
    EXPECT_EQ(m.DeserializeVersion(b), 0u);
    kora::cSerializeBuffer seven = Buffer({7, 1});
    EXPECT_EQ(m.DeserializeVersion(seven), 0x107u);
}

// ---- object factory ----

TEST(ObjectFactory, CreatesRegisteredTypesOnly) {
    EXPECT_TRUE(kora::cObjectFactory::IsRegistered("TestRecord"));
    EXPECT_FALSE(kora::cObjectFactory::IsRegistered("NoSuchType"));
    const auto types = kora::cObjectFactory::RegisteredTypes();
    EXPECT_NE(std::find(types.begin(), types.end(), "TestRecord"), types.end());

    const size_t start = kora::GC::LiveCount();
    auto obj = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject("TestRecord"));
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->TypeName(), "TestRecord");
    EXPECT_EQ(obj->GetRefCount(), 1);
    EXPECT_EQ(kora::GC::LiveCount(), start + 1);
    EXPECT_EQ(kora::cObjectFactory::CreateObject("NoSuchType"), nullptr);
    EXPECT_EQ(kora::cObjectFactory::CreateObject(""), nullptr);
}

TEST(ObjectFactory, RoundTrip) {
    const Bytes wire = RecordWire();
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 16), Str("TestRecord"));
    kora::cSerializeBuffer in = Buffer(wire);
    auto back = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(in));
    ASSERT_TRUE(back);
    EXPECT_EQ(in.Remaining(), 0u);
    auto* r = dynamic_cast<TestRecord*>(back.get());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->number, 42u);
    EXPECT_EQ(r->text, "hello");
    EXPECT_EQ(r->map.size(), 1u);
    EXPECT_EQ(r->ToString(""), "TestRecord:Number:42, Text:hello");

    kora::cSerializeBuffer unknown = Buffer(Concat({Str("NoSuchType"), {1, 0}}));
    EXPECT_EQ(kora::cObjectFactory::Deserialize(unknown), nullptr);
}

TEST(ObjectFactory, DamagedBuffersGiveNullAndLeakNothing) {
    const Bytes wire = RecordWire();
    const size_t start = kora::GC::LiveCount();
    for (size_t len = 0; len < wire.size(); ++len) {
        kora::cSerializeBuffer cut(wire.data(), len);
        EXPECT_EQ(kora::cObjectFactory::Deserialize(cut), nullptr) << "length " << len;
    }
    Bytes otherVersion = wire;
    otherVersion[16] = 1;
    kora::cSerializeBuffer in = Buffer(otherVersion);
    EXPECT_EQ(kora::cObjectFactory::Deserialize(in), nullptr);
    EXPECT_EQ(kora::GC::LiveCount(), start);

    // Random bytes, alone and behind a valid type name, never crash or leak.
    std::mt19937 rng(1234);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes = round % 2 ? Str("TestRecord") : Bytes();
        size_t n = rng() % 64;
        for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(rng()));
        kora::cSerializeBuffer buf = Buffer(bytes);
        if (kora::ISerialize* obj = kora::cObjectFactory::Deserialize(buf)) obj->Release();
    }
    // Single-byte damage of the valid form.
    for (size_t i = 0; i < wire.size(); ++i) {
        Bytes damaged = wire;
        damaged[i] ^= 0xFF;
        kora::cSerializeBuffer buf = Buffer(damaged);
        if (kora::ISerialize* obj = kora::cObjectFactory::Deserialize(buf)) obj->Release();
    }
    EXPECT_EQ(kora::GC::LiveCount(), start);
}
