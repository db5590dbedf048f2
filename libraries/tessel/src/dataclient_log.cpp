// cDataClient: writing, reading and exporting the logbook.
#include <utility>

#include "dataclient_request.h"
#include "kora/trace.h"
#include "tessel/messages_admin.h"

namespace tessel {

namespace {

// Causes of a dropped log entry, each traced once per client.
enum : unsigned {
    kDropBelowLevel = 1,
    kDropUnit = 2,
    kDropLevel = 4,
    kDropType = 8,
    kDropOutcome = 16,
};

}  // namespace

void cDataClient::Log(std::string unit, kora::s_uint8 level, kora::s_string type,
                      kora::s_string text, kora::s_int8 success) {
    _Log(std::move(unit), level, std::move(type), std::move(text), "", "", success);
}

void cDataClient::Log(std::string unit, kora::s_uint8 level, kora::s_string type,
                      kora::s_string text, const kora::s_string& user, kora::s_int8 success) {
    _Log(std::move(unit), level, std::move(type), std::move(text), "", user, success);
}

void cDataClient::Log(std::string unit, kora::s_uint8 level, kora::s_string type,
                      kora::s_string text, const kora::ISerialize& object, kora::s_int8 success) {
    _Log(std::move(unit), level, std::move(type), std::move(text), object.ToString(""), "",
         success);
}

void cDataClient::Log(std::string unit, kora::s_uint8 level, kora::s_string type,
                      kora::s_string text, const kora::ISerialize& object,
                      const kora::s_string& user, kora::s_int8 success) {
    _Log(std::move(unit), level, std::move(type), std::move(text), object.ToString(""), user,
         success);
}

void cDataClient::_Log(std::string unit, kora::s_uint8 level, kora::s_string type,
                       kora::s_string text, std::string object, kora::s_string user,
                       kora::s_int8 success) {
    // The lock also keeps a sync of the log units from replacing the
    // committed levels while they are read.
    kora::cDispatchLock guard = Guard();
    const auto& units = m_logUnits.GetUnits();
    auto configured = units.find(unit);
    if (configured != units.end() && level < configured->second.GetLevel()) {
        SetFailure(eFailure::kNone);  // what the unit's configuration asks for
        LogDropped(kDropBelowLevel, 0, "below its unit's level",
                   kora::FormatString("%.40s: %u < %u", unit.c_str(), unsigned(level),
                                      unsigned(configured->second.GetLevel())));
        return;
    }

    kora::Ref<cDBLogItem> entry = kora::Ref<cDBLogItem>::Adopt(kora::New<cDBLogItem>());
    if (!entry) {
        SetFailure(eFailure::kInvalid);
        return;
    }
    // An entry that names an unknown kind of unit, level, type or outcome
    // is dropped rather than sent half filled.
    const struct {
        unsigned cause;
        const char* what;
        bool ok;
    } checks[] = {
        {kDropUnit, "unit refused", entry->SetUnit(unit)},
        {kDropLevel, "level refused", entry->SetLevel(kora::s_uint32(level.Value()))},
        {kDropType, "type refused", entry->SetType(type)},
        {kDropOutcome, "outcome refused", entry->SetSuccess(kora::s_int32(success.Value()))},
    };
    for (const auto& check : checks) {
        if (check.ok) continue;
        SetFailure(eFailure::kInvalid);
        LogDropped(check.cause, 1, check.what,
                   kora::FormatString("unit \"%.40s\", level %u, type \"%.40s\", outcome %d",
                                      unit.c_str(), unsigned(level), type.c_str(), int(success)));
        return;
    }
    // These cut over-long values instead of refusing them.
    entry->SetText(text);
    entry->SetObject(object);
    entry->SetPeer(m_service ? m_service->Name() : std::string());
    entry->SetUser(user);

    kora::cMsg request(kMsgLogReq);
    request.AssignObject(entry.Detach());
    SetFailure(Send(request) ? eFailure::kNone : eFailure::kNotConnected);
}

void cDataClient::LogDropped(unsigned cause, int level, const std::string& why,
                             const std::string& detail) {
    // Once per cause: a service that logs in a loop must not flood the trace.
    if (m_tracedDrops & cause) return;
    m_tracedDrops |= cause;
    kora::cTracepoint::Call("DTCL", "001", level,
                            "DataClient log entry dropped: " + why + " (traced once)", detail,
                            "dataClient", __LINE__);
}

cDBLogResult* cDataClient::ReadLog(kora::cTime from, kora::s_string unit, kora::s_uint8 level,
                                   kora::s_uint8 count, kora::s_uint64 status) {
    return ReadLogRef(from, std::move(unit), level, count, status).Detach();
}

kora::Ref<cDBLogResult> cDataClient::ReadLogRef(kora::cTime from, kora::s_string unit,
                                                kora::s_uint8 level, kora::s_uint8 count,
                                                kora::s_uint64 status) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgReadLogReq);
    if (!Attach<ccDBLogReadReq>(request, [&](ccDBLogReadReq& r) {
            r.From = from;
            r.Unit = unit;
            r.Level = level;
            r.Count = count;
            r.Status = status;
        })) {
        SetFailure(eFailure::kInvalid);
        return {};
    }
    return Exchange<cDBLogResult>(request, kMsgReadLogResp);
}

kora::s_int8 cDataClient::ExportLog(kora::cTime from, kora::cTime to, kora::s_uint8 level,
                                    std::set<kora::s_string> units, kora::s_string filepath) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBLogExportReq, ccDBLogExportResp>(kMsgLogExportReq, kMsgLogExportResp,
                                                         [&](ccDBLogExportReq& r) {
                                                             r.From = from;
                                                             r.To = to;
                                                             r.Level = level;
                                                             r.Units = std::move(units);
                                                             r.Filepath = filepath;
                                                         });
}

}  // namespace tessel
