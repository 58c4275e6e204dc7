// posix/DebugOutput.cpp - POSIX side of debugger output (standard error, when
// GLIMMERPANE_DEBUG_OUTPUT is set) and of the system message texts (a table of the codes
// the program uses).
#include "platform/DebugOutput.h"

#include <unistd.h>

#include <cstdlib>

#include "base/Utf.h"

namespace glimmerpane::platform {

bool DebugOutputEnabled() { return std::getenv("GLIMMERPANE_DEBUG_OUTPUT") != nullptr; }

void OutputDebugText(const std::wstring& text) {
    if (!DebugOutputEnabled()) return;
    const std::string bytes = glimmerpane::base::Utf8FromWide(text);
    // One write keeps concurrent lines whole.
    const ssize_t ignored = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    (void)ignored;
}

std::wstring SystemMessageText(uint32_t code) {
    struct Entry {
        uint32_t code;
        const wchar_t* text;
    };
    static const Entry kTable[] = {
        {0, L"The operation completed successfully."},
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {5, L"Access is denied."},
        {6, L"The handle is invalid."},
        {8, L"Not enough memory resources are available to process this command."},
        {13, L"The data is invalid."},
        {14, L"Not enough memory resources are available to complete this operation."},
        {87, L"The parameter is incorrect."},
        {112, L"There is not enough space on the disk."},
        {183, L"Cannot create a file when that file already exists."},
        {1627, L"Function failed during execution."},
        {5023, L"The group or resource is not in the correct state to perform the requested operation."},
    };
    for (const Entry& e : kTable)
        if (e.code == code) return e.text;
    return L"Unknown error " + std::to_wstring(code);
}

}  // namespace glimmerpane::platform
