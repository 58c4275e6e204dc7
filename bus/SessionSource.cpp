// SessionSource.cpp - the default session source: the platform's login session of this
// process (0 when it is unknown, as for a process started outside any login).
#include "Broker.h"
#include "platform/Process.h"

namespace BusBroker {

namespace {

class PlatformSessionSource : public SessionSource {
public:
    uint32_t currentSessionId() override {
        uint32_t session = 0;
        uint32_t error = 0;
        namespace platform = glimmerpane::platform;
        return platform::SessionIdOfProcess(platform::CurrentProcessId(), &session, &error) ? session : 0;
    }
};

}  // namespace

std::shared_ptr<SessionSource> MakeDefaultSessionSource() { return std::make_shared<PlatformSessionSource>(); }

}  // namespace BusBroker
