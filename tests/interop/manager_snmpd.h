// net-snmp's programs as black-box peers of the Manager's interoperability tests and of
// its walk benchmark: a private snmpd on a free loopback port with its own configuration,
// and child processes that run while the thread's message loop keeps dispatching.
//
// Every child gets an environment that keeps it away from the system's configuration and
// persistent files (all of them live in a temporary folder removed at the end), and its
// output goes to a log file there.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "velk/oleauto.h"

extern char** environ;

namespace manager_peers {

// A fresh folder under /tmp, removed with its content at the end.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/velk-manager-XXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The full path of a program found in PATH, /usr/sbin or /usr/bin; empty when none.
inline std::string FindProgram(const std::string& name) {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/usr/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// One child process. Its stdout and stderr are appended to `log`; `home` receives the
// net-snmp configuration and persistent folders.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& home, const std::string& log) {
        std::filesystem::create_directories(home + "/persist");
        std::filesystem::create_directories(home + "/confpath");
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("HOME=", 0) && entry.rfind("SNMP", 0) && entry.rfind("MIB", 0))
                env.push_back(entry);
        }
        env.push_back("HOME=" + home);
        env.push_back("SNMP_PERSISTENT_DIR=" + home + "/persist");
        env.push_back("SNMPCONFPATH=" + home + "/confpath");
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    // False once the child has exited (it is then reaped).
    bool Running() { return pid_ > 0 && !Reap(WNOHANG); }
    pid_t Pid() const { return pid_; }

    // Waits for the exit while the thread's message loop runs. The exit status, or -1
    // when `ms` passed first (the child keeps running).
    int Wait(DWORD ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (pid_ > 0) {
            if (Reap(WNOHANG)) return status_;
            if (std::chrono::steady_clock::now() >= end) return -1;
            VelkWaitMessage(5);
        }
        return status_;
    }

    // Ends the child (SIGTERM, SIGKILL after two seconds) and reaps it.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 200 && pid_ > 0; ++i) {
            if (Reap(WNOHANG)) return;
            usleep(10000);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Reap(0);
        }
    }

    // CPU seconds (user + system) of the running child, from /proc.
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t paren = line.rfind(')');
        if (paren == std::string::npos) return 0;
        std::istringstream fields(line.substr(paren + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    // CPU seconds of the child once it has exited (from its resource usage).
    double ExitedCpuSeconds() const { return cpu_; }

private:
    bool Reap(int flags) {
        int status = 0;
        rusage usage{};
        const pid_t r = wait4(pid_, &status, flags, &usage);
        if (r != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        cpu_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        pid_ = -1;
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    double cpu_ = 0;
};

// A private snmpd on 127.0.0.1: community "public" reads, "private" reads and writes
// (sysContact.0 is writable because the configuration does not set it).
class Snmpd {
public:
    // Starts it and waits until it answers (up to 10 s). False when snmpd is missing or
    // does not come up; Error() says why.
    bool Start() {
        const std::string program = FindProgram("snmpd");
        if (program.empty()) return Fail("snmpd is not installed");
        if (dir_.Path().empty()) return Fail("no temporary folder");
        const std::string config = dir_.Path() + "/snmpd.conf";
        std::ofstream(config) << "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n";
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = FreeUdpPort();
            child_ = std::make_unique<Child>(
                std::vector<std::string>{program, "-f", "-Lo", "-C", "-c", config,
                                         "udp:127.0.0.1:" + std::to_string(port_)},
                dir_.Path(), Log());
            if (!child_->Started()) return Fail("snmpd could not be started");
            // Another process may have taken the port meanwhile: then our snmpd has exited.
            if (Answers(10000) && child_->Running()) return true;
            child_->Stop();
        }
        return Fail("snmpd did not answer; see " + Log());
    }
    void Stop() {
        if (child_) child_->Stop();
    }

    int Port() const { return port_; }
    const std::string& Folder() const { return dir_.Path(); }
    std::string Log() const { return dir_.Path() + "/snmpd.log"; }
    const std::string& Error() const { return error_; }
    double CpuSeconds() const { return child_ ? child_->CpuSeconds() : 0; }

private:
    bool Fail(std::string why) {
        error_ = std::move(why);
        return false;
    }
    // True once a version 2c Get of sysUpTime.0 is answered.
    bool Answers(int ms) const {
        static const uint8_t kGet[] = {0x30, 0x26, 0x02, 0x01, 0x01, 0x04, 0x06, 'p', 'u', 'b',
                                       'l', 'i', 'c', 0xA0, 0x19, 0x02, 0x01, 0x01, 0x02, 0x01,
                                       0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
                                       0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00};
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port_));
        bool answered = false;
        for (int waited = 0; waited < ms && !answered; waited += 100) {
            sendto(fd, kGet, sizeof kGet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) == 1) {
                uint8_t buffer[1500];
                answered = recv(fd, buffer, sizeof buffer, 0) > 0;
            }
        }
        close(fd);
        return answered;
    }

    TempDir dir_;
    std::unique_ptr<Child> child_;
    int port_ = 0;
    std::string error_;
};

}  // namespace manager_peers
