#include "tessel/items_lan.h"

#include "kora/helper.h"
#include "tessel/items_system.h"

namespace tessel {

std::string cDBConfigLANInterface::GetKey() {
    return kora::FormatString("%u", unsigned(GetVLANID()));
}

bool cDBConfigLANInterface::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("VLANID", GetKey());
    std::set<unsigned> indexes;
    GetIPIndexList(indexes);
    AddressPair first = indexes.empty() ? AddressPair() : GetIPByIndex(*indexes.begin());
    info.SetAt("IP", indexes.empty() ? std::string() : first.first.GetIPString());
    info.SetAt("Netmask", indexes.empty() ? std::string() : first.second.GetIPString());
    return true;
}

bool cDBConfigLANPort::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("Enabled", m_Enabled ? "true" : "false");
    info.SetAt("Mode", kora::FormatString("%u", unsigned(m_PortMode)));
    info.SetAt("VLANID", kora::FormatString("%u", unsigned(m_VLANID)));
    return true;
}

bool cDBConfigMacTable::IsPortSet(uint64_t ports) {
    if (cDBFeatureList::HasFeature("ManagedSwitch")) return ports >= 1 && ports <= 7;
    return ports == 1 || ports == 2 || ports == 7;
}

unsigned cDBConfigMacTable::GetTotalRange() const {
    unsigned total = 0;
    for (const auto& entry : m_Macs) total += entry.second.first;
    return total;
}

}  // namespace tessel
