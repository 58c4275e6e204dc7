// DbusProcessesTest.cpp - BusBroker.so in separate processes on a private dbus-daemon, and
// `glimmerpane host`, `watch` and `publish` as three processes on it.
#if GP_BUS_DBUS

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/PrivateDbus.h"
#include "support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A child with pipes to its standard input and output (standard error stays the test's,
// unless merged), run with GLIMMERPANE_BUS set.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& bus, bool mergeStderr = false) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (mergeStderr) posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "GLIMMERPANE_BUS=", 16) != 0) env.emplace_back(*e);
        }
        env.push_back("GLIMMERPANE_BUS=" + bus);
        std::vector<char*> envp, args;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> copy = argv;
        for (auto& a : copy) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        ::fcntl(stdout_, F_SETFL, O_NONBLOCK);
    }
    ~Child() {
        closeInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    bool started() const { return pid_ > 0; }

    // The next line of output; false when none came before the deadline or the output ended.
    bool line(std::string* text, std::chrono::milliseconds limit = 20s) {
        const auto until = Clock::now() + limit;
        for (;;) {
            if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
                *text = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                output_ += *text + "\n";
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) return false;
            pollfd fd{stdout_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
            char chunk[4096];
            const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
            if (n == 0) return false;
            if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Reads until a line starts with prefix (stored in *matched); false at the deadline.
    bool until(const std::string& prefix, std::chrono::milliseconds limit = 20s, std::string* matched = nullptr) {
        const auto end = Clock::now() + limit;
        std::string text;
        while (Clock::now() < end) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (!line(&text, left)) return false;
            if (text.rfind(prefix, 0) == 0) {
                if (matched) *matched = text;
                return true;
            }
        }
        return false;
    }
    const std::string& output() const { return output_; }

    void closeInput() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    void signal(int number) {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // The exit code (128 + signal for a killed child); -1 when it did not end in time.
    int wait(std::chrono::milliseconds limit = 20s) {
        if (pid_ <= 0) return exit_;
        const auto until = Clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= until) return -1;
            std::this_thread::sleep_for(5ms);
        }
        pid_ = -1;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::string rest;
        while (line(&rest, 1s)) {
        }  // what it wrote last joins output()
        return exit_;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1;
    int exit_ = -1;
    std::string buffer_, output_;
};

std::vector<std::string> Peer(std::vector<std::string> args) {
    args.insert(args.begin(), {GP_BUS_PEER_PATH, GP_BUS_PATH});
    return args;
}

class DbusProcesses : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(daemon_.address().empty()) << "dbus-daemon did not start"; }
    const std::string& bus() const { return daemon_.address(); }

    // Reads "<subscription> <n>" lines until `count` arrived for every subscription named.
    static void ExpectInOrder(Child& listener, const std::map<int, int>& counts) {
        std::map<int, int> next;
        std::string text;
        auto complete = [&] {
            for (const auto& [sub, count] : counts)
                if (next[sub] < count) return false;
            return true;
        };
        while (!complete()) {
            ASSERT_TRUE(listener.line(&text)) << "stopped after " << listener.output().size() << " bytes";
            int sub = -1, value = -1;
            ASSERT_EQ(std::sscanf(text.c_str(), "%d %d", &sub, &value), 2) << text;
            ASSERT_EQ(value, next[sub]) << "subscription " << sub << " out of order";
            ++next[sub];
        }
    }

    gptest::PrivateDbus daemon_;
};

TEST_F(DbusProcesses, ThreeSubscribersInTwoProcessesGetEveryMessageInOrder) {
    Child first(Peer({"listen", "Core.Firewall.State", "~Core\\..*"}), bus());
    Child second(Peer({"listen", "~Core\\.Firewall\\..*"}), bus());
    ASSERT_TRUE(first.until("ready"));
    ASSERT_TRUE(second.until("ready"));
    Child publisher(Peer({"publish", "Core.Firewall.State", "2000"}), bus());
    ASSERT_TRUE(publisher.until("done 0x00000000")) << publisher.output();
    EXPECT_EQ(publisher.wait(), 0);
    ExpectInOrder(first, {{0, 2000}, {1, 2000}});
    ExpectInOrder(second, {{0, 2000}});
}

