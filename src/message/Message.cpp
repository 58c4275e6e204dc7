// Message.cpp - the bus message and byte-wise access to its header.
#include "message/Message.h"

#include <cstring>
#include <limits>

#include "base/ByteOrder.h"
#include "base/MessageSize.h"

namespace Vornik {

namespace header_fields {
namespace {
const uint8_t* Bytes(const MessageHeader* header) { return reinterpret_cast<const uint8_t*>(header); }
uint8_t* Bytes(MessageHeader* header) { return reinterpret_cast<uint8_t*>(header); }
}  // namespace

uint16_t ReadU16(const MessageHeader* h, size_t offset) { return glimmerpane::base::LoadLe16(Bytes(h) + offset); }
uint32_t ReadU32(const MessageHeader* h, size_t offset) { return glimmerpane::base::LoadLe32(Bytes(h) + offset); }
uint64_t ReadU64(const MessageHeader* h, size_t offset) { return glimmerpane::base::LoadLe64(Bytes(h) + offset); }
void WriteU16(MessageHeader* h, size_t offset, uint16_t v) { glimmerpane::base::StoreLittleEndian(Bytes(h) + offset, v); }
void WriteU32(MessageHeader* h, size_t offset, uint32_t v) { glimmerpane::base::StoreLittleEndian(Bytes(h) + offset, v); }
void WriteU64(MessageHeader* h, size_t offset, uint64_t v) { glimmerpane::base::StoreLittleEndian(Bytes(h) + offset, v); }
}  // namespace header_fields

namespace {
using namespace header_fields;

constexpr size_t kMarkerOffset = 0;
constexpr size_t kTotalSizeOffset = 2;
constexpr size_t kFlagsOffset = 6;
constexpr size_t kVersionOffset = 10;
constexpr size_t kReplyInfoOffset = 92;
constexpr size_t kExtension1Offset = 100;
constexpr size_t kExtension2Offset = 102;
constexpr size_t kSenderSessionOffset = 104;

}  // namespace

Message::Message(std::wstring&& name, std::wstring&& sender, std::wstring&& userData)
    : name_(std::move(name)), sender_(std::move(sender)), userData_(std::move(userData)) {
    name.clear();
    sender.clear();
    userData.clear();
    initializeHeader();
}

Message::Message(const wchar_t* name, const wchar_t* sender, const wchar_t* userData)
    : name_(name ? name : L""), sender_(sender ? sender : L""), userData_(userData ? userData : L"") {
    initializeHeader();
}

Message::~Message() = default;

void Message::swapUserData(std::wstring& text) {
    userData_.swap(text);
    initializeHeader();
}

void Message::initializeHeader() {
    if (!header_) header_ = std::make_unique<MessageHeader>();
    std::memset(header_.get(), 0, sizeof(MessageHeader));
    const uint64_t total = glimmerpane::base::MessageSizeExact(GP_MESSAGE_HEADER_SIZE, name_, sender_, userData_);
    WriteU16(header_.get(), kMarkerOffset, 1);
    WriteU32(header_.get(), kTotalSizeOffset, glimmerpane::base::SaturatedMessageSize(total));
    WriteU16(header_.get(), kVersionOffset, kHeaderVersion2);
    WriteU16(header_.get(), kExtension1Offset, kDefaultExtension1);
    WriteU16(header_.get(), kExtension2Offset, kDefaultExtension2);
}

bool Message::testFlag(unsigned bit) const { return bit < 32 && (flags() >> bit) & 1u; }
void Message::setFlag(unsigned bit) {
    if (bit < 32) setFlags(flags() | (1u << bit));
}
void Message::clearFlag(unsigned bit) {
    if (bit < 32) setFlags(flags() & ~(1u << bit));
}
void Message::clearReplyInfo() { setReplyInfo(0); }

void* Message::getExtension(uint16_t requestedVersion) const {
    if (requestedVersion != kHeaderVersion2 || headerVersion() != kHeaderVersion2) return nullptr;
    return reinterpret_cast<uint8_t*>(header_.get()) + kExtension1Offset;
}

void Message::copyHeader(const MessageHeader* source) {
    if (source == nullptr) return;
    if (ReadU16(source, kVersionOffset) == kHeaderVersion2) {
        std::memcpy(header_.get(), source, GP_MESSAGE_HEADER_SIZE);
        return;
    }
    std::memcpy(header_.get(), source, GP_MESSAGE_HEADER_V1_SIZE);
    // The version-2 header is 8 bytes longer; the sum saturates as the constructor's does,
    // so a hostile 0xFFFFFFFC cannot wrap to 4.
    const uint64_t grown = uint64_t{ReadU32(header_.get(), kTotalSizeOffset)} + (GP_MESSAGE_HEADER_SIZE - GP_MESSAGE_HEADER_V1_SIZE);
    WriteU32(header_.get(), kTotalSizeOffset, glimmerpane::base::SaturatedMessageSize(grown));
    WriteU16(header_.get(), kVersionOffset, kHeaderVersion2);
    WriteU16(header_.get(), kExtension1Offset, kDefaultExtension1);
    WriteU16(header_.get(), kExtension2Offset, kDefaultExtension2);
    WriteU32(header_.get(), kSenderSessionOffset, 0);
}

uint16_t Message::marker() const { return ReadU16(header_.get(), kMarkerOffset); }
uint32_t Message::totalSize() const { return ReadU32(header_.get(), kTotalSizeOffset); }
uint32_t Message::flags() const { return ReadU32(header_.get(), kFlagsOffset); }
uint16_t Message::headerVersion() const { return ReadU16(header_.get(), kVersionOffset); }
uint64_t Message::replyInfo() const { return ReadU64(header_.get(), kReplyInfoOffset); }
uint32_t Message::senderSession() const { return ReadU32(header_.get(), kSenderSessionOffset); }
void Message::setFlags(uint32_t value) { WriteU32(header_.get(), kFlagsOffset, value); }
void Message::setReplyInfo(uint64_t value) { WriteU64(header_.get(), kReplyInfoOffset, value); }
void Message::setSenderSession(uint32_t value) { WriteU32(header_.get(), kSenderSessionOffset, value); }

}  // namespace Vornik
