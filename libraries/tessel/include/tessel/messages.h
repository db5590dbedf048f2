// The protocol between the data server and its clients: the names of the
// framework messages, the two payload bases and the payloads of the item and
// collection operations. Administrative payloads are in messages_admin.h.
//
// Every payload writes its own version and then its fields; see
// payload_fields.h for the reading rules they share.
#pragma once

#include <string>

#include "tessel/payload_fields.h"

namespace tessel {

// The name under which the data server serves (tesseld's default) and that a
// client passes to cDataClient to reach it.
constexpr const char* kDataServerService = "tesseld";

// ---- Message names (matched exactly, case included) ----
//
// A request named ...REQ is answered on the same channel by ...RESP. Three
// names are irregular and must stay as they are: the deregistration request
// has one colon after "DB", the end of a sync sequence lacks the C of "SYNC",
// and the answer to a dump request ends in "RES".

// Connection events of the framework. The first reaches the server from a
// client that connects; the other two a client never sends: they are the names
// under which its own connection opens and closes.
constexpr const char* kMsgClientOnConnect = "DATA::CLIENT-ON-CONNECT";
constexpr const char* kMsgOnConnect = "DATA::ON-CONNECT";
constexpr const char* kMsgOnClose = "DATA::ON-CLOSE";

// Items and collections.
constexpr const char* kMsgGetItemReq = "DB::GETITEMREQ";
constexpr const char* kMsgGetItemResp = "DB::GETITEMRESP";
constexpr const char* kMsgSetItemReq = "DB::SETITEMREQ";
constexpr const char* kMsgSetItemResp = "DB::SETITEMRESP";
constexpr const char* kMsgSetItem = "DB::SETITEM";  // unanswered
constexpr const char* kMsgDeleteItemReq = "DB::DELETEITEMREQ";
constexpr const char* kMsgDeleteItemResp = "DB::DELETEITEMRESP";
constexpr const char* kMsgDuplicateItemReq = "DB::DUPLICATEITEMREQ";
constexpr const char* kMsgDuplicateItemResp = "DB::DUPLICATEITEMRESP";
constexpr const char* kMsgRenameItemReq = "DB::RENAMEITEMREQ";
constexpr const char* kMsgRenameItemResp = "DB::RENAMEITEMRESP";
constexpr const char* kMsgRegCollectionReq = "DB::REGCOLLECTIONREQ";
constexpr const char* kMsgRegCollectionResp = "DB::REGCOLLECTIONRESP";
constexpr const char* kMsgDeRegCollectionReq = "DB:DEREGCOLLECTIONREQ";  // one colon
constexpr const char* kMsgDeRegCollectionResp = "DB::DEREGCOLLECTIONRESP";
constexpr const char* kMsgCollectionSyncInit = "DB::COLLECTIONSYNCINIT";
constexpr const char* kMsgCollectionSyncItem = "DB::COLLECTIONSYNCITEM";
constexpr const char* kMsgCollectionSyncEnd = "DB::COLLECTIONSYNEND";  // no C

// Logs.
constexpr const char* kMsgLogReq = "DB::LOGREQ";  // unanswered
constexpr const char* kMsgReadLogReq = "DB::READLOGREQ";
constexpr const char* kMsgReadLogResp = "DB::READLOGRESP";
constexpr const char* kMsgLogExportReq = "DB::LOGEXPORTREQ";
constexpr const char* kMsgLogExportResp = "DB::LOGEXPORTRESP";

// Configuration as a whole.
constexpr const char* kMsgCreateRestorePointReq = "DB::CREATERESTOREPOINTREQ";
constexpr const char* kMsgCreateRestorePointResp = "DB::CREATERESTOREPOINTRESP";
constexpr const char* kMsgRestoreReq = "DB::RESTOREREQ";
constexpr const char* kMsgRestoreResp = "DB::RESTORERESP";
constexpr const char* kMsgConfigImportReq = "DB::CONFIGIMPORTREQ";
constexpr const char* kMsgConfigImportResp = "DB::CONFIGIMPORTRESP";
constexpr const char* kMsgConfirmConfigReq = "DB::CONFIRMCONFIGREQ";
constexpr const char* kMsgConfirmConfigResp = "DB::CONFIRMCONFIGRESP";
constexpr const char* kMsgFallbackConfigReq = "DB::FALLBACKCONFIGREQ";
constexpr const char* kMsgFallbackConfigResp = "DB::FALLBACKCONFIGRESP";
constexpr const char* kMsgConfigExportReq = "DB::CONFIGEXPORTREQ";
constexpr const char* kMsgConfigExportResp = "DB::CONFIGEXPORTRESP";
constexpr const char* kMsgStatusExportReq = "DB::STATUSEXPORTREQ";
constexpr const char* kMsgStatusExportResp = "DB::STATUSEXPORTRESP";
constexpr const char* kMsgFactoryResetReq = "DB::FACTORYRESETREQ";
constexpr const char* kMsgFactoryResetResp = "DB::FACTORYRESETRESP";
constexpr const char* kMsgGetFactoryConfigInfoReq = "DB::GETFACTORYCONFIGINFOREQ";
constexpr const char* kMsgGetFactoryConfigInfoResp = "DB::GETFACTORYCONFIGINFORESP";
constexpr const char* kMsgSnapshotReq = "DB::SNAPSHOTREQ";
constexpr const char* kMsgSnapshotResp = "DB::SNAPSHOTRESP";

// Users.
constexpr const char* kMsgAddUserReq = "DB::ADDUSERREQ";
constexpr const char* kMsgAddUserResp = "DB::ADDUSERRESP";
constexpr const char* kMsgDeleteUserReq = "DB::DELETEUSERREQ";
constexpr const char* kMsgDeleteUserResp = "DB::DELETEUSERRESP";
constexpr const char* kMsgSetPasswordReq = "DB::SETPASSWORDREQ";
constexpr const char* kMsgSetPasswordResp = "DB::SETPASSWORDRESP";
constexpr const char* kMsgAuthenticateUserReq = "DB::AUTHENTICATEUSERREQ";
constexpr const char* kMsgAuthenticateUserResp = "DB::AUTHENTICATEUSERRESP";

// Flags.
constexpr const char* kMsgSetFlagReq = "DB::SETFLAGREQ";
constexpr const char* kMsgSetFlagResp = "DB::SETFLAGRESP";
constexpr const char* kMsgGetFlagReq = "DB::GETFLAGREQ";
constexpr const char* kMsgGetFlagResp = "DB::GETFLAGRESP";
constexpr const char* kMsgDeleteFlagReq = "DB::DELETEFLAGREQ";
constexpr const char* kMsgDeleteFlagResp = "DB::DELETEFLAGRESP";
constexpr const char* kMsgFlagsExportReq = "DB::FLAGSEXPORTREQ";
constexpr const char* kMsgFlagsExportResp = "DB::FLAGSEXPORTRESP";

// Reboot and dump.
constexpr const char* kMsgRebootReq = "DB::REBOOTREQ";
constexpr const char* kMsgRebootNotification = "DB::REBOOTNOTIFICATION";
constexpr const char* kMsgDumpReq = "DB::DUMP-REQ";
constexpr const char* kMsgDumpRes = "DB::DUMP-RES";  // RES, not RESP
constexpr const char* kMsgDumpTimeout = "TIMER::DUMP-TIMEOUT";

// ---- Payload bases ----

// Declares a payload class that adds nothing to its base but its own name:
// same fields and binary form, and a text form that begins with that name.
#define TESSEL_NAMED_PAYLOAD(Class, Base)                        \
    class TESSEL_API Class final : public Base {                 \
      public:                                                    \
        std::string TypeName() const override { return #Class; } \
    }

// A request about one item or collection path.
class TESSEL_API ccDBReq : public cPayload {
  public:
    kora::s_string Path;

