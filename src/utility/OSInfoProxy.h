// OSInfoProxy.h - classification of the running Windows, once per process.
//
// The proxy answers the path macros' questions: the platform (0 "win32", 1 "x64", 2 unknown)
// and 32-bit emulation. The first question (other than IsWow64 and IsNT) classifies the
// system from the "ProductVersion" of the system DLL "kernel32.dll" and VerifyVersionInfoW
// answers; all proxies over one implementation share the result. A failed classification
// is retried by the next question. Any thread may ask; one classifies while the others spin.
//
// On POSIX the default version source reports Linux: no system DLL and a platform id that is
// neither Windows family, so the classification fails, the kind is 0 and the platform 2
// ("PlatformUnknown"). The algorithm itself runs unchanged over injected wrappers.
#pragma once

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

#include "platform/OSVersion.h"
#include "utility/FileVersionAPI.h"
#include "utility/FileVersionInfo.h"
#include "utility/WinOSVersionAPI.h"

namespace Kestrix::internal {

// Kinds of system, as the classification table numbers them.
enum OSKind : uint32_t {
    OS_KIND_UNKNOWN = 0,
    OS_KIND_9X_MINOR_0 = 1,
    OS_KIND_9X = 2,
    OS_KIND_NT4_OR_OLDER = 3,
    OS_KIND_NT_5_0 = 4,
    OS_KIND_9X_LATE = 5,
    OS_KIND_NT_5_X = 6,
    OS_KIND_NT_6_0 = 7,
    OS_KIND_NT_6_1 = 8,
    OS_KIND_NT_6_2 = 9,
    OS_KIND_NT_6_X = 10,
    OS_KIND_NT_10 = 11,
    OS_KIND_NT_OTHER = 12,
};

inline constexpr uint32_t kPlatform32 = 0;
inline constexpr uint32_t kPlatform64 = 1;
inline constexpr uint32_t kPlatformUnknown = 2;

template <typename VersionAPI = WinOSVersionAPI>
class OSInfoProxy {
public:
    struct _Impl {
        std::atomic<int> state{0};  // 0 not done, 1 running, 2 done
        uint32_t status = 0;        // 1 when classified
        uint32_t major = 0;
        uint32_t minor = 0;
        uint32_t servicePack = 0;
        uint32_t dllVersion[4] = {0, 0, 0, 0};
        uint32_t kind = OS_KIND_UNKNOWN;
        uint32_t platform = kPlatformUnknown;
        std::shared_ptr<VersionAPI> api;
        std::shared_ptr<FileVersionAPI> fileVersions;
        SystemFileVersionInfo::SystemFolderGetter systemFolder;
    };

    // With no collaborators the proxy uses the process-wide implementation over the real
    // system; with any collaborator it gets an implementation of its own. Copies share.
    explicit OSInfoProxy(std::shared_ptr<VersionAPI> api = nullptr,
                         std::shared_ptr<FileVersionAPI> fileVersions = nullptr,
                         SystemFileVersionInfo::SystemFolderGetter systemFolder = nullptr)
        : impl_(api || fileVersions || systemFolder ? OwnImpl(std::move(api), std::move(fileVersions),
                                                              std::move(systemFolder))
                                                    : ProcessImpl()) {}
    virtual ~OSInfoProxy() = default;

    virtual uint32_t GetOSKind() { return Classified() ? impl_->kind : OS_KIND_UNKNOWN; }
    virtual uint32_t GetPlatform() { return Classified() ? impl_->platform : kPlatformUnknown; }
    virtual bool GetVersion(uint32_t& major, uint32_t& minor, uint32_t& servicePack) {
        if (!Classified() || impl_->kind == OS_KIND_NT_OTHER) return false;
        major = impl_->major;
        minor = impl_->minor;
        servicePack = impl_->servicePack;
        return true;
    }
    virtual bool GetOSKindAndPlatform(uint32_t& kind, uint32_t& platform) {
        const bool ok = Classified();
        kind = ok ? impl_->kind : OS_KIND_UNKNOWN;
        platform = ok ? impl_->platform : kPlatformUnknown;
        return ok;
    }
    virtual bool IsWow64() { return glimmerpane::platform::IsWow64(); }
    virtual bool IsNT() { return PlatformIdIs(2); }
    virtual bool GetSystemDllVersion(uint32_t (&version)[4]) {
        if (!Classified()) return false;
        for (int i = 0; i < 4; ++i) version[i] = impl_->dllVersion[i];
        return true;
    }

private:
    static std::shared_ptr<_Impl> OwnImpl(std::shared_ptr<VersionAPI> api, std::shared_ptr<FileVersionAPI> files,
                                          SystemFileVersionInfo::SystemFolderGetter folder) {
        auto impl = std::make_shared<_Impl>();
        impl->api = api ? std::move(api) : std::make_shared<VersionAPI>();
        impl->fileVersions = std::move(files);
        impl->systemFolder = std::move(folder);
        return impl;
    }

