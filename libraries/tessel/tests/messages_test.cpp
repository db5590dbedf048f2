// Protocol payloads: registration, round trips with values in every field,
// damaged input, the irregular readers as golden layouts, text forms and the
// reference rules of the flag value.
#include <gtest/gtest.h>

#include <functional>
#include <random>

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

kora::cTime At(int64_t seconds) {
    kora::cTime t;
    t.FromSeconds(seconds);
    return t;
}

std::string TimeBytes(int64_t seconds) {
    return BytesOf(At(seconds));
}

// Puts a value other than the default into every field of a payload.
void Fill(kora::ISerialize& obj) {
    if (auto* p = dynamic_cast<cDBItemNewNameReq*>(&obj)) {
        p->Directory = "/Config/Network/";
        p->Name = "Lan1";
        p->NewName = "Lan2";
    } else if (auto* p = dynamic_cast<ccDBReq*>(&obj)) {
        p->Path = "/Config/System/DeviceManagement/SSH/SSHConfig";
    } else if (auto* p = dynamic_cast<ccDBResp*>(&obj)) {
        p->Result = -3;
    } else if (auto* p = dynamic_cast<ccDumpReq*>(&obj)) {
        p->Path = "/tmp/dump";
    } else if (auto* p = dynamic_cast<cDBFileReq*>(&obj)) {
        p->Filepath = "/tmp/export.json";
    } else if (auto* p = dynamic_cast<cDBFlagNameReq*>(&obj)) {
        p->Name = "FirstBoot";
    } else if (auto* p = dynamic_cast<ccDBLogReadReq*>(&obj)) {
        p->From = At(1700000000);
        p->Unit = "system";
        p->Level = 3;
        p->Count = 200;
        p->Status = 0x0102030405060708ull;
    } else if (auto* p = dynamic_cast<ccDBLogExportReq*>(&obj)) {
        p->From = At(1700000000);
        p->To = At(1700086400);
        p->Units = {"wan", "system", "vpn"};
        p->Level = 2;
        p->Filepath = "/tmp/log.txt";
    } else if (auto* p = dynamic_cast<ccDBConfigImportReq*>(&obj)) {
        p->Filepath = "/tmp/config.json";
        p->UseFallback = true;
    } else if (auto* p = dynamic_cast<ccDBAddUserReq*>(&obj)) {
        p->Username = "alice";
        p->Password = "s3cret";
        p->AccessLevel = 2;
        p->Extra1 = 3;
        p->Extra2 = 255;
    } else if (auto* p = dynamic_cast<ccDBDeleteUserReq*>(&obj)) {
        p->Username = "bob";
    } else if (auto* p = dynamic_cast<ccDBSetPasswordReq*>(&obj)) {
        p->Username = "alice";
        p->Password = "n3w";
        p->Extra = 1;
    } else if (auto* p = dynamic_cast<ccDBAuthenticateUserReq*>(&obj)) {
        p->Username = "alice";
        p->Password = "s3cret";
    } else if (auto* p = dynamic_cast<ccDBAuthenticateUserResp*>(&obj)) {
        p->Result = 1;
        p->AccessLevel = 4;
    } else if (auto* p = dynamic_cast<ccDBSetFlagReq*>(&obj)) {
        p->Name = "LastDump";
        auto value = kora::Ref<ccDBGetItemReq>::Adopt(kora::New<ccDBGetItemReq>());
        value->Path = "/Status/Wan/";
        p->SetSObject(value.get());
    } else if (auto* p = dynamic_cast<ccDBFactoryConfigInfoResp*>(&obj)) {
        p->First = "RT-200";
        p->Second = "2024-01-01";
    }
}

// Reads `bytes` into a fresh object of `name`; the version read, or 0.
int ReadAs(const std::string& name, const std::string& bytes) {
    Obj obj = Create(name);
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj->Deserialize(b);
}

template <class T>
int Read(T& obj, const Wire& wire) {
    kora::cSerializeBuffer b = wire.Buffer();
    return obj.Deserialize(b);
}

