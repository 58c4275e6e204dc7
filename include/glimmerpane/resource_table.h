/* resource_table.h - the string table a POSIX resource library exports.
 *
 * Windows keeps string resources in the PE resource section and reads them with
 * LoadStringW. On POSIX a resource library built by `glimmerpane rc` (or the build's
 * gp_add_resource_library) is a shared library exporting one symbol, GP_STRING_TABLE_SYMBOL,
 * of type GpStringTable. The loader in src/platform/ reads it; the generator writes it.
 *
 * Texts are wchar_t (UTF-32 on POSIX) and live in the library's read-only data, so a
 * pointer handed out by a load with buffer size 0 stays valid while the library is loaded.
 * Each text is followed by a NUL that is not counted in its length; callers use the length.
 * Entries of a language are sorted by id, without duplicates. */
#ifndef GLIMMERPANE_RESOURCE_TABLE_H
#define GLIMMERPANE_RESOURCE_TABLE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GP_STRING_TABLE_SYMBOL "GlimmerpaneStringTable"
#define GP_STRING_TABLE_MAGIC 0x54525047u /* "GPRT" little-endian */
#define GP_STRING_TABLE_VERSION 1u

typedef struct GpStringEntry {
    uint32_t id;
    uint32_t length; /* characters, without the trailing NUL */
    const wchar_t* text;
} GpStringEntry;

typedef struct GpStringLanguage {
    uint16_t languageId; /* Windows LANGID: (sublanguage << 10) | primary language */
    uint16_t reserved;
    uint32_t count;
    const GpStringEntry* entries;
} GpStringLanguage;

typedef struct GpStringTable {
    uint32_t magic;
    uint32_t version;
    uint32_t wcharSize; /* sizeof(wchar_t) of the generator; the loader refuses a mismatch */
    uint32_t languageCount;
    const GpStringLanguage* languages; /* in the order of the .rc file */
} GpStringTable;

#ifdef __cplusplus
}
#endif

#endif
