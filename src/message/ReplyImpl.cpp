// ReplyImpl.cpp - retrieval of a reply from the request's future.
#include "message/ReplyImpl.h"

#include <system_error>

#include "etwlogging/LogCall.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"message\\ReplyImpl";
}

ReplyImpl::ReplyImpl(std::future<std::shared_ptr<Message>> future) : future_(std::move(future)) {}

std::shared_ptr<Message> ReplyImpl::getMessage() const {
    return status_ == REPLY_RECEIVED ? message_ : nullptr;
}

uint32_t ReplyImpl::getReplyMessage() {
    if (!future_.valid()) {
        GP_LOG_ERROR(kSource, L"Vornik::ReplyImpl::getReplyMessage", L"Reply future is in an invalid state. Returning.");
        return REPLY_FAILED;
    }
    try {
        std::shared_ptr<Message> message = future_.get();
        if (!message) return REPLY_FAILED;
        message_ = std::move(message);
        return REPLY_RECEIVED;
    } catch (const std::system_error& e) {
        // The client fails a promise with a system_error carrying a generic condition
        // (std::future_error cannot carry one); a broken promise is a future_error.
        return e.code() == std::errc::operation_canceled ? REPLY_TIMED_OUT : REPLY_FAILED;
    } catch (...) {
        return REPLY_FAILED;
    }
}

uint32_t ReplyImpl::wait() {
    if (status_ == REPLY_RECEIVED) return status_;
    status_ = getReplyMessage();
    return status_;
}

uint32_t ReplyImpl::waitFor(std::chrono::milliseconds timeout) {
    if (!future_.valid()) {
        GP_LOG_ERROR(kSource, L"Vornik::ReplyImpl::waitFor", L"Reply future is in an invalid state. Returning.");
        status_ = REPLY_FAILED;
        return status_;
    }
    // now + timeout overflows for a long timeout (milliseconds::max(), centuries) and
    // would lie in the past: a deadline beyond the clock's range means no deadline.
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    if (timeout >= room) {
        future_.wait();
    } else if (future_.wait_until(now + std::max(timeout, std::chrono::milliseconds(0))) != std::future_status::ready) {
        GP_LOG_WARNING(kSource, L"Vornik::ReplyImpl::waitFor", L"Reply waitFor timed out. Returning.");
        return status_;
    }
    status_ = getReplyMessage();
    return status_;
}

}  // namespace Vornik
