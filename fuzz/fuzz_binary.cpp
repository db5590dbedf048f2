// Feeds arbitrary bytes to the object factory, as a message frame's payload
// would arrive: every registered class must refuse or accept cleanly.
#include <cstddef>
#include <cstdint>

#include "tessel/tessel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kora::cSerializeBuffer buffer(data, size);
    kora::Ref<kora::ISerialize> obj =
        kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(buffer));
    if (obj) {
        kora::cSerializeBuffer again;
        obj->Serialize(again);
        obj->ToString("");
    }
    return 0;
}
