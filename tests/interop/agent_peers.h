// Real peers for the agent's interoperability tests: net-snmp's command-line programs run
// in a background thread while the test thread pumps its message loop (where the agent
// lives), and a daemon started on a free loopback port and stopped by the test.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "velk/oleauto.h"

extern char** environ;

namespace agent_interop {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// True while something holds the UDP port on 127.0.0.1.
inline bool UdpPortTaken(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    close(fd);
    return taken;
}

struct CommandResult {
    int status = -1;     // exit status, or -1 when it could not be run
    std::string output;  // standard output and standard error
};

// Runs `command` through the shell, bounded by `limit` (coreutils timeout), while the
// calling thread pumps its message loop.
inline CommandResult RunPumping(const std::string& command, milliseconds limit = milliseconds(20000)) {
    CommandResult result;
    std::atomic<bool> done{false};
    const std::string line = "timeout -k 2 " + std::to_string(limit.count() / 1000 + 1) + " " + command + " 2>&1";
    std::thread runner([&] {
        if (FILE* pipe = popen(line.c_str(), "r")) {
            char buffer[4096];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
            const int status = pclose(pipe);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        done = true;
    });
    const auto end = Clock::now() + limit + milliseconds(5000);
    while (!done && Clock::now() < end) VelkWaitMessage(5);
    runner.join();
    return result;
}

// A background program whose output goes to a file; stopped (SIGTERM) by Stop or the
// destructor.
class Daemon {
public:
    Daemon(const std::vector<std::string>& argv, const std::string& outputFile) : output_(outputFile) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Daemon() { Stop(); }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    bool Started() const { return pid_ > 0; }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(milliseconds(10));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    std::string Output() const {
        std::ifstream in(output_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    pid_t pid_ = -1;
    std::string output_;
};

// Pumps the loop until `done` or the time-out.
template <class F>
bool PumpUntil(F done, milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end) return false;
        VelkWaitMessage(10);
    }
    return true;
}

// A fresh scratch folder under the system's temporary folder.
inline std::string ScratchDir(const std::string& name) {
    std::string templ = "/tmp/velk-" + name + "-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    const char* dir = mkdtemp(buffer.data());
    return dir ? dir : "/tmp";
}

}  // namespace agent_interop
