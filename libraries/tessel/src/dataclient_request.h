// The synchronous request pattern every waiting cDataClient operation uses.
// Private to the client's sources.
#pragma once

#include <utility>

#include "tessel/dataclient.h"

namespace tessel {

// Why an exchange that got `reply` (or none) failed; kNone when the reply
// carries an R.
template <class R>
eFailure Judged(bool answered, bool connected, const kora::cMsg& reply) {
    if (!answered) return connected ? eFailure::kTimedOut : eFailure::kNotConnected;
    if (reply.GetObject<R>()) return eFailure::kNone;
    return reply.HasPayload() ? eFailure::kWrongAnswer : eFailure::kNotFound;
}

template <class R>
kora::Ref<R> cDataClient::Exchange(kora::cMsg& request, const char* replyName) {
    kora::cMsg reply;
    const bool answered = SendSync(request, reply, m_timeout, replyName, "", "");
    SetFailure(Judged<R>(answered, answered || IsConnected(), reply));
    // An answer without a payload of the expected class counts as no answer.
    return answered ? kora::Ref<R>::Share(reply.GetObject<R>()) : kora::Ref<R>();
}

template <class R>
kora::s_int8 cDataClient::Judge(const kora::Ref<R>& answer) {
    if (!answer) {
        if (m_failure == eFailure::kNotFound) SetFailure(eFailure::kWrongAnswer);
        return 0;
    }
    SetFailure(answer->Result == 1 ? eFailure::kNone : eFailure::kRefused, answer->Result);
    return answer->Result;
}

template <class P, class Fill>
bool cDataClient::Attach(kora::cMsg& request, Fill&& fill) {
    P* payload = kora::New<P>();
    if (!payload) return false;  // no memory: the caller reports kInvalid
    fill(*payload);
    request.AssignObject(payload);  // the message takes over our reference
    return true;
}

template <class R>
kora::s_int8 cDataClient::ResultOf(const char* name, const char* replyName) {
    kora::cMsg request(name);
    return Judge(Exchange<R>(request, replyName));
}

template <class P, class R, class Fill>
kora::s_int8 cDataClient::ResultOf(const char* name, const char* replyName, Fill&& fill) {
    kora::cMsg request(name);
    if (!Attach<P>(request, std::forward<Fill>(fill))) {
        SetFailure(eFailure::kInvalid);
        return 0;
    }
    return Judge(Exchange<R>(request, replyName));
}

}  // namespace tessel
