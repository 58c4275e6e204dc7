// GlimmerpaneImpl.h - the tile module: the one object the module entry creates.
//
// It subscribes to the suite's eight status messages, queues every delivery, and on its
// one worker thread turns each message into changes of the status snapshot, then selects,
// renders and publishes the live-tile payload.
//
// Threads: the host thread runs construction, initialize, start, stop and destruction;
// bus threads only push onto the queue; the worker runs the handlers and createTiles.
// ProcState has no lock of its own: only the worker writes it, except the statistics
// read at the end of start, which shares stateLock_ with the worker's statistics read and
// snapshot copy.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "message/MessageBus.h"
#include "module/BaseModule.h"
#include "tiles/MessageQueue.h"
#include "tiles/ProcState.h"

namespace Vornik {

class GlimmerpaneImpl : public BaseModule {
public:
    // An empty state makes the module create its own; either way it is reset to defaults.
    explicit GlimmerpaneImpl(std::shared_ptr<ProcState> state = nullptr);
    ~GlimmerpaneImpl() override;

    // Builds the handler table and subscribes to the eight status messages.
    // MODULE_STATUS_UNSUCCESSFUL when a subscription is refused.
    ModuleStatus initialize() override;
    // Launches the worker and asks the suite to republish its states.
    ModuleStatus start() override;
    // Lets the worker finish every queued message, then joins it. Deliveries from now on
    // are dropped. Without a running worker, queued messages are discarded (and logged).
    ModuleStatus stop() override;

    // The eight status message names, in the order of the handler table description.
    static const std::vector<std::wstring>& statusMessageNames();

protected:
    // Runs after every handled message on the worker thread.
    virtual void createTiles();

private:
    using Handler = uint32_t (GlimmerpaneImpl::*)(const std::shared_ptr<Message>&);

    void buildHandlerTable();
    bool subscribeToMessages();
    void listenForUpdates();

    uint32_t OverallStatusHandler(const std::shared_ptr<Message>& message);
    uint32_t LastScanTimeHandler(const std::shared_ptr<Message>& message);
    uint32_t RTSStateHandler(const std::shared_ptr<Message>& message);
    uint32_t PelmorStateHandler(const std::shared_ptr<Message>& message);
    uint32_t DATStateHandler(const std::shared_ptr<Message>& message);
    uint32_t UpdateStateHandler(const std::shared_ptr<Message>& message);
    uint32_t ProductListChangeHandler(const std::shared_ptr<Message>& message);
    uint32_t ThirdPartyListChangeHandler(const std::shared_ptr<Message>& message);

    std::thread worker_;
    MessageQueue queue_;
    std::unordered_map<std::wstring, MessageHandler> handlers_;
    std::shared_ptr<ProcState> state_;
    std::mutex stateLock_;
};

}  // namespace Vornik
