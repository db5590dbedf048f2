#include "tessel/items_services.h"

namespace tessel {

kora::s_string cDBConfigDDNS::GetServiceString() const {
    // Provider names as the DDNS client knows them, by service number.
    static const char* const kProviders[] = {"dyndns.org", "no-ip.com", "changeip.com",
                                             "freedns.afraid.org"};
    unsigned service = m_Service;
    if (service < 1 || service > 4) return "";
    return kProviders[service - 1];
}

}  // namespace tessel
