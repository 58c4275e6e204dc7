// WatchCommand.cpp - `glimmerpane watch`: the tile payloads on the bus, live in a browser.
//
// The page is the HTML preview of the latest payload with one small script: it asks
// /version?after=N, which answers as soon as a newer payload has come (or after a second
// with the same number), and then swaps in the new page's body. The server listens on
// 127.0.0.1 only.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "BusLibrary.h"
#include "Command.h"
#include "HtmlPreview.h"
#include "ModuleHost.h"
#include "TilePayload.h"
#include "base/Utf.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/LanguageIds.h"

namespace glimmerpane::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The latest payload and how many have come.
class LatestPayload {
public:
    static uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t*, const wchar_t*,
                              const wchar_t* userData) {
        auto* self = static_cast<LatestPayload*>(context);
        std::lock_guard lock(self->mutex_);
        self->payload_ = base::Utf8FromWide(userData ? userData : L"");
        self->received_ = std::time(nullptr);
        ++self->version_;
        self->changed_.notify_all();
        return 0;
    }
    // The version after `seen` once there is one, or `seen` when `limit` passed (or `stop` was set).
    uint64_t waitAfter(uint64_t seen, std::chrono::milliseconds limit, const std::atomic<bool>& stop) {
        const auto until = Clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (version_ <= seen && !stop && !platform::InterruptRequested() && Clock::now() < until) {
            changed_.wait_for(lock, std::chrono::milliseconds(100));
        }
        return version_;
    }
    uint64_t snapshot(std::string* payload, std::time_t* received) {
        std::lock_guard lock(mutex_);
        *payload = payload_;
        *received = received_;
        return version_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string payload_;
    std::time_t received_ = 0;
    uint64_t version_ = 0;
};

const char* const kLiveScript =
    "<script>\n"
    "(function () {\n"
    "  var version = VERSION, first = '&first=1';\n"
    "  function poll() {\n"
    "    fetch('/version?after=' + version + first).then(function (r) { return r.text(); }).then(function (t) {\n"
    "      first = '';\n"
    "      var next = parseInt(t, 10);\n"
    "      if (!(next > version)) return;\n"
    "      return fetch('/').then(function (r) { return r.text(); }).then(function (html) {\n"
    "        var page = new DOMParser().parseFromString(html, 'text/html');\n"
    "        document.body.innerHTML = page.body.innerHTML;\n"
    "        document.body.setAttribute('data-version', String(next));\n"
    "        document.body.setAttribute('data-redrawn', 'live');\n"
    "        version = next;\n"
    "      });\n"
    "    }).catch(function () {}).then(function () { setTimeout(poll, 50); });\n"
    "  }\n"
    "  poll();\n"
    "})();\n"
    "</script>\n";

std::string RenderPage(LatestPayload& latest, const TileNamer& namer, const std::string& language) {
    std::string payload;
    std::time_t received = 0;
    const uint64_t version = latest.snapshot(&payload, &received);
    PreviewSection section;
    std::string summary;
    if (version == 0) {
        section.title = "Waiting for the first tile set on the bus";
        summary = "No tile payload yet; this page redraws itself when one comes.";
    } else {
        char when[32] = "";
        {
            // localtime shares one buffer, and pages are rendered on several server threads.
            static std::mutex clock;
            std::lock_guard lock(clock);
            std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&received));
        }
        section.title = "Tile set " + std::to_string(version);
        summary = "Tile set " + std::to_string(version) + ", received at " + when + ".";
        PreviewTileSet set;
        set.label = "tile set " + std::to_string(version);
        std::string reason;
        if (DecodePayload(payload, &set.payload, &reason)) {
            namer.nameAll(&set.payload);
            section.tileSets.push_back(std::move(set));
        } else {
            section.problem = "not a tile payload: " + reason;
        }
    }
    std::string html =
        RenderPreviewHtml("Live tiles", summary, {section}, platform::ExecutableFolder(), PageLanguage(language));
    std::string script = kLiveScript;
    script.replace(script.find("VERSION"), 7, std::to_string(version));
    const size_t end = html.rfind("</body>");
    html.insert(end == std::string::npos ? html.size() : end, script);
    const size_t body = html.find("<body");
    if (body != std::string::npos) html.insert(body + 5, " data-version=\"" + std::to_string(version) + "\"");
    return html;
}

