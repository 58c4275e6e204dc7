// internal_logging.cpp - Kestrix::CLogger, its handler slot and the default handler.
#include "Logging/internal_logging.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <new>
#include <string>

#include "base/WideFormat.h"
#include "platform/DebugOutput.h"

namespace Kestrix {

namespace {

std::atomic<ILoggingHandler*> g_handler{nullptr};

constexpr wchar_t kSource[] = L"Logging\\internal_logging";
constexpr wchar_t kRegister[] = L"Kestrix::CLogger::RegisterHandler";
constexpr wchar_t kUnregister[] = L"Kestrix::CLogger::UnregisterHandler";

// The system text as the message table gives it, held to 1024 characters.
std::wstring SystemText(uint32_t code) {
    std::wstring text = glimmerpane::platform::SystemMessageText(code);
    if (text.size() > 1023) text.resize(1023);
    return text;
}

unsigned long long Address(const void* p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

std::wstring CDefaultLoggingHandler::FormatLine(uint32_t level, const wchar_t* file, const wchar_t* function,
                                                uint32_t line, const wchar_t* message) {
    if (level == KESTRIX_LEVEL_NONE) return {};
    const wchar_t* tag = level == KESTRIX_LEVEL_INFO ? L"INFO" : level == KESTRIX_LEVEL_ERROR ? L"ERROR" : L"UNKNOWN";
    return glimmerpane::base::FormatWide(L"%ls(%d): [%ls]: [%ls]: %ls\n", file ? file : L"", static_cast<int>(line), tag,
                                  function ? function : L"", message ? message : L"");
}

void CDefaultLoggingHandler::Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                                 const wchar_t* message) {
    const std::wstring text = FormatLine(level, file, function, line, message);
    if (!text.empty()) glimmerpane::platform::OutputDebugText(text);
}

CDefaultLoggingHandler& CDefaultLoggingHandler::Instance() {
    static CDefaultLoggingHandler instance;
    return instance;
}

ILoggingHandler* CLogger::RegisteredHandler() { return g_handler.load(); }

uint32_t CLogger::RegisterHandler(ILoggingHandler* handler) {
    if (handler == nullptr) {
        Log(KESTRIX_LEVEL_ERROR, kSource, kRegister, __LINE__, L"%ls: Cannot Register (NULL) handler",
            SystemText(87).c_str());
        return 87;
    }
    ILoggingHandler* current = g_handler.load();
    if (current == nullptr || current == handler || current == &CDefaultLoggingHandler::Instance()) {
        g_handler = handler;
        return 0;
    }
    Log(KESTRIX_LEVEL_ERROR, kSource, kRegister, __LINE__,
        L"%ls: Registered Logging Handler 0x%08llX cannot be replaced with 0x%08llX", SystemText(5023).c_str(),
        Address(current), Address(handler));
    return 5023;
}

uint32_t CLogger::UnregisterHandler(ILoggingHandler* handler) {
    if (handler == nullptr) {
        Log(KESTRIX_LEVEL_ERROR, kSource, kUnregister, __LINE__, L"%ls: Cannot Unregister (NULL) handler",
            SystemText(87).c_str());
        return 87;
    }
    ILoggingHandler* current = g_handler.load();
    if (current == nullptr) {
        g_handler = handler;  // just for this one record
        Log(KESTRIX_LEVEL_ERROR, kSource, kUnregister, __LINE__,
            L"%ls: Request to Unregister Logging handler 0x%08llX, but none are registered",
            SystemText(5023).c_str(), Address(handler));
        g_handler = nullptr;
        return 5023;
    }
    if (current != handler) {
        const std::wstring text = SystemText(5023);
        const wchar_t* format =
            L"%ls: Failed to Unregister Logging handler (requested handler 0x%08llX != registered handler 0x%08llX)";
        Log(KESTRIX_LEVEL_ERROR, kSource, kUnregister, __LINE__, format, text.c_str(), Address(handler),
            Address(current));
        g_handler = handler;
        Log(KESTRIX_LEVEL_ERROR, kSource, kUnregister, __LINE__, format, text.c_str(), Address(handler),
            Address(current));
        g_handler = current;
        return 5023;
    }
    g_handler = nullptr;
    return 0;
}

void CLogger::Log(uint32_t level, const wchar_t* file, const wchar_t* function, uint32_t line,
                  const wchar_t* format, ...) {
    ILoggingHandler* handler = g_handler.load();
    if (handler == nullptr) {
        RegisterHandler(&CDefaultLoggingHandler::Instance());
        handler = g_handler.load();
        if (handler == nullptr) return;
    }
    std::wstring text;
    try {
        va_list args;
        va_start(args, format);
        text = glimmerpane::base::FormatWideV(format ? format : L"", args);
        va_end(args);
    } catch (const std::bad_alloc&) {
        handler->Log(KESTRIX_LEVEL_ERROR, file, function, line, L"General memory-allocation failure in Kestrix logger.");
        return;
    }
    handler->Log(level, file, function, line, text.c_str());
}

}  // namespace Kestrix
