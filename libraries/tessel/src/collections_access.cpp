#include "tessel/collections_access.h"

namespace tessel {

namespace {

// The grants of privilege levels 0 to 3 before any configuration is known.
struct DefaultGrant {
    const char* accessClass;
    uint8_t level[4];
};
const DefaultGrant kDefaultTable[] = {
    {ACCESS_CLASS_WAN_STATUS, {0, 0, 0, 1}},
    {ACCESS_CLASS_WAN_CONFIG, {0, 0, 0, 2}},
    {ACCESS_CLASS_LAN_STATUS, {0, 0, 0, 1}},
    {ACCESS_CLASS_LAN_CONFIG, {0, 0, 0, 2}},
    {ACCESS_CLASS_FIREWALL_CONFIG, {0, 0, 0, 2}},
    {ACCESS_CLASS_LOGBOOK, {0, 0, 0, 2}},
    {ACCESS_CLASS_SYSTEM_STATUS, {0, 0, 0, 1}},
    {ACCESS_CLASS_WEB_INTERFACE_CONFIG, {1, 1, 1, 2}},
    {ACCESS_CLASS_REBOOT, {0, 0, 0, 2}},
    {ACCESS_CLASS_DATETIME, {0, 0, 0, 2}},
    {ACCESS_CLASS_FIRMWARE_UPDATE, {0, 0, 0, 2}},
    {ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG, {0, 0, 0, 2}},
    {ACCESS_CLASS_ADMIN_ONLY, {0, 0, 0, 2}},
    {ACCESS_CLASS_CERTIFICATES, {0, 0, 0, 2}},
    {ACCESS_CLASS_USER_ONLY, {0, 0, 2, 2}},
    {ACCESS_CLASS_TOOLS, {0, 0, 0, 2}},
    {ACCESS_CLASS_UART, {0, 0, 0, 2}},
    {ACCESS_CLASS_EVERYONE, {0, 1, 1, 1}},
};

}  // namespace

cDBAccessCollection::cDBAccessCollection(const std::string& path) : cSlotCollection(path) {
    for (const auto& row : kDefaultTable)
        for (unsigned level = 0; level < 4; ++level)
            m_table[level][row.accessClass] = row.level[level];
}

void cDBAccessCollection::EndSync() {
    cSlotCollection::EndSync();
    // Rows 1 and 2 follow the committed items, even when this sync brought none.
    for (const char* accessClass : kAccessClasses) {
        if (!cDBConfigAccess::Configures(accessClass)) continue;
        m_table[1][accessClass] = static_cast<uint8_t>(GetGuestAccess().GetLevel(accessClass));
        m_table[2][accessClass] = static_cast<uint8_t>(GetUserAccess().GetLevel(accessClass));
    }
}

void cDBAccessCollection::GetVisibleAccessClasses(unsigned level, std::set<std::string>& classes) {
    classes.clear();
    auto row = m_table.find(level);
    if (row == m_table.end()) return;
    for (const auto& grant : row->second)
        if (grant.second != 0) classes.insert(grant.first);
}

bool cDBAccessCollection::ValidateAccess(unsigned level, const std::string& accessClass,
                                         unsigned required) {
    auto row = m_table.find(level);
    if (row == m_table.end() || accessClass.empty()) return false;
    auto grant = row->second.find(accessClass);
    return grant != row->second.end() && grant->second >= required;
}

}  // namespace tessel
