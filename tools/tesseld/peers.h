// Who may make administrative requests: judged from the socket credentials of
// the requesting process, never from what the peer says about itself.
#pragma once

#include <sys/types.h>

#include <string>

namespace tesseld {

class cAdminPolicy {
  public:
    // `group` names the administrators' group (a name or a number); "" for
    // none. False when the group does not exist.
    bool Configure(const std::string& group, std::string& error);

    // root and the server's own user are administrators; so is a process
    // whose group, or whose user's group list, holds the configured group.
    bool IsAdmin(uid_t uid, gid_t gid) const;

    const std::string& GroupName() const { return m_name; }

  private:
    bool m_hasGroup = false;
    gid_t m_gid = 0;
    std::string m_name;
};

}  // namespace tesseld
