/*
 * glimmerpane/abi.h - the C ABI shared by the module, the bus library, the host
 * and the integration tests.
 *
 * This file is the one declaration of everything that crosses a library boundary:
 * the status type, the 108-byte message header, the bus library's function table
 * and its two callbacks, the module function table and the four exports that every
 * framework library (module and bus library alike) provides. It is plain C so that
 * hosts written in C can use it; the static assertions pin the layout.
 *
 * Strings are wchar_t strings (UTF-16 on Windows, UTF-32 on POSIX). The header's
 * totalSize counts UTF-16 units on every platform.
 */
#ifndef GLIMMERPANE_ABI_H
#define GLIMMERPANE_ABI_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ModuleStatus;

/*
 * The message header as the bus and the host exchange it: 108 bytes, little-endian,
 * packed. The 32-bit fields at offsets 2, 6 and 104 are not naturally aligned, so
 * portable code reads and writes them byte-wise (see Message in src/message).
 *
 *   0 marker u16 | 2 totalSize u32 | 6 flags u32 | 10 headerVersion u16 |
 *   12 80 reserved bytes | 92 replyInfo u64 | 100 ext1 u16 | 102 ext2 u16 |
 *   104 senderSession u32            (a version-1 header ends at 100)
 */
#if defined(_MSC_VER)
#pragma pack(push, 1)
#define GP_PACKED
#else
#define GP_PACKED __attribute__((packed))
#endif
struct GP_PACKED MessageHeader {
    uint16_t marker;
    uint32_t totalSize;
    uint32_t flags;
    uint16_t headerVersion;
    uint8_t reserved[80];
    uint64_t replyInfo;
    uint16_t ext1;
    uint16_t ext2;
    uint32_t senderSession;
};
#if defined(_MSC_VER)
#pragma pack(pop)
#endif
#undef GP_PACKED
typedef struct MessageHeader MessageHeader;

#define GP_MESSAGE_HEADER_SIZE 108u
#define GP_MESSAGE_HEADER_V1_SIZE 100u

#ifdef __cplusplus
#define GP_STATIC_ASSERT static_assert
#else
#define GP_STATIC_ASSERT _Static_assert
#endif
GP_STATIC_ASSERT(sizeof(MessageHeader) == 108, "MessageHeader must be 108 bytes");
GP_STATIC_ASSERT(offsetof(MessageHeader, marker) == 0, "marker offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, totalSize) == 2, "totalSize offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, flags) == 6, "flags offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, headerVersion) == 10, "headerVersion offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, reserved) == 12, "reserved offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, replyInfo) == 92, "replyInfo offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, ext1) == 100, "ext1 offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, ext2) == 102, "ext2 offset");
GP_STATIC_ASSERT(offsetof(MessageHeader, senderSession) == 104, "senderSession offset");

/* Callbacks that the bus library calls on its own threads. */
typedef uint32_t (*BusMessageCallback)(void* context, const MessageHeader* header,
        const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
typedef uint32_t (*BusReplyCallback)(void* context, uint64_t replyIndex, const MessageHeader* header,
        const wchar_t* name, const wchar_t* sender, const wchar_t* userData, ModuleStatus status);

/* The bus library's function table. The order of the members is the contract. */
typedef struct MessageBusFunctions {
    ModuleStatus (*open)(void** handle);
    ModuleStatus (*close)(void* handle);
    ModuleStatus (*publish)(void* handle, MessageHeader* header,
                            const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    ModuleStatus (*request)(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                            MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                            const wchar_t* userData, uint32_t timeoutMs);
    uint32_t     (*subscribe)(void* handle, void* context, BusMessageCallback callback, const wchar_t* name);
    uint32_t     (*subscribeFilter)(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern);
    ModuleStatus (*unsubscribe)(void* handle, uint32_t subscriptionId);
    ModuleStatus (*releaseReplyCallback)(void* handle, BusReplyCallback callback);
} MessageBusFunctions;

typedef ModuleStatus (*ModuleManagerFunction)(void* context, void* arg1, void* arg2, void* arg3);
typedef void* ModuleHandle;

/* The module's function table. The order of the members is the contract:
   InitializeModuleV2 stands last, after DirectMessage. */
typedef struct ModuleFunctionTable {
    ModuleStatus (*NewModule)(ModuleHandle* handleAddress, const wchar_t* loggingGroup);
    ModuleStatus (*DestroyModule)(ModuleHandle handle);
    ModuleStatus (*InitializeModule)(ModuleHandle handle, const wchar_t* name, const wchar_t* secondName,
                                     uint32_t propertyCount, const wchar_t* const* propertyNames,
                                     const wchar_t* const* propertyValues,
                                     void* managerContext, ModuleManagerFunction managerFunction);
    ModuleStatus (*StartModule)(ModuleHandle handle);
    ModuleStatus (*StopModule)(ModuleHandle handle);
    ModuleStatus (*UninitializeModule)(ModuleHandle handle);
    ModuleStatus (*DirectMessage)(ModuleHandle handle, const MessageHeader* header,
                                  const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    ModuleStatus (*InitializeModuleV2)(ModuleHandle handle, const wchar_t* name, const wchar_t* secondName,
                                       uint32_t propertyCount, const wchar_t* const* propertyNames,
                                       const wchar_t* const* propertyValues,
                                       void* managerContext, ModuleManagerFunction managerFunction,
                                       void* busHandle, const MessageBusFunctions* busFunctions);
} ModuleFunctionTable;

/* Exports of every framework library, C linkage. The module ignores the argument of
   CreateObject and returns its const ModuleFunctionTable*; the bus library returns its
   MessageBusFunctions* for framework version 1.x and null otherwise. */
typedef void* (*CreateObjectFn)(uint32_t frameworkVersion);
typedef void (*ReleaseObjectFn)(void* object);
typedef const char* (*GetVersionStrFn)(void);
typedef uint32_t (*GetVersionNumFn)(void);

#if defined(_WIN32)
#define GP_EXPORT __declspec(dllexport)
#else
#define GP_EXPORT __attribute__((visibility("default")))
#endif

/* Each framework library defines these four; hosts resolve them by name at run time. */
void*       CreateObject(uint32_t frameworkVersion);
void        ReleaseObject(void* object);
const char* GetVersionStr(void);
uint32_t    GetVersionNum(void);

#ifdef __cplusplus
}
#endif

#endif /* GLIMMERPANE_ABI_H */
