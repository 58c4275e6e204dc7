// Message.h - the unit that travels on the bus: name, sender, user data and header.
//
// The header is the 108-byte record of abi.h that the bus library and the host read and
// write. Its 32-bit fields at offsets 2, 6 and 104 are not aligned, so every field is
// read and written byte-wise, little-endian, through the accessors here. Messages are
// always handled through shared pointers; handlers receive the same shared instance.
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Vornik {

// Flag bits of MessageHeader::flags (bit 0 is the least significant).
inline constexpr unsigned FLAG_REPLY = 0;    // the message is a reply
inline constexpr unsigned FLAG_NO_COPY = 3;  // no non-reply copy is wanted
inline constexpr unsigned FLAG_COPIED = 4;   // the non-reply copy has been or is being published

inline constexpr uint16_t kHeaderVersion2 = 2;
inline constexpr uint16_t kDefaultExtension1 = 11;
inline constexpr uint16_t kDefaultExtension2 = 8;

class Message {
public:
    // Takes the three strings over; the caller's strings are left empty. totalSize is
    // 114 plus twice the UTF-16 length of the three strings (saturating at 2^32 - 1).
    Message(std::wstring&& name, std::wstring&& sender, std::wstring&& userData);
    // Copies the strings (for callers holding C strings; null reads as empty).
    Message(const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    virtual ~Message();

    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    const std::wstring& getName() const { return name_; }
    const std::wstring& getSender() const { return sender_; }
    const std::wstring& getUserData() const { return userData_; }
    // Exchanges the user data with text and gives the message a fresh header for it (as
    // the constructor makes one), so that a sender can publish one message object again
    // with new data while the buffers of both strings are kept.
    void swapUserData(std::wstring& text);
    MessageHeader* getHeader() const { return header_.get(); }

    bool testFlag(unsigned bit) const;
    void setFlag(unsigned bit);
    void clearFlag(unsigned bit);
    void clearReplyInfo();

    // The version-2 extension (offset 100), or null unless requestedVersion is 2 and the
    // header is a version-2 header.
    void* getExtension(uint16_t requestedVersion) const;

    // Copies a raw header from the host or the bus in. Null leaves the header as it is.
    // A version-2 source is copied whole; any other version contributes its first 100
    // bytes, gains 8 bytes of totalSize and the default version-2 extension.
    void copyHeader(const MessageHeader* source);

    uint16_t marker() const;
    uint32_t totalSize() const;
    uint32_t flags() const;
    uint16_t headerVersion() const;
    uint64_t replyInfo() const;
    uint32_t senderSession() const;
    void setFlags(uint32_t flags);
    void setReplyInfo(uint64_t replyInfo);
    void setSenderSession(uint32_t session);

private:
    void initializeHeader();

    std::wstring name_;
    std::wstring sender_;
    std::wstring userData_;
    std::unique_ptr<MessageHeader> header_;
};

// Little-endian access to a raw header at any alignment.
namespace header_fields {
uint16_t ReadU16(const MessageHeader* header, size_t offset);
uint32_t ReadU32(const MessageHeader* header, size_t offset);
uint64_t ReadU64(const MessageHeader* header, size_t offset);
void WriteU16(MessageHeader* header, size_t offset, uint16_t value);
void WriteU32(MessageHeader* header, size_t offset, uint32_t value);
void WriteU64(MessageHeader* header, size_t offset, uint64_t value);
}  // namespace header_fields

}  // namespace Vornik
