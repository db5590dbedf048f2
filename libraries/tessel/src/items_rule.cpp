#include "tessel/items_rule.h"

#include "kora/helper.h"
#include "tessel/items_system.h"

namespace tessel {

namespace {

// The values a rule can watch; `switchOnly` ones exist on devices with a
// managed switch.
struct ValueName {
    const char* name;
    bool switchOnly;
};
const ValueName kValueNames[] = {
    {"RULE::EVENT::WAN::CHECK::SUCCESSFUL", false},
    {"RULE::EVENT::WAN::CHECK::FAILED", false},
    {"RULE::EVENT::VPN::GATEWAYS::FAILED", false},
    {"RULE::EVENT::VPN::PEER::DEAD", false},
    {"RULE::EVENT::VPN::PHASE1::TIMEOUT", false},
    {"RULE::EVENT::LAN0::LINK::UP", false},
    {"RULE::EVENT::LAN0::LINK::DOWN", false},
    {"RULE::EVENT::LAN1::LINK::UP", false},
    {"RULE::EVENT::LAN1::LINK::DOWN", false},
    {"RULE::EVENT::LAN::LINK::UP", true},
    {"RULE::EVENT::LAN::LINK::DOWN", true},
    {"RULE::EVENT::LAN2::LINK::UP", true},
    {"RULE::EVENT::LAN2::LINK::DOWN", true},
    {"RULE::EVENT::LAN3::LINK::UP", true},
    {"RULE::EVENT::LAN3::LINK::DOWN", true},
    {"RULE::EVENT::LAN4::LINK::UP", true},
    {"RULE::EVENT::LAN4::LINK::DOWN", true},
    {"RULE::EVENT::LAN5::LINK::UP", true},
    {"RULE::EVENT::LAN5::LINK::DOWN", true},
    {"UINT::WIRELESS::CSQ", false},
    {"INT::WIRELESS::RSSI", false},
    {"INT::WIRELESS::ECNO", false},
    {"INT::WIRELESS::RSCP", false},
    {"UINT::PING::LOSTPERCENT", false},
    {"UINT::PING::MEANRESP", false},
    {"BOOL::INPUT::STATE", false},
    {"BOOL::WIRELESS::WAN::CONNECT", false},
    {"BOOL::WIRED::WAN::CONNECT", false},
    {"BOOL::WAN::CONNECT", false},
    {"BOOL::TIMEBASE::VALID", false},
    {"UINT::UPTIME", false},
    {"TIME::DAYTIME", false},
    {"STATIC::TRUE", false},
    {"BOOL::VPN::CONNECT", false},
    {"UINT::WIRED::WAN::DATA::VOLUME", false},
    {"UINT::SIM1::DATA::VOLUME", false},
    {"UINT::SIM2::DATA::VOLUME", false},
    {"UINT::VAR::1", false},
    {"UINT::VAR::2", false},
    {"UINT::VAR::3", false},
    {"UINT::VAR::4", false},
    {"UINT::VAR::5", false},
};

// Decimal numbers: any (saturating at the 32-bit limit), a log level 1..4, a port.
bool AnyNumber(const std::string& v) {
    unsigned n = 0;
    return CheckUintString(v, n);
}
bool LogLevel(const std::string& v) {
    unsigned n = 0;
    return CheckUintString(v, n) && n >= 1 && n <= 4;
}
bool PortNumber(const std::string& v) {
    unsigned n = 0;
    return CheckUintString(v, n) && n <= 65535;
}
bool OneOf(const std::string& v, std::initializer_list<const char*> values) {
    for (const char* allowed : values)
        if (v == allowed) return true;
    return false;
}
bool TrueOrFalse(const std::string& v) {
    return OneOf(v, {"true", "false"});
}
bool UserVariable(const std::string& v) {
    return OneOf(v,
                 {"UINT::VAR::1", "UINT::VAR::2", "UINT::VAR::3", "UINT::VAR::4", "UINT::VAR::5"});
}
bool TrapType(const std::string& v) {
    return OneOf(v, {"1", "2"});
}

// The check of each parameter key an action may carry; "wansetup" names a
// WAN setup and is not checked.
struct ParameterCheck {
    const char* key;
    bool (*check)(const std::string&);
};
const ParameterCheck kParameterChecks[] = {
    {"loglevel", LogLevel},
    {"logtext", CheckShellString},
    {"outputstate", TrueOrFalse},
    {"intvar", UserVariable},
    {"setval", AnyNumber},
    {"hostname", CheckHostname},
    {"port", PortNumber},
    {"username", CheckShellString},
    {"password", CheckShellString},
    {"crypt_pwd", CheckShellString},
    {"oid", CheckOID},
    {"type", TrapType},
    {"valoid", CheckOID},
    {"value", CheckShellString},
    {"receiverAddr", CheckEmailAddr},
    {"subject", CheckShellString},
    {"emailText", CheckShellString},
};

const char kWanSetupKey[] = "wansetup";

}  // namespace

bool IsRuleValueName(const std::string& name) {
    for (const auto& v : kValueNames)
        if (name == v.name) return !v.switchOnly || cDBFeatureList::HasFeature("ManagedSwitch");
    return false;
}

bool IsRuleAction(const RuleActionElement& action) {
    for (const auto& parameter : action.second)
        for (const auto& c : kParameterChecks)
            if (parameter.first == c.key && !c.check(parameter.second)) return false;
    return true;
}

const cRecordTable& RuleActionRows() {
    using E = RuleActionElement;
    using P = MapEntry<kora::s_string, kora::s_string>;
    static const Table<P> parameters{{Field(&P::key, "Name"), Field(&P::value, "Value")}};
    // The type keeps the low 8 bits of a JSON number. The parameter map
    // travels as one value on the wire and as a list of name/value pairs in
    // JSON, a later pair of the same name replacing an earlier one.
    static const Table<E> rows{{
        Field(&E::key, "Index"),
        Field(&E::first, "ActionType").Range(0, 13).Wrap(),
        Field(&E::second),
        List<P>(&E::second, "Parameters", "", parameters).NoBinary(),
    }};
    return rows;
}

bool cDBConfigRule::HasLinks() {
    for (const auto& action : m_Actions)
        if (action.second.second.count(kWanSetupKey)) return true;
    return false;
}

void cDBConfigRule::GetLinks(std::set<std::string>& paths) {
    for (const auto& action : m_Actions) {
        kora::s_string setup;
        if (action.second.second.TryGetValue(kWanSetupKey, setup))
            paths.insert(kora::FormatString("%s%s", "/Config/Network/WanSetups/", setup.c_str()));
    }
}

bool cDBConfigRule::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("ValueName", m_ValueName);
    if (m_Actions.empty()) {
        info.SetAt("Actions", "");
    } else if (m_Actions.size() > 1) {
        info.SetAt("Actions", "255");
    } else {
        const RuleAction& only = m_Actions.begin()->second;
        info.SetAt("Actions", kora::FormatString("%u", unsigned(only.first)));
        kora::s_string setup;
        if (only.first == 1 && only.second.TryGetValue(kWanSetupKey, setup))
            info.SetAt("Parameter", setup);
    }
    return true;
}

RuleAction cDBConfigRule::GetActionByIndex(kora::s_uint32 index) const {
    RuleAction action(0, kora::s_map_string_string());
    m_Actions.TryGetValue(index, action);
    return action;
}

void cDBConfigRule::GetActionIndexList(std::set<unsigned>& indexes) const {
    indexes.clear();
    for (const auto& action : m_Actions) indexes.insert(action.first);
}

}  // namespace tessel
