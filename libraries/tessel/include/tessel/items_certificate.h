// The device's X.509 material as items: the readable summary of a stored
// certificate, the templates certificate signing requests are made from, and
// the state of the device's own key pair. No key or certificate body is kept:
// public keys enter only through their SHA-256 fingerprint.
#pragma once

#include <string>

#include "tessel/record.h"

namespace tessel {

// SHA-256 of the key text, as the framework's calculator gives it.
TESSEL_API std::string PublicKeyFingerprint(const std::string& key);

// The summary of one stored certificate, named by whoever stores it. The
// subject and issuer texts, serial number, fingerprint and validity times are
// kept by SetDefault; every setter takes its value as it is.
class TESSEL_API cDBCertificate : public cDBRecord<cDBCertificate> {
  public:
    static constexpr ItemInfo kInfo = {"cDBCertificate",
                                       "CertificateObject",
                                       ACCESS_CLASS_CERTIFICATES,
                                       4,
                                       Versions({4}),
                                       "",
                                       "/"};
    cDBCertificate() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBCertificate"; }
    // "SubjectName", "SubjectDN", "IssuerName".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetSubjectName(const std::string& v) { return Take(m_SubjectName, v); }
    bool SetSubjectOrga(const std::string& v) { return Take(m_SubjectOrga, v); }
    bool SetSubjectOrgaUnit(const std::string& v) { return Take(m_SubjectOrgaUnit, v); }
    bool SetSubjectCountry(const std::string& v) { return Take(m_SubjectCountry, v); }
    bool SetSubjectCity(const std::string& v) { return Take(m_SubjectCity, v); }
    bool SetSubjectState(const std::string& v) { return Take(m_SubjectState, v); }
    bool SetSubjectDN(const std::string& v) { return Take(m_SubjectDN, v); }
    bool SetIssuerName(const std::string& v) { return Take(m_IssuerName, v); }
    bool SetIssuerOrga(const std::string& v) { return Take(m_IssuerOrga, v); }
    bool SetIssuerOrgaUnit(const std::string& v) { return Take(m_IssuerOrgaUnit, v); }
    bool SetIssuerCountry(const std::string& v) { return Take(m_IssuerCountry, v); }
    bool SetIssuerCity(const std::string& v) { return Take(m_IssuerCity, v); }
    bool SetIssuerState(const std::string& v) { return Take(m_IssuerState, v); }
    bool SetIssuerDN(const std::string& v) { return Take(m_IssuerDN, v); }
    bool SetSerialNumber(const std::string& v) { return Take(m_SerialNumber, v); }
    bool SetPublicKeyFingerprint(const std::string& v) { return Take(m_Fingerprint, v); }
    // Stores the fingerprint of the key text, not the key.
    bool SetPublicKey(const std::string& key) {
        return Take(m_Fingerprint, PublicKeyFingerprint(key));
    }
    void SetPublicKeyLength(kora::s_uint32 v) { m_PublicKeyLength = v; }
    void SetNotBefore(const kora::cTime& v) { m_NotBefore = v; }
    void SetNotAfter(const kora::cTime& v) { m_NotAfter = v; }
    void SetCertificateType(kora::s_uint32 v) { m_CertificateType = v; }
    void SetSignatureType(kora::s_uint32 v) { m_SignatureType = v; }
    void SetValid(bool v) { m_Valid = v; }
    void SetCA(bool v) { m_CA = v; }
    void SetSelfsigned(bool v) { m_Selfsigned = v; }

    const kora::s_string& GetSubjectName() const { return m_SubjectName; }
    const kora::s_string& GetSubjectOrga() const { return m_SubjectOrga; }
    const kora::s_string& GetSubjectOrgaUnit() const { return m_SubjectOrgaUnit; }
    const kora::s_string& GetSubjectCountry() const { return m_SubjectCountry; }
    const kora::s_string& GetSubjectCity() const { return m_SubjectCity; }
    const kora::s_string& GetSubjectState() const { return m_SubjectState; }
    const kora::s_string& GetSubjectDN() const { return m_SubjectDN; }
    const kora::s_string& GetIssuerName() const { return m_IssuerName; }
    const kora::s_string& GetIssuerOrga() const { return m_IssuerOrga; }
    const kora::s_string& GetIssuerOrgaUnit() const { return m_IssuerOrgaUnit; }
    const kora::s_string& GetIssuerCountry() const { return m_IssuerCountry; }
    const kora::s_string& GetIssuerCity() const { return m_IssuerCity; }
    const kora::s_string& GetIssuerState() const { return m_IssuerState; }
    const kora::s_string& GetIssuerDN() const { return m_IssuerDN; }
    kora::s_uint32 GetPublicKeyLength() const { return m_PublicKeyLength; }
    const kora::s_string& GetSerialNumber() const { return m_SerialNumber; }
    const kora::s_string& GetPublicKeyFingerprint() const { return m_Fingerprint; }
    const kora::cTime& GetNotBefore() const { return m_NotBefore; }
    const kora::cTime& GetNotAfter() const { return m_NotAfter; }
    kora::s_uint32 GetCertificateType() const { return m_CertificateType; }
    kora::s_uint32 GetSignatureType() const { return m_SignatureType; }
    bool GetValid() const { return m_Valid; }
    bool GetCA() const { return m_CA; }
    bool GetSelfsigned() const { return m_Selfsigned; }

