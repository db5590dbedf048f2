// Writes the seed corpora of fuzz_frame and fuzz_dispatch: well-formed frames
// of the protocol's requests and pushes.
//   make_seeds <fuzz/corpus directory>
#include <fstream>
#include <string>
#include <vector>

#include "tessel/tessel.h"

using namespace tessel;
using Bytes = std::vector<uint8_t>;

namespace {

// Frames the messages one after the other, with ids from 2 on.
Bytes Frames(const std::vector<std::pair<const char*, kora::ISerialize*>>& msgs) {
    Bytes stream;
    uint32_t id = 2;
    for (const auto& m : msgs) {
        kora::cMsg msg(m.first);
        if (m.second) msg.AssignObject(m.second);
        Bytes frame;
        std::string error;
        kora::cFrame::Encode(msg, id++, 0, frame, error);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// A new payload whose request path is `path`.
template <class T>
T* WithPath(const std::string& path) {
    T* t = kora::New<T>();
    t->Path = path;
    return t;
}

void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1], ssh = "/Config/System/DeviceManagement/SSH/SSHConfig";
    auto* rename = kora::New<ccDBRenameItemReq>();
    rename->Directory = "/Users/";
    rename->Name = "a";
    rename->NewName = "b";
    auto* log = kora::New<cDBLogItem>();
    log->SetUnit("VPN");
    log->SetText("up");
    auto* user = kora::New<ccDBAddUserReq>();
    user->Username = "ann";
    user->Password = "pw";
    auto* setFlag = kora::New<ccDBSetFlagReq>();
    setFlag->Name = "f";
    setFlag->SetSObject(kora::Ref<kora::s_string>::Adopt(kora::New<kora::s_string>("v")).get());
    auto* getFlag = kora::New<ccDBGetFlagReq>();
    getFlag->Name = "f";
    const struct {
        const char* file;
        bool toClient;
        Bytes frames;
    } seeds[] = {
        {"get-item", false, Frames({{kMsgGetItemReq, WithPath<ccDBGetItemReq>(ssh)}})},
        {"set-item", false, Frames({{kMsgSetItemReq, kora::New<cDBConfigSSH>()}})},
        {"delete-item", false, Frames({{kMsgDeleteItemReq, WithPath<ccDBDeleteItemReq>(ssh)}})},
        {"rename", false, Frames({{kMsgRenameItemReq, rename}})},
        {"register", false,
         Frames({{kMsgRegCollectionReq, WithPath<ccDBRegCollectionReq>("/Users/")},
                 {kMsgDeRegCollectionReq, WithPath<ccDBDeRegCollectionReq>("")}})},
        {"log", false, Frames({{kMsgLogReq, log}})},
        {"read-log", false, Frames({{kMsgReadLogReq, kora::New<ccDBLogReadReq>()}})},
        {"snapshot", false, Frames({{kMsgSnapshotReq, kora::New<ccDBSnapshotReq>()}})},
        {"add-user", false, Frames({{kMsgAddUserReq, user}})},
        {"flags", false, Frames({{kMsgSetFlagReq, setFlag}, {kMsgGetFlagReq, getFlag}})},
        {"local-names", false,
         Frames({{kora::kChannelClosedMsg, nullptr},
                 {kMsgDumpTimeout, nullptr},
                 {kMsgDumpRes, nullptr},
                 {kMsgRebootReq, nullptr}})},
        {"sync", true,
         Frames({{kMsgCollectionSyncInit, WithPath<ccDBSyncInit>("/Config/System/Access/")},
                 {kMsgCollectionSyncItem, kora::New<cDBConfigSSH>()},
                 {kMsgCollectionSyncEnd, WithPath<ccDBSyncEnd>("/Config/System/Access/")}})},
        {"pushes", true,
         Frames({{kMsgRebootNotification, nullptr},
                 {kMsgDumpReq, WithPath<ccDumpReq>("/d")},
                 {kMsgOnClose, nullptr},
                 {kMsgOnConnect, nullptr}})},
    };
    for (const auto& seed : seeds) {
        Write(dir + "/frame/" + seed.file, seed.frames);
        Bytes dispatch{uint8_t(seed.toClient ? 1 : 0)};
        dispatch.insert(dispatch.end(), seed.frames.begin(), seed.frames.end());
        Write(dir + "/dispatch/" + seed.file, dispatch);
    }
    return 0;
}