TEST_F(DbusProcesses, SubscriberKilledMidStreamCostsTheOthersNothing) {
    Child doomed(Peer({"listen", "Tick"}), bus());
    Child survivor(Peer({"listen", "Tick"}), bus());
    ASSERT_TRUE(doomed.until("ready"));
    ASSERT_TRUE(survivor.until("ready"));
    Child publisher(Peer({"publish", "Tick", "20000"}), bus());
    ASSERT_TRUE(doomed.until("0 100"));
    doomed.signal(SIGKILL);
    EXPECT_EQ(doomed.wait(), 128 + SIGKILL);
    ASSERT_TRUE(publisher.until("done 0x00000000", 60s)) << publisher.output();
    ExpectInOrder(survivor, {{0, 20000}});
}

TEST_F(DbusProcesses, RequestAndReplyAcrossProcesses) {
    Child responder(Peer({"respond", "Svc.Query"}), bus());
    ASSERT_TRUE(responder.until("ready"));
    struct Case {
        const char* name;
        const char* timeoutMs;
        const char* expected;
    };
    Child silent(Peer({"listen", "Svc.Silent"}), bus());
    ASSERT_TRUE(silent.until("ready"));
    for (const Case& c : {Case{"Svc.Query", "5000", "reply 0x00000000 re:q"},
                          Case{"Svc.Silent", "300", "reply 0x8000000d q"}}) {  // a timeout hands back the request
        Child requester(Peer({"request", c.name, c.timeoutMs}), bus());
        std::string text;
        ASSERT_TRUE(requester.line(&text)) << c.name;
        EXPECT_EQ(text, c.expected) << c.name;
        EXPECT_EQ(requester.wait(), 0) << c.name;
    }
}

TEST_F(DbusProcesses, DaemonKilledGivesStatusesAndEveryProcessEnds) {
    Child listener(Peer({"listen", "Tick"}), bus());
    ASSERT_TRUE(listener.until("ready"));
    Child publisher(Peer({"flood", "Tick"}), bus());
    ASSERT_TRUE(listener.until("0 10"));
    daemon_.kill();
    ASSERT_TRUE(publisher.until("stopped 0x80000013")) << publisher.output();
    EXPECT_EQ(publisher.wait(), 0);
    listener.closeInput();
    EXPECT_EQ(listener.wait(), 0);
}

// The demo's initial state with protection red, where the firewall gets a tile of its own;
// empty when the demo could not print it.
fs::path RedScenario(const fs::path& folder, const std::string& bus) {
    Child print({GP_CLI_PATH, "demo", "--print-scenario"}, bus);
    std::string text, all;
    while (print.line(&text)) all += text + "\n";
    print.wait();
    const std::string green = "initial Core.Protection.State {\"state\":\"green\"}";
    const size_t at = all.find(green);
    if (at == std::string::npos) return {};
    all.replace(at, green.size(), "initial Core.Protection.State {\"state\":\"red\"}");
    std::ofstream(folder / "red.scn") << all;
    return folder / "red.scn";
}

// `glimmerpane host` on the red scenario, once its start is done (AT_RISK shown).
std::unique_ptr<Child> StartHost(const fs::path& folder, const std::string& bus) {
    const fs::path scenario = RedScenario(folder, bus);
    EXPECT_FALSE(scenario.empty());
    auto host = std::make_unique<Child>(std::vector<std::string>{GP_CLI_PATH, "host", "--scenario", scenario.string(),
                                                                 "--lang", "en-US", "--html",
                                                                 (folder / "host.html").string()},
                                        bus, true);
    EXPECT_TRUE(host->until("== Hosted until stopped")) << host->output();
    EXPECT_TRUE(std::regex_search(host->output(), std::regex("tile set 8 from the module: AT_RISK\n")))
        << host->output();
    return host;
}

// The module needs off_by_user; without it the message is refused and the tiles stay.
const char* const kFirewallOff = "{\"state\":\"off\",\"off_by_user\":false}";

