// PrivateDbus.h - a dbus-daemon of the test's own (POSIX), never the machine's bus.
//
// The daemon runs with a configuration written into a fresh temporary folder, listens on a
// socket there and prints its address, which address() returns. kill() ends it abruptly (the
// "bus goes away" case); the destructor ends it and removes the folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

extern char** environ;

namespace gptest {

class PrivateDbus {
public:
    // maxMessageSize: the daemon's limit on one message, in bytes (0: its default).
    explicit PrivateDbus(unsigned long maxMessageSize = 0) {
        char folder[] = "/tmp/gp-dbus-XXXXXX";
        if (::mkdtemp(folder) == nullptr) return;
        folder_ = folder;
        const std::string config = folder_ + "/bus.conf";
        {
            std::ofstream out(config);
            out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n  <type>session</type>\n  <listen>unix:path="
                << folder_ << "/socket</listen>\n  <auth>EXTERNAL</auth>\n"
                << "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n";
            if (maxMessageSize != 0) out << "  <limit name=\"max_message_size\">" << maxMessageSize << "</limit>\n";
            out << "</busconfig>\n";
        }
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        // It complains about the fd limit it may not raise; nothing a test needs.
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string configArg = "--config-file=" + config;
        char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(configArg.c_str()),
                        const_cast<char*>("--nofork"), const_cast<char*>("--nopidfile"),
                        const_cast<char*>("--print-address"), nullptr};
        const int spawned = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            pid_ = -1;
            ::close(out[0]);
            return;
        }
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
        ::close(out[0]);
    }

    ~PrivateDbus() {
        kill();
        if (!folder_.empty()) {
            std::remove((folder_ + "/socket").c_str());
            std::remove((folder_ + "/bus.conf").c_str());
            ::rmdir(folder_.c_str());
        }
    }

    PrivateDbus(const PrivateDbus&) = delete;
    PrivateDbus& operator=(const PrivateDbus&) = delete;

    // Empty when the daemon did not start.
    const std::string& address() const { return address_; }

    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    std::string folder_;
    std::string address_;
    pid_t pid_ = -1;
};

}  // namespace gptest