int RunWatch(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::printf("usage: glimmerpane watch [--port N] [--lang L]\n"
                    "       glimmerpane watch --once [--timeout MS]\n\n"
                    "Subscribes to the tile payloads the hosted module publishes on the bus (see\n"
                    "`glimmerpane host`) and serves a page on http://127.0.0.1:PORT/ that draws the latest\n"
                    "tile set as the preview does and redraws it the moment a new one arrives. It listens\n"
                    "on 127.0.0.1 only. With --once it prints the next payload (one JSON line) and exits.\n"
                    "The bus is the one GLIMMERPANE_BUS names ('session' or a D-Bus address).\n\n"
                    "options:\n"
                    "  --port N      the port to listen on (default 8733; 0 picks a free one)\n"
                    "  --lang L      the payloads' language, to name their tiles (default: LANGUAGE/LANG)\n"
                    "  --once        print the next payload and exit\n"
                    "  --timeout MS  with --once: give up after MS milliseconds (default: wait until stopped)\n\n"
                    "exit status: 0 success or stopped by a signal, 1 no bus, no port or no payload in time,\n"
                    "2 bad arguments\n");
        return 0;
    }
    int port = 8733;
    bool once = false;
    unsigned long timeoutMs = 0;
    std::string language;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        char* end = nullptr;
        if (args[i] == "--once") {
            once = true;
        } else if (args[i] == "--port" && hasValue) {
            const unsigned long value = std::strtoul(args[++i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || value > 65535) return Fail(2, "watch: --port needs 0 to 65535");
            port = static_cast<int>(value);
        } else if (args[i] == "--timeout" && hasValue) {
            timeoutMs = std::strtoul(args[++i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || timeoutMs == 0) return Fail(2, "watch: --timeout needs milliseconds");
        } else if (args[i] == "--lang" && hasValue && platform::LanguageIdFromLocaleName(args[i + 1])) {
            language = args[++i];
        } else {
            return Fail(2, "watch: unexpected argument '" + args[i] + "' (see glimmerpane watch --help)");
        }
    }
    WarnWithoutBus("watch", "no other process's tiles can arrive");
    platform::InstallInterruptFlag();
    BusLibrary bus;
    void* handle = nullptr;
    std::string error;
    if (!OpenCommandBus(bus, &handle, &error)) return Fail(1, "watch: " + error);
    LatestPayload latest;
    // Withdrawn before `latest` goes: the handle is closed at the end of this function.
    struct CloseAtEnd {
        BusLibrary& bus;
        void* handle;
        ~CloseAtEnd() { bus.close(handle); }
    } closeAtEnd{bus, handle};
    if (bus.functions()->subscribe(handle, &latest, &LatestPayload::OnMessage, kTileMessage) == 0)
        return Fail(1, "watch: the bus refused the subscription");

    std::atomic<bool> stop{false};
    if (once) {
        std::fprintf(stderr, "watch: waiting for the next tile payload\n");
        const auto limit = timeoutMs ? std::chrono::milliseconds(timeoutMs) : std::chrono::hours(24 * 365);
        if (latest.waitAfter(0, limit, stop) == 0) {
            return platform::InterruptRequested() ? 0 : Fail(1, "watch: no tile payload within " +
                                                                    std::to_string(timeoutMs) + " ms");
        }
        std::string payload;
        std::time_t received = 0;
        latest.snapshot(&payload, &received);
        std::printf("%s\n", payload.c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    if (!language.empty()) {
        std::string base = language;
        std::replace(base.begin(), base.end(), '-', '_');
        platform::SetEnvironmentValue("LANGUAGE", base);
    }
    const TileNamer namer(platform::ExecutableFolder() + platform::LibraryFileName(L"GPNResources"));
    httplib::Server server;
    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(RenderPage(latest, namer, language), "text/html; charset=utf-8");
    });
    server.Get("/version", [&](const httplib::Request& request, httplib::Response& response) {
        uint64_t after = 0;
        if (request.has_param("after")) after = std::strtoull(request.get_param_value("after").c_str(), nullptr, 10);
        if (request.has_param("first")) {
            std::printf("watch: a browser opened the page\n");
            std::fflush(stdout);
        }
        const uint64_t version = latest.waitAfter(after, std::chrono::seconds(1), stop);
        response.set_header("Cache-Control", "no-store");
        response.set_content(std::to_string(version), "text/plain");
    });
    int bound = port;
    if (port == 0) {
        bound = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        bound = -1;
    }
    if (bound <= 0) return Fail(1, "watch: cannot listen on 127.0.0.1:" + std::to_string(port));
    std::printf("watching: http://127.0.0.1:%d/\n", bound);
    std::fflush(stdout);
    std::thread stopper([&] {
        while (!platform::InterruptRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
        server.stop();
    });
    server.listen_after_bind();
    if (!platform::InterruptRequested()) platform::RequestInterrupt();  // the server ended on its own
    stopper.join();
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(watch, "watch", "serve the bus's tile payloads as a live page on 127.0.0.1", RunWatch);

}  // namespace glimmerpane::cli
