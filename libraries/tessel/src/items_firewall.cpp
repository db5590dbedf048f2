#include "tessel/items_firewall.h"

#include "tessel/items_system.h"

namespace tessel {

bool IsRemoteAccessService(uint64_t service) {
    uint64_t last = 4;
    if (cDBFeatureList::HasFeature("SerialRS232"))
        last = 5;
    else if (cDBFeatureList::HasFeature("SerialCombined"))
        last = 6;
    return service >= 1 && service <= last;
}

bool cDBConfigPortForwardRule::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    RuleInfo(info, {"InPort", "OutPort", "Protocol", "ToIP", "Rank"});
    return true;
}

bool cDBConfigRemoteAccessRule::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    RuleInfo(info, {"Target", "FromInterface", "RemoteAccessService", "Rank"});
    return true;
}

bool cDBConfigFilterRule::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    TrafficInfo(info, {"Protocol", "Target", "FromInterface", "ToInterface", "MatchFromVlan",
                       "FromVLANID", "MatchToVlan", "ToVLANID", "Rank"});
    return true;
}

bool cDBConfigTrafficPriorityRule::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    TrafficInfo(info, {"Protocol", "Priority", "MatchVlan", "VLANID", "Rank"});
    return true;
}

}  // namespace tessel
