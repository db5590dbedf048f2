// cDataClient: writing, reading and exporting the logbook.
#include <utility>

#include "dataclient_request.h"
#include "tessel/messages_admin.h"

namespace tessel {

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
    if (configured != units.end() && level < configured->second.GetLevel()) return;

    kora::Ref<cDBLogItem> entry = kora::Ref<cDBLogItem>::Adopt(kora::New<cDBLogItem>());
    if (!entry) return;
    // An entry that names an unknown kind of unit, level, type or outcome
    // is dropped rather than sent half filled.
    if (!entry->SetUnit(unit) || !entry->SetLevel(kora::s_uint32(level.Value())) ||
        !entry->SetType(type) || !entry->SetSuccess(kora::s_int32(success.Value())))
        return;
    // These cut over-long values instead of refusing them.
    entry->SetText(text);
    entry->SetObject(object);
    entry->SetPeer(m_service ? m_service->Name() : std::string());
    entry->SetUser(user);

    kora::cMsg request(kMsgLogReq);
    request.AssignObject(entry.Detach());
    Send(request);
}

cDBLogResult* cDataClient::ReadLog(kora::cTime from, kora::s_string unit, kora::s_uint8 level,
                                   kora::s_uint8 count, kora::s_uint64 status) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgReadLogReq);
    if (!Attach<ccDBLogReadReq>(request, [&](ccDBLogReadReq& r) {
            r.From = from;
            r.Unit = unit;
            r.Level = level;
            r.Count = count;
            r.Status = status;
        }))
        return nullptr;
    return Exchange<cDBLogResult>(request, kMsgReadLogResp).Detach();
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
