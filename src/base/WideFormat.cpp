// WideFormat.cpp - printf-style formatting into wide strings.
#include "base/WideFormat.h"

#include <cwchar>
#include <vector>

namespace glimmerpane::base {

std::wstring FormatWideV(const wchar_t* format, va_list args) {
    if (format == nullptr) return std::wstring();
    // glibc's vswprintf fails alike on a short buffer and on a conversion error. One try at
    // the limit tells them apart without growing step by step to a large size. MinGW's
    // answers the length the whole text needs (as snprintf does) and fills only the buffer,
    // so a count that does not fit is a short buffer too.
    for (size_t capacity : {kWideFormatInitialCapacity, kWideFormatCapacityLimit}) {
        std::vector<wchar_t> buffer(capacity);
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < capacity)
            return std::wstring(buffer.data(), static_cast<size_t>(written));
    }
    return std::wstring(format);
}

std::wstring FormatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(format, args);
    va_end(args);
    return text;
}

std::wstring FormatWideCappedV(size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) return std::wstring();
    std::wstring text = FormatWideV(format, args);
    if (text.size() > capacity - 1) text.resize(capacity - 1);
    return text;
}

}  // namespace glimmerpane::base
