// PlaceholderScanner.cpp - the leftmost "%name%" in a text.
#include "render/PlaceholderScanner.h"

namespace Vornik {

PlaceholderMatch findPlaceholder(std::wstring_view text, size_t from) {
    size_t open = text.find(L'%', from);
    while (open != std::wstring_view::npos) {
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring_view::npos) break;  // no later sign can close a match either
        if (close > open + 1) return {open, close - open + 1};
        open = close;  // "%%": the second sign may still open a match
    }
    return {};
}

}  // namespace Vornik
