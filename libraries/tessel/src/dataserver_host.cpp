// cDataServerHost: the host that refuses every operation, for hosts to
// override what they serve.
#include "tessel/dataserver_host.h"

namespace tessel {

kora::Ref<cDBItem> cDataServerHost::GetItemRef(const kora::s_string&) {
    return {};
}
kora::Ref<cDBLogResult> cDataServerHost::ReadLogRef(const kora::cTime&, const kora::s_string&,
                                                    kora::s_uint8, kora::s_uint8, kora::s_uint64) {
    return {};
}
kora::Ref<kora::ISerialize> cDataServerHost::GetFlagRef(const kora::s_string&) {
    return {};
}
kora::s_int8 cDataServerHost::SetItem(cDBItem*) {
    return 0;
}
kora::s_int8 cDataServerHost::DeleteItem(const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::DuplicateItem(const kora::s_string&, const kora::s_string&,
                                            const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::RenameItem(const kora::s_string&, const kora::s_string&,
                                         const kora::s_string&, std::set<kora::s_string>&) {
    return 0;
}
void cDataServerHost::SyncCollection(cDataServer*, kora::cChannel*, const kora::s_string&) {}
kora::s_int8 cDataServerHost::CreateRestorePoint() {
    return 0;
}
kora::s_int8 cDataServerHost::Restore() {
    return 0;
}
kora::s_int8 cDataServerHost::ImportConfig(const kora::s_string&, kora::s_bool) {
    return 0;
}
kora::s_int8 cDataServerHost::ConfirmConfig() {
    return 0;
}
kora::s_int8 cDataServerHost::FallbackConfig() {
    return 0;
}
kora::s_int8 cDataServerHost::ExportConfig(const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::ExportStatus(const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::FactoryReset() {
    return 0;
}
std::pair<kora::s_string, kora::s_string> cDataServerHost::GetFactoryConfigInfo() {
    return {};
}
void cDataServerHost::Reboot(const kora::s_string&) {}
kora::s_int8 cDataServerHost::CreateSnapshot(const kora::s_string&) {
    return 0;
}
void cDataServerHost::Log(const kora::cTime&, const kora::s_string&, kora::s_uint8,
                          const kora::s_string&, const kora::s_string&, const kora::s_string&,
                          const kora::s_string&, const kora::s_string&, kora::s_int8) {}
kora::s_int8 cDataServerHost::ExportLog(const kora::cTime&, const kora::cTime&, kora::s_uint8,
                                        const std::set<kora::s_string>&, const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::AddUser(const kora::s_string&, const kora::s_string&, kora::s_uint8,
                                      kora::s_uint8, kora::s_uint8) {
    return 0;
}
kora::s_int8 cDataServerHost::DeleteUser(const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::SetPassword(const kora::s_string&, const kora::s_string&,
                                          kora::s_uint8) {
    return 0;
}
bool cDataServerHost::AuthenticateUser(const kora::s_string&, const kora::s_string&,
                                       kora::s_uint8&) {
    return false;
}
kora::s_int8 cDataServerHost::SetFlag(const kora::s_string&, kora::ISerialize*) {
    return 0;
}
kora::s_int8 cDataServerHost::DeleteFlag(const kora::s_string&) {
    return 0;
}
kora::s_int8 cDataServerHost::ExportFlags(const kora::s_string&) {
    return 0;
}
void cDataServerHost::DumpFinished() {}

}  // namespace tessel
