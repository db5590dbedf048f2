#include "tessel/items_certificate.h"

#include "kora/hash.h"
#include "kora/helper.h"

namespace tessel {

std::string PublicKeyFingerprint(const std::string& key) {
    kora::cSHA256Calculator sha;
    sha.Add(key);
    return sha.GetResult();
}

bool cDBCertificate::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("SubjectName", m_SubjectName);
    info.SetAt("SubjectDN", m_SubjectDN);
    info.SetAt("IssuerName", m_IssuerName);
    return true;
}

bool cDBConfigCSRTemplate::IsScepUrl(const std::string& url) {
    return CheckShellString(url) && (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0);
}

bool cDBConfigCSRTemplate::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("CommonName",
               m_CommonNameMode == 1
                   ? kora::FormatString("%s%s", m_CommonName.c_str(), "<SerialNumber>")
                   : std::string(m_CommonName));
    info.SetAt("SCEPEnabled", m_SCEPEnabled ? "true" : "false");
    return true;
}

std::string cDBStatusPrivateKey::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBStatusPrivateKey:PubkeyLen:%u;CreationTime:%s,PubkeyFingerprint:%s",
        unsigned(m_PublicKeyLength), m_CreationTime.ToISO8601String().c_str(),
        m_Fingerprint.c_str());
}

}  // namespace tessel
