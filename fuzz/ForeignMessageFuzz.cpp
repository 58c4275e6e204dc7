// ForeignMessageFuzz.cpp - libFuzzer target for what another process sends over the bus.
//
// A peer on the D-Bus transport hands the broker a header of any bytes and three texts of
// its choosing, as a message, a reply or a request. The broker must refuse or deliver it
// without fault, and what its subscribers get is a header whose totalSize counts
// the delivered texts and whose session is the one the peer stamped.
#include <fuzzer/FuzzedDataProvider.h>

#include <glimmerpane/abi.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Broker.h"
#include "base/MessageSize.h"
#include "base/Utf.h"

namespace {

std::atomic<uint32_t> g_expectedSession{0};

uint32_t CheckDelivered(void*, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                        const wchar_t* userData) {
    if (header->senderSession != g_expectedSession) std::abort();
    const uint64_t exact = glimmerpane::base::MessageSizeExact(GP_MESSAGE_HEADER_SIZE, name, sender, userData);
    if (header->totalSize != glimmerpane::base::SaturatedMessageSize(exact)) std::abort();
    return 0;
}

uint32_t IgnoreReply(void*, uint64_t, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*,
                     ModuleStatus) {
    return 0;
}

// The transport's own handle, which injects what arrives, and a subscriber's handle.
struct Bus {
    BusBroker::Broker broker;
    void* inject = nullptr;
    void* subscriber = nullptr;
    Bus() { broker.open(&inject); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Bus bus;
    FuzzedDataProvider input(data, size);
    MessageHeader header{};
    const std::string headerBytes = input.ConsumeBytesAsString(sizeof header);
    std::memcpy(&header, headerBytes.data(), headerBytes.size());
    const int kind = input.ConsumeIntegralInRange(0, 2);
    const uint32_t session = input.ConsumeIntegral<uint32_t>();
    const std::wstring name = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(1100));
    const std::wstring sender = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(64));
    const std::wstring userData = glimmerpane::base::WideFromUtf8(input.ConsumeRemainingBytesAsString());

    // One delivery at a time, so that the session the callback checks is this input's.
    if (bus.subscriber != nullptr) bus.broker.close(bus.subscriber);  // waits for its callbacks
    bus.broker.open(&bus.subscriber);
    bus.broker.subscribeFilter(bus.subscriber, nullptr, &CheckDelivered, L"Core\\..*");
    bus.broker.subscribe(bus.subscriber, nullptr, &CheckDelivered, L"Core.Update.State");
    g_expectedSession = session;
    if (kind == 2) {
        bus.broker.requestForeign(session, bus.inject, 1, nullptr, &IgnoreReply, &header, name.c_str(), sender.c_str(),
                                  userData.c_str(), 0);
    } else {
        if (kind == 1) header.flags |= 1;  // a reply: routed to a requester, never to subscribers
        bus.broker.publishForeign(session, bus.inject, &header, name.c_str(), sender.c_str(), userData.c_str());
    }
    return 0;
}
