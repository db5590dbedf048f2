// The synchronous request pattern every waiting cDataClient operation uses.
// Private to the client's sources.
#pragma once

#include <utility>

#include "tessel/dataclient.h"

namespace tessel {

template <class R>
kora::Ref<R> cDataClient::Exchange(kora::cMsg& request, const char* replyName) {
    kora::cMsg reply;
    if (!SendSync(request, reply, m_timeout, replyName, "", "")) return {};
    // An answer without a payload of the expected class counts as no answer.
    return kora::Ref<R>::Share(reply.GetObject<R>());
}

template <class P, class Fill>
bool cDataClient::Attach(kora::cMsg& request, Fill&& fill) {
    P* payload = kora::New<P>();
    if (!payload) return false;
    fill(*payload);
    request.AssignObject(payload);  // the message takes over our reference
    return true;
}

template <class R>
kora::s_int8 cDataClient::ResultOf(const char* name, const char* replyName) {
    kora::cMsg request(name);
    kora::Ref<R> answer = Exchange<R>(request, replyName);
    return answer ? answer->Result : kora::s_int8(0);
}

template <class P, class R, class Fill>
kora::s_int8 cDataClient::ResultOf(const char* name, const char* replyName, Fill&& fill) {
    kora::cMsg request(name);
    if (!Attach<P>(request, std::forward<Fill>(fill))) return 0;
    kora::Ref<R> answer = Exchange<R>(request, replyName);
    return answer ? answer->Result : kora::s_int8(0);
}

}  // namespace tessel
