// GlimmerpaneImpl.cpp - the tile module's lifecycle, worker and status handlers.
#include "tiles/GlimmerpaneImpl.h"

#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"
#include "render/JSONParser.h"
#include "tiles/TileSelection.h"

namespace Vornik {

namespace {

constexpr const wchar_t* kSource = L"GlimmerpaneImpl";

// Parses the user data of a status message; logs and returns false when it is not JSON.
bool ParseUserData(const std::shared_ptr<Message>& message, JSONParser& json, const wchar_t* function) {
    if (json.parse(message->getUserData())) return true;
    GP_LOG_ERROR(kSource, function, L"Invalid message: %ls with UserData %ls", message->getName().c_str(),
                 message->getUserData().c_str());
    return false;
}

bool MissingKey(const wchar_t* function, const wchar_t* text) {
    GP_LOG_ERROR(kSource, function, L"%ls", text);
    return false;
}

// The statistics keys below HKEY_LOCAL_MACHINE; each count is the DWORD "SDSValue".
#define GP_SCAN_REPORT L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\"
constexpr const wchar_t* kResolvedKeys[] = {
    GP_SCAN_REPORT L"RootKitsResolved", GP_SCAN_REPORT L"TrackingCookiesResolved", GP_SCAN_REPORT L"TrojansResolved",
    GP_SCAN_REPORT L"UnwantedProgramResolved", GP_SCAN_REPORT L"VirusResolved",
};
constexpr const wchar_t* kDetectedKeys[] = {
    GP_SCAN_REPORT L"RootKitsDetected", GP_SCAN_REPORT L"TrackingCookiesDetected", GP_SCAN_REPORT L"TrojansDetected",
    GP_SCAN_REPORT L"UnwantedProgramDetected", GP_SCAN_REPORT L"VirusDetected",
};
constexpr const wchar_t* kItemsScannedKey = GP_SCAN_REPORT L"TotalItemScanned";
#undef GP_SCAN_REPORT
constexpr const wchar_t* kConnectionsBlockedKey =
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked";

std::vector<const wchar_t*> StatisticKeys() {
    std::vector<const wchar_t*> keys(std::begin(kResolvedKeys), std::end(kResolvedKeys));
    keys.insert(keys.end(), std::begin(kDetectedKeys), std::end(kDetectedKeys));
    keys.push_back(kItemsScannedKey);
    keys.push_back(kConnectionsBlockedKey);
    return keys;
}

}  // namespace

const std::vector<std::wstring>& GlimmerpaneImpl::statusMessageNames() {
    static const std::vector<std::wstring> names = {
        L"Core.Protection.State",        L"Core.Antivirus.LastScanTime",         L"Core.Antivirus.RTSState",
        L"Core.Firewall.State",          L"Core.Antivirus.DATState",             L"Core.Update.State",
        L"Core.ProductState.ProductListChange", L"Core.ProductState.3rdPartyListChange",
    };
    return names;
}

GlimmerpaneImpl::GlimmerpaneImpl(std::shared_ptr<ProcState> state, std::shared_ptr<TileContentFormatter> formatter,
                                 std::shared_ptr<RegistryAPI> registry)
    : BaseModule(nullptr),
      state_(state ? std::move(state) : std::make_shared<ProcState>()),
      formatter_(formatter ? std::move(formatter) : std::make_shared<TileContentFormatter>(nullptr)),
      registry_(registry ? std::move(registry) : std::make_shared<RegistryAPI>()),
      statisticKeys_(StatisticKeys(), L"SDSValue") {
    state_->reset();
}

const std::vector<std::wstring>& GlimmerpaneImpl::refreshRequestNames() {
    static const std::vector<std::wstring> names = {
        L"Core.Antivirus.RefreshLastScanTime", L"Core.ProductState.RefreshProductList",
        L"Core.ProductState.Refresh3rdPartyList", L"Core.Antivirus.RefreshRTSState",
        L"Core.Firewall.RefreshState",         L"Core.Antivirus.RefreshDATState",
        L"Core.Update.RefreshState",           L"Core.Protection.RefreshState",
    };
    return names;
}

GlimmerpaneImpl::~GlimmerpaneImpl() {
    // The subscription callbacks point at this object's queue: withdraw them before any
    // member goes (the bus guarantees no callback once they are withdrawn).
    releaseMessageBus();
    // A host that destroys a started module without stopping it would otherwise take the
    // process down with a joinable thread.
    if (worker_.joinable()) {
        queue_.shutdown();
        worker_.join();
    }
}

void GlimmerpaneImpl::buildHandlerTable() {
    static const std::pair<const wchar_t*, Handler> kTable[] = {
        {L"Core.Protection.State", &GlimmerpaneImpl::OverallStatusHandler},
        {L"Core.Antivirus.LastScanTime", &GlimmerpaneImpl::LastScanTimeHandler},
        {L"Core.Antivirus.RTSState", &GlimmerpaneImpl::RTSStateHandler},
        {L"Core.Firewall.State", &GlimmerpaneImpl::PelmorStateHandler},
        {L"Core.Antivirus.DATState", &GlimmerpaneImpl::DATStateHandler},
        {L"Core.Update.State", &GlimmerpaneImpl::UpdateStateHandler},
        {L"Core.ProductState.ProductListChange", &GlimmerpaneImpl::ProductListChangeHandler},
        {L"Core.ProductState.3rdPartyListChange", &GlimmerpaneImpl::ThirdPartyListChangeHandler},
    };
    handlers_.clear();
    for (const auto& entry : kTable) {
        // A named copy, not a structured binding: C++20 lets a lambda capture a binding, but
        // clang 14 does not implement that yet.
        const Handler handler = entry.second;
        handlers_.emplace(entry.first, [this, handler](const std::shared_ptr<Message>& message) -> uint32_t {
            const uint32_t result = (this->*handler)(message);
            if (!catchingUp_) createTiles();
            return result;
        });
    }
}

bool GlimmerpaneImpl::subscribeToMessages() {
    for (const auto& [name, handler] : handlers_) {
        const ModuleStatus status = subscribe(name, [this](const std::shared_ptr<Message>& message) -> uint32_t {
            queue_.push(message);
            return 0;
        });
        if (status != MODULE_STATUS_SUCCESS) {
            GP_LOG_ERROR(kSource, L"Vornik::GlimmerpaneImpl::subscribeToMessages", L"Failed to subscribe to all messages");
            return false;
        }
    }
    return true;
}

ModuleStatus GlimmerpaneImpl::initialize() {
    buildHandlerTable();
    if (subscribeToMessages()) return MODULE_STATUS_SUCCESS;
    GP_LOG_ERROR(kSource, L"Vornik::GlimmerpaneImpl::initialize", L"Could not subscribe to required messages");
    return MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus GlimmerpaneImpl::start() {
    if (worker_.joinable()) {
        // A second worker would replace a running thread object, which ends the process.
        GP_LOG_WARNING(kSource, L"Vornik::GlimmerpaneImpl::start", L"Module is already started.");
        return MODULE_STATUS_SUCCESS;
    }
    worker_ = std::thread([this] { listenForUpdates(); });
    refreshStatus();
    return MODULE_STATUS_SUCCESS;
}

void GlimmerpaneImpl::refreshStatus() {
    for (const std::wstring& name : refreshRequestNames()) {
        auto request = std::make_shared<Message>(std::wstring(name), std::wstring(L"Glimmerpane Module"), std::wstring());
        if (publish(std::move(request)) != MODULE_STATUS_SUCCESS) {
            GP_LOG_ERROR(kSource, L"Vornik::GlimmerpaneImpl::refreshStatus", L"Failed to publish refresh message %ls",
                         name.c_str());
        }
    }
    std::lock_guard lock(stateLock_);
    updateStatistics();
}

ModuleStatus GlimmerpaneImpl::stop() {
    if (worker_.joinable()) {
        queue_.shutdown();
        worker_.join();
        return MODULE_STATUS_SUCCESS;
    }
    // No worker was started: nothing would ever drain the queue, so waiting for it would
    // hang the host. What was queued is given up.
    if (const size_t discarded = queue_.close(); discarded > 0) {
        GP_LOG_WARNING(kSource, L"Vornik::GlimmerpaneImpl::stop",
                       L"Stopped without a running worker: %lu queued messages discarded.",
                       static_cast<unsigned long>(discarded));
    }
    return MODULE_STATUS_SUCCESS;
}

void GlimmerpaneImpl::listenForUpdates() {
    std::shared_ptr<Message> message;
    size_t waiting = 0;
    while (queue_.pop(message, &waiting)) {
        auto entry = handlers_.find(message->getName());
        if (entry == handlers_.end()) continue;
        catchingUp_ = waiting >= kCatchUpDepth;
        const uint32_t result = entry->second(message);
        if (catchingUp_) {
            ++payloadsLeftOut_;
        } else if (payloadsLeftOut_ > 0) {
            GP_LOG_WARNING(kSource, L"Vornik::GlimmerpaneImpl::listenForUpdates",
                           L"Caught up with a backlog of status messages: %llu payloads left out, the last one "
                           L"published holds their state.",
                           static_cast<unsigned long long>(payloadsLeftOut_));
            payloadsLeftOut_ = 0;
        }
        if (result != 0) {
            GP_LOG_NORMAL(kSource, L"Vornik::GlimmerpaneImpl::listenForUpdates", L"Handled message %ls",
                          message->getName().c_str());
        } else {
            GP_LOG_ERROR(kSource, L"Vornik::GlimmerpaneImpl::listenForUpdates",
                         L"Message handling failed for message: %ls", message->getName().c_str());
        }
        message.reset();
    }
}

void GlimmerpaneImpl::createTiles() {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::createTiles";
    ProcState snapshot;
    {
        std::lock_guard lock(stateLock_);
        updateStatistics();
        snapshot = *state_;
    }
    const std::vector<TileContent> contents = selectTileContents(snapshot);
    if (!formatter_->getTilesPayload(contents, snapshot, payloadText_)) {
        GP_LOG_ERROR(kSource, kFunction, L"Failed to generate tile payload.");
        return;
    }
    // The bus copies what it is given; a message that nobody kept is filled again, so its
    // text and header are reused instead of allocated per payload.
    if (!payloadMessage_ || payloadMessage_.use_count() != 1) {
        payloadMessage_ = std::make_shared<Message>(std::wstring(L"messaging.message.processed"),
                                                    std::wstring(L"GlimmerpaneImpl"), std::wstring());
    }
    payloadMessage_->swapUserData(payloadText_);
    if (publish(payloadMessage_) != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, kFunction, L"Failed to publish tile payload.");
    }
}


bool GlimmerpaneImpl::readStatKeyDword(const wchar_t* key, uint64_t& count) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::readStatKeyDword";
    if (key == nullptr) {
        GP_LOG_ERROR(kSource, kFunction, L"nullptr key is invalid");
        return false;
    }
    uint32_t value = 0;
    if (registry_->readDword(key, L"SDSValue", value) == MODULE_STATUS_SUCCESS) {
        count = value;
        return true;
    }
    GP_LOG_ERROR(kSource, kFunction, L"Failed to read statistics from %ls", key);
    return false;
}

