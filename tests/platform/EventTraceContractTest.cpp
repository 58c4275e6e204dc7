// Contract tests of the event-trace provider API, run against every implementation the
// machine has (here the in-process POSIX one).
#include <gtest/gtest.h>

#include "support/TraceConsumerProbe.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/EventTrace.h"

namespace glimmerpane::platform {
namespace {

struct PosixEventTrace {};

template <typename Backend>
class EventTraceContract : public ::testing::Test {
protected:
    // Each test uses its own control GUID, so sessions of other tests never meet it.
    TraceGuid control{0x12345678, 0x1111, static_cast<uint16_t>(counter_++), {1, 2, 3, 4, 5, 6, 7, 8}};
    TraceGuid eventClass{0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 8, 0, 0x20, 0x0C, 0x9A, 0x66}};
    static inline std::atomic<int> counter_{1};
};

using Backends = ::testing::Types<PosixEventTrace>;
TYPED_TEST_SUITE(EventTraceContract, Backends);

// Records every control request the way a provider sees it.
struct Provider {
    struct Request {
        uint32_t code;
        TraceHandle session;
        uint8_t level;
        uint32_t flags;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<Request> requests;
    TraceHandle current = 0;

    static uint32_t Callback(uint32_t code, void* context, uint32_t*, void* buffer) {
        auto* self = static_cast<Provider*>(context);
        uint32_t error = 0;
        const TraceHandle session = TraceLoggerHandleOf(buffer, &error);
        Request r{code, session, 0, 0, std::this_thread::get_id()};
        if (session != kInvalidTraceHandle) {
            r.level = TraceEnableLevel(session, &error);
            r.flags = TraceEnableFlags(session, &error);
        }
        std::lock_guard lock(self->mutex);
        self->requests.push_back(r);
        if (code == kWmiEnableEvents) self->current = session;
        if (code == kWmiDisableEvents && self->current == session) self->current = 0;
        return 0;
    }
    std::vector<Request> Requests() {
        std::lock_guard lock(mutex);
        return requests;
    }
};

struct Consumer {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<uint8_t> levels;
    TraceEventSink Sink() {
        return [this](const DeliveredTraceEvent& e) {
            std::lock_guard lock(mutex);
            payloads.emplace_back(e.payload, e.payload + e.payloadSize);
            levels.push_back(e.level);
            changed.notify_all();
        };
    }
};

uint32_t Send(TraceHandle session, const TraceGuid& guid, uint8_t level, const std::vector<uint8_t>& payload) {
    TraceEventHeader header;
    header.classType = 1;
    header.classLevel = level;
    header.classVersion = 1;
    header.flags = kWnodeFlagTracedGuid | kWnodeFlagUseMofPtr;
    header.guid = guid;
    header.mofData = payload.data();
    header.mofLength = static_cast<uint32_t>(payload.size());
    return SendTraceEvent(session, &header);
}

TYPED_TEST(EventTraceContract, BadArguments) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    TraceRegistrationHandle registration = 0;
    EXPECT_EQ(RegisterTraceProvider(nullptr, nullptr, this->control, this->eventClass, &registration), 87u);
    EXPECT_EQ(RegisterTraceProvider(&Provider::Callback, nullptr, this->control, this->eventClass, nullptr), 87u);
    EXPECT_EQ(UnregisterTraceProvider(0xDEAD), 6u);
    uint32_t error = 0;
    int garbage[4] = {1, 2, 3, 4};
    EXPECT_EQ(TraceLoggerHandleOf(garbage, &error), kInvalidTraceHandle);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(TraceLoggerHandleOf(nullptr, &error), kInvalidTraceHandle);
    EXPECT_EQ(TraceEnableLevel(0xDEAD, &error), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(SendTraceEvent(0, nullptr), 87u);
    TraceHandle session = 0;
    EXPECT_EQ(StartTraceSession(this->control, 1, 0, nullptr, &session), 87u);
    EXPECT_EQ(StopTraceSession(0xDEAD), 6u);
}

TYPED_TEST(EventTraceContract, EventsWithoutASessionAreDropped) {
    EXPECT_EQ(Send(0, this->eventClass, 3, {1, 2, 3}), 6u);
}

TYPED_TEST(EventTraceContract, EnableAndDisableReachTheProviderOnAnotherThreadWithLevelAndFlags) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    Provider provider;
    TraceRegistrationHandle registration = 0;
    ASSERT_EQ(RegisterTraceProvider(&Provider::Callback, &provider, this->control, this->eventClass, &registration), 0u);
    EXPECT_TRUE(provider.Requests().empty());
    Consumer consumer;
    TraceHandle session = 0;
    ASSERT_EQ(StartTraceSession(this->control, 4, 0x30, consumer.Sink(), &session), 0u);
    auto requests = provider.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, kWmiEnableEvents);
    EXPECT_EQ(requests[0].session, session);
    EXPECT_EQ(requests[0].level, 4);
    EXPECT_EQ(requests[0].flags, 0x30u);
    EXPECT_NE(requests[0].thread, std::this_thread::get_id());