  private:
    static bool Take(kora::s_string& field, const std::string& v) {
        field = v;
        return true;
    }

    kora::s_string m_SubjectName, m_SubjectOrga, m_SubjectOrgaUnit, m_SubjectCountry, m_SubjectCity,
        m_SubjectState, m_SubjectDN;
    kora::s_string m_IssuerName, m_IssuerOrga, m_IssuerOrgaUnit, m_IssuerCountry, m_IssuerCity,
        m_IssuerState, m_IssuerDN;
    kora::s_uint32 m_PublicKeyLength;
    kora::s_string m_SerialNumber, m_Fingerprint;
    kora::cTime m_NotBefore, m_NotAfter;
    kora::s_uint32 m_CertificateType, m_SignatureType;
    kora::s_bool m_Valid, m_CA, m_Selfsigned;
    kora::s_string m_Reserved;  // travels in the binary form only

  public:
    static const Table<cDBCertificate>& Fields() {
        using C = cDBCertificate;
        static const Table<C> rows{{
            Field(&C::m_SubjectName, "SubjectName").KeepOnDefault(),
            Field(&C::m_SubjectOrga, "SubjectOrganization").KeepOnDefault(),
            Field(&C::m_SubjectOrgaUnit, "SubjectOrganizationUnit").KeepOnDefault(),
            Field(&C::m_SubjectCountry, "SubjectCountry").KeepOnDefault(),
            Field(&C::m_SubjectCity, "SubjectCity").KeepOnDefault(),
            Field(&C::m_SubjectState, "SubjectState").KeepOnDefault(),
            Field(&C::m_SubjectDN, "SubjectDN").KeepOnDefault(),
            Field(&C::m_IssuerName, "IssuerName").KeepOnDefault(),
            Field(&C::m_IssuerOrga, "IssuerOrganization").KeepOnDefault(),
            Field(&C::m_IssuerOrgaUnit, "IssuerOrganizationUnit").KeepOnDefault(),
            Field(&C::m_IssuerCountry, "IssuerCountry").KeepOnDefault(),
            Field(&C::m_IssuerCity, "IssuerCity").KeepOnDefault(),
            Field(&C::m_IssuerState, "IssuerState").KeepOnDefault(),
            Field(&C::m_IssuerDN, "IssuerDN").KeepOnDefault(),
            Field(&C::m_PublicKeyLength, "PublicKeyLength"),
            Field(&C::m_SerialNumber, "SerialNumber").KeepOnDefault(),
            Field(&C::m_Fingerprint, "PublicKeyFingerprint").KeepOnDefault(),
            Field(&C::m_NotBefore, "NotBefore").KeepOnDefault(),
            Field(&C::m_NotAfter, "NotAfter").KeepOnDefault(),
            Field(&C::m_CertificateType, "CertificateType"),
            Field(&C::m_SignatureType, "SignatureType"),
            Field(&C::m_Valid, "Valid"),
            Field(&C::m_CA, "CA"),
            Field(&C::m_Selfsigned, "Selfsigned"),
            Field(&C::m_Reserved, "Reserved").NoJson(),
        }};
        return rows;
    }
};

// A template for certificate signing requests, optionally sent through SCEP.
class TESSEL_API cDBConfigCSRTemplate : public cDBRecord<cDBConfigCSRTemplate> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigCSRTemplate",
                                       "CSRTemplateObject",
                                       ACCESS_CLASS_CERTIFICATES,
                                       4,
                                       VersionsFrom(2, 4),
                                       "",
                                       "/Config/Certificates/CSRTemplates/"};
    cDBConfigCSRTemplate() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigCSRTemplate"; }
    // "CommonName" (in mode 1 followed by the placeholder "<SerialNumber>"),
    // "SCEPEnabled".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetCommonNameMode(kora::s_uint32 v) { return Set(m_CommonNameMode, v); }  // code 1..2
    bool SetCommonName(const std::string& v) { return Set(m_CommonName, v); }
    // code 1..2
    bool SetSignatureAlgorithm(kora::s_uint32 v) { return Set(m_SignatureAlgorithm, v); }
    bool SetOrganisationName(const std::string& v) { return Set(m_OrganisationName, v); }
    bool SetOrganisationUnitName(const std::string& v) { return Set(m_OrganisationUnitName, v); }
    bool SetCountryName(const std::string& v) { return Set(m_CountryName, v); }
    bool SetStateName(const std::string& v) { return Set(m_StateName, v); }
    bool SetCityName(const std::string& v) { return Set(m_CityName, v); }
    bool SetEmail(const std::string& v) { return Set(m_Email, v); }
    void SetSCEPEnabled(bool v) { m_SCEPEnabled = v; }
    bool SetSCEPURL(const std::string& v) { return Set(m_SCEPURL, v); }

    kora::s_uint8 GetCommonNameMode() const { return m_CommonNameMode; }
    const kora::s_string& GetCommonName() const { return m_CommonName; }
    kora::s_uint8 GetSignatureAlgorithm() const { return m_SignatureAlgorithm; }
    const kora::s_string& GetOrganisationName() const { return m_OrganisationName; }
    const kora::s_string& GetOrganisationUnitName() const { return m_OrganisationUnitName; }
    const kora::s_string& GetCountryName() const { return m_CountryName; }
    const kora::s_string& GetStateName() const { return m_StateName; }
    const kora::s_string& GetCityName() const { return m_CityName; }
    const kora::s_string& GetEmail() const { return m_Email; }
    bool GetSCEPEnabled() const { return m_SCEPEnabled; }
    const kora::s_string& GetSCEPURL() const { return m_SCEPURL; }

    // Shell-safe text that begins with "http://" or "https://".
    static bool IsScepUrl(const std::string& url);

  private:
    kora::s_uint8 m_CommonNameMode;
    kora::s_string m_CommonName;
    kora::s_uint8 m_SignatureAlgorithm;
    kora::s_string m_OrganisationName, m_OrganisationUnitName, m_CountryName, m_StateName,
        m_CityName, m_Email;
    kora::s_bool m_SCEPEnabled;
    kora::s_string m_SCEPURL;

  public:
    static const Table<cDBConfigCSRTemplate>& Fields() {
        using C = cDBConfigCSRTemplate;
        static const Table<C> rows{
            {
                Field(&C::m_CommonNameMode, "CommonNameMode", 1).Since(2).Range(1, 2),
                Field(&C::m_CommonName, "CommonName").Since(2),
                Field(&C::m_SignatureAlgorithm, "SignatureAlgorithm", 2).Since(2).Range(1, 2),
                Field(&C::m_OrganisationName, "OrganisationName").Since(2),
                Field(&C::m_OrganisationUnitName, "OrgantisationUnitName").Since(2),
                Field(&C::m_CountryName, "CountryName").Since(2).Check(MaxLength<2>),
                Field(&C::m_StateName, "StateName").Since(2),
                Field(&C::m_CityName, "CityName").Since(2),
                Field(&C::m_Email, "Email").Since(2),
                Field(&C::m_SCEPEnabled, "SCEPEnabled").Since(3).Optional(1),
                Field(&C::m_SCEPURL, "SCEPURL").Since(3).Check(IsScepUrl).Optional(1),
            },
            {
                // Version 3 held one more text after the URL, since dropped.
                Stored(3, {"CommonNameMode", "CommonName", "SignatureAlgorithm", "OrganisationName",
                           "OrgantisationUnitName", "CountryName", "StateName", "CityName", "Email",
                           "SCEPEnabled", "SCEPURL", Skip<kora::s_string>()}),
            }};
        return rows;
    }
};

