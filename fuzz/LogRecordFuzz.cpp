// LogRecordFuzz.cpp - libFuzzer target for the event payload decoder.
//
// Any bytes either decode or are refused; a record that decodes serializes again (unless a
// text is too long for the format) and decodes to the same record.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "etwlogging/LogRecordFormat.h"

namespace {

bool Same(const ETWLogging::LogEventRecord& a, const ETWLogging::LogEventRecord& b) {
    return a.processId == b.processId && a.threadId == b.threadId && a.imageName == b.imageName &&
           a.file == b.file && a.line == b.line && a.function == b.function && a.moduleName == b.moduleName &&
           a.moduleVersion == b.moduleVersion && a.groupName == b.groupName && a.message == b.message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto record = ETWLogging::DecodeLogEventRecord(data, size);
    if (!record) return 0;
    std::vector<uint8_t> bytes;
    if (!ETWLogging::SerializeLogEventRecord(*record, bytes)) return 0;
    const auto again = ETWLogging::DecodeLogEventRecord(bytes.data(), bytes.size());
    // Lone surrogates became U+FFFD on the first decode, so the second must equal the first.
    if (!again || !Same(*record, *again)) std::abort();
    return 0;
}
