// MessageHeaderFuzz.cpp - libFuzzer target for the message header copy-in.
//
// The input gives the header bytes (any version, totalSize and flags) and the three texts.
// After the copy-in the header is a version-2 header; a shorter one grew by exactly its
// missing 8 bytes without wrapping, and a version-2 one was copied byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <glimmerpane/abi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/ByteOrder.h"
#include "base/Utf.h"
#include "message/Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    MessageHeader source{};
    const std::string headerBytes = input.ConsumeBytesAsString(sizeof source);
    std::memcpy(&source, headerBytes.data(), headerBytes.size());
    const std::wstring name = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(64));
    const std::wstring sender = glimmerpane::base::WideFromUtf8(input.ConsumeRandomLengthString(64));
    const std::wstring userData = glimmerpane::base::WideFromUtf8(input.ConsumeRemainingBytesAsString());

    Vornik::Message message(name.c_str(), sender.c_str(), userData.c_str());
    const uint64_t constructed = message.totalSize();
    if (constructed < GP_MESSAGE_HEADER_SIZE) std::abort();

    const auto* raw = reinterpret_cast<const uint8_t*>(&source);
    const uint16_t version = glimmerpane::base::LoadLe16(raw + 10);
    const uint32_t sourceSize = glimmerpane::base::LoadLe32(raw + 2);
    message.copyHeader(&source);
    if (message.headerVersion() != 2 || message.getExtension(2) == nullptr) std::abort();
    if (version == 2) {
        if (std::memcmp(message.getHeader(), &source, sizeof source) != 0) std::abort();
    } else {
        const uint64_t expected = std::min<uint64_t>(uint64_t{sourceSize} + 8, 0xFFFFFFFFu);
        if (message.totalSize() != expected || message.senderSession() != 0) std::abort();
    }
    message.setFlag(static_cast<unsigned>(sourceSize % 40));
    message.testFlag(static_cast<unsigned>(sourceSize % 40));
    return 0;
}