// The state of the device's own key pair.
class TESSEL_API cDBStatusPrivateKey : public cDBRecord<cDBStatusPrivateKey> {
  public:
    static constexpr ItemInfo kInfo = {"cDBStatusPrivateKey",
                                       "PrivateKeyStatusObject",
                                       ACCESS_CLASS_CERTIFICATES,
                                       2,
                                       VersionsFrom(1, 2),
                                       "PrivateKeyStatus",
                                       "/Status/Certificates/DeviceCertificates/"};
    cDBStatusPrivateKey() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    void SetPubkeyLength(kora::s_uint32 v) { m_PublicKeyLength = v; }
    bool SetPubkeyFingerprint(const std::string& v) { return Set(m_Fingerprint, v); }
    // Stores the fingerprint of the key text, not the key.
    bool SetPubkey(const std::string& key) { return Set(m_Fingerprint, PublicKeyFingerprint(key)); }
    void SetCreationTime(const kora::cTime& v) { m_CreationTime = v; }
    kora::s_uint32 GetPubkeyLength() const { return m_PublicKeyLength; }
    const kora::s_string& GetPubkeyFingerprint() const { return m_Fingerprint; }
    const kora::cTime& GetCreationTime() const { return m_CreationTime; }

  private:
    kora::s_uint32 m_PublicKeyLength;
    kora::s_string m_Fingerprint;
    kora::cTime m_CreationTime;

  public:
    static const Table<cDBStatusPrivateKey>& Fields() {
        using C = cDBStatusPrivateKey;
        static const Table<C> rows{{
            Field(&C::m_PublicKeyLength, "PublicKeyLength"),
            Field(&C::m_Fingerprint, "PublicKeyFingerprint").Since(2).KeepOnDefault(),
            Field(&C::m_CreationTime, "CreationTime").KeepOnDefault(),
        }};
        return rows;
    }
};

}  // namespace tessel