    for (uint8_t i = 0; i < 50; ++i) ASSERT_EQ(Send(session, this->eventClass, 2, {i, 7}), 0u);
    TraceSessionStats stats;
    ASSERT_EQ(StopTraceSession(session, &stats), 0u);
    EXPECT_EQ(stats.delivered, 50u);
    EXPECT_EQ(stats.lost, 0u);
    ASSERT_EQ(consumer.payloads.size(), 50u);
    for (uint8_t i = 0; i < 50; ++i) EXPECT_EQ(consumer.payloads[i], (std::vector<uint8_t>{i, 7}));
    EXPECT_EQ(consumer.levels[0], 2);

    requests = provider.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].code, kWmiDisableEvents);
    EXPECT_EQ(requests[1].session, session);  // the buffer still names the session
    EXPECT_NE(requests[1].thread, std::this_thread::get_id());
    EXPECT_EQ(Send(session, this->eventClass, 2, {1}), 6u);
    EXPECT_EQ(UnregisterTraceProvider(registration), 0u);
}

TYPED_TEST(EventTraceContract, ASessionStartedFirstEnablesTheProviderWhenItRegisters) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    Consumer consumer;
    TraceHandle session = 0;
    ASSERT_EQ(StartTraceSession(this->control, 5, 1, consumer.Sink(), &session), 0u);
    Provider provider;
    TraceRegistrationHandle registration = 0;
    ASSERT_EQ(RegisterTraceProvider(&Provider::Callback, &provider, this->control, this->eventClass, &registration), 0u);
    auto requests = provider.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, kWmiEnableEvents);
    EXPECT_EQ(requests[0].level, 5);
    ASSERT_EQ(UnregisterTraceProvider(registration), 0u);
    // No callback reaches a withdrawn registration.
    ASSERT_EQ(StopTraceSession(session), 0u);
    EXPECT_EQ(provider.Requests().size(), 1u);
}

TYPED_TEST(EventTraceContract, OtherProvidersAreNotDisturbed) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    Provider provider;
    TraceRegistrationHandle registration = 0;
    ASSERT_EQ(RegisterTraceProvider(&Provider::Callback, &provider, this->control, this->eventClass, &registration), 0u);
    TraceGuid other = this->control;
    other.Data1 ^= 0xFFFF;
    Consumer consumer;
    TraceHandle session = 0;
    ASSERT_EQ(StartTraceSession(other, 5, 0, consumer.Sink(), &session), 0u);
    ASSERT_EQ(StopTraceSession(session), 0u);
    EXPECT_TRUE(provider.Requests().empty());
    EXPECT_EQ(UnregisterTraceProvider(registration), 0u);
}

TYPED_TEST(EventTraceContract, EverySessionAsksAndTheProviderChooses) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    Provider provider;
    TraceRegistrationHandle registration = 0;
    ASSERT_EQ(RegisterTraceProvider(&Provider::Callback, &provider, this->control, this->eventClass, &registration), 0u);
    Consumer c1, c2;
    TraceHandle s1 = 0, s2 = 0;
    ASSERT_EQ(StartTraceSession(this->control, 1, 0, c1.Sink(), &s1), 0u);
    ASSERT_EQ(StartTraceSession(this->control, 2, 0, c2.Sink(), &s2), 0u);
    EXPECT_NE(s1, s2);
    auto requests = provider.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].session, s2);
    EXPECT_EQ(requests[1].level, 2);
    ASSERT_EQ(Send(s1, this->eventClass, 1, {9}), 0u);
    ASSERT_EQ(StopTraceSession(s2), 0u);
    ASSERT_EQ(StopTraceSession(s1), 0u);
    EXPECT_EQ(c1.payloads.size(), 1u);
    EXPECT_TRUE(c2.payloads.empty());
    EXPECT_EQ(UnregisterTraceProvider(registration), 0u);
}

TYPED_TEST(EventTraceContract, ConcurrentSendersDuringStartAndStop) {
    GP_SKIP_WITHOUT_TRACE_CONSUMER();
    Provider provider;
    TraceRegistrationHandle registration = 0;
    ASSERT_EQ(RegisterTraceProvider(&Provider::Callback, &provider, this->control, this->eventClass, &registration), 0u);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> accepted{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t)
        senders.emplace_back([&] {
            while (!stop) {
                TraceHandle session;
                {
                    std::lock_guard lock(provider.mutex);
                    session = provider.current;
                }
                if (Send(session, this->eventClass, 3, {1, 2, 3, 4}) == 0) ++accepted;
            }
        });
    Consumer consumer;
    uint64_t delivered = 0;
    for (int round = 0; round < 5; ++round) {
        TraceHandle session = 0;
        ASSERT_EQ(StartTraceSession(this->control, 3, 0, consumer.Sink(), &session), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        TraceSessionStats stats;
        ASSERT_EQ(StopTraceSession(session, &stats), 0u);
        delivered += stats.delivered;
    }
    stop = true;
    for (auto& t : senders) t.join();
    EXPECT_EQ(delivered, accepted.load());
    EXPECT_EQ(UnregisterTraceProvider(registration), 0u);
}

}  // namespace
}  // namespace glimmerpane::platform
