// LibraryNames.cpp - framework library names with the platform's suffix.
#include "dll/LibraryNames.h"

#include "platform/DynamicLibrary.h"

namespace Vornik {

namespace platform = glimmerpane::platform;

std::wstring BusLibraryFileName() { return platform::LibraryFileName(L"BusBroker"); }

const std::vector<std::wstring>& BlockListExemptNames() {
    static const std::vector<std::wstring> names = {
        platform::LibraryFileName(L"sysprobe"),
        platform::LibraryFileName(L"cfgkeeper"),
        platform::LibraryFileName(L"modhost"),
        platform::LibraryFileName(L"busbroker"),
    };
    return names;
}

}  // namespace Vornik
