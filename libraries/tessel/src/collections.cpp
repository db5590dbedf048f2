#include "tessel/collections.h"

#include "kora/factory.h"
#include "tessel/collections_access.h"
#include "tessel/collections_catalogue.h"
#include "tessel/collections_log.h"
#include "tessel/registration.h"

namespace tessel {

std::string FillSlots(const char* format, const std::vector<std::string>& texts) {
    std::string out;
    size_t next = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < texts.size()) out += texts[next++];
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

namespace {

template <class C>
std::unique_ptr<cDBCollection> Create(const std::string& path) {
    return std::unique_ptr<cDBCollection>(new C(path));
}

template <class C>
CollectionInfo Describe(const char* name) {
    CollectionInfo info{name, C::kPath, {}, &Create<C>};
    C::ForEachItemClass([&](const ItemInfo& item) { info.types.push_back(item.type); });
    return info;
}

}  // namespace

const std::vector<CollectionInfo>& CollectionCatalogue() {
#define TESSEL_DESCRIBE(C) Describe<C>(#C)
    static const std::vector<CollectionInfo> catalogue = {
        TESSEL_DESCRIBE(cDBRS232UARTCollection),
        TESSEL_DESCRIBE(cDBCombinedUARTCollection),
        TESSEL_DESCRIBE(cDBWebInterfaceCollection),
        TESSEL_DESCRIBE(cDBEmailCollection),
        TESSEL_DESCRIBE(cDBSnapshotCollection),
        TESSEL_DESCRIBE(cDBSSHCollection),
        TESSEL_DESCRIBE(cDBSNMPCollection),
        TESSEL_DESCRIBE(cDBSpanningTreeCollection),
        TESSEL_DESCRIBE(cDBDDNSConfigCollection),
        TESSEL_DESCRIBE(cDBRIPConfigCollection),
        TESSEL_DESCRIBE(cDBConnCheckConfigCollection),
        TESSEL_DESCRIBE(cDBNTPConfigCollection),
        TESSEL_DESCRIBE(cDBWanSetupConfigCollection),
        TESSEL_DESCRIBE(cDBHostsConfigCollection),
        TESSEL_DESCRIBE(cDBFirewallConfigCollection),
        TESSEL_DESCRIBE(cDBWiredWanConfigCollection),
        TESSEL_DESCRIBE(cDBNetworkConfigCollection),
        TESSEL_DESCRIBE(cDBSystemStatusCollection),
        TESSEL_DESCRIBE(cDBNetworkStatusCollection),
        TESSEL_DESCRIBE(cDBLANPortCollection),
        TESSEL_DESCRIBE(cDBLANPortStatusCollection),
        TESSEL_DESCRIBE(cDBDataVolumeConfigColletion),
        TESSEL_DESCRIBE(cDBDataVolumeStatusColletion),
        TESSEL_DESCRIBE(cDBUsersCollection),
        TESSEL_DESCRIBE(cCSRTemplateCollection),
        TESSEL_DESCRIBE(cDBCACertificateCollection),
        TESSEL_DESCRIBE(cDBRemoteCertificateCollection),
        TESSEL_DESCRIBE(cDBLANInterfaceCollection),
        TESSEL_DESCRIBE(cDBLANInterfaceStatusCollection),
        TESSEL_DESCRIBE(cDBWanRoutingCollection),
        TESSEL_DESCRIBE(cDBIpSecTunnelCollection),
        TESSEL_DESCRIBE(cDBWanRuleCollection),
        TESSEL_DESCRIBE(cDBWirelessWanConfigCollection),
        TESSEL_DESCRIBE(cDBDeviceCertificateCollection),
        TESSEL_DESCRIBE(cDBDMVPNConfigCollection),
        TESSEL_DESCRIBE(cDBRemoteAccessCollection),
        TESSEL_DESCRIBE(cDBPortForwardCollection),
        TESSEL_DESCRIBE(cDBPacketFilterCollection),
        TESSEL_DESCRIBE(cDBTrafficPriorityCollection),
        TESSEL_DESCRIBE(cDBLogUnitCollection),
        TESSEL_DESCRIBE(cDBAccessCollection),
    };
#undef TESSEL_DESCRIBE
    return catalogue;
}

std::string ItemHome(const std::string& type) {
    for (const auto& c : CollectionCatalogue())
        for (const auto& t : c.types)
            if (t == type) return c.path;
    return "";
}

std::vector<ItemPlace> ItemPlaces() {
    std::vector<ItemPlace> places;
    for (const auto& name : RegisteredItemClasses()) {
        auto object = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject(name));
        const auto* item = dynamic_cast<const cDBItem*>(object.get());
        if (!item) continue;  // log entries and results travel with items but are none
        const std::string home = ItemHome(item->GetType());
        places.push_back({name, item->GetType(), home.empty() ? std::string(item->GetDir()) : home,
                          item->GetName()});
    }
    return places;
}

}  // namespace tessel
