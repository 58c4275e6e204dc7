// Tests of the log builder's back-end choice and of the utility logger with its bridge.
#include <gtest/gtest.h>

#include "platform/DebugOutput.h"

#include "Logging/internal_logging.h"
#include "etwlogging/CETWLogging.h"
#include "etwlogging/CLogging.h"
#include "etwlogging/LogBuilder.h"
#include "support/TempRegistry.h"
#include "utility/CObfuscatedRegKey.h"

namespace ETWLogging {
namespace {

namespace platform = glimmerpane::platform;

struct Reader : ConfigReaderIf {
    bool has;
    uint32_t value;
    Reader(bool h, uint32_t v) : has(h), value(v) {}
    bool ReadDword(const wchar_t*, uint32_t* out) override {
        if (has) *out = value;
        return has;
    }
};

struct MarkedLogger : CLoggingIf {
    explicit MarkedLogger(bool file, uint32_t init = 0) : isFile(file), initStatus(init) {}
    uint32_t Initialize(const wchar_t*, void*, const wchar_t*, LoggingConfigListenerIf*) override { return initStatus; }
    uint32_t RegisterProvider() override { return 0; }
    uint32_t Log(const wchar_t*, const wchar_t*, uint32_t, LogSeverity s, const wchar_t* m) override {
        last = m;
        lastSeverity = s;
        return 0;
    }
    bool IsSeverityEnabled(LogSeverity) override { return true; }
    uint32_t AddRef() override { return ++refs; }
    bool isFile;
    uint32_t initStatus;
    uint32_t refs = 0;
    std::wstring last;
    LogSeverity lastSeverity{};
};

class Builder : public ::testing::Test {
protected:
    gptest::TempRegistry registry;
    uint32_t etwInit = 0;
    CDefaultLogBuilder builder{registry.store, [this] { return std::make_unique<MarkedLogger>(false, etwInit); },
                               [] { return std::make_unique<MarkedLogger>(true); }};
    bool BuiltFile(int32_t mechanism, ConfigReaderIf* reader) {
        std::unique_ptr<CLoggingIf> out;
        EXPECT_EQ(builder.BuildEx(nullptr, L"g", nullptr, nullptr, mechanism, out, reader), 0u);
        return out && static_cast<MarkedLogger*>(out.get())->isFile;
    }
};

TEST_F(Builder, MechanismReaderAndRegistryChooseTheBackEnd) {
    Reader one(true, 1), two(true, 2), none(false, 0);
    EXPECT_TRUE(BuiltFile(1, nullptr));
    EXPECT_TRUE(BuiltFile(1, &two));
    EXPECT_TRUE(BuiltFile(0, &one));
    EXPECT_FALSE(BuiltFile(0, &two));
    EXPECT_FALSE(BuiltFile(0, &none));
    EXPECT_FALSE(BuiltFile(0, nullptr));  // no key: event tracing
    Kestrix::CObfuscatedRegKey key(registry.store);
    ASSERT_EQ(key.Create(platform::HkeyLocalMachine(), kLoggingKeyPath), 0u);
    EXPECT_FALSE(BuiltFile(0, nullptr));  // key without the value
    ASSERT_EQ(key.SetStringValue(kLoggingMechanismValue, L"1"), 0u);
    EXPECT_FALSE(BuiltFile(0, nullptr));  // wrong type
    ASSERT_EQ(key.SetDwordValue(kLoggingMechanismValue, 1), 0u);
    EXPECT_TRUE(BuiltFile(0, nullptr));
    EXPECT_FALSE(BuiltFile(0, &none));  // a given reader is the only source
}

TEST_F(Builder, FailuresLeaveNoLogger) {
    std::unique_ptr<CLoggingIf> out = std::make_unique<MarkedLogger>(false);
    CLoggingIf* before = out.get();
    EXPECT_EQ(builder.BuildEx(nullptr, L"g", nullptr, nullptr, 0, out, nullptr), 87u);
    EXPECT_EQ(out.get(), before);
    std::unique_ptr<CLoggingIf> empty;
    EXPECT_EQ(builder.BuildEx(nullptr, L"", nullptr, nullptr, 0, empty, nullptr), 87u);
    EXPECT_EQ(builder.BuildEx(nullptr, L"g", nullptr, L"", 0, empty, nullptr), 87u);
    etwInit = 5;
    EXPECT_EQ(builder.Build(L"g", nullptr, nullptr, 0, empty, nullptr), 5u);
    EXPECT_FALSE(empty);
    etwInit = 0;
    ASSERT_EQ(builder.Build(L"g", nullptr, nullptr, 0, empty, nullptr), 0u);
    EXPECT_EQ(static_cast<MarkedLogger*>(empty.get())->refs, 1u);
}

TEST_F(Builder, UnknownApplicationFallsBackToInitializeWhichFailsTooWithTheRealBackEnd) {
    CDefaultLogBuilder real(registry.store, [this] {
        return std::make_unique<CETWLogging>(registry.store, registry.folder.wide("c"));
    });
    std::unique_ptr<CLoggingIf> out;
    EXPECT_EQ(real.BuildEx(L"NotThere", L"g", nullptr, nullptr, 0, out, nullptr), 87u);
    EXPECT_FALSE(out);
    EXPECT_EQ(real.BuildEx(nullptr, L"g", nullptr, nullptr, 0, out, nullptr), 0u);
    EXPECT_TRUE(dynamic_cast<CETWLogging*>(out.get()));
}

TEST_F(Builder, HolderGetsTheLoggerAndTheBridgeUntilTeardown) {
    Kestrix::ILoggingHandler* saved = Kestrix::CLogger::RegisteredHandler();
    if (saved) Kestrix::CLogger::UnregisterHandler(saved);
    {
        LoggerHolder holder;
        LoggerParameters identity;
        BuildLoggerInto(holder, identity, builder);
        ASSERT_NE(holder.logger(), nullptr);
        EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), &CKestrixLogHandler::Instance());
    }
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), nullptr);
    if (saved) Kestrix::CLogger::RegisterHandler(saved);
}