// Bytes of a set-flag request nesting `depth` further set-flag requests.
std::string NestedFlags(unsigned depth) {
    Wire w;
    for (unsigned i = 0; i < depth; ++i) w.Version(1).Str("n").Bool(true).Str("ccDBSetFlagReq");
    w.Version(1).Str("n").Bool(false);
    return w.Bytes();
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

// Every class, with a value in every field, comes back with equal bytes and text.
TEST(Messages, FilledRoundTripOfEveryClass) {
    size_t live = kora::GC::LiveCount();
    for (const auto& name : RegisteredMessageClasses()) {
        Obj obj = Create(name);
        ASSERT_TRUE(obj) << name;
        std::string defaults = BytesOf(*obj);
        Fill(*obj);
        std::string bytes = BytesOf(*obj);
        EXPECT_NE(bytes, defaults) << name << " has no filled field";

        kora::cSerializeBuffer b;
        kora::cObjectFactory::Serialize(*obj, b);
        Obj back = Obj::Adopt(kora::cObjectFactory::Deserialize(b));
        ASSERT_TRUE(back) << name;
        EXPECT_EQ(b.Remaining(), 0u) << name;
        EXPECT_EQ(BytesOf(*back), bytes) << name;
        EXPECT_EQ(back->ToString(""), obj->ToString("")) << name;
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// Cut and damaged forms of filled payloads fail or succeed, never read out of
// bounds or leak. A cut form fails, except inside a flag value, which then
// reads as absent.
TEST(Messages, DamagedFilledFormsFailCleanly) {
    size_t live = kora::GC::LiveCount();
    std::mt19937 rng(23);
    for (const auto& name : RegisteredMessageClasses()) {
        Obj obj = Create(name);
        Fill(*obj);
        std::string bytes = BytesOf(*obj);
        for (size_t len = 0; len < bytes.size(); ++len) {
            int version = ReadAs(name, bytes.substr(0, len));
            if (name != "ccDBSetFlagReq") {
                EXPECT_EQ(version, 0) << name << " cut at " << len;
            }
        }
        for (size_t i = 0; i < bytes.size(); ++i) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(rng());
            ReadAs(name, damaged);
        }
        for (int round = 0; round < 30; ++round) {
            std::string noise(rng() % 48, '\0');
            for (auto& c : noise) c = static_cast<char>(rng());
            ReadAs(name, noise);
            ReadAs(name, bytes.substr(0, 2) + noise);
        }
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

TEST(Messages, BaseEdgeCases) {
    ccDBResp resp;
    resp.Result = 1;
    EXPECT_EQ(Read(resp, Wire().Version(2).U8(1)), 0);
    EXPECT_EQ(resp.Result, 0);

    for (uint16_t version : {0, 2, 0xffff}) {
        ccDBReq req;
        req.Path = "/old/";
        EXPECT_EQ(Read(req, Wire().Version(version).Str("/new/")), 0) << version;
        EXPECT_EQ(req.Path, "") << version;
    }

    ccDBReq req;
    EXPECT_EQ(Read(req, Wire().Version(1).Str("/Config/")), 1);
    EXPECT_EQ(req.Path, "/Config/");
    EXPECT_EQ(BytesOf(req), Wire().Version(1).Str("/Config/").Bytes());
}

// Stored layouts, token by token, and what each reads as.
TEST(Messages, AddUserLayouts) {
    ccDBAddUserReq req;
    Fill(req);
    EXPECT_EQ(BytesOf(req),
              Wire().Version(2).Str("alice").Str("s3cret").U8(2).U8(3).U8(255).Bytes());

    struct Case {
        const char* what;
        Wire wire;
        int version;
        unsigned accessLevel, extra1, extra2;
    };
    const Case cases[] = {
        {"v2", Wire().Version(2).Str("u").Str("p").U8(2).U8(1).U8(7), 2, 2, 1, 7},
        {"v1", Wire().Version(1).Str("u").Str("p").U8(2), 1, 2, 0, 0},
        {"v1, level of scalar version 2 is skipped",
         Wire().Version(1).Str("u").Str("p").Version(2).Raw("\x05", 1), 1, 0, 0, 0},
        {"v2, level of scalar version 2 fails",
         Wire().Version(2).Str("u").Str("p").Version(2).Raw("\x05", 1).U8(1).U8(1), 0, 0, 0, 0},
        {"v1 without level", Wire().Version(1).Str("u").Str("p"), 0, 0, 0, 0},
        {"v2 without extras", Wire().Version(2).Str("u").Str("p").U8(2), 0, 2, 0, 0},
        {"v3", Wire().Version(3).Str("u").Str("p").U8(2).U8(1).U8(7), 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ccDBAddUserReq r;
        Fill(r);
        EXPECT_EQ(Read(r, c.wire), c.version) << c.what;
        EXPECT_EQ(unsigned(r.AccessLevel), c.accessLevel) << c.what;
        EXPECT_EQ(unsigned(r.Extra1), c.extra1) << c.what;
        EXPECT_EQ(unsigned(r.Extra2), c.extra2) << c.what;
    }
}

TEST(Messages, SetPasswordLayouts) {
    ccDBSetPasswordReq req;
    Fill(req);
    EXPECT_EQ(BytesOf(req), Wire().Version(2).Str("alice").Str("n3w").U8(1).Bytes());
    ccDBSetPasswordReq r;
    EXPECT_EQ(Read(r, Wire().Version(1).Str("alice").Str("pw")), 1);
    EXPECT_EQ(r.Password, "pw");
    EXPECT_EQ(r.Extra, 0);
    EXPECT_EQ(Read(r, Wire().Version(3).Str("alice").Str("pw").U8(1)), 0);
    EXPECT_EQ(r.Username, "");
}

// Each lenient scalar of another version keeps its default; the ones after it still read.
TEST(Messages, LogReadScalarsOfAnotherVersion) {
    std::string from = TimeBytes(1700000000);
    struct Case {
        const char* what;
        Wire tail;
        unsigned level, count;
        uint64_t status;
    };
    const Case cases[] = {
        {"all version 1", Wire().U8(3).U8(9).U64(77), 3, 9, 77},
        {"level", Wire().Version(2).U8(9).U64(77), 0, 9, 77},
        {"count", Wire().U8(3).Version(7).U64(77), 3, 0, 77},
        {"status", Wire().U8(3).U8(9).Version(0), 3, 9, 0},
        {"all", Wire().Version(2).Version(2).Version(2), 0, 0, 0},
    };
    for (const auto& c : cases) {
        ccDBLogReadReq req;
        Fill(req);
        Wire w = Wire().Version(1).Raw(from.data(), from.size()).Str("wan");
        std::string tail = c.tail.Bytes();
        w.Raw(tail.data(), tail.size());
        EXPECT_EQ(Read(req, w), 1) << c.what;
        EXPECT_EQ(req.From, At(1700000000)) << c.what;
        EXPECT_EQ(req.Unit, "wan") << c.what;
        EXPECT_EQ(unsigned(req.Level), c.level) << c.what;
        EXPECT_EQ(unsigned(req.Count), c.count) << c.what;
        EXPECT_EQ(uint64_t(req.Status), c.status) << c.what;
    }
    ccDBLogReadReq req;
    Wire cut = Wire().Version(1).Raw(from.data(), from.size()).Str("wan").U8(3).Version(1);
    EXPECT_EQ(Read(req, cut), 0) << "a version record without its value byte";
}

TEST(Messages, OtherLenientReaders) {
    ccDBConfigImportReq import;
    EXPECT_EQ(Read(import, Wire().Version(1).Str("/f").Version(2)), 1);
    EXPECT_EQ(import.Filepath, "/f");
    EXPECT_FALSE(import.UseFallback);
    EXPECT_EQ(Read(import, Wire().Version(1).Str("/f").Bool(true)), 1);
    EXPECT_TRUE(import.UseFallback);

    ccDBAuthenticateUserResp auth;
    EXPECT_EQ(Read(auth, Wire().Version(1).Version(2).U8(5)), 1);
    EXPECT_EQ(auth.Result, 0);
    EXPECT_EQ(auth.AccessLevel, 5);
    EXPECT_EQ(Read(auth, Wire().Version(1).U8(0xff).U8(2)), 1);
    EXPECT_EQ(auth.Result, -1);
}

TEST(Messages, ItemNameRequestsLeavePathOut) {
    ccDBRenameItemReq req;
    Fill(req);
    req.Path = "/never/sent";
    EXPECT_EQ(BytesOf(req),
              Wire().Version(1).Str("/Config/Network/").Str("Lan1").Str("Lan2").Bytes());
    ccDBRenameItemReq back;
    kora::cSerializeBuffer b;
    req.Serialize(b);
    EXPECT_EQ(back.Deserialize(b), 1);
    EXPECT_EQ(back.Path, "");
    EXPECT_EQ(back.Directory, "/Config/Network/");
    EXPECT_EQ(back.Name, "Lan1");
    EXPECT_EQ(back.NewName, "Lan2");
}

TEST(Messages, DumpRequestLayout) {
    ccDumpReq req;
    Fill(req);
    EXPECT_EQ(BytesOf(req), Wire().Version(1).Str("/tmp/dump").Bytes());
    EXPECT_EQ(Read(req, Wire().Version(2).Str("/x")), 0);
    EXPECT_EQ(req.Path, "");
}

TEST(Messages, LogExportUnits) {
    ccDBLogExportReq req;
    Fill(req);
    std::string from = TimeBytes(1700000000), to = TimeBytes(1700086400);
    Wire expected = Wire().Version(1).Raw(from.data(), from.size()).Raw(to.data(), to.size());
    expected.U32(3).Str("system").Str("vpn").Str("wan").U8(2).Str("/tmp/log.txt");
    EXPECT_EQ(BytesOf(req), expected.Bytes());

    // A repeated name is kept once; an absurd count fails before reading entries.
    ccDBLogExportReq r;
    Wire twice = Wire().Version(1).Raw(from.data(), from.size()).Raw(to.data(), to.size());
    twice.U32(2).Str("wan").Str("wan").U8(1).Str("/f");
    EXPECT_EQ(Read(r, twice), 1);
    EXPECT_EQ(r.Units, cNameSet({"wan"}));
    Wire absurd = Wire().Version(1).Raw(from.data(), from.size()).Raw(to.data(), to.size());
    absurd.U32(0xffffffffu).Str("wan");
    EXPECT_EQ(Read(r, absurd), 0);
    EXPECT_TRUE(r.Units.empty());
}

TEST(Messages, TextForms) {
    ccDBLogReadReq logRead;
    Fill(logRead);
    ccDBLogExportReq logExport;
    Fill(logExport);
    ccDBLogExportReq emptyExport;
    std::string from = At(1700000000).ToISO8601String(), to = At(1700086400).ToISO8601String();
    std::string epoch = kora::cTime().ToISO8601String();

    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"ccDumpReq", "ccDumpReq:Path:/tmp/dump"},
        {"ccDBGetItemReq", "ccDBGetItemReq:Path:/Config/System/DeviceManagement/SSH/SSHConfig"},
        {"ccDBSyncEnd", "ccDBSyncEnd:Path:/Config/System/DeviceManagement/SSH/SSHConfig"},
        {"ccDBSetItemResp", "ccDBSetItemResp:Result:-3"},
        {"ccDBSnapshotResp", "ccDBSnapshotResp:Result:-3"},
        {"ccDBDuplicateItemReq", "ccDBDuplicateItemReq:"},
        {"ccDBRenameItemReq", "ccDBRenameItemReq:"},
        {"ccDBLogReadReq", "ccDBLogReadReq:From:" + from + ", Level:3, Count:200"},
        {"ccDBLogExportReq", "ccDBLogExportReq:From:" + from + ", To:" + to + ", Level:2,"},
        {"ccDBConfigImportReq", "ccDBConfigImportReq:Filepath:/tmp/config.json, UseFallback:true"},
        {"ccDBConfigExportReq", "ccDBConfigExportReq:Filepath:/tmp/export.json"},
        {"ccDBFlagsExportReq", "ccDBFlagsExportReq:Filepath:/tmp/export.json"},
        {"ccDBAddUserReq", "ccDBAddUserReq:Username:alice, AccessLevel:2"},
        {"ccDBDeleteUserReq", "ccDBDeleteUserReq:Username:bob"},
        {"ccDBSetPasswordReq", "ccDBSetPasswordReq:Username:alice"},
        {"ccDBAuthenticateUserReq", "ccDBAuthenticateUserReq:Username:alice"},
        {"ccDBAuthenticateUserResp", "ccDBAuthenticateUserResp:Result:1"},
        {"ccDBSetFlagReq", "ccDBSetFlagReq:Name:LastDump"},
        {"ccDBGetFlagReq", "ccDBGetFlagReq:Name:FirstBoot"},
        {"ccDBFactoryConfigInfoResp", "ccDBFactoryConfigInfoResp:"},
    };
    for (const auto& c : cases) {
        Obj obj = Create(c.name);
        ASSERT_TRUE(obj) << c.name;
        Fill(*obj);
        EXPECT_EQ(obj->ToString(""), c.text);
    }
    EXPECT_EQ(emptyExport.ToString("hex"),
              "ccDBLogExportReq:From:" + epoch + ", To:" + epoch + ", Level:0,");
    EXPECT_EQ(ccDBResp().ToString(""), "ccDBResp:Result:0");
    EXPECT_EQ(ccDBReq().ToString(""), "ccDBReq:Path:");
    ccDBConfigImportReq noFallback;
    EXPECT_EQ(noFallback.ToString(""), "ccDBConfigImportReq:Filepath:, UseFallback:false");

    // No text form of any class shows a password.
    for (const auto& name : RegisteredMessageClasses()) {
        Obj obj = Create(name);
        Fill(*obj);
        std::string text = obj->ToString("");
        EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
        EXPECT_EQ(text.find("n3w"), std::string::npos) << text;
    }
}

TEST(Messages, FlagValueReferences) {
    size_t live = kora::GC::LiveCount();
    {
        ccDBSetFlagReq req;
        auto* first = kora::New<ccDBGetItemReq>();
        req.SetSObject(first);
        EXPECT_EQ(first->GetRefCount(), 2);
        first->Release();  // the request's reference keeps it alive
        EXPECT_EQ(kora::GC::LiveCount(), live + 1);

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
        EXPECT_EQ(second->GetRefCount(), 1);

        // Reading a form without value drops the held one.
        EXPECT_EQ(Read(req, Wire().Version(1).Str("f").Bool(false)), 1);
        EXPECT_EQ(req.GetSObject(), nullptr);
        EXPECT_EQ(kora::GC::LiveCount(), live);

        req.SetSObject(kora::Ref<ccDBResp>::Adopt(kora::New<ccDBSetItemResp>()).get());
        EXPECT_EQ(kora::GC::LiveCount(), live + 1);
        req.SetSObject(nullptr);
        EXPECT_EQ(kora::GC::LiveCount(), live);

        req.SetSObject(kora::Ref<ccDBResp>::Adopt(kora::New<ccDBSetItemResp>()).get());
    }  // the destructor releases the value
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

TEST(Messages, FlagValueLayouts) {
    size_t live = kora::GC::LiveCount();
    {
        ccDBSetFlagReq none;
        none.Name = "f";
        EXPECT_EQ(BytesOf(none), Wire().Version(1).Str("f").Bool(false).Bytes());

        ccDBSetFlagReq req;
        Fill(req);
        Wire withValue = Wire().Version(1).Str("LastDump").Bool(true);
        withValue.Str("ccDBGetItemReq").Version(1).Str("/Status/Wan/");
        EXPECT_EQ(BytesOf(req), withValue.Bytes());

        ccDBSetFlagReq back;
        EXPECT_EQ(Read(back, withValue), 1);
        auto* value = dynamic_cast<ccDBGetItemReq*>(back.GetSObject());
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->Path, "/Status/Wan/");
        EXPECT_EQ(value->GetRefCount(), 1);

        Wire unknown = Wire().Version(1).Str("g").Bool(true).Str("cNoSuchClass").Version(1);
        EXPECT_EQ(Read(back, unknown), 1);
        EXPECT_EQ(back.Name, "g");
        EXPECT_EQ(back.GetSObject(), nullptr);

        // Values nested without end are cut off instead of exhausting the stack.
        EXPECT_NE(ReadAs("ccDBSetFlagReq", NestedFlags(3)), 0);
        {
            ccDBSetFlagReq deep;
            std::string bytes = NestedFlags(100000);
            kora::cSerializeBuffer b(bytes.data(), bytes.size());
            EXPECT_EQ(deep.Deserialize(b), 1);
            unsigned depth = 0;
            for (auto* v = deep.GetSObject(); v; ++depth)
                v = dynamic_cast<ccDBSetFlagReq&>(*v).GetSObject();
            EXPECT_LT(depth, 100u);
        }
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}