// The three terminals of the README: host, watch, publish.
TEST_F(DbusProcesses, HostWatchAndPublishInThreeProcesses) {
    gptest::TempFolder temp;
    std::unique_ptr<Child> started = StartHost(temp.path(), bus());
    Child& host = *started;
    Child watch({GP_CLI_PATH, "watch", "--once", "--timeout", "20000"}, bus(), true);
    ASSERT_TRUE(watch.until("watch: waiting")) << watch.output();

    const auto sent = Clock::now();
    Child publish({GP_CLI_PATH, "publish", "Core.Firewall.State", kFirewallOff}, bus(), true);
    EXPECT_EQ(publish.wait(), 0) << publish.output();
    std::string payload;
    ASSERT_TRUE(watch.line(&payload)) << watch.output();
    EXPECT_LT(Clock::now() - sent, 1s);
    EXPECT_EQ(watch.wait(), 0);
    std::string shown;
    ASSERT_TRUE(host.until("   tile set", 20s, &shown)) << host.output();
    EXPECT_TRUE(std::regex_search(shown, std::regex("tile set [0-9]+ from the module: FIREWALL_OFF"))) << shown;

    // The payload watch printed draws the same tiles.
    const fs::path json = temp.path() / "payload.json";
    std::ofstream(json) << payload << "\n";
    Child preview({GP_CLI_PATH, "preview", json.string()}, bus(), true);
    EXPECT_EQ(preview.wait(), 0) << preview.output();
    std::ifstream page(temp.path() / "payload.html");
    std::stringstream html;
    html << page.rdbuf();
    EXPECT_NE(html.str().find("data-tile=\"FIREWALL_OFF\""), std::string::npos);

    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(), 0) << host.output();
    EXPECT_NE(host.output().find("DestroyModule        MODULE_STATUS_SUCCESS"), std::string::npos) << host.output();
}

// The live page in headless Chromium: loaded while the tiles say AT_RISK, it redraws itself
// with FIREWALL_OFF when a third process publishes the change. Chromium is installed only
// with GP_BROWSER_TESTS=1 (scripts/install-deps); without it the test is skipped.
TEST_F(DbusProcesses, LivePageRedrawsInChromiumWhenAStatusChanges) {
    constexpr const char* kChromium = "/usr/bin/chromium";
    if (!fs::exists(kChromium)) {
        GTEST_SKIP() << "Chromium is not installed; run GP_BROWSER_TESTS=1 scripts/install-deps to enable this check";
    }
    gptest::TempFolder temp;
    std::unique_ptr<Child> host = StartHost(temp.path(), bus());
    Child watch({GP_CLI_PATH, "watch", "--port", "0", "--lang", "en-US"}, bus(), true);
    std::string url;
    ASSERT_TRUE(watch.until("watching: ", 20s, &url)) << watch.output();
    url = url.substr(std::strlen("watching: "));
    // A payload for the page to start from: the same state published again.
    Child again({GP_CLI_PATH, "publish", "Core.Protection.State", "{\"state\":\"red\"}"}, bus(), true);
    ASSERT_EQ(again.wait(), 0) << again.output();
    ASSERT_TRUE(host->until("   tile set 9 from the module: AT_RISK")) << host->output();

    // The page's long polls pause Chromium's virtual time, so the budget lasts as many polls
    // (each at most a second of real time) as it takes the script to see the change.
    const fs::path dom = temp.path() / "dom.html";
    Child chromium({"/bin/sh", "-c",
                    std::string("exec ") + kChromium +
                        " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
                        " --disable-component-update --disable-sync --user-data-dir=" +
                        (temp.path() / "profile").string() + " --virtual-time-budget=400 --dump-dom " + url + " > " +
                        dom.string() + " 2> " + (temp.path() / "chromium.log").string()},
                   bus());
    ASSERT_TRUE(watch.until("watch: a browser opened the page", 60s)) << watch.output();
    Child publish({GP_CLI_PATH, "publish", "Core.Firewall.State", kFirewallOff}, bus(), true);
    ASSERT_EQ(publish.wait(), 0) << publish.output();
    ASSERT_EQ(chromium.wait(120s), 0);
    std::ifstream in(dom);
    std::stringstream text;
    text << in.rdbuf();
    const std::string page = text.str();
    EXPECT_NE(page.find("data-redrawn=\"live\""), std::string::npos) << page.substr(0, 400);
    EXPECT_NE(page.find("data-version=\"2\""), std::string::npos) << page.substr(0, 400);
    EXPECT_NE(page.find("data-tile=\"FIREWALL_OFF\""), std::string::npos);
    EXPECT_EQ(page.find("data-tile=\"AT_RISK\""), std::string::npos);
    host->signal(SIGTERM);
    EXPECT_EQ(host->wait(), 0);
}

}  // namespace

#endif  // GP_BUS_DBUS