    static std::shared_ptr<_Impl> ProcessImpl() {
        static const std::shared_ptr<_Impl> impl = OwnImpl(nullptr, nullptr, nullptr);
        return impl;
    }

    bool Verify(const OSVersionRecord& record, uint32_t typeBit) {
        return impl_->api->VerifyVersion(record, typeBit, SetConditionMask(0, typeBit, kVerEqual));
    }

    bool PlatformIdIs(uint32_t id) {
        OSVersionRecord record;
        record.platformId = id;
        return Verify(record, kVerPlatformId);
    }

    // The service pack of the running system, probed downwards from highest.
    uint32_t ProbeServicePack(uint16_t highest) {
        for (uint16_t sp = highest; sp >= 1; --sp) {
            OSVersionRecord record;
            record.servicePackMajor = sp;
            if (Verify(record, kVerServicePackMajor)) return sp;
        }
        return 0;
    }

    bool Classified() {
        std::atomic<int>& state = impl_->state;
        int expected = 0;
        if (state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            const bool ok = Classify();
            state.store(ok ? 2 : 0, std::memory_order_release);
            return ok;
        }
        while (expected == 1) {
            std::this_thread::yield();
            expected = state.load(std::memory_order_acquire);
        }
        return expected == 2;
    }

    bool Classify() {
        _Impl& impl = *impl_;
        SystemFileVersionInfo kernel(impl.fileVersions, impl.systemFolder);
        std::wstring productVersion;
        if (!kernel.Load(L"kernel32.dll") || kernel.GetString(productVersion, L"ProductVersion").empty()) return false;
        uint32_t dll[4] = {0, 0, 0, 0};
        const wchar_t* p = productVersion.c_str();
        for (int i = 0; i < 4; ++i) {
            wchar_t* end = nullptr;
            dll[i] = static_cast<uint32_t>(std::wcstoul(p, &end, 10));
            if (*end != L'.') break;
            p = end + 1;
        }

        uint32_t major = 0, minor = 0, servicePack = 0, kind = 0, platform = 0;
        if (PlatformIdIs(1)) {
            bool found = false;
            for (uint32_t m = 0; m <= 99 && !found; ++m) {
                OSVersionRecord record;
                record.minorVersion = m;
                if (Verify(record, kVerMinorVersion)) {
                    minor = m;
                    found = true;
                }
            }
            if (!found) return false;
            major = 4;
            kind = minor == 0 ? OS_KIND_9X_MINOR_0 : (minor < 90 ? OS_KIND_9X : OS_KIND_9X_LATE);
            platform = kPlatform32;
        } else if (PlatformIdIs(2)) {
            major = dll[0];
            minor = dll[1];
            platform = kPlatform64;
            if (major <= 4) {
                kind = OS_KIND_NT4_OR_OLDER;
                platform = kPlatform32;
            } else if (major == 5 && minor == 0) {
                kind = OS_KIND_NT_5_0;
                platform = kPlatform32;
                servicePack = ProbeServicePack(4);
            } else if (major == 5) {
                kind = OS_KIND_NT_5_X;
                servicePack = ProbeServicePack(3);
            } else if (major == 6 && minor == 0) {
                kind = OS_KIND_NT_6_0;
                servicePack = ProbeServicePack(2);
            } else if (major == 6 && minor == 1) {
                kind = OS_KIND_NT_6_1;
                servicePack = ProbeServicePack(1);
            } else if (major == 6) {
                kind = minor == 2 ? OS_KIND_NT_6_2 : OS_KIND_NT_6_X;
            } else if (major == 10) {
                kind = OS_KIND_NT_10;
            } else {
                kind = OS_KIND_NT_OTHER;
            }
        } else {
            return false;
        }
        for (int i = 0; i < 4; ++i) impl.dllVersion[i] = dll[i];
        impl.major = major;
        impl.minor = minor;
        impl.servicePack = servicePack;
        impl.kind = kind;
        impl.platform = platform;
        impl.status = 1;
        return true;
    }

    std::shared_ptr<_Impl> impl_;
};

}  // namespace Kestrix::internal
