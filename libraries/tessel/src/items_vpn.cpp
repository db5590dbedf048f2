#include "tessel/items_vpn.h"

#include "kora/helper.h"

namespace tessel {

const cRecordTable& TunnelRows() {
    using E = tunnelEntry;
    static const Table<E> rows{{
        Field(&E::localNetwork, "LocalNetwork").AnyText(),
        Field(&E::localSubnet, "LocalSubnet").AnyText(),
        Field(&E::remoteNetwork, "RemoteNetwork").AnyText(),
        Field(&E::remoteSubnet, "RemoteSubnet").AnyText(),
    }};
    return rows;
}

bool cDBConfigIpSecTunnel::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    Fields().InfoOf(*this, {"RemoteHost", "IsakmpMode", "AuthMethod"}, info);
    info.SetAt("TunnelCount", kora::FormatString("%u", unsigned(m_Tunnels.size())));
    return true;
}

const cRecordTable& cDBConfigDMVPN::GatewayRows() {
    using E = GatewayElement;
    static const Table<E> rows{{
        Field(&E::key, "Index").Lenient(),
        Field(&E::value, "Gateway"),
    }};
    return rows;
}

StepResult cDBConfigDMVPN::IndexOrDrop(GatewayElement& e, kora::cSerializeBuffer& b) {
    uint16_t version = 0;
    if (!b.ReadU16(version)) return StepResult::kFail;
    // Only the version record of an index in another form is read.
    if (version != 1) return StepResult::kDrop;
    uint32_t index = 0;
    if (!b.ReadU32(index)) return StepResult::kFail;
    e.key = index;
    return StepResult::kOk;
}

bool cDBConfigDMVPN::SetDefaultGatewayByIndex(kora::s_uint32 index, const std::string& text) {
    GatewayElement e;
    e.key = index;
    return e.value.InitFromString(text, 0) && Add(m_Gateways, e);
}

kora::s_socket_addr cDBConfigDMVPN::GetDefaultGatewayByIndex(kora::s_uint32 index) const {
    kora::s_socket_addr address;
    m_Gateways.TryGetValue(index, address);
    return address;
}

void cDBConfigDMVPN::GetDefaultGatewayIndexList(std::set<unsigned>& indexes) const {
    indexes.clear();
    for (const auto& entry : m_Gateways) indexes.insert(entry.first);
}

std::vector<Layout> cDBConfigDMVPNNetwork::AddressLayouts() {
    using C = cDBConfigDMVPNNetwork;
    Step address = Custom<C>([](C& c, kora::cSerializeBuffer& b) {
        kora::s_socket_addr server;
        if (!server.Deserialize(b)) return StepResult::kFail;
        c.m_NextHopServer = server.GetIPString();
        return StepResult::kOk;
    });
    const std::vector<Step> rest = {"HoldTime", "Multicast", "UseCiscoAuth", "CiscoAuthKey",
                                    "GreKey",   "LocalAddr", "Netmask",      "MTU"};
    return {Stored(2, Join<Step>({{"HubMode", address}, rest})),
            Stored(3, Join<Step>({{"HubMode", address, "NHSProtocol"}, rest}))};
}

std::string cDBConfigDMVPNNetwork::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBConfigDMVPNNetwork:Name:%s, Hub:%s, GreKey:%u, NHS:%s, LocalAddr:%s, Netmask:%s",
        GetName().c_str(), m_HubMode ? "true" : "false", unsigned(m_GreKey),
        m_NextHopServer.c_str(), m_LocalAddr.GetIPString().c_str(),
        m_Netmask.GetIPString().c_str());
}

bool cDBConfigDMVPNNetwork::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    Fields().InfoOf(*this, {"NextHopServer", "LocalAddr", "Netmask"}, info);
    return true;
}

}  // namespace tessel
