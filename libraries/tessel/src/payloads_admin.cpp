// Text forms of the administrative payloads. Their binary forms come from
// their field lists; passwords never appear here.
#include "kora/helper.h"
#include "tessel/messages_admin.h"

namespace tessel {

std::string ccDBLogReadReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBLogReadReq:From:%s, Level:%u, Count:%u",
                              From.ToISO8601String().c_str(), static_cast<unsigned>(Level),
                              static_cast<unsigned>(Count));
}

std::string ccDBLogExportReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBLogExportReq:From:%s, To:%s, Level:%u,",
                              From.ToISO8601String().c_str(), To.ToISO8601String().c_str(),
                              static_cast<unsigned>(Level));
}

std::string ccDBConfigImportReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBConfigImportReq:Filepath:%s, UseFallback:%s", Filepath.c_str(),
                              UseFallback ? "true" : "false");
}

std::string cDBFileReq::ToString(const std::string&) const {
    return kora::FormatString("%s:Filepath:%s", TypeName().c_str(), Filepath.c_str());
}

std::string ccDBAddUserReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBAddUserReq:Username:%s, AccessLevel:%u", Username.c_str(),
                              static_cast<unsigned>(AccessLevel));
}

std::string ccDBDeleteUserReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBDeleteUserReq:Username:%s", Username.c_str());
}

std::string ccDBSetPasswordReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBSetPasswordReq:Username:%s", Username.c_str());
}

std::string ccDBAuthenticateUserReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBAuthenticateUserReq:Username:%s", Username.c_str());
}

std::string ccDBAuthenticateUserResp::ToString(const std::string&) const {
    return kora::FormatString("ccDBAuthenticateUserResp:Result:%i", static_cast<int>(Result));
}

std::string ccDBSetFlagReq::ToString(const std::string&) const {
    return kora::FormatString("ccDBSetFlagReq:Name:%s", Name.c_str());
}

std::string cDBFlagNameReq::ToString(const std::string&) const {
    return kora::FormatString("%s:Name:%s", TypeName().c_str(), Name.c_str());
}

std::string ccDBFactoryConfigInfoResp::ToString(const std::string&) const {
    return kora::FormatString("ccDBFactoryConfigInfoResp:");
}

}  // namespace tessel
