// Every request of the protocol from a cDataClient in this process to the
// data server in a child process: what reaches the host and what comes back.
//
// Where each message name of the protocol crosses the socket in these tests:
//   DATA::CLIENT-ON-CONNECT                          every test; ConnectRegistersLogUnits...
//   DB::GETITEMREQ / DB::GETITEMRESP                 EveryRequest..., ConnectRegistersLogUnits...
//   DB::SETITEMREQ / DB::SETITEMRESP, DB::SETITEM    ChangesResyncOnlyCollections...
//   DB::DELETEITEMREQ / DB::DELETEITEMRESP           EveryRequest..., ChangesResync...
//   DB::DUPLICATEITEMREQ / DB::DUPLICATEITEMRESP     EveryRequest..., RenameNotifies...
//   DB::RENAMEITEMREQ / DB::RENAMEITEMRESP           EveryRequest..., RenameNotifies...
//   DB::REGCOLLECTIONREQ / DB::REGCOLLECTIONRESP     RegistrationIsAnswered...
//   DB:DEREGCOLLECTIONREQ / DB::DEREGCOLLECTIONRESP  OnlyTheSingleColonNameDeregisters
//   DB::COLLECTIONSYNCINIT, DB::COLLECTIONSYNCITEM,
//   DB::COLLECTIONSYNEND                             RegistrationIsAnswered... (on the wire)
//   DB::LOGREQ                                       EveryRequest..., LogLevelFilter...
//   DB::READLOGREQ / DB::READLOGRESP                 EveryRequest...
//   DB::LOGEXPORTREQ / DB::LOGEXPORTRESP             EveryRequest...
//   DB::CREATERESTOREPOINTREQ / ...RESP, DB::RESTOREREQ / DB::RESTORERESP,
//   DB::CONFIGIMPORTREQ / ...RESP, DB::CONFIRMCONFIGREQ / ...RESP,
//   DB::FALLBACKCONFIGREQ / ...RESP, DB::CONFIGEXPORTREQ / ...RESP,
//   DB::STATUSEXPORTREQ / ...RESP, DB::FACTORYRESETREQ / ...RESP,
//   DB::GETFACTORYCONFIGINFOREQ / ...RESP, DB::ADDUSERREQ / ...RESP,
//   DB::DELETEUSERREQ / ...RESP, DB::SETPASSWORDREQ / ...RESP,
//   DB::AUTHENTICATEUSERREQ / ...RESP, DB::SETFLAGREQ / ...RESP,
//   DB::GETFLAGREQ / ...RESP, DB::DELETEFLAGREQ / ...RESP,
//   DB::FLAGSEXPORTREQ / ...RESP                     EveryRequest...
//   DB::SNAPSHOTREQ / DB::SNAPSHOTRESP               OneSnapshotAtATime...
//   DB::REBOOTREQ, DB::REBOOTNOTIFICATION            RebootRequestAndNotification
//   DB::DUMP-REQ, DB::DUMP-RES                       DumpCycleEndsWithTheLastAnswer
//   TIMER::DUMP-TIMEOUT                              DumpCycleEndsByItsTimer
#include <gtest/gtest.h>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::ServerProcess;
using e2e::Unit;
using Strings = std::vector<std::string>;

namespace {

std::string Code(kora::s_int8 result) {
    return std::to_string(int(result));
}

kora::cTime At(int64_t seconds) {
    kora::cTime t;
    t.FromSeconds(seconds);
    return t;
}

}  // namespace

