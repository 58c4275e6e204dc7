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
#include "render/TileContentFormatter.h"
#include "tiles/MessageQueue.h"
#include "tiles/ProcState.h"
#include "tiles/RegistryAPI.h"

namespace Vornik {

class GlimmerpaneImpl : public BaseModule {
public:
    // Empty pointers make the module create its defaults: a new snapshot, a formatter over
    // the module's resource library (throws ModuleException when it cannot be loaded) and
    // registry access to the process registry. The snapshot is reset to its defaults.
    GlimmerpaneImpl(std::shared_ptr<ProcState> state, std::shared_ptr<TileContentFormatter> formatter,
                    std::shared_ptr<RegistryAPI> registry);
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

    // The refresh requests published at start, in order.
    static const std::vector<std::wstring>& refreshRequestNames();

    // The queue depth at which the worker catches up. A message taken off the queue while
    // fewer than this many wait behind it gets its own payload, as always. One taken while
    // this many or more wait is applied to the status snapshot without a selection, render
    // and publish of its own: the next message handled below the depth publishes the state
    // that all of them made, so the last payload after a burst is exactly the one handling
    // every message would give. The payloads left out are logged once per burst. A flood
    // then costs the worker a JSON parse per message instead of a render, so the queue
    // drains faster than one publisher fills it and memory stays bounded.
    static constexpr size_t kCatchUpDepth = 1024;

protected:
    // Runs after every handled message on the worker thread: statistics, selection,
    // rendering and the publish of "messaging.message.processed".
    virtual void createTiles();
    // Re-reads the twelve statistics values into the snapshot.
    void updateStatistics();
    bool readStatKeyDword(const wchar_t* key, uint64_t& count);
    // Asks every suite component to publish its state again, then reads the statistics.
    void refreshStatus();

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
    // Worker only: the current message is applied without a payload of its own, and how
    // many payloads the current burst has left out so far.
    bool catchingUp_ = false;
    uint64_t payloadsLeftOut_ = 0;
    // Worker only: the payload message, published again when nobody else holds it, so the
    // payload text keeps its buffer from message to message.
    std::shared_ptr<Message> payloadMessage_;
    std::wstring payloadText_;
    MessageQueue queue_;
    std::unordered_map<std::wstring, MessageHandler> handlers_;
    std::shared_ptr<ProcState> state_;
    std::shared_ptr<TileContentFormatter> formatter_;
    std::shared_ptr<RegistryAPI> registry_;
    // The twelve statistics keys, read together by updateStatistics.
    RegistryAPI::DwordSet statisticKeys_;
    // Guards the statistics fields between the host thread's read in start and the
    // worker's read and snapshot copy; handlers write only other fields.
    std::mutex stateLock_;
};

}  // namespace Vornik
