// TestMain.cpp - the main of every test binary: installs the recording logger.
//
// The group name is set before the logger is built, as NewModule would, so that a test
// can check that the built logger kept the identity of its first use.
#include <gtest/gtest.h>

#include <clocale>

#include "etwlogging/LogCall.h"
#include "platform/EventTrace.h"

namespace gptest {
void InstallRecordingLoggerBuilder();
}

int main(int argc, char** argv) {
    // Links the in-process trace engine into every test executable, as the glimmerpane
    // command has it: the module copies a test loads then register with the executable's
    // engine instead of making one of their own, which outlives their unloading by design.
    uint32_t ignored = 0;
    glimmerpane::platform::TraceLoggerHandleOf(nullptr, &ignored);
    std::setlocale(LC_ALL, "C.UTF-8");
    ETWLogging::CurrentLoggerParameters().groupName = L"glimmerpane_tests";
    gptest::InstallRecordingLoggerBuilder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