void GlimmerpaneImpl::updateStatistics() {
    // The twelve reads below come from one consistent view of the registry.
    RegistryAPI::Snapshot snapshot(*registry_, statisticKeys_);
    auto sum = [this](const wchar_t* const* keys, size_t count) {
        uint64_t total = 0;
        for (size_t i = 0; i < count; ++i) {
            uint64_t value = 0;
            if (readStatKeyDword(keys[i], value)) total += value;
        }
        return total;
    };
    state_->threatsResolved = sum(kResolvedKeys, std::size(kResolvedKeys));
    state_->threatsDetected = sum(kDetectedKeys, std::size(kDetectedKeys));
    state_->threatsUnresolved = state_->threatsDetected > state_->threatsResolved;
    readStatKeyDword(kItemsScannedKey, state_->filesScanned);
    readStatKeyDword(kConnectionsBlockedKey, state_->connectionsBlocked);
}

uint32_t GlimmerpaneImpl::OverallStatusHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::OverallStatusHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring state;
    if (!json.getString(L"state", state)) return MissingKey(kFunction, L"Missing state from protection status");
    state_->protectionState = state == L"red" ? 1 : state == L"gray" ? 2 : 0;
    return 1;
}

uint32_t GlimmerpaneImpl::LastScanTimeHandler(const std::shared_ptr<Message>& message) {
    JSONParser json;
    if (!ParseUserData(message, json, L"Vornik::GlimmerpaneImpl::LastScanTimeHandler")) return 0;
    bool outOfDate = false;
    if (json.getBool(L"scan_out_of_date", outOfDate)) state_->scanOutOfDate = outOfDate;
    return 1;
}

