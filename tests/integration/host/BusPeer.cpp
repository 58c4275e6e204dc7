// BusPeer.cpp - one process on the bus for the cross-process tests, through BusBroker's C
// table only (the bus is the one GLIMMERPANE_BUS names).
//
//   bus_peer LIB listen NAME...       subscribe (a NAME starting with ~ is a pattern), print
//                                     "ready", then "<subscription> <userData>" per message,
//                                     until standard input closes
//   bus_peer LIB respond NAME         answer every request to NAME with "re:<userData>"
//   bus_peer LIB publish NAME COUNT   publish userData 0..COUNT-1, print "done <status>"
//   bus_peer LIB flood NAME           publish until a publish fails, print "stopped <status>"
//   bus_peer LIB request NAME MS      request (retrying while nobody is known to listen),
//                                     print "reply <status> <userData>"
#include <dlfcn.h>
#include <glimmerpane/abi.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/BusHeader.h"

namespace {

const MessageBusFunctions* g_bus = nullptr;
void* g_handle = nullptr;
std::mutex g_printing;

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t* userData) {
    std::lock_guard lock(g_printing);
    std::printf("%d %s\n", static_cast<int>(reinterpret_cast<intptr_t>(context)), Narrow(userData).c_str());
    std::fflush(stdout);
    return 0;
}

uint32_t OnRequest(void*, const MessageHeader* header, const wchar_t* name, const wchar_t*, const wchar_t* userData) {
    MessageHeader reply = gptest::NewBusHeader();
    reply.flags = 1;  // FLAG_REPLY
    reply.replyInfo = header->replyInfo;
    const std::wstring answer = L"re:" + std::wstring(userData);
    g_bus->publish(g_handle, &reply, name, L"bus_peer", answer.c_str());
    return 0;
}

struct Reply {
    std::mutex mutex;
    std::condition_variable done;
    bool came = false;
    ModuleStatus status = 0;
    std::string userData;
} g_reply;

uint32_t OnReply(void*, uint64_t, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t* userData,
                 ModuleStatus status) {
    std::lock_guard lock(g_reply.mutex);
    g_reply.came = true;
    g_reply.status = status;
    g_reply.userData = Narrow(userData);
    g_reply.done.notify_all();
    return 0;
}

void WaitForStdinToClose() {
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    void* library = dlopen(argv[1], RTLD_NOW);
    if (!library) return 3;
    auto create = reinterpret_cast<CreateObjectFn>(dlsym(library, "CreateObject"));
    auto release = reinterpret_cast<ReleaseObjectFn>(dlsym(library, "ReleaseObject"));
    g_bus = static_cast<const MessageBusFunctions*>(create(1006000));
    if (!g_bus) return 3;
    if (ModuleStatus status = g_bus->open(&g_handle); status != 0) {
        std::printf("open 0x%08x\n", status);
        return 1;
    }
    const std::string mode = argv[2];
    const std::wstring name = Widen(argv[3]);
    int code = 0;
    if (mode == "listen") {
        for (int i = 3; i < argc; ++i) {
            const bool pattern = argv[i][0] == '~';
            const std::wstring text = Widen(argv[i] + (pattern ? 1 : 0));
            void* context = reinterpret_cast<void*>(static_cast<intptr_t>(i - 3));
            const uint32_t id = pattern ? g_bus->subscribeFilter(g_handle, context, OnMessage, text.c_str())
                                        : g_bus->subscribe(g_handle, context, OnMessage, text.c_str());
            if (id == 0) return 4;
        }
        {
            std::lock_guard lock(g_printing);
            std::printf("ready\n");
            std::fflush(stdout);
        }
        WaitForStdinToClose();
    } else if (mode == "respond") {
        if (g_bus->subscribe(g_handle, nullptr, OnRequest, name.c_str()) == 0) return 4;
        std::printf("ready\n");
        std::fflush(stdout);
        WaitForStdinToClose();
    } else if (mode == "publish" && argc == 5) {
        const int count = std::atoi(argv[4]);
        ModuleStatus status = 0;
        for (int i = 0; i < count && status == 0; ++i) {
            MessageHeader header = gptest::NewBusHeader();
            status = g_bus->publish(g_handle, &header, name.c_str(), L"bus_peer", std::to_wstring(i).c_str());
        }
        std::printf("done 0x%08x\n", status);
        code = status == 0 ? 0 : 1;
    } else if (mode == "flood") {
        std::printf("ready\n");
        std::fflush(stdout);
        ModuleStatus status = 0;
        for (int i = 0; status == 0; ++i) {
            MessageHeader header = gptest::NewBusHeader();
            status = g_bus->publish(g_handle, &header, name.c_str(), L"bus_peer", std::to_wstring(i).c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::printf("stopped 0x%08x\n", status);
    } else if (mode == "request" && argc == 5) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        ModuleStatus status = 0;
        do {
            MessageHeader header = gptest::NewBusHeader();
            status = g_bus->request(g_handle, 1, nullptr, OnReply, &header, name.c_str(), L"bus_peer", L"q",
                                    static_cast<uint32_t>(std::atoi(argv[4])));
            if (status == 0x8000000E) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (status == 0x8000000E && std::chrono::steady_clock::now() < until);
        if (status != 0) {
            std::printf("request 0x%08x\n", status);
            code = 1;
        } else {
            std::unique_lock lock(g_reply.mutex);
            g_reply.done.wait_for(lock, std::chrono::seconds(20), [] { return g_reply.came; });
            std::printf("reply 0x%08x %s\n", g_reply.status, g_reply.came ? g_reply.userData.c_str() : "(none)");
        }
    } else {
        return 2;
    }
    std::fflush(stdout);
    g_bus->close(g_handle);
    release(const_cast<MessageBusFunctions*>(g_bus));
    dlclose(library);
    return code;
}