    std::string TypeName() const override { return "ccDBReq"; }
    // "<type name>:Path:<path>".
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBReq;
        static const Table<C> t{{Field(&C::Path)}};
        return t;
    }
};

// An answer that carries only an outcome: 1 is success; 0 (the default) is
// failure or no answer; any other value comes from the data-server host and
// counts as failure too.
class TESSEL_API ccDBResp : public cPayload {
  public:
    kora::s_int8 Result;

    std::string TypeName() const override { return "ccDBResp"; }
    // "<type name>:Result:<signed number>".
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBResp;
        static const Table<C> t{{Field(&C::Result)}};
        return t;
    }
};

// ---- Item and collection payloads ----

// Path-only requests: read or delete the item at Path (directory followed by
// name), register or deregister the collection at Path, and the server's
// frames around the items of one collection sync.
TESSEL_NAMED_PAYLOAD(ccDBGetItemReq, ccDBReq);
TESSEL_NAMED_PAYLOAD(ccDBDeleteItemReq, ccDBReq);
TESSEL_NAMED_PAYLOAD(ccDBRegCollectionReq, ccDBReq);
TESSEL_NAMED_PAYLOAD(ccDBDeRegCollectionReq, ccDBReq);
TESSEL_NAMED_PAYLOAD(ccDBSyncInit, ccDBReq);
TESSEL_NAMED_PAYLOAD(ccDBSyncEnd, ccDBReq);

// Outcomes of the item and collection requests.
TESSEL_NAMED_PAYLOAD(ccDBSetItemResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBDeleteItemResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBDuplicateItemResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBRenameItemResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBRegCollectionResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBDeRegCollectionResp, ccDBResp);

// A request that names an existing item (Directory followed by Name) and a
// second name in the same directory (Directory followed by NewName). Its
// binary form holds only these three strings: the inherited Path is neither
// written nor read and stays empty on the receiving side.
class TESSEL_API cDBItemNewNameReq : public ccDBReq {
  public:
    kora::s_string Directory;
    kora::s_string Name;
    kora::s_string NewName;

    // "<type name>:" — the names are not printed.
    std::string ToString(const std::string& format) const override;

    // The inherited Path is not part of the form.
    static constexpr size_t kEngineBaseSize = sizeof(ccDBReq);

  protected:
    cDBItemNewNameReq() = default;
    const cRecordTable& Fields() const override {
        using C = cDBItemNewNameReq;
        static const Table<C> t{{Field(&C::Directory), Field(&C::Name), Field(&C::NewName)}};
        return t;
    }
};

// Copy the item under NewName, or give it NewName.
TESSEL_NAMED_PAYLOAD(ccDBDuplicateItemReq, cDBItemNewNameReq);
TESSEL_NAMED_PAYLOAD(ccDBRenameItemReq, cDBItemNewNameReq);

// The server asks each connected client to dump its state for Path (the path
// handed to the server's dump request, passed on unchanged). Same binary form
// as ccDBReq, but not a ccDBReq.
class TESSEL_API ccDumpReq final : public cPayload {
  public:
    kora::s_string Path;

    std::string TypeName() const override { return "ccDumpReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDumpReq;
        static const Table<C> t{{Field(&C::Path)}};
        return t;
    }
};

}  // namespace tessel