uint32_t GlimmerpaneImpl::RTSStateHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::RTSStateHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring state, repair;
    bool starting = false, pupScanEnabled = false;
    if (!json.getString(L"state", state)) return MissingKey(kFunction, L"Missing state from RTSState");
    if (!json.getString(L"repair", repair)) return MissingKey(kFunction, L"Missing repair from RTSState");
    if (!json.getBool(L"starting", starting)) return MissingKey(kFunction, L"Missing starting from RTSState");
    if (!json.getBool(L"pup_scan_enabled", pupScanEnabled))
        return MissingKey(kFunction, L"Missing pup_scan_enabled from RTSState");

    if (repair == L"on") {
        state_->rtsRepairing = true;
    } else if (repair == L"off") {
        state_->rtsRepairing = false;
    } else {
        return 0;
    }
    state_->rtsStarting = starting;
    if (state == L"on") {
        state_->rtsState = 0;
    } else if (state == L"off") {
        state_->rtsState = (!state_->rtsRepairing && !state_->rtsStarting) ? 1 : 2;
    } else {
        return 0;
    }
    state_->pupScanEnabled = true;
    if (!pupScanEnabled) {
        state_->rtsState = 1;
        state_->pupScanEnabled = false;
    }
    return 1;
}

uint32_t GlimmerpaneImpl::PelmorStateHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::PelmorStateHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring state;
    bool offByUser = false;
    if (!json.getString(L"state", state)) return MissingKey(kFunction, L"Missing state from PelmorState");
    if (!json.getBool(L"off_by_user", offByUser)) return MissingKey(kFunction, L"Missing off_by_user from PelmorState");
    if (state == L"on") {
        state_->firewallState = 0;
    } else if (state == L"off") {
        state_->firewallState = offByUser ? 2 : 1;
    } else {
        return 0;
    }
    return 1;
}

