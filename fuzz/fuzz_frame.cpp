// Feeds arbitrary bytes to the frame decoder as a connection would deliver
// them: length-prefixed frames one after the other. Each frame that decodes
// has its payload recreated and printed, so the payload classes' readers run
// on whatever a peer may send.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tessel/tessel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord&) {});
    size_t at = 0;
    while (size - at >= 4) {
        const uint32_t len = data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                             static_cast<uint32_t>(data[at + 3]) << 24;
        at += 4;
        if (len > size - at || len > kora::kMaxFrameSize) break;
        kora::cMsg msg;
        std::string error;
        if (kora::cFrame::Decode(data + at, len, msg, error)) {
            if (kora::ISerialize* payload = msg.GetPayload()) {
                payload->ToString("");
                // What decoded encodes again, within the frame limit.
                std::vector<uint8_t> frame;
                kora::cFrame::Encode(msg, msg.Id(), msg.InReplyTo(), frame, error);
            }
        }
        at += len;
    }
    return 0;
}
