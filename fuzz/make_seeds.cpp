// Writes the seed corpora of fuzz_frame, fuzz_dispatch and fuzz_binary:
// well-formed frames of the protocol's requests and pushes.
//   make_seeds <fuzz/corpus directory>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tessel/tessel.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FrameOf(const char* name, kora::ISerialize* payload, uint32_t id) {
    kora::cMsg msg(name);
    if (payload) msg.AssignObject(payload);
    Bytes frame;
    std::string error;
    kora::cFrame::Encode(msg, id, 0, frame, error);
    return frame;
}

template <class T>
T* Make(const std::function<void(T&)>& fill = nullptr) {
    T* t = kora::New<T>();
    if (fill) fill(*t);
    return t;
}

void Write(const std::string& path, const Bytes& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    using namespace tessel;
    struct Seed {
        const char* file;
        bool toClient;
        std::vector<Bytes> frames;
    };
    auto path = [](ccDBReq& r) { r.Path = "/Config/System/DeviceManagement/SSH/SSHConfig"; };
    std::vector<Seed> seeds = {
        {"get-item", false, {FrameOf(kMsgGetItemReq, Make<ccDBGetItemReq>(path), 2)}},
        {"set-item", false, {FrameOf(kMsgSetItemReq, Make<cDBConfigSSH>(), 2)}},
        {"delete-item", false, {FrameOf(kMsgDeleteItemReq, Make<ccDBDeleteItemReq>(path), 2)}},
        {"rename",
         false,
         {FrameOf(kMsgRenameItemReq, Make<ccDBRenameItemReq>([](ccDBRenameItemReq& r) {
                      r.Directory = "/Users/";
                      r.Name = "a";
                      r.NewName = "b";
                  }),
                  2)}},
        {"register",
         false,
         {FrameOf(kMsgRegCollectionReq,
                  Make<ccDBRegCollectionReq>([](ccDBRegCollectionReq& r) { r.Path = "/Users/"; }),
                  2),
          FrameOf(kMsgDeRegCollectionReq,
                  Make<ccDBDeRegCollectionReq>([](ccDBDeRegCollectionReq& r) { r.Path = ""; }),
                  3)}},
        {"log",
         false,
         {FrameOf(kMsgLogReq, Make<cDBLogItem>([](cDBLogItem& e) {
                      e.SetUnit("VPN");
                      e.SetText("up");
                  }),
                  2)}},
        {"read-log", false, {FrameOf(kMsgReadLogReq, Make<ccDBLogReadReq>(), 2)}},
        {"snapshot", false, {FrameOf(kMsgSnapshotReq, Make<ccDBSnapshotReq>(), 2)}},
        {"add-user",
         false,
         {FrameOf(kMsgAddUserReq, Make<ccDBAddUserReq>([](ccDBAddUserReq& r) {
                      r.Username = "ann";
                      r.Password = "pw";
                  }),
                  2)}},
        {"flags",
         false,
         {FrameOf(kMsgSetFlagReq, Make<ccDBSetFlagReq>([](ccDBSetFlagReq& r) {
                      r.Name = "f";
                      kora::Ref<kora::s_string> v =
                          kora::Ref<kora::s_string>::Adopt(kora::New<kora::s_string>("v"));
                      r.SetSObject(v.get());
                  }),
                  2),
          FrameOf(kMsgGetFlagReq, Make<ccDBGetFlagReq>([](ccDBGetFlagReq& r) { r.Name = "f"; }),
                  3)}},
        {"local-names",
         false,
         {FrameOf(kora::kChannelClosedMsg, nullptr, 2), FrameOf(kMsgDumpTimeout, nullptr, 3),
          FrameOf(kMsgDumpRes, nullptr, 4), FrameOf(kMsgRebootReq, nullptr, 5)}},
        {"sync",
         true,
         {FrameOf(kMsgCollectionSyncInit,
                  Make<ccDBSyncInit>([](ccDBSyncInit& r) { r.Path = "/Config/System/Access/"; }),
                  2),
          FrameOf(kMsgCollectionSyncItem, Make<cDBConfigSSH>(), 3),
          FrameOf(kMsgCollectionSyncEnd,
                  Make<ccDBSyncEnd>([](ccDBSyncEnd& r) { r.Path = "/Config/System/Access/"; }),
                  4)}},
        {"pushes",
         true,
         {FrameOf(kMsgRebootNotification, nullptr, 2),
          FrameOf(kMsgDumpReq, Make<ccDumpReq>([](ccDumpReq& r) { r.Path = "/d"; }), 3),
          FrameOf(kMsgOnClose, nullptr, 4), FrameOf(kMsgOnConnect, nullptr, 5)}},
    };
    for (const Seed& seed : seeds) {
        Bytes stream, dispatch{uint8_t(seed.toClient ? 1 : 0)};
        for (const Bytes& f : seed.frames) stream.insert(stream.end(), f.begin(), f.end());
        dispatch.insert(dispatch.end(), stream.begin(), stream.end());
        Write(dir + "/frame/" + seed.file, stream);
        Write(dir + "/dispatch/" + seed.file, dispatch);
        // The factory form alone: a frame's payload starts after its header.
        kora::cMsg msg;
        std::string error;
        const Bytes& first = seed.frames.front();
        if (kora::cFrame::Decode(first.data() + 4, uint32_t(first.size() - 4), msg, error) &&
            msg.GetPayload()) {
            kora::cSerializeBuffer b;
            kora::cObjectFactory::Serialize(*msg.GetPayload(), b);
            Write(dir + "/binary/" + seed.file, Bytes(b.Data(), b.Data() + b.Size()));
        }
    }
    return 0;
}
