// Properties every registered class has, so a class added later is covered.
#include <gtest/gtest.h>

#include <random>

#include "golden_sample.h"
#include "tessel/tessel.h"
#include "wire.h"

using namespace tessel;

namespace {

kora::Ref<kora::ISerialize> Create(const std::string& name) {
    return kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject(name));
}

// Deserializes `bytes` as a fresh object of `name`; returns whether it was accepted.
bool ReadAs(const std::string& name, const std::string& bytes) {
    kora::Ref<kora::ISerialize> obj = Create(name);
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj->Deserialize(b) != 0;
}

}  // namespace

// Every class's default form reads back (filled ones: golden_test.cpp); every
// proper prefix of it or of the golden sample is refused (a cut inside a
// flag's value reads as no value); damaged bytes never read out of bounds or leak.
TEST(Registry, DamagedBinaryFormsFailCleanly) {
    size_t live = kora::GC::LiveCount();
    std::mt19937 rng(7);
    for (const auto& name : golden::Classes()) {
        const std::string filled = testwire::BytesOf(*golden::Sample(name));
        const size_t exact =
            name == "ccDBSetFlagReq" ? filled.find("cDBConfigSSH") - 6 : filled.size();
        for (size_t len = 0; len < exact; ++len)
            EXPECT_FALSE(ReadAs(name, filled.substr(0, len))) << name << " cut at " << len;
        std::string bytes = testwire::BytesOf(*Create(name));
        EXPECT_TRUE(ReadAs(name, bytes)) << name;
        for (size_t len = 0; len < bytes.size(); ++len)
            EXPECT_FALSE(ReadAs(name, bytes.substr(0, len))) << name << " cut at " << len;
        for (size_t i = 0; i < filled.size(); ++i) {
            std::string flipped = filled;
            flipped[i] = static_cast<char>(flipped[i] ^ 0xff);
            ReadAs(name, flipped);
        }
        for (int round = 0; round < 50; ++round) {
            std::string noise(rng() % 64, '\0');
            for (auto& c : noise) c = static_cast<char>(rng());
            ReadAs(name, noise);
            ReadAs(name, bytes.substr(0, 2) + noise);
        }
        // An absurd length or count right after a valid version record.
        ReadAs(name, bytes.substr(0, 2) + std::string("\x01\x00\xff\xff\xff\xff", 6));
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// Every JSON type makes an item of its own registered class, whose default
// unmasked JSON loads back into an equal item. Not loadable: the feature list
// at all, and defaults a check refuses (empty e-mail receiver, empty SCEP URL,
// empty rule value name).
TEST(Registry, JsonRoundTripOfEveryItem) {
    const std::set<std::string> notLoadable = {"FeatureListObject", "SnapshotConfigObject",
                                               "CSRTemplateObject", "RuleConfigObject"};
    for (const auto& type : cJsonFactory::RegisteredTypes()) {
        kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObject(type));
        ASSERT_TRUE(item) << type;
        EXPECT_EQ(std::string(item->GetType()), type);
        EXPECT_TRUE(kora::cObjectFactory::IsRegistered(item->TypeName())) << type;
        item->SetName("Entry1");
        kora::s_string text;
        item->ToJSON(text);
        std::set<std::string> rejected;
        kora::Ref<cDBItem> back =
            kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObjectFromJSON(text, rejected));
        if (notLoadable.count(type)) {
            EXPECT_FALSE(back) << type;
            continue;
        }
        ASSERT_TRUE(back) << type << "\n" << text;
        EXPECT_TRUE(rejected.empty()) << type;
        EXPECT_EQ(back->ToHash(), item->ToHash()) << type << "\n" << text;
    }
}

// Any text, and any damage to a valid document, gives a clean refusal or an item.
TEST(Registry, DamagedJsonFailsCleanly) {
    std::mt19937 rng(11);
    size_t live = kora::GC::LiveCount();
    for (const auto& type : cJsonFactory::RegisteredTypes()) {
        kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObject(type));
        kora::s_string text;
        item->ToJSON(text);
        for (size_t cut = 0; cut < text.size(); cut += 3) {
            std::set<std::string> rejected;
            kora::Ref<cDBItem>::Adopt(
                cJsonFactory::CreateObjectFromJSON(text.substr(0, cut), rejected));
        }
        const char* replacements[] = {"null", "[]",    "{}",   "-1",
                                      "1e40", "\"x\"", "true", "4294967296"};
        for (int round = 0; round < 40; ++round) {
            std::string doc = text;
            size_t colon = doc.find(':', rng() % doc.size());
            if (colon == std::string::npos) continue;
            size_t end = doc.find_first_of(",}\n", colon + 1);
            doc.replace(colon + 1, end - colon - 1, replacements[rng() % 8]);
            std::set<std::string> rejected;
            kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObjectFromJSON(doc, rejected));
            item->FromJSON(doc, rejected);
        }
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// Every member of a table-driven class has exactly one binary row.
TEST(Registry, RowsCoverEveryMember) {
    for (const auto& name : golden::Classes()) {
        kora::Ref<kora::ISerialize> obj = Create(name);
        cRecord* record = nullptr;
        const cRecordTable* table = golden::RowsOf(*obj, record);
        if (!table) continue;  // written by hand
        EXPECT_EQ(table->CoverageProblems(*record, dynamic_cast<const void*>(obj.get())), "")
            << name;
    }
}

