#include "kora/trace.h"
#include "tessel/registration.h"

namespace tessel {

void dataInit() {
    kora::cTracepoint::Call("tessel", "1", 0, "dataInit:", "", __FILE__, __LINE__);
}

void dataDeinit() {
    kora::cTracepoint::Call("tessel", "1", 0, "dataDeinit:", "", __FILE__, __LINE__);
}

}  // namespace tessel
