#include "peers.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tesseld {

bool cAdminPolicy::Configure(const std::string& group, std::string& error) {
    m_hasGroup = false;
    m_name = group;
    if (group.empty()) return true;
    std::vector<char> buffer(16384);
    struct group entry, *found = nullptr;
    char* end = nullptr;
    unsigned long number = std::strtoul(group.c_str(), &end, 10);
    if (end && *end == '\0' && !group.empty()) {
        m_gid = static_cast<gid_t>(number);
        m_hasGroup = true;
        return true;
    }
    if (getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        error = "no group named \"" + group + "\"";
        return false;
    }
    m_gid = found->gr_gid;
    m_hasGroup = true;
    return true;
}

bool cAdminPolicy::IsAdmin(uid_t uid, gid_t gid) const {
    if (uid == 0 || uid == ::geteuid()) return true;
    if (!m_hasGroup) return false;
    if (gid == m_gid) return true;
    // The groups the peer's account belongs to, as the system's group files
    // say; read fresh, so a change of membership counts at once.
    std::vector<char> buffer(16384);
    struct passwd entry, *found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    int count = 64;
    std::vector<gid_t> groups(count);
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[i] == m_gid) return true;
    return false;
}

}  // namespace tesseld