struct Collecting : Kestrix::ILoggingHandler {
    struct Entry {
        uint32_t level;
        std::wstring function, message;
    };
    std::vector<Entry> entries;
    void Log(uint32_t level, const wchar_t*, const wchar_t* function, uint32_t, const wchar_t* message) override {
        entries.push_back({level, function, message});
    }
};

TEST(KestrixLogger, RegistrationRules) {
    Kestrix::ILoggingHandler* saved = Kestrix::CLogger::RegisteredHandler();
    if (saved) Kestrix::CLogger::UnregisterHandler(saved);
    Collecting a, b;
    EXPECT_EQ(Kestrix::CLogger::RegisterHandler(&a), 0u);
    EXPECT_EQ(Kestrix::CLogger::RegisterHandler(&a), 0u);
    EXPECT_EQ(Kestrix::CLogger::RegisterHandler(&b), 5023u);
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), &a);
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(a.entries[0].level, 2u);
    EXPECT_EQ(a.entries[0].function, L"Kestrix::CLogger::RegisterHandler");
    EXPECT_NE(a.entries[0].message.find(L"cannot be replaced with"), std::wstring::npos);
    EXPECT_EQ(Kestrix::CLogger::RegisterHandler(nullptr), 87u);
    // The system's text of 87 (Wine words it otherwise than Windows and the POSIX table).
    EXPECT_EQ(a.entries.back().message,
              glimmerpane::platform::SystemMessageText(87) + L": Cannot Register (NULL) handler");

    EXPECT_EQ(Kestrix::CLogger::UnregisterHandler(&b), 5023u);  // logged through both, a stays
    EXPECT_EQ(b.entries.size(), 1u);
    EXPECT_NE(b.entries[0].message.find(L"Failed to Unregister"), std::wstring::npos);
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), &a);
    EXPECT_EQ(Kestrix::CLogger::UnregisterHandler(&a), 0u);
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), nullptr);
    EXPECT_EQ(Kestrix::CLogger::UnregisterHandler(&b), 5023u);
    EXPECT_NE(b.entries.back().message.find(L"but none are registered"), std::wstring::npos);
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), nullptr);

    // The first record with nothing registered installs the default handler, which any
    // handler may then replace.
    Kestrix::CLogger::Log(1, L"f", L"fn", 1, L"n=%d", 4);
    EXPECT_EQ(Kestrix::CLogger::RegisteredHandler(), &Kestrix::CDefaultLoggingHandler::Instance());
    EXPECT_EQ(Kestrix::CLogger::RegisterHandler(&a), 0u);
    Kestrix::CLogger::Log(7, L"f", L"fn", 1, L"n=%d", 5);
    EXPECT_EQ(a.entries.back().message, L"n=5");
    EXPECT_EQ(a.entries.back().level, 7u);
    Kestrix::CLogger::UnregisterHandler(&a);
    if (saved) Kestrix::CLogger::RegisterHandler(saved);
}

TEST(KestrixLogger, DefaultHandlerLinesAndBridgeLevels) {
    using Kestrix::CDefaultLoggingHandler;
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(0, L"f", L"fn", 3, L"m"), L"");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(1, L"f", L"fn", 3, L"m"), L"f(3): [INFO]: [fn]: m\n");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(2, L"f", L"fn", 3, L"m"), L"f(3): [ERROR]: [fn]: m\n");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(9, L"f", L"fn", 3, L"m"), L"f(3): [UNKNOWN]: [fn]: m\n");
    EXPECT_EQ(CKestrixLogHandler::MapLevel(0), LogSeverity::Normal);
    EXPECT_EQ(CKestrixLogHandler::MapLevel(1), LogSeverity::Normal);
    EXPECT_EQ(CKestrixLogHandler::MapLevel(2), LogSeverity::Error);
    EXPECT_EQ(CKestrixLogHandler::MapLevel(3), LogSeverity::Warning);
}

}  // namespace
}  // namespace ETWLogging