TEST_F(E2E, EveryRequestReachesTheHostAndItsAnswerComesBack) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client c("e2e-admin");
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(c.Put(Unit("/Config/T/", "item", 3)));
    const std::string peer = c.service.Name().substr(0, cDBLogItem::kMaxPeer);
    const std::string exported = Dir() + "/config.json";

    struct Row {
        const char* label;
        std::function<std::string()> call;
        std::string result;
        Strings hostCalls;
    };
    const Row rows[] = {
        {"GetItem",
         [&] {
             kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(c->GetItem("/Config/T/item"));
             const auto* unit = dynamic_cast<const cDBLogUnit*>(item.get());
             return unit ? unit->GetPath() + " " + std::to_string(unsigned(unit->GetLevel()))
                         : std::string("null");
         },
         "/Config/T/item 3",
         {"GetItem /Config/T/item"}},
        {"GetItem of an unknown path",
         [&] {
             kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(c->GetItem("/Config/T/none"));
             return item ? std::string("item") : std::string("null");
         },
         "null",
         {"GetItem /Config/T/none"}},
        {"SetItem",
         [&] { return Code(c->SetItem(Unit("/Config/T/", "two").get(), true)); },
         "1",
         {"SetItem /Config/T/two"}},
        {"DuplicateItem",
         [&] { return Code(c->DuplicateItem("/Config/T/", "item", "copy")); },
         "1",
         {"DuplicateItem /Config/T/item copy"}},
        {"RenameItem",
         [&] { return Code(c->RenameItem("/Config/T/", "copy", "moved")); },
         "1",
         {"RenameItem /Config/T/copy moved"}},
        {"DeleteItem",
         [&] { return Code(c->DeleteItem("/Config/T/moved")); },
         "1",
         {"DeleteItem /Config/T/moved"}},
        {"DeleteItem of an unknown path",
         [&] { return Code(c->DeleteItem("/Config/T/moved")); },
         "0",
         {"DeleteItem /Config/T/moved"}},
        {"CreateRestorePoint",
         [&] { return Code(c->CreateRestorePoint()); },
         "1",
         {"CreateRestorePoint"}},
        {"Restore", [&] { return Code(c->Restore()); }, "1", {"Restore"}},
        {"ImportConfig",
         [&] { return Code(c->ImportConfig("/tmp/in.json", true)); },
         "1",
         {"ImportConfig /tmp/in.json fallback"}},
        {"ConfirmConfig", [&] { return Code(c->ConfirmConfig()); }, "1", {"ConfirmConfig"}},
        {"FallbackConfig", [&] { return Code(c->FallbackConfig()); }, "1", {"FallbackConfig"}},
        {"ExportConfig",
         [&] {
             // The server child writes the file; this process reads it.
             std::string result = Code(c->ExportConfig(exported));
             std::string text;
             kora::cFileHelper::StringFromFile(exported, text);
             return result + (text.find("/Config/T/") != std::string::npos ? " written" : "");
         },
         "1 written",
         {"ExportConfig " + exported}},
        {"ExportStatus",
         [&] { return Code(c->ExportStatus("/tmp/status.json")); },
         "1",
         {"ExportStatus /tmp/status.json"}},
        {"FactoryReset", [&] { return Code(c->FactoryReset()); }, "1", {"FactoryReset"}},
        {"GetFactoryConfigInfo",
         [&] {
             auto info = c->GetFactoryConfigInfo();
             return info.first + "|" + info.second;
         },
         "factory-1|2026-12-05",
         {"GetFactoryConfigInfo"}},
        {"AddUser",
         [&] { return Code(c->AddUser("bob", "secret", 2, 1, 9)); },
         "1",
         {"AddUser bob 2 1 9"}},
        {"AddUser with an out-of-range second value",
         [&] { return Code(c->AddUser("carl", "secret", 1, 7, 0)); },
         "1",
         {"AddUser carl 1 0 0"}},
        {"AuthenticateUser",
         [&] {
             kora::s_uint8 level = 0;
             bool ok = c->AuthenticateUser("bob", "secret", level);
             return std::string(ok ? "yes " : "no ") + std::to_string(unsigned(level));
         },
         "yes 2",
         {"AuthenticateUser bob"}},
        {"AuthenticateUser with a wrong password",
         [&] {
             kora::s_uint8 level = 5;
             bool ok = c->AuthenticateUser("bob", "wrong", level);
             return std::string(ok ? "yes " : "no ") + std::to_string(unsigned(level));
         },
         "no 0",
         {"AuthenticateUser bob"}},
        {"SetPassword",
         [&] { return Code(c->SetPassword("bob", "other", 3)); },
         "1",
         {"SetPassword bob 3"}},
        {"SetPassword with an out-of-range value",
         [&] { return Code(c->SetPassword("bob", "other", 4)); },
         "1",
         {"SetPassword bob 0"}},
        {"DeleteUser", [&] { return Code(c->DeleteUser("bob")); }, "1", {"DeleteUser bob"}},
        {"SetFlag",
         [&] {
             kora::Ref<kora::s_uint32> value =
                 kora::Ref<kora::s_uint32>::Adopt(kora::New<kora::s_uint32>(7));
             return Code(c->SetFlag("mode", value.get()));
         },
         "1",
         {"SetFlag mode s_uint32"}},
        {"GetFlag",
         [&] {
             kora::Ref<kora::ISerialize> value =
                 kora::Ref<kora::ISerialize>::Adopt(c->GetFlag("mode"));
             return value ? value->TypeName() + " " + value->ToString("") : std::string("null");
         },
         "s_uint32 7",
         {"GetFlag mode"}},
        {"GetFlag of an unknown flag",
         [&] {
             kora::Ref<kora::ISerialize> value =
                 kora::Ref<kora::ISerialize>::Adopt(c->GetFlag("none"));
             return value ? std::string("value") : std::string("null");
         },
         "null",
         {"GetFlag none"}},
        {"DeleteFlag", [&] { return Code(c->DeleteFlag("mode")); }, "1", {"DeleteFlag mode"}},
        {"SetFlag without value",
         [&] { return Code(c->SetFlag("gone", nullptr)); },
         "1",
         {"SetFlag gone null"}},
        {"ExportFlags",
         [&] { return Code(c->ExportFlags("/tmp/flags.json")); },
         "1",
         {"ExportFlags /tmp/flags.json"}},
        {"Log and ReadLog",
         [&] {
             c->Log("E2E", 3, "Test", "hello", kora::s_string("alice"), 1);
             kora::Ref<cDBLogResult> result =
                 kora::Ref<cDBLogResult>::Adopt(c->ReadLog(At(0), "E2E", 0, 10, 0));
             if (!result) return std::string("null");
             std::string text = std::to_string(result->GetEntries().size());
             for (const auto& e : result->GetEntries()) text += " " + e.second.GetText();
             return text;
         },
         "1 hello",
         {"Log E2E 3 Test hello||" + peer + "|alice|1", "ReadLog E2E"}},
        {"ExportLog",
         [&] {
             return Code(c->ExportLog(At(0), At(100), 1, {"E2E", "VPN"}, "/tmp/log.txt"));
         },
         "1",
         {"ExportLog 2 /tmp/log.txt"}},
        {"Reboot, with the identity the client announced",
         [&] {
             c->Reboot();
             return std::string();
         },
         "",
         {"Reboot e2e-admin"}},
    };
    for (const Row& row : rows) {
        c.Clear();
        EXPECT_EQ(row.call(), row.result) << row.label;
        // Asked on the same connection after the request, so requests without
        // an answer (Log, Reboot) have reached the host by then.
        EXPECT_EQ(c.Calls(), row.hostCalls) << row.label;
    }

    // Result codes of the host come back unchanged.
    ASSERT_EQ(c.Ctl("result:-3"), 1);
    EXPECT_EQ(c->CreateRestorePoint(), -3);
    EXPECT_EQ(c->ExportStatus("/tmp/status.json"), -3);
    EXPECT_EQ(c->SetItem(Unit("/Config/T/", "three").get(), true), -3);
}
