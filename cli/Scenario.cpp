// Scenario.cpp - the line-based scenario format and the embedded default scenario.
#include "Scenario.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "render/JSONParser.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// Splits "word rest of line" at the first run of blanks.
std::pair<std::string, std::string> SplitWord(const std::string& line) {
    size_t space = 0;
    while (space < line.size() && !std::isspace(static_cast<unsigned char>(line[space]))) ++space;
    return {line.substr(0, space), Trim(line.substr(space))};
}

bool ValidMessageName(const std::string& name) {
    if (name.empty() || name.size() > 1024) return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) { return c > 0x20 && c != 0x7F; });
}

bool ParseStats(const std::string& rest, std::map<std::string, uint32_t>* stats, std::string* reason) {
    std::istringstream in(rest);
    std::string item;
    bool any = false;
    while (in >> item) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            *reason = "statistics entry '" + item + "' is not KEY=NUMBER";
            return false;
        }
        const std::string key = item.substr(0, eq), number = item.substr(eq + 1);
        if (StatisticsKeys().count(key) == 0) {
            *reason = "unknown statistics key '" + key + "' (known: " + [] {
                std::string all;
                for (const auto& [name, path] : StatisticsKeys()) all += (all.empty() ? "" : ", ") + name;
                return all;
            }() + ")";
            return false;
        }
        if (number.empty() || number.size() > 10 ||
            !std::all_of(number.begin(), number.end(), [](unsigned char c) { return std::isdigit(c); }) ||
            std::stoull(number) > 0xFFFFFFFFull) {
            *reason = "value of '" + key + "' must be a whole number from 0 to 4294967295, not '" + number + "'";
            return false;
        }
        (*stats)[key] = static_cast<uint32_t>(std::stoull(number));
        any = true;
    }
    if (!any) {
        *reason = "'stats' needs at least one KEY=NUMBER";
        return false;
    }
    return true;
}

bool ParseSend(const std::string& rest, ScenarioAction* action, std::string* reason) {
    auto [name, data] = SplitWord(rest);
    if (!ValidMessageName(name)) {
        *reason = name.empty() ? "a message name is missing" : "'" + name + "' is not a message name";
        return false;
    }
    // Unknown names go out as they are (a host may publish anything), but the user data of
    // the module's own messages must at least be JSON, or the line is surely a typo.
    if (IsStatusMessage(name) && !IsJsonText(data)) {
        *reason = "user data of " + name + " is not valid JSON: " + (data.empty() ? "(empty)" : data);
        return false;
    }
    action->kind = ScenarioAction::Kind::Send;
    action->name = name;
    action->userData = data;
    return true;
}

}  // namespace

const std::vector<StatusKind>& StatusKinds() {
    static const std::vector<StatusKind> kinds = {
        {"Core.Antivirus.LastScanTime", "Core.Antivirus.RefreshLastScanTime"},
        {"Core.ProductState.ProductListChange", "Core.ProductState.RefreshProductList"},
        {"Core.ProductState.3rdPartyListChange", "Core.ProductState.Refresh3rdPartyList"},
        {"Core.Antivirus.RTSState", "Core.Antivirus.RefreshRTSState"},
        {"Core.Firewall.State", "Core.Firewall.RefreshState"},
        {"Core.Antivirus.DATState", "Core.Antivirus.RefreshDATState"},
        {"Core.Update.State", "Core.Update.RefreshState"},
        {"Core.Protection.State", "Core.Protection.RefreshState"},
    };
    return kinds;
}

bool IsStatusMessage(const std::string& name) {
    const auto& kinds = StatusKinds();
    return std::any_of(kinds.begin(), kinds.end(), [&](const StatusKind& k) { return name == k.status; });
}

const std::map<std::string, std::wstring>& StatisticsKeys() {
    static const std::map<std::string, std::wstring> keys = [] {
        const std::wstring scan = L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\";
        std::map<std::string, std::wstring> m;
        for (const char* name : {"RootKitsResolved", "TrackingCookiesResolved", "TrojansResolved",
                                 "UnwantedProgramResolved", "VirusResolved", "RootKitsDetected",
                                 "TrackingCookiesDetected", "TrojansDetected", "UnwantedProgramDetected",
                                 "VirusDetected", "TotalItemScanned"}) {
            m[name] = scan + glimmerpane::base::WideFromUtf8(name);
        }
        m["TotalInboundConnectionBlocked"] =
            L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked";
        return m;
    }();
    return keys;
}

std::string ScenarioError::describe() const {
    return file + ":" + std::to_string(line) + ": " + reason;
}

bool IsJsonText(const std::string& text) {
    if (text.empty() || text.find('\0') != std::string::npos) return false;
    Vornik::JSONParser parser;
    return parser.parse(glimmerpane::base::WideFromUtf8(text));
}