// Version 0 and the one after a class's own fail, keep name and directory and
// leave the fields at defaults.
TEST(Registry, UnknownVersionsFailWithDefaults) {
    for (const auto& name : RegisteredItemClasses()) {
        kora::Ref<kora::ISerialize> obj = Create(name);
        auto* item = dynamic_cast<cDBItem*>(obj.get());
        if (!item) continue;
        item->SetName("kept");
        std::string defaults = item->ToHash();
        for (unsigned version : {0u, item->Version() + 1}) {
            kora::cSerializeBuffer b =
                testwire::Wire().Version(uint16_t(version)).Str("other").Str("/o/").Buffer();
            EXPECT_EQ(item->Deserialize(b), 0) << name << " v" << version;
            EXPECT_EQ(item->GetName(), "kept") << name;
            EXPECT_EQ(item->ToHash(), defaults) << name;
        }
    }
}

// The whole catalogue, in the order the library registers it at load.
TEST(Registry, CatalogueInLoadOrder) {
    const char* classes =
        "cDBDirectory cDBStatusWirelessWan cDBStatusWiredWan cDBStatusLan cDBStatusLanInterface "
        "cDBStatusLanPort cDBStatusWan cDBStatusConnection cDBStatusSoftware cDBStatusHardware "
        "cDBStatusDataVolume cDBStatusISAKMPSA cDBConfigLan cDBConfigWan cDBConfigWanSetup "
        "cDBConfigWirelessWan cDBConfigGsmProvider cDBConfigWiredWan cDBConfigWebInterface "
        "cDBConfigSNMP cDBConfigSSH cDBConfigSnapshot cDBConfigEmail cDBConfigDMVPN "
        "cDBConfigDMVPNIpSec cDBConfigDMVPNNetwork cDBConfigIpSecTunnel cDBConfigWanRoute "
        "cDBConfigNTP cDBConfigRule cDBConfigConnCheck cDBConfigRIP cDBConfigHosts cDBConfigDDNS "
        "cDBConfigDataVolume cDBConfigLANInterface cDBConfigLANPort cDBConfigVLAN "
        "cDBConfigMacTable cDBConfigSpanningTree cDBConfigTrafficPriority "
        "cDBConfigTrafficPriorityRule cDBConfigPacketFilter cDBConfigFilterRule "
        "cDBConfigRemoteAccessRule cDBConfigPortForwardRule cDBConfigPortForwarding "
        "cDBCertificate cDBStatusPrivateKey cDBConfigCSRTemplate cDBConfigRS232Compact "
        "cDBConfigRS485 cDBConfigRS232 cDBLogUnit cDBFeatureList cDBConfigAccess "
        "cDBConfigTacacs cDBConfigRadius cDBLogItem cDBLogResult cDBUser";
    const char* types =
        "Directory WirelessWanStatusObject WiredWanStatusObject LanStatusObject "
        "LanInterfaceStatusObject LanPortStatusObject WanStatusObject ConnectionStatusObject "
        "SoftwareStatusObject HardwareStatusObject DataVolumeStatusObject ISAKMPSAStatusObject "
        "LanConfigObject WanConfigObject WanSetupConfigObject WirelessWanConfigObject "
        "GsmProviderObject WiredWanConfigObject WebInterfaceConfigObject SNMPConfigObject "
        "SSHConfigObject SnapshotConfigObject EmailConfigObject DMVPNConfigObject "
        "DMVPNIpSecConfigObject DMVPNNetworkConfigObject IpSecTunnelConfigObject "
        "WANRouteConfigObject NTPConfigObject RuleConfigObject ConnectionCheckConfigObject "
        "RIPConfigObject HostsConfigObject DDNSConfigObject DataVolumeConfigObject "
        "LANInterfaceConfigObject LANPortConfigObject VLANConfigObject MacTableConfigObject "
        "SpanningTreeConfigObject TrafficPriorityConfigObject TrafficPriorityRuleConfigObject "
        "PacketFilterConfigObject FilterRuleConfigObject RemoteAccessRuleConfigObject "
        "ForwardConfigObject PortForwardConfigObject CertificateObject PrivateKeyStatusObject "
        "CSRTemplateObject RS232CompactConfigObject RS485ConfigObject RS232ConfigObject "
        "LogUnitObject FeatureListObject AccessConfigObject TacacsConfigObject "
        "RadiusConfigObject UserObject";
    auto words = [](const char* text) { return kora::cHelper::GetStringTokens(text, " "); };
    EXPECT_EQ(RegisteredItemClasses(), words(classes));
    EXPECT_EQ(cJsonFactory::RegisteredTypes(), words(types));
}
