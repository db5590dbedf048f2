// Protocol payloads: registration order, the irregular readers, text forms and
// the flag value's references. Bytes, round trips and damage: golden and registry tests.
#include <gtest/gtest.h>

#include "golden_sample.h"
#include "wire.h"

using namespace tessel;
using testwire::BytesOf;
using testwire::ReadInto;
using testwire::W;
using testwire::Wire;

namespace {

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

// Other versions and lenient scalars: the version a golden sample's reader
// returns, and its form written back afterwards (empty: not looked at).
TEST(Messages, ReadLayouts) {
    const std::string logRead = "v1 t:5 s:wan ";
    const std::string logExport = "v1 t:1700000000 t:1700086400 ";
    const struct {
        const char* name;
        std::string in;
        int version;
        std::string out;
    } rows[] = {
        // Bases: the field is emptied before the version is checked.
        {"ccDBGetItemReq", "v0 s:/new/", 0, "v1 s:"},
        {"ccDBGetItemReq", "v2 s:/new/", 0, "v1 s:"},
        {"ccDBSetItemResp", "v2 u8:1", 0, "v1 u8:0"},
        {"ccDumpReq", "v2 s:/x", 0, "v1 s:"},
        // Add-user version 1 ends after the level, skipped when of another version.
        {"ccDBAddUserReq", "v1 s:u s:p u8:2", 1, "v2 s:u s:p u8:2 u8:0 u8:0"},
        {"ccDBAddUserReq", "v1 s:u s:p v2 x:05", 1, "v2 s:u s:p u8:0 u8:0 u8:0"},
        {"ccDBAddUserReq", "v2 s:u s:p v2 x:05 u8:1 u8:1", 0, ""},
        {"ccDBAddUserReq", "v1 s:u s:p", 0, ""},
        {"ccDBAddUserReq", "v3 s:u s:p u8:2 u8:1 u8:7", 0, ""},
        {"ccDBSetPasswordReq", "v1 s:alice s:pw", 1, "v2 s:alice s:pw u8:0"},
        {"ccDBSetPasswordReq", "v3 s:alice s:pw u8:1", 0, ""},
        // A lenient scalar of another version keeps its default; the ones after it still read.
        {"ccDBLogReadReq", logRead + ("v2 u8:9 u64:77"), 1, logRead + ("u8:0 u8:9 u64:77")},
        {"ccDBLogReadReq", logRead + ("u8:3 v7 u64:77"), 1, logRead + ("u8:3 u8:0 u64:77")},
        {"ccDBLogReadReq", logRead + ("u8:3 u8:9 v0"), 1, logRead + ("u8:3 u8:9 u64:0")},
        {"ccDBLogReadReq", logRead + ("u8:3 v1"), 0, ""},  // a version without value
        {"ccDBConfigImportReq", "v1 s:/f v2", 1, "v1 s:/f b0"},
        {"ccDBAuthenticateUserResp", "v1 v2 u8:5", 1, "v1 u8:0 u8:5"},
        // A repeated unit name is kept once; an absurd count fails before reading entries.
        {"ccDBLogExportReq", logExport + ("u32:2 s:wan s:wan u8:1 s:/f"), 1,
         logExport + ("u32:1 s:wan u8:1 s:/f")},
        {"ccDBLogExportReq", logExport + ("u32:0xffffffff s:wan"), 0, ""},
        // A flag without value, or with a value of an unknown class, reads as absent.
        {"ccDBSetFlagReq", "v1 s:f b0", 1, "v1 s:f b0"},
        {"ccDBSetFlagReq", "v1 s:g b1 s:cNoSuchClass v1", 1, "v1 s:g b0"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " " + r.in);
        golden::Object obj = golden::Sample(r.name);
        ASSERT_TRUE(obj);
        EXPECT_EQ(ReadInto(*obj, W(r.in)), r.version);
        if (!r.out.empty()) {
            EXPECT_EQ(BytesOf(*obj), W(r.out));
        }
    }
}

// Text forms name no password; the names of a rename and the factory data are
// not printed either.
TEST(Messages, TextForms) {
    const struct {
        const char *name, *form;
        std::string text;
    } rows[] = {
        {"ccDBRenameItemReq", "v1 s:/d/ s:a s:b", "ccDBRenameItemReq:"},
        {"ccDBAddUserReq", "v2 s:alice s:s3cret u8:2 u8:3 u8:255",
         "ccDBAddUserReq:Username:alice, AccessLevel:2"},
        {"ccDBSetPasswordReq", "v2 s:alice s:n3w u8:1", "ccDBSetPasswordReq:Username:alice"},
        {"ccDBAuthenticateUserReq", "v1 s:alice s:s3cret",
         "ccDBAuthenticateUserReq:Username:alice"},
        {"ccDBFactoryConfigInfoResp", "v1 s:RT-200 s:2024-01-01", "ccDBFactoryConfigInfoResp:"},
    };
    for (const auto& r : rows) {
        golden::Object obj = golden::Sample(r.name);
        ASSERT_NE(ReadInto(*obj, W(r.form)), 0) << r.name;
        EXPECT_EQ(obj->ToString(""), r.text);
    }
    // The inherited path of a rename is neither written nor read.
    ccDBRenameItemReq rename;
    rename.Path = "/never/sent";
    EXPECT_EQ(BytesOf(rename), W("v1 s: s: s:"));
}

// The flag value is held by reference; values nested without end are cut off
// instead of exhausting the stack.
TEST(Messages, FlagValueReferencesAndNesting) {
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
        EXPECT_EQ(ReadInto(req, W("v1 s:f b0")), 1);
        EXPECT_EQ(kora::GC::LiveCount(), live);
        req.SetSObject(kora::Ref<ccDBResp>::Adopt(kora::New<ccDBSetItemResp>()).get());
        req.SetSObject(nullptr);
        EXPECT_EQ(kora::GC::LiveCount(), live);
        EXPECT_NE(ReadInto(req, NestedFlags(3)), 0);
        EXPECT_EQ(ReadInto(req, NestedFlags(100000)), 1);
        unsigned depth = 0;
        for (auto* v = req.GetSObject(); v; ++depth)
            v = dynamic_cast<ccDBSetFlagReq&>(*v).GetSObject();
        EXPECT_LT(depth, 100u);
    }  // the destructor releases the value
    EXPECT_EQ(kora::GC::LiveCount(), live);
}