bool ParseScenario(const std::string& text, const std::string& sourceName, Scenario* scenario, ScenarioError* error) {
    Scenario result;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    auto fail = [&](const std::string& reason) {
        *error = ScenarioError{sourceName, lineNumber, reason};
        return false;
    };
    while (std::getline(in, raw)) {
        ++lineNumber;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        auto [word, rest] = SplitWord(line);
        std::string reason;
        if (word == "title") {
            if (rest.empty()) return fail("'title' needs a text");
            result.title = rest;
        } else if (word == "initial") {
            if (!result.steps.empty()) return fail("'initial' must come before the first 'step'");
            auto [name, data] = SplitWord(rest);
            if (!IsStatusMessage(name))
                return fail("'initial' needs one of the eight status message names, not '" + name + "'");
            if (!IsJsonText(data)) return fail("user data of " + name + " is not valid JSON: " + (data.empty() ? "(empty)" : data));
            if (result.initial.count(name)) return fail("second 'initial' for " + name);
            result.initial[name] = data;
        } else if (word == "stats") {
            std::map<std::string, uint32_t> stats;
            if (!ParseStats(rest, &stats, &reason)) return fail(reason);
            if (result.steps.empty()) {
                for (auto& [k, v] : stats) result.seedStats[k] = v;
            } else {
                ScenarioAction action;
                action.kind = ScenarioAction::Kind::Stats;
                action.stats = std::move(stats);
                action.line = lineNumber;
                result.steps.back().actions.push_back(std::move(action));
            }
        } else if (word == "step") {
            if (rest.empty()) return fail("'step' needs a title");
            ScenarioStep step;
            step.title = rest;
            step.line = lineNumber;
            result.steps.push_back(std::move(step));
        } else if (word == "send") {
            if (result.steps.empty()) return fail("'send' outside a step (start one with 'step TITLE')");
            ScenarioAction action;
            if (!ParseSend(rest, &action, &reason)) return fail(reason);
            action.line = lineNumber;
            result.steps.back().actions.push_back(std::move(action));
        } else if (word == "expect") {
            if (result.steps.empty()) return fail("'expect' outside a step");
            if (result.steps.back().expect) return fail("second 'expect' in one step");
            std::vector<std::string> names;
            std::string item;
            std::istringstream list(rest);
            while (std::getline(list, item, ',')) {
                item = Trim(item);
                if (item.empty()) return fail("empty tile name in 'expect'");
                names.push_back(item);
            }
            if (names.empty()) return fail("'expect' needs tile names, such as SECURE");
            result.steps.back().expect = std::move(names);
        } else {
            return fail("unknown directive '" + word + "' (expected title, initial, stats, step, send or expect)");
        }
    }
    if (in.bad()) return fail("read error");
    if (result.steps.empty() && result.initial.empty()) {
        lineNumber = std::max(lineNumber, 1);
        return fail("the scenario has no 'initial' and no 'step'");
    }
    *scenario = std::move(result);
    return true;
}

bool ParseInteractiveLine(const std::string& input, ScenarioAction* action, std::string* reason) {
    const std::string line = Trim(input);
    auto [word, rest] = SplitWord(line);
    if (word == "stats") {
        ScenarioAction result;
        result.kind = ScenarioAction::Kind::Stats;
        if (!ParseStats(rest, &result.stats, reason)) return false;
        *action = std::move(result);
        return true;
    }
    return ParseSend(line, action, reason);
}

bool LoadScenarioFile(const std::string& path, Scenario* scenario, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return *error = "cannot open scenario " + path, false;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return *error = "cannot read scenario " + path, false;
    ScenarioError parseError;
    if (!ParseScenario(text.str(), path, scenario, &parseError)) return *error = parseError.describe(), false;
    return true;
}

const std::string& DefaultScenarioText() {
    static const std::string text = R"(# The built-in day of `glimmerpane demo`.
title A day in the life of the live tile

# What each suite component reports when the module asks it to refresh.
initial Core.Antivirus.LastScanTime {"scan_out_of_date":false}
initial Core.ProductState.ProductListChange {"default":{"pelmor":"enabled","dravix":"enabled"}}
initial Core.ProductState.3rdPartyListChange {"firewall_state":"on","antivirus_state":"on","firewall":"Corvane Firewall","antivirus":"Corvane Antivirus"}
initial Core.Antivirus.RTSState {"state":"on","repair":"off","starting":false,"pup_scan_enabled":true}
initial Core.Firewall.State {"state":"on","off_by_user":false}
initial Core.Antivirus.DATState {"dat_out_of_date":false}
initial Core.Update.State {"state":"on"}
initial Core.Protection.State {"state":"green"}

# A fresh installation: nothing scanned, nothing blocked yet.
stats RootKitsResolved=0 TrackingCookiesResolved=0 TrojansResolved=0 UnwantedProgramResolved=0 VirusResolved=0
stats RootKitsDetected=0 TrackingCookiesDetected=0 TrojansDetected=0 UnwantedProgramDetected=0 VirusDetected=0
stats TotalItemScanned=0 TotalInboundConnectionBlocked=0

step Morning: every protection feature is on
send Core.Protection.State {"state":"green"}
expect SECURE

step The user turns the firewall off
send Core.Firewall.State {"state":"off","off_by_user":true}
send Core.Protection.State {"state":"gray"}
expect FIREWALL_OFF_BY_USER, SECURE

step Real-time scanning stops and the DAT files fall out of date
send Core.Antivirus.RTSState {"state":"off","repair":"off","starting":false,"pup_scan_enabled":true}
send Core.Antivirus.DATState {"dat_out_of_date":true}
send Core.Protection.State {"state":"red"}
expect RTS_OFF, DAT_OUT_OF_DATE

step Recovery: firewall and real-time scanning back on, DAT files updated
send Core.Firewall.State {"state":"on","off_by_user":false}
send Core.Antivirus.RTSState {"state":"on","repair":"off","starting":false,"pup_scan_enabled":true}
send Core.Antivirus.DATState {"dat_out_of_date":false}
send Core.Protection.State {"state":"green"}
expect SECURE

step Evening: a full scan finishes and the firewall has blocked intruders
stats TotalItemScanned=48213 VirusDetected=3 VirusResolved=3 TrojansDetected=1 TrojansResolved=1
stats TotalInboundConnectionBlocked=17
send Core.Antivirus.LastScanTime {"scan_out_of_date":false}
expect FILES_SCANNED, CONNECTIONS_BLOCKED, THREATS_REMOVED, SECURE
)";
    return text;
}

}  // namespace glimmerpane::cli