uint32_t GlimmerpaneImpl::DATStateHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::DATStateHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    bool outOfDate = false;
    if (!json.getBool(L"dat_out_of_date", outOfDate)) return MissingKey(kFunction, L"Missing dat_out_of_date from DATState");
    state_->datOutOfDate = outOfDate;
    return 1;
}

uint32_t GlimmerpaneImpl::UpdateStateHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::UpdateStateHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring state;
    if (!json.getString(L"state", state)) return MissingKey(kFunction, L"Missing state from Update Status");
    if (state == L"on") {
        state_->updatesOff = false;
    } else if (state == L"off") {
        state_->updatesOff = true;
    } else {
        return 0;
    }
    return 1;
}

uint32_t GlimmerpaneImpl::ProductListChangeHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::ProductListChangeHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring firewall, antivirus;
    if (!json.getString(L"default", L"pelmor", firewall)) {
        GP_LOG_ERROR(kSource, kFunction, L"Missing pelmor from product list");
        firewall.clear();
    }
    if (!json.getString(L"default", L"dravix", antivirus)) {
        GP_LOG_ERROR(kSource, kFunction, L"Missing dravix from product list");
        antivirus.clear();
    }
    state_->firewallProductEnabled = firewall == L"enabled";
    state_->antivirusProductEnabled = antivirus == L"enabled";
    return 1;
}

uint32_t GlimmerpaneImpl::ThirdPartyListChangeHandler(const std::shared_ptr<Message>& message) {
    constexpr const wchar_t* kFunction = L"Vornik::GlimmerpaneImpl::ThirdPartyListChangeHandler";
    JSONParser json;
    if (!ParseUserData(message, json, kFunction)) return 0;
    std::wstring firewallState, antivirusState, firewall, antivirus;
    if (!json.getString(L"firewall_state", firewallState))
        return MissingKey(kFunction, L"Missing firewall_state from 3rd party product list");
    if (!json.getString(L"antivirus_state", antivirusState))
        return MissingKey(kFunction, L"Missing antivirus_state from 3rd party product list");
    if (!json.getString(L"firewall", firewall))
        return MissingKey(kFunction, L"Missing firewall from 3rd party product list");
    if (!json.getString(L"antivirus", antivirus))
        return MissingKey(kFunction, L"Missing antivirus from 3rd party product list");
    // Only another vendor's product (or none) reported off clears the flag.
    auto active = [](const std::wstring& product, const std::wstring& state) {
        return product.find(L"Corvane") != std::wstring::npos || state != L"off";
    };
    state_->firewallActive = active(firewall, firewallState);
    state_->antivirusActive = active(antivirus, antivirusState);
    return 1;
}

}  // namespace Vornik
