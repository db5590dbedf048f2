// Registration of every protocol payload class with the object factory, so
// that a payload received in a message is recreated with its own class. The
// order of the objects below is the order of registration at load.
#include "kora/factory.h"
#include "tessel/messages_admin.h"
#include "tessel/registration.h"

namespace tessel {

namespace {

std::vector<std::string>& messageClasses() {
    static std::vector<std::string> names;
    return names;
}

// Registers T with the object factory and records its name for
// RegisteredMessageClasses().
template <class T>
struct MessageRegistration : kora::RegisterObject<T> {
    MessageRegistration() { messageClasses().push_back(T().TypeName()); }
};

}  // namespace

MessageRegistration<ccDumpReq> r_ccDumpReq;
MessageRegistration<ccDBGetItemReq> r_ccDBGetItemReq;
MessageRegistration<ccDBSetItemResp> r_ccDBSetItemResp;
MessageRegistration<ccDBDeleteItemReq> r_ccDBDeleteItemReq;
MessageRegistration<ccDBDeleteItemResp> r_ccDBDeleteItemResp;
MessageRegistration<ccDBDuplicateItemReq> r_ccDBDuplicateItemReq;
MessageRegistration<ccDBDuplicateItemResp> r_ccDBDuplicateItemResp;
MessageRegistration<ccDBRenameItemReq> r_ccDBRenameItemReq;
MessageRegistration<ccDBRenameItemResp> r_ccDBRenameItemResp;
MessageRegistration<ccDBRegCollectionReq> r_ccDBRegCollectionReq;
MessageRegistration<ccDBDeRegCollectionReq> r_ccDBDeRegCollectionReq;
MessageRegistration<ccDBRegCollectionResp> r_ccDBRegCollectionResp;
MessageRegistration<ccDBDeRegCollectionResp> r_ccDBDeRegCollectionResp;
MessageRegistration<ccDBSyncInit> r_ccDBSyncInit;
MessageRegistration<ccDBSyncEnd> r_ccDBSyncEnd;
MessageRegistration<ccDBLogReadReq> r_ccDBLogReadReq;
MessageRegistration<ccDBLogExportReq> r_ccDBLogExportReq;
MessageRegistration<ccDBLogExportResp> r_ccDBLogExportResp;
MessageRegistration<ccDBCreateRestorePointResp> r_ccDBCreateRestorePointResp;
MessageRegistration<ccDBRestoreResp> r_ccDBRestoreResp;
MessageRegistration<ccDBConfigImportReq> r_ccDBConfigImportReq;
MessageRegistration<ccDBConfigImportResp> r_ccDBConfigImportResp;
MessageRegistration<ccDBConfirmConfigurationResp> r_ccDBConfirmConfigurationResp;
MessageRegistration<ccDBFallbackConfigurationResp> r_ccDBFallbackConfigurationResp;
MessageRegistration<ccDBConfigExportReq> r_ccDBConfigExportReq;
MessageRegistration<ccDBConfigExportResp> r_ccDBConfigExportResp;
MessageRegistration<ccDBStatusExportReq> r_ccDBStatusExportReq;
MessageRegistration<ccDBStatusExportResp> r_ccDBStatusExportResp;
MessageRegistration<ccDBFactoryResetResp> r_ccDBFactoryResetResp;
MessageRegistration<ccDBAddUserReq> r_ccDBAddUserReq;
MessageRegistration<ccDBAddUserResp> r_ccDBAddUserResp;
MessageRegistration<ccDBDeleteUserReq> r_ccDBDeleteUserReq;
MessageRegistration<ccDBDeleteUserResp> r_ccDBDeleteUserResp;
MessageRegistration<ccDBSetPasswordReq> r_ccDBSetPasswordReq;
MessageRegistration<ccDBSetPasswordResp> r_ccDBSetPasswordResp;
MessageRegistration<ccDBAuthenticateUserReq> r_ccDBAuthenticateUserReq;
MessageRegistration<ccDBAuthenticateUserResp> r_ccDBAuthenticateUserResp;
MessageRegistration<ccDBSetFlagReq> r_ccDBSetFlagReq;
MessageRegistration<ccDBSetFlagResp> r_ccDBSetFlagResp;
MessageRegistration<ccDBGetFlagReq> r_ccDBGetFlagReq;
MessageRegistration<ccDBDeleteFlagReq> r_ccDBDeleteFlagReq;
MessageRegistration<ccDBDeleteFlagResp> r_ccDBDeleteFlagResp;
MessageRegistration<ccDBFlagsExportReq> r_ccDBFlagsExportReq;
MessageRegistration<ccDBFlagsExportResp> r_ccDBFlagsExportResp;
MessageRegistration<ccDBSnapshotReq> r_ccDBSnapshotReq;
MessageRegistration<ccDBSnapshotResp> r_ccDBSnapshotResp;
MessageRegistration<ccDBFactoryConfigInfoResp> r_ccDBFactoryConfigInfoResp;

const std::vector<std::string>& RegisteredMessageClasses() {
    return messageClasses();
}

}  // namespace tessel
