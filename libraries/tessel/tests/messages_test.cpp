// Protocol payloads: registration order, the stored form of every class with a
// value in every field and the irregular readers as token tables, text forms
// and the reference rules of the flag value. Round trips, cuts and
// damage of every class in its default form are in registry_test.cpp.
#include <gtest/gtest.h>

#include "tessel/tessel.h"
#include "wire.h"

using namespace tessel;
using testwire::BytesOf;
using testwire::Wire;

namespace {

using Obj = kora::Ref<kora::ISerialize>;

Obj Create(const std::string& name) {
    return Obj::Adopt(kora::cObjectFactory::CreateObject(name));
}

constexpr int64_t kFrom = 1700000000, kTo = 1700086400;

kora::cTime At(int64_t seconds) {
    kora::cTime t;
    t.FromSeconds(seconds);
    return t;
}

// A time as a token: version and microseconds.
Wire& Time(Wire& w, int64_t seconds) {
    return w.U64(static_cast<uint64_t>(seconds) * 1000000);
}

template <class T>
bool Is(const kora::ISerialize& obj) {
    return dynamic_cast<const T*>(&obj) != nullptr;
}

// The stored form of a payload with a value other than the default in every
// field, token by token: one per family of classes that share a layout.
std::string FilledForm(const kora::ISerialize& obj) {
    Wire w = Wire().Version(1);
    if (Is<cDBItemNewNameReq>(obj)) {
        w.Str("/Config/Network/").Str("Lan1").Str("Lan2");
    } else if (Is<ccDBReq>(obj) || Is<ccDumpReq>(obj)) {
        w.Str("/Config/System/DeviceManagement/SSH/SSHConfig");
    } else if (Is<ccDBResp>(obj)) {
        w.U8(0xfd);  // -3
    } else if (Is<cDBFileReq>(obj)) {
        w.Str("/tmp/export.json");
    } else if (Is<cDBFlagNameReq>(obj)) {
        w.Str("FirstBoot");
    } else if (Is<ccDBLogReadReq>(obj)) {
        Time(w, kFrom).Str("system").U8(3).U8(200).U64(0x0102030405060708ull);
    } else if (Is<ccDBLogExportReq>(obj)) {
        Time(Time(w, kFrom), kTo).U32(3).Str("system").Str("vpn").Str("wan").U8(2);
        w.Str("/tmp/log.txt");
    } else if (Is<ccDBConfigImportReq>(obj)) {
        w.Str("/tmp/config.json").Bool(true);
    } else if (Is<ccDBAddUserReq>(obj)) {
        w = Wire().Version(2).Str("alice").Str("s3cret").U8(2).U8(3).U8(255);
    } else if (Is<ccDBDeleteUserReq>(obj)) {
        w.Str("bob");
    } else if (Is<ccDBSetPasswordReq>(obj)) {
        w = Wire().Version(2).Str("alice").Str("n3w").U8(1);
    } else if (Is<ccDBAuthenticateUserReq>(obj)) {
        w.Str("alice").Str("s3cret");
    } else if (Is<ccDBAuthenticateUserResp>(obj)) {
        w.U8(1).U8(4);
    } else if (Is<ccDBSetFlagReq>(obj)) {
        w.Str("LastDump").Bool(true).Str("ccDBGetItemReq").Version(1).Str("/Status/Wan/");
    } else if (Is<ccDBFactoryConfigInfoResp>(obj)) {
        w.Str("RT-200").Str("2024-01-01");
    } else {
        return "";
    }
    return w.Bytes();
}

int Read(kora::ISerialize& obj, const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj.Deserialize(b);
}

Obj Filled(const std::string& name) {
    Obj obj = Create(name);
    EXPECT_EQ(Read(*obj, FilledForm(*obj)), int(obj->Version())) << name;
    return obj;
}

// Bytes of a set-flag request nesting `depth` further set-flag requests.
std::string NestedFlags(unsigned depth) {
    Wire w;
    for (unsigned i = 0; i < depth; ++i) w.Version(1).Str("n").Bool(true).Str("ccDBSetFlagReq");
    return w.Version(1).Str("n").Bool(false).Bytes();
}

}  // namespace

