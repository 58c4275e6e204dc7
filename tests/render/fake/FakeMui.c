/* FakeMui.c - a stand-in for the suite's MUI runtime library, for tests.
 *
 * It loads resource libraries with dlopen and always answers from the en-US table, whatever
 * the user's language, so a test can tell which loader served a string; FakeMuiCalls counts
 * the calls that reached it. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

#include "glimmerpane/resource_table.h"

#define EXPORT __attribute__((visibility("default")))

static unsigned g_calls;

EXPORT unsigned FakeMuiCalls(void) { return g_calls; }

EXPORT void* RtMUILoadLibrary(const wchar_t* path, uint32_t flags) {
    char narrow[4096];
    size_t n = 0;
    (void)flags;
    ++g_calls;
    for (; path[0] != 0 && n + 4 < sizeof(narrow); ++path) {
        uint32_t c = (uint32_t)path[0];
        if (c < 0x80) {
            narrow[n++] = (char)c;
        } else if (c < 0x800) {
            narrow[n++] = (char)(0xc0 | (c >> 6));
            narrow[n++] = (char)(0x80 | (c & 0x3f));
        } else {
            narrow[n++] = (char)(0xe0 | (c >> 12));
            narrow[n++] = (char)(0x80 | ((c >> 6) & 0x3f));
            narrow[n++] = (char)(0x80 | (c & 0x3f));
        }
    }
    narrow[n] = 0;
    return dlopen(narrow, RTLD_NOW | RTLD_LOCAL);
}

EXPORT int RtMUILoadString(void* module, uint32_t id, wchar_t* buffer, int max, uint32_t flags) {
    const GpStringTable* table = (const GpStringTable*)dlsym(module, GP_STRING_TABLE_SYMBOL);
    (void)flags;
    ++g_calls;
    if (table == NULL || buffer == NULL) return 0;
    for (uint32_t l = 0; l < table->languageCount; ++l) {
        const GpStringLanguage* language = &table->languages[l];
        if (language->languageId != 0x0409) continue;
        for (uint32_t i = 0; i < language->count; ++i) {
            if (language->entries[i].id != id) continue;
            if (max == 0) {
                *(const wchar_t**)buffer = language->entries[i].text;
                return (int)language->entries[i].length;
            }
            return 0; /* copying is not needed by the tests */
        }
    }
    return 0;
}
