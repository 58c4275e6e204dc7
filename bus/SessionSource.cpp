// SessionSource.cpp - the default session source: the platform's session id, read once.
#include "Broker.h"
#include "SessionId.h"

namespace BusBroker {

namespace {
class PlatformSessionSource : public SessionSource {
public:
    uint32_t currentSessionId() override { return ReadProcessSessionId(); }
};
}  // namespace

std::shared_ptr<SessionSource> MakeDefaultSessionSource() { return std::make_shared<PlatformSessionSource>(); }

}  // namespace BusBroker
