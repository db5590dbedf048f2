#include "tessel/lan_block.h"

namespace tessel {

bool IsHostEntryName(const std::string& name) {
    return !name.empty() && CheckHostname(name);
}

// Addresses inside list elements are taken as the framework converts text
// (0.0.0.0 when it does not parse); only the element's rules judge them.
const cRecordTable& AddressRows() {
    using E = AddressElement;
    static const Table<E> rows{{
        Field(&E::key, "Index"),
        Field(&E::first, "IP").AnyText().Check(IsSetAddress),
        Field(&E::second, "Netmask").AnyText().Check(IsSetAddress),
    }};
    return rows;
}

const cRecordTable& StaticLeaseRows() {
    using E = NamedAddress;
    static const Table<E> rows{{
        Field(&E::key, "Mac").Check(CheckMacAddr),
        Field(&E::value, "IP").AnyText().Check(IsHostAddress),
    }};
    return rows;
}

const cRecordTable& HostRows() {
    using E = NamedAddress;
    static const Table<E> rows{{
        Field(&E::key, "Hostname").Check(IsHostEntryName),
        Field(&E::value, "IP").AnyText().Check(IsSetAddress),
    }};
    return rows;
}

namespace {

// One VRRP address as the JSON list holds it; any index and address pass
// here, the pair's own rules apply when index 1 is set.
const Table<AddressElement>& VrrpElementRows() {
    using E = AddressElement;
    static const Table<E> rows{{
        Field(&E::key, "Index"),
        Field(&E::first, "IP").AnyText(),
        Field(&E::second, "Netmask").AnyText(),
    }};
    return rows;
}

}  // namespace

cVrrpAddressRow::cVrrpAddressRow(RowPtr address, RowPtr netmask)
    : cCompositeRow({std::move(address), std::move(netmask)}) {
    key = "VRRPIPs";
    for (const auto& p : m_parts) p->flags &= ~(kRowJsonIn | kRowJsonOut);
}

const cFieldRow<kora::s_socket_addr>& cVrrpAddressRow::Part(size_t i) const {
    return static_cast<const cFieldRow<kora::s_socket_addr>&>(*m_parts[i]);
}

const JsonShape* cVrrpAddressRow::Shape() const {
    return &VrrpElementRows().Shape();
}

Json::Value cVrrpAddressRow::ToJson(const cRecord& r, bool mask) const {
    AddressElement e;
    e.key = 1;
    e.first = Part(0).Of(r);
    e.second = Part(1).Of(r);
    Json::Value element(Json::objectValue);
    VrrpElementRows().ToJson(e, element, mask);
    Json::Value list(Json::arrayValue);
    list.append(element);
    return list;
}

void cVrrpAddressRow::FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const {
    if (!v.isArray()) return;
    for (const auto& element : v) {
        if (!VrrpElementRows().CheckElement(element)) {
            in.ok = false;
            continue;
        }
        if (!in.ok) continue;
        AddressElement e;
        VrrpElementRows().Reset(e, true);
        VrrpElementRows().AssignElement(e, element);
        if (e.key == 1u && !Set(r, 1, AddressPair(e.first, e.second))) in.Refuse("VRRPIP");
    }
}

bool cVrrpAddressRow::Set(cRecord& r, unsigned index, const AddressPair& pair) const {
    if (index != 1 || !Part(0).Accepts(pair.first) || !Part(1).Accepts(pair.second)) return false;
    Part(0).Of(r) = pair.first;
    Part(1).Of(r) = pair.second;
    return true;
}

cVrrpPairInputRow::cVrrpPairInputRow(std::shared_ptr<const cVrrpAddressRow> pair)
    : m_pair(std::move(pair)) {
    flags = kRowJsonIn;
}

void cVrrpPairInputRow::CheckBelow(const Json::Value& data, bool& ok) const {
    CheckMember("VRRPVIP", ok, data, kJsonString);
    CheckMember("VRRPVNetmask", ok, data, kJsonString);
}

void cVrrpPairInputRow::FromJson(cRecord& r, const Json::Value& data, JsonIn& in) const {
    AddressPair pair;
    if (!pair.first.InitFromString(MemberOf(data, "VRRPVIP").asString(), 0) ||
        !pair.second.InitFromString(MemberOf(data, "VRRPVNetmask").asString(), 0) ||
        !m_pair->Set(r, 1, pair))
        in.Refuse("VRRPVIP");
}

bool ReadStoredVrrpList(kora::cSerializeBuffer& b, AddressPair& kept) {
    // An entry takes at least an s_uint32 and two addresses: 6 + 8 + 8 bytes.
    uint32_t count = 0;
    if (!ReadElementCount(b, count, 22)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        kora::s_uint32 index;
        AddressPair pair;
        if (!index.Deserialize(b) || !pair.first.Deserialize(b) || !pair.second.Deserialize(b))
            return false;
        if (index == 1u) kept = pair;
    }
    return true;
}

}  // namespace tessel