TEST(Messages, RegisteredInLoadOrder) {
    const char* order =
        "ccDumpReq ccDBGetItemReq ccDBSetItemResp ccDBDeleteItemReq ccDBDeleteItemResp "
        "ccDBDuplicateItemReq ccDBDuplicateItemResp ccDBRenameItemReq ccDBRenameItemResp "
        "ccDBRegCollectionReq ccDBDeRegCollectionReq ccDBRegCollectionResp "
        "ccDBDeRegCollectionResp ccDBSyncInit ccDBSyncEnd ccDBLogReadReq ccDBLogExportReq "
        "ccDBLogExportResp ccDBCreateRestorePointResp ccDBRestoreResp ccDBConfigImportReq "
        "ccDBConfigImportResp ccDBConfirmConfigurationResp ccDBFallbackConfigurationResp "
        "ccDBConfigExportReq ccDBConfigExportResp ccDBStatusExportReq ccDBStatusExportResp "
        "ccDBFactoryResetResp ccDBAddUserReq ccDBAddUserResp ccDBDeleteUserReq "
        "ccDBDeleteUserResp ccDBSetPasswordReq ccDBSetPasswordResp ccDBAuthenticateUserReq "
        "ccDBAuthenticateUserResp ccDBSetFlagReq ccDBSetFlagResp ccDBGetFlagReq "
        "ccDBDeleteFlagReq ccDBDeleteFlagResp ccDBFlagsExportReq ccDBFlagsExportResp "
        "ccDBSnapshotReq ccDBSnapshotResp ccDBFactoryConfigInfoResp";
    EXPECT_EQ(RegisteredMessageClasses(), kora::cHelper::GetStringTokens(order, " "));
    EXPECT_FALSE(kora::cObjectFactory::IsRegistered("ccDBReq"));
    EXPECT_FALSE(kora::cObjectFactory::IsRegistered("ccDBResp"));
}

// Every class reads its filled form, writes it back unchanged, and comes back
// from the factory with equal bytes and text. Every cut of the form is refused
// (except inside a flag value, which then reads as absent), and damage never
// reads out of bounds or leaks. No text form shows a password.
TEST(Messages, FilledFormOfEveryClass) {
    size_t live = kora::GC::LiveCount();
    for (const auto& name : RegisteredMessageClasses()) {
        Obj obj = Filled(name);
        const std::string bytes = FilledForm(*obj);
        EXPECT_EQ(BytesOf(*obj), bytes) << name;

        kora::cSerializeBuffer b;
        kora::cObjectFactory::Serialize(*obj, b);
        Obj back = Obj::Adopt(kora::cObjectFactory::Deserialize(b));
        ASSERT_TRUE(back) << name;
        EXPECT_EQ(b.Remaining(), 0u) << name;
        EXPECT_EQ(BytesOf(*back), bytes) << name;
        EXPECT_EQ(back->ToString(""), obj->ToString("")) << name;
        EXPECT_EQ(obj->ToString("").find("s3cret"), std::string::npos) << name;
        EXPECT_EQ(obj->ToString("").find("n3w"), std::string::npos) << name;

        for (size_t len = 0; len < bytes.size() && name != "ccDBSetFlagReq"; ++len)
            EXPECT_EQ(Read(*Create(name), bytes.substr(0, len)), 0) << name << " cut at " << len;
        for (size_t i = 0; i < bytes.size(); ++i) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(damaged[i] ^ 0xff);
            Read(*Create(name), damaged);
        }
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);

    // The inherited path of a rename is neither written nor read.
    ccDBRenameItemReq rename;
    EXPECT_EQ(Read(rename, FilledForm(rename)), 1);
    rename.Path = "/never/sent";
    EXPECT_EQ(BytesOf(rename), FilledForm(rename));
    ccDBRenameItemReq back;
    EXPECT_EQ(Read(back, FilledForm(back)), 1);
    EXPECT_EQ(back.Path, "");
    EXPECT_EQ(back.NewName, "Lan2");
}

