// Payloads of the administrative requests: log reading and export,
// configuration import and export, status export, snapshot, user management,
// authentication, and flags (named values of any registered type that the
// host keeps outside the item tree). Restore points, restore, confirm,
// fallback, factory reset and factory information requests carry no payload.
//
// Passwords travel in the binary form but never appear in a text form.
#pragma once

#include <string>

#include "tessel/messages.h"

namespace tessel {

// ---- Logs ----

// Reads log entries of one unit from a point in time on. Level, Count and
// Status are each read only when their own scalar version is 1, so a sender
// with other scalar layouts is still understood as far as it goes.
class TESSEL_API ccDBLogReadReq final : public cPayload {
  public:
    kora::cTime From;
    kora::s_string Unit;
    kora::s_uint8 Level;    // log level
    kora::s_uint8 Count;    // number of entries
    kora::s_uint64 Status;  // handed to the host unchanged

    std::string TypeName() const override { return "ccDBLogReadReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBLogReadReq;
        static const Table<C> t{{Field(&C::From), Field(&C::Unit), Field(&C::Level).Lenient(),
                                 Field(&C::Count).Lenient(), Field(&C::Status).Lenient()}};
        return t;
    }
};

// Exports the log entries of some units between two times into a file.
class TESSEL_API ccDBLogExportReq final : public cPayload {
  public:
    kora::cTime From;
    kora::cTime To;
    cNameSet Units;
    kora::s_uint8 Level;
    kora::s_string Filepath;

    std::string TypeName() const override { return "ccDBLogExportReq"; }
    // Ends with a comma; the units are not printed.
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBLogExportReq;
        static const Table<C> t{{Field(&C::From), Field(&C::To),
                                 List<cNameEntry>(&C::Units, "", "", NameSetRows()).NoJson(),
                                 Field(&C::Level), Field(&C::Filepath)}};
        return t;
    }
};

// ---- Files ----

// Imports a configuration file; UseFallback goes to the host's import as is
// and is read only when its own scalar version is 1.
class TESSEL_API ccDBConfigImportReq final : public cPayload {
  public:
    kora::s_string Filepath;
    kora::s_bool UseFallback;

    std::string TypeName() const override { return "ccDBConfigImportReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBConfigImportReq;
        static const Table<C> t{{Field(&C::Filepath), Field(&C::UseFallback).Lenient()}};
        return t;
    }
};

// A request that names one file the host writes.
class TESSEL_API cDBFileReq : public cPayload {
  public:
    kora::s_string Filepath;

    // "<type name>:Filepath:<path>".
    std::string ToString(const std::string& format) const override;

  protected:
    cDBFileReq() = default;
    const cRecordTable& Fields() const override {
        using C = cDBFileReq;
        static const Table<C> t{{Field(&C::Filepath)}};
        return t;
    }
};

// Export of the configuration, of the status, and of the flags; a snapshot.
TESSEL_NAMED_PAYLOAD(ccDBConfigExportReq, cDBFileReq);
TESSEL_NAMED_PAYLOAD(ccDBStatusExportReq, cDBFileReq);
TESSEL_NAMED_PAYLOAD(ccDBFlagsExportReq, cDBFileReq);
TESSEL_NAMED_PAYLOAD(ccDBSnapshotReq, cDBFileReq);

// ---- Users ----

// Creates a user account. Version 2 added Extra1 and Extra2; a version 1
// request is still read (both stay 0), and in it AccessLevel is read only
// when its own scalar version is 1.
class TESSEL_API ccDBAddUserReq final : public cPayload {
  public:
    kora::s_string Username;
    kora::s_string Password;  // never printed
    kora::s_uint8 AccessLevel;
    // Two further values of the client's AddUser call, carried in order to
    // the host's AddUser. Their meaning belongs to the client and the host;
    // this library only transports them.
    kora::s_uint8 Extra1;
    kora::s_uint8 Extra2;

    unsigned Version() const override { return 2; }
    std::string TypeName() const override { return "ccDBAddUserReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBAddUserReq;
        static const Table<C> t{{Field(&C::Username), Field(&C::Password),
                                 Field(&C::AccessLevel).Lenient(1), Field(&C::Extra1).Since(2),
                                 Field(&C::Extra2).Since(2)}};
        return t;
    }
};

// Deletes a user account.
class TESSEL_API ccDBDeleteUserReq final : public cPayload {
  public:
    kora::s_string Username;

    std::string TypeName() const override { return "ccDBDeleteUserReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBDeleteUserReq;
        static const Table<C> t{{Field(&C::Username)}};
        return t;
    }
};

