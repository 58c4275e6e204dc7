// DebugOutput.h - the debugger output channel and the system's message texts.
//
// OutputDebugText: Windows OutputDebugStringW. POSIX: the text goes to stderr when the
// environment variable GLIMMERPANE_DEBUG_OUTPUT is set (to anything), else nowhere.
// SystemMessageText: Windows FormatMessageW from the system table (without the trailing
// line break). POSIX: a table of the Win32 codes this program reports; any other code gives
// "Unknown error <code>".
#pragma once

#include <cstdint>
#include <string>

namespace glimmerpane::platform {

void OutputDebugText(const std::wstring& text);
bool DebugOutputEnabled();
std::wstring SystemMessageText(uint32_t code);

}  // namespace glimmerpane::platform