// What the readers make of other versions and of lenient scalars: the version
// they return, and the object's form written back afterwards (empty: not
// looked at). Objects start filled, so a field left as it was would show.
TEST(Messages, ReadLayouts) {
    auto logRead = [](Wire tail) {
        Wire w = Wire().Version(1);
        std::string t = tail.Bytes();
        return Time(w, 5).Str("wan").Raw(t.data(), unsigned(t.size()));
    };
    auto logExport = [](Wire tail) {
        Wire w = Wire().Version(1);
        std::string t = tail.Bytes();
        return Time(Time(w, kFrom), kTo).Raw(t.data(), unsigned(t.size()));
    };
    const std::string five("\x05", 1);
    const struct {
        const char* name;
        Wire in;
        int version;
        Wire out;
    } rows[] = {
        // Bases: the field is emptied before the version is checked.
        {"ccDBGetItemReq", Wire().Version(0).Str("/new/"), 0, Wire().Version(1).Str("")},
        {"ccDBGetItemReq", Wire().Version(2).Str("/new/"), 0, Wire().Version(1).Str("")},
        {"ccDBGetItemReq", Wire().Version(0xffff).Str("/new/"), 0, Wire().Version(1).Str("")},
        {"ccDBSetItemResp", Wire().Version(2).U8(1), 0, Wire().Version(1).U8(0)},
        {"ccDumpReq", Wire().Version(2).Str("/x"), 0, Wire().Version(1).Str("")},
        // Version 1 of an add-user request has no further values; its level is
        // skipped when the scalar has another version.
        {"ccDBAddUserReq", Wire().Version(1).Str("u").Str("p").U8(2), 1,
         Wire().Version(2).Str("u").Str("p").U8(2).U8(0).U8(0)},
        {"ccDBAddUserReq", Wire().Version(1).Str("u").Str("p").Version(2).Raw(five.data(), 1), 1,
         Wire().Version(2).Str("u").Str("p").U8(0).U8(0).U8(0)},
        {"ccDBAddUserReq",
         Wire().Version(2).Str("u").Str("p").Version(2).Raw(five.data(), 1).U8(1).U8(1),
         0,
         {}},
        {"ccDBAddUserReq", Wire().Version(1).Str("u").Str("p"), 0, {}},
        {"ccDBAddUserReq", Wire().Version(3).Str("u").Str("p").U8(2).U8(1).U8(7), 0, {}},
        {"ccDBSetPasswordReq", Wire().Version(1).Str("alice").Str("pw"), 1,
         Wire().Version(2).Str("alice").Str("pw").U8(0)},
        {"ccDBSetPasswordReq", Wire().Version(3).Str("alice").Str("pw").U8(1), 0, {}},
        // A lenient scalar of another version keeps its default; the ones after it still read.
        {"ccDBLogReadReq", logRead(Wire().Version(2).U8(9).U64(77)), 1,
         logRead(Wire().U8(0).U8(9).U64(77))},
        {"ccDBLogReadReq", logRead(Wire().U8(3).Version(7).U64(77)), 1,
         logRead(Wire().U8(3).U8(0).U64(77))},
        {"ccDBLogReadReq", logRead(Wire().U8(3).U8(9).Version(0)), 1,
         logRead(Wire().U8(3).U8(9).U64(0))},
        {"ccDBLogReadReq", logRead(Wire().U8(3).Version(1)), 0, {}},  // a version without value
        {"ccDBConfigImportReq", Wire().Version(1).Str("/f").Version(2), 1,
         Wire().Version(1).Str("/f").Bool(false)},
        {"ccDBAuthenticateUserResp", Wire().Version(1).Version(2).U8(5), 1,
         Wire().Version(1).U8(0).U8(5)},
        // A repeated unit name is kept once; an absurd count fails before reading entries.
        {"ccDBLogExportReq", logExport(Wire().U32(2).Str("wan").Str("wan").U8(1).Str("/f")), 1,
         logExport(Wire().U32(1).Str("wan").U8(1).Str("/f"))},
        {"ccDBLogExportReq", logExport(Wire().U32(0xffffffffu).Str("wan")), 0, {}},
        // A flag without value, or with a value of an unknown class, reads as absent.
        {"ccDBSetFlagReq", Wire().Version(1).Str("f").Bool(false), 1,
         Wire().Version(1).Str("f").Bool(false)},
        {"ccDBSetFlagReq", Wire().Version(1).Str("g").Bool(true).Str("cNoSuchClass").Version(1), 1,
         Wire().Version(1).Str("g").Bool(false)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Obj obj = Filled(r.name);
        EXPECT_EQ(Read(*obj, r.in.Bytes()), r.version);
        if (!r.out.Bytes().empty()) {
            EXPECT_EQ(BytesOf(*obj), r.out.Bytes());
        }
    }
}

TEST(Messages, TextForms) {
    const std::string from = At(kFrom).ToISO8601String(), to = At(kTo).ToISO8601String();
    const std::string epoch = kora::cTime().ToISO8601String();
    const std::pair<const char*, std::string> rows[] = {
        {"ccDBGetItemReq", "ccDBGetItemReq:Path:/Config/System/DeviceManagement/SSH/SSHConfig"},
        {"ccDBSetItemResp", "ccDBSetItemResp:Result:-3"},
        {"ccDBRenameItemReq", "ccDBRenameItemReq:"},
        {"ccDBLogReadReq", "ccDBLogReadReq:From:" + from + ", Level:3, Count:200"},
        {"ccDBLogExportReq", "ccDBLogExportReq:From:" + from + ", To:" + to + ", Level:2,"},
        {"ccDBConfigImportReq", "ccDBConfigImportReq:Filepath:/tmp/config.json, UseFallback:true"},
        {"ccDBAddUserReq", "ccDBAddUserReq:Username:alice, AccessLevel:2"},
        {"ccDBSetPasswordReq", "ccDBSetPasswordReq:Username:alice"},
        {"ccDBAuthenticateUserReq", "ccDBAuthenticateUserReq:Username:alice"},
        {"ccDBSetFlagReq", "ccDBSetFlagReq:Name:LastDump"},
        {"ccDBFactoryConfigInfoResp", "ccDBFactoryConfigInfoResp:"},
    };
    for (const auto& r : rows) EXPECT_EQ(Filled(r.first)->ToString(""), r.second);
    EXPECT_EQ(ccDBLogExportReq().ToString("hex"),
              "ccDBLogExportReq:From:" + epoch + ", To:" + epoch + ", Level:0,");
    EXPECT_EQ(ccDBConfigImportReq().ToString(""),
              "ccDBConfigImportReq:Filepath:, UseFallback:false");
    EXPECT_EQ(ccDBResp().ToString(""), "ccDBResp:Result:0");
    EXPECT_EQ(ccDBReq().ToString(""), "ccDBReq:Path:");
}

TEST(Messages, FlagValueReferences) {
    size_t live = kora::GC::LiveCount();
    {
        ccDBSetFlagReq req;
        auto* first = kora::New<ccDBGetItemReq>();
        req.SetSObject(first);
        EXPECT_EQ(first->GetRefCount(), 2);
        first->Release();       // the request's reference keeps it alive
        req.SetSObject(first);  // the same object stays held and alive
        EXPECT_EQ(first->GetRefCount(), 1);
        EXPECT_EQ(req.GetSObject(), first);

        auto* second = kora::New<ccDBGetItemReq>();
        req.SetSObject(second);  // the first is released exactly once
        EXPECT_EQ(kora::GC::LiveCount(), live + 1);
        EXPECT_EQ(second->GetRefCount(), 2);
        second->Release();
        {
            ccDBSetFlagReq copy = req;  // a copy shares the value
            EXPECT_EQ(copy.GetSObject(), second);
            EXPECT_EQ(second->GetRefCount(), 2);
        }
        // Reading a form without value drops the held one, and so does null.
        EXPECT_EQ(Read(req, Wire().Version(1).Str("f").Bool(false).Bytes()), 1);
        EXPECT_EQ(kora::GC::LiveCount(), live);
        req.SetSObject(kora::Ref<ccDBResp>::Adopt(kora::New<ccDBSetItemResp>()).get());
        req.SetSObject(nullptr);
        EXPECT_EQ(kora::GC::LiveCount(), live);
        req.SetSObject(kora::Ref<ccDBResp>::Adopt(kora::New<ccDBSetItemResp>()).get());
    }  // the destructor releases the value
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// Values nested without end are cut off instead of exhausting the stack.
TEST(Messages, DeeplyNestedFlagValues) {
    size_t live = kora::GC::LiveCount();
    {
        ccDBSetFlagReq shallow, deep;
        EXPECT_NE(Read(shallow, NestedFlags(3)), 0);
        EXPECT_EQ(Read(deep, NestedFlags(100000)), 1);
        unsigned depth = 0;
        for (auto* v = deep.GetSObject(); v; ++depth)
            v = dynamic_cast<ccDBSetFlagReq&>(*v).GetSObject();
        EXPECT_LT(depth, 100u);
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}