// Sets a user's password. Version 2 added Extra; a version 1 request is
// still read (Extra stays 0).
class TESSEL_API ccDBSetPasswordReq final : public cPayload {
  public:
    kora::s_string Username;
    kora::s_string Password;  // never printed
    // A further value of the client's SetPassword call, carried to the host's
    // SetPassword; its meaning belongs to them, this library only transports it.
    kora::s_uint8 Extra;

    unsigned Version() const override { return 2; }
    std::string TypeName() const override { return "ccDBSetPasswordReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBSetPasswordReq;
        static const Table<C> t{
            {Field(&C::Username), Field(&C::Password), Field(&C::Extra).Since(2)}};
        return t;
    }
};

// Checks a user's credentials.
class TESSEL_API ccDBAuthenticateUserReq final : public cPayload {
  public:
    kora::s_string Username;
    kora::s_string Password;  // never printed

    std::string TypeName() const override { return "ccDBAuthenticateUserReq"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBAuthenticateUserReq;
        static const Table<C> t{{Field(&C::Username), Field(&C::Password)}};
        return t;
    }
};

// Outcome of an authentication and the user's access level; each scalar is
// read only when its own version is 1.
class TESSEL_API ccDBAuthenticateUserResp final : public cPayload {
  public:
    kora::s_int8 Result;
    kora::s_uint8 AccessLevel;

    std::string TypeName() const override { return "ccDBAuthenticateUserResp"; }
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBAuthenticateUserResp;
        static const Table<C> t{{Field(&C::Result).Lenient(), Field(&C::AccessLevel).Lenient()}};
        return t;
    }
};

// ---- Flags ----

// Stores a flag: a named value object of any registered class. The request
// holds at most one counted reference to its value; copies share the value.
// On reading, a value whose class is not registered here (or whose bytes do
// not read) becomes null rather than failing the request. A request must not
// hold itself as its value, directly or through other requests.
class TESSEL_API ccDBSetFlagReq final : public cPayload {
  public:
    kora::s_string Name;

    std::string TypeName() const override { return "ccDBSetFlagReq"; }
    std::string ToString(const std::string& format) const override;

    // Holds `value` (adding a reference; none for null) and releases the value
    // held before. Setting the value already held keeps it held and alive.
    void SetSObject(kora::ISerialize* value) { m_value = cValueRef::Share(value); }
    // The value held, without adding a reference; null when there is none.
    kora::ISerialize* GetSObject() const { return m_value.get(); }

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBSetFlagReq;
        static const Table<C> t{{Field(&C::Name), Field(&C::m_value)}};
        return t;
    }

  private:
    cValueRef m_value;
};

// A request that names one flag.
class TESSEL_API cDBFlagNameReq : public cPayload {
  public:
    kora::s_string Name;

    // "<type name>:Name:<name>".
    std::string ToString(const std::string& format) const override;

  protected:
    cDBFlagNameReq() = default;
    const cRecordTable& Fields() const override {
        using C = cDBFlagNameReq;
        static const Table<C> t{{Field(&C::Name)}};
        return t;
    }
};

// Reads a flag (answered by the value object itself) or deletes it.
TESSEL_NAMED_PAYLOAD(ccDBGetFlagReq, cDBFlagNameReq);
TESSEL_NAMED_PAYLOAD(ccDBDeleteFlagReq, cDBFlagNameReq);

// ---- Outcomes ----

// The two strings the host reports as factory configuration information.
class TESSEL_API ccDBFactoryConfigInfoResp final : public cPayload {
  public:
    kora::s_string First;
    kora::s_string Second;

    std::string TypeName() const override { return "ccDBFactoryConfigInfoResp"; }
    // "ccDBFactoryConfigInfoResp:" — the strings are not printed.
    std::string ToString(const std::string& format) const override;

  protected:
    const cRecordTable& Fields() const override {
        using C = ccDBFactoryConfigInfoResp;
        static const Table<C> t{{Field(&C::First), Field(&C::Second)}};
        return t;
    }
};

// Outcomes of the administrative requests.
TESSEL_NAMED_PAYLOAD(ccDBLogExportResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBCreateRestorePointResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBRestoreResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBConfigImportResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBConfirmConfigurationResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBFallbackConfigurationResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBConfigExportResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBStatusExportResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBFactoryResetResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBAddUserResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBDeleteUserResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBSetPasswordResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBSetFlagResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBDeleteFlagResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBFlagsExportResp, ccDBResp);
TESSEL_NAMED_PAYLOAD(ccDBSnapshotResp, ccDBResp);

}  // namespace tessel
