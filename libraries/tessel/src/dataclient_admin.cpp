// cDataClient: administrative operations of the data server (reboot, restore
// points, factory reset, flags, users, snapshots, export and import).
#include <utility>

#include "dataclient_request.h"
#include "tessel/messages_admin.h"

namespace tessel {

void cDataClient::Reboot() {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgRebootReq);
    // Nothing is returned; LastFailure() tells whether it left.
    SetFailure(Send(request) ? eFailure::kNone : eFailure::kNotConnected);
}

kora::s_int8 cDataClient::CreateRestorePoint() {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBCreateRestorePointResp>(kMsgCreateRestorePointReq,
                                                kMsgCreateRestorePointResp);
}

kora::s_int8 cDataClient::Restore() {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBRestoreResp>(kMsgRestoreReq, kMsgRestoreResp);
}

kora::s_int8 cDataClient::ConfirmConfig() {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBConfirmConfigurationResp>(kMsgConfirmConfigReq, kMsgConfirmConfigResp);
}

kora::s_int8 cDataClient::FallbackConfig() {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBFallbackConfigurationResp>(kMsgFallbackConfigReq, kMsgFallbackConfigResp);
}

kora::s_int8 cDataClient::FactoryReset() {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBFactoryResetResp>(kMsgFactoryResetReq, kMsgFactoryResetResp);
}

std::pair<kora::s_string, kora::s_string> cDataClient::GetFactoryConfigInfo() {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgGetFactoryConfigInfoReq);
    kora::Ref<ccDBFactoryConfigInfoResp> answer =
        Exchange<ccDBFactoryConfigInfoResp>(request, kMsgGetFactoryConfigInfoResp);
    if (!answer) return {};
    return {answer->First, answer->Second};
}

// ---- Flags ----

kora::s_int8 cDataClient::ExportFlags(const std::string& filepath) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBFlagsExportReq, ccDBFlagsExportResp>(
        kMsgFlagsExportReq, kMsgFlagsExportResp,
        [&](ccDBFlagsExportReq& r) { r.Filepath = filepath; });
}

kora::s_int8 cDataClient::SetFlag(std::string name, kora::ISerialize* value) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBSetFlagReq, ccDBSetFlagResp>(kMsgSetFlagReq, kMsgSetFlagResp,
                                                     [&](ccDBSetFlagReq& r) {
                                                         r.Name = name;
                                                         r.SetSObject(value);
                                                     });
}

kora::ISerialize* cDataClient::GetFlag(std::string name) {
    return GetFlagRef(std::move(name)).Detach();
}

kora::Ref<kora::ISerialize> cDataClient::GetFlagRef(std::string name) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgGetFlagReq);
    if (!Attach<ccDBGetFlagReq>(request, [&](ccDBGetFlagReq& r) { r.Name = name; })) {
        SetFailure(eFailure::kInvalid);
        return {};
    }
    return Exchange<kora::ISerialize>(request, kMsgGetFlagResp);
}

kora::s_int8 cDataClient::DeleteFlag(std::string name) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBDeleteFlagReq, ccDBDeleteFlagResp>(
        kMsgDeleteFlagReq, kMsgDeleteFlagResp, [&](ccDBDeleteFlagReq& r) { r.Name = name; });
}

// ---- Users ----

kora::s_int8 cDataClient::SetPassword(std::string user, std::string password, kora::s_uint8 extra) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBSetPasswordReq, ccDBSetPasswordResp>(
        kMsgSetPasswordReq, kMsgSetPasswordResp, [&](ccDBSetPasswordReq& r) {
            r.Username = user;
            r.Password = password;
            // Values outside 1..3 are not sent; the field keeps its default.
            if (extra >= 1 && extra <= 3) r.Extra = extra;
        });
}

kora::s_int8 cDataClient::DeleteUser(std::string user) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBDeleteUserReq, ccDBDeleteUserResp>(
        kMsgDeleteUserReq, kMsgDeleteUserResp, [&](ccDBDeleteUserReq& r) { r.Username = user; });
}

kora::s_int8 cDataClient::AddUser(std::string user, std::string password, kora::s_uint8 accessLevel,
                                  kora::s_uint8 extra1, kora::s_uint8 extra2) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBAddUserReq, ccDBAddUserResp>(kMsgAddUserReq, kMsgAddUserResp,
                                                     [&](ccDBAddUserReq& r) {
                                                         r.Username = user;
                                                         r.Password = password;
                                                         r.AccessLevel = accessLevel;
                                                         // Values above 3 are not sent; the field
                                                         // keeps its default.
                                                         if (extra1 <= 3) r.Extra1 = extra1;
                                                         r.Extra2 = extra2;
                                                     });
}

bool cDataClient::AuthenticateUser(std::string user, std::string password,
                                   kora::s_uint8& accessLevel) {
    accessLevel = 0;  // every failure leaves 0
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgAuthenticateUserReq);
    if (!Attach<ccDBAuthenticateUserReq>(request, [&](ccDBAuthenticateUserReq& r) {
            r.Username = user;
            r.Password = password;
        })) {
        SetFailure(eFailure::kInvalid);
        return false;
    }
    kora::Ref<ccDBAuthenticateUserResp> answer =
        Exchange<ccDBAuthenticateUserResp>(request, kMsgAuthenticateUserResp);
    if (Judge(answer) != 1) return false;
    accessLevel = answer->AccessLevel;
    return true;
}

// ---- Files ----

kora::s_int8 cDataClient::CreateSnapshot(kora::s_string filepath) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBSnapshotReq, ccDBSnapshotResp>(
        kMsgSnapshotReq, kMsgSnapshotResp, [&](ccDBSnapshotReq& r) { r.Filepath = filepath; });
}

kora::s_int8 cDataClient::ExportStatus(kora::s_string filepath) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBStatusExportReq, ccDBStatusExportResp>(
        kMsgStatusExportReq, kMsgStatusExportResp,
        [&](ccDBStatusExportReq& r) { r.Filepath = filepath; });
}

kora::s_int8 cDataClient::ExportConfig(kora::s_string filepath) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBConfigExportReq, ccDBConfigExportResp>(
        kMsgConfigExportReq, kMsgConfigExportResp,
        [&](ccDBConfigExportReq& r) { r.Filepath = filepath; });
}

kora::s_int8 cDataClient::ImportConfig(kora::s_string filepath, kora::s_bool useFallback) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBConfigImportReq, ccDBConfigImportResp>(
        kMsgConfigImportReq, kMsgConfigImportResp, [&](ccDBConfigImportReq& r) {
            r.Filepath = filepath;
            r.UseFallback = useFallback;
        });
}

}  // namespace tessel
