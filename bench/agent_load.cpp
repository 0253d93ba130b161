// Agent under load: requests answered per second and per CPU-second of the agent process,
// with median and 99th-percentile latency, for our Agent (bench/tools/agent_target.cpp,
// answering from a compiled MIB) and for net-snmp's snmpd, side by side in one run.
//
// The load generator keeps a window of requests outstanding on one socket; requests are
// encoded once and only their request-id is patched; responses are matched by request-id.
// Each measurement runs for a fixed time. With VELK_BENCH_STRACE=1 a second, shorter run
// under `strace -c -f` counts the agent's system calls per request.
//
// Goal (kept here, never in tests): at least 4x snmpd's requests per CPU-second on every
// kind of request, and a lower p99 latency.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/message.h"
#include "model/variable.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr auto kRunTime = std::chrono::seconds(3);
constexpr auto kStraceRunTime = std::chrono::seconds(1);
constexpr int kWindow = 32;
constexpr uint32_t kIdBase = 0x40000000;  // request-ids encode in four bytes: 02 04 4x xx xx xx

int FreeUdpPort() {
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

// A child process that dies with the benchmark; its standard output goes to `outputFd`
// (or /dev/null when it is -1).
pid_t Spawn(const std::vector<std::string>& argv, int outputFd, const std::map<std::string, std::string>& env = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = outputFd >= 0 ? outputFd : open("/dev/null", O_WRONLY);
    dup2(out, 1);
    dup2(out, 2);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void Stop(pid_t pid, int sig = SIGTERM) {
    if (pid <= 0) return;
    kill(pid, sig);
    int status = 0;
    for (int i = 0; i < 300 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

// CPU seconds (user and system) the process has used so far.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// ---- Requests ----

enum class Kind { GetDescrV2, GetTenV2, GetNextV2, GetDescrV1 };

const char16_t* const kTenScalars[] = {
    u"1.3.6.1.2.1.1.1.0", u"1.3.6.1.2.1.1.2.0", u"1.3.6.1.2.1.1.3.0", u"1.3.6.1.2.1.1.4.0",
    u"1.3.6.1.2.1.1.5.0", u"1.3.6.1.2.1.1.6.0", u"1.3.6.1.2.1.1.7.0", u"1.3.6.1.2.1.1.8.0",
    u"1.3.6.1.2.1.11.1.0", u"1.3.6.1.2.1.11.30.0",
};

// The encoded request and the offset of its request-id's four content bytes.
struct Template {
    Bytes bytes;
    size_t idOffset = 0;
};

Template Encode(Kind kind) {
    ComPtr<ISnmpMessage> m;
    velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid());
    m->put_Community(Bstr(u"public").Get());
    m->put_Id(static_cast<LONG>(kIdBase));
    m->put_Type(kind == Kind::GetDescrV1 ? snmpGet1 : kind == Kind::GetNextV2 ? snmpGetNext2 : snmpGet2);
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    const size_t count = kind == Kind::GetTenV2 ? std::size(kTenScalars) : 1;
    for (size_t i = 0; i < count; ++i) {
        ComPtr<ISnmpVariable> v;
        velk::model::CreateSnmpVariable(v.Put());
        v->put_Oid(Bstr(kTenScalars[i]).Get());
        vars->Add(v.Get());
    }
    Variant out;
    out.vt = VT_ARRAY | VT_UI1;
    out.parray = nullptr;
    m->Encode(&out);
    Template t;
    const auto* p = static_cast<const uint8_t*>(out.parray->pvData);
    t.bytes.assign(p, p + out.parray->rgsabound[0].cElements);
    const uint8_t pattern[] = {0x02, 0x04, 0x40, 0x00, 0x00, 0x00};
    auto at = std::search(t.bytes.begin(), t.bytes.end(), std::begin(pattern), std::end(pattern));
    t.idOffset = static_cast<size_t>(at - t.bytes.begin()) + 2;
    return t;
}

// The request-id of a response (four content bytes, as the requests carry), or nullopt.
std::optional<uint32_t> ResponseId(const uint8_t* b, size_t n) {
    size_t at = 0;
    auto skipHeader = [&](uint8_t tag, bool enter) {
        if (at + 2 > n || b[at] != tag) return false;
        size_t len = b[at + 1];
        at += 2;
        if (len & 0x80) {
            const size_t bytes = len & 0x7F;
            if (bytes > 3 || at + bytes > n) return false;
            len = 0;
            for (size_t i = 0; i < bytes; ++i) len = (len << 8) | b[at++];
        }
        if (!enter) at += len;
        return at <= n;
    };
    if (!skipHeader(0x30, true) || !skipHeader(0x02, false) || !skipHeader(0x04, false) ||
        !skipHeader(0xA2, true))
        return std::nullopt;
    if (at + 6 > n || b[at] != 0x02 || b[at + 1] != 4) return std::nullopt;
    return uint32_t{b[at + 2]} << 24 | uint32_t{b[at + 3]} << 16 | uint32_t{b[at + 4]} << 8 | b[at + 5];
}

// ---- Load ----

struct LoadResult {
    double seconds = 0;
    double cpuSeconds = 0;
    long answered = 0;
    long lost = 0;
    double p50us = 0, p99us = 0;
};

LoadResult RunLoad(int port, pid_t target, Kind kind, std::chrono::steady_clock::duration runTime) {
    Template t = Encode(kind);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);

    struct Slot {
        uint32_t id = 0;
        bool busy = false;
        Clock::time_point sent;
    };
    constexpr uint32_t kSlots = 1024;  // more than the window: a slot is free when reused
    std::vector<Slot> slots(kSlots);
    std::vector<uint32_t> latencies;
    latencies.reserve(4'000'000);
    uint32_t sequence = 0;
    int outstanding = 0;
    LoadResult r;
    const double cpuBefore = CpuSeconds(target);
    const auto start = Clock::now();
    const auto end = start + runTime;
    auto lastExpiry = start;
    uint8_t buffer[65536];
    for (auto now = start; now < end; now = Clock::now()) {
        while (outstanding < kWindow) {
            const uint32_t id = kIdBase | (++sequence & 0x3FFFFFFF);
            Slot& slot = slots[id % kSlots];
            if (slot.busy) break;  // an old request still owns it
            for (int i = 0; i < 4; ++i) t.bytes[t.idOffset + i] = static_cast<uint8_t>(id >> (24 - 8 * i));
            if (send(fd, t.bytes.data(), t.bytes.size(), 0) < 0) break;
            slot = {id, true, Clock::now()};
            ++outstanding;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
        ssize_t n;
        while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            const auto id = ResponseId(buffer, static_cast<size_t>(n));
            if (!id) continue;
            Slot& slot = slots[*id % kSlots];
            if (!slot.busy || slot.id != *id) continue;
            slot.busy = false;
            --outstanding;
            ++r.answered;
            latencies.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - slot.sent).count()));
        }
        if (now - lastExpiry > std::chrono::milliseconds(200)) {
            lastExpiry = now;
            for (Slot& slot : slots)
                if (slot.busy && now - slot.sent > std::chrono::seconds(1)) {
                    slot.busy = false;
                    --outstanding;
                    ++r.lost;
                }
        }
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpuSeconds = CpuSeconds(target) - cpuBefore;
    close(fd);
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        r.p50us = latencies[latencies.size() / 2] / 1000.0;
        r.p99us = latencies[latencies.size() * 99 / 100] / 1000.0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let stragglers drain
    return r;
}

// System calls of `pid` while it answers a short load: total and per name.
std::map<std::string, long> CountSystemCalls(int port, pid_t pid, Kind kind, long* answered) {
    const std::string out = "/tmp/velk-agent-load-strace-" + std::to_string(pid) + ".txt";
    const pid_t tracer =
        Spawn({"strace", "-c", "-f", "-q", "-o", out, "-p", std::to_string(pid)}, -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    *answered = RunLoad(port, pid, kind, kStraceRunTime).answered;
    Stop(tracer, SIGINT);
    std::map<std::string, long> calls;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;) f.push_back(w);
        // "% time seconds usecs/call calls [errors] syscall"
        if (f.size() < 5 || !std::isdigit(static_cast<unsigned char>(f[0][0]))) continue;
        calls[f.back()] = std::stol(f[3]);
    }
    std::filesystem::remove(out);
    return calls;
}

// ---- The two agents ----

struct Agent {
    pid_t pid = -1;
    int port = 0;
};

bool Answers(int port) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port));
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        const Template t = Encode(Kind::GetDescrV2);
        send(fd, t.bytes.data(), t.bytes.size(), 0);
        // A refused probe also wakes poll: only a datagram counts as an answer.
        pollfd p{fd, POLLIN, 0};
        uint8_t reply[1500];
        const bool ok = poll(&p, 1, 200) == 1 && recv(fd, reply, sizeof reply, MSG_DONTWAIT) > 0;
        close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

class Agents {
public:
    static Agents& Get() {
        static Agents agents;
        return agents;
    }
    const Agent& Velk() const { return velk_; }
    const Agent& Snmpd() const { return snmpd_; }

private:
    Agents() : dir_(std::filesystem::temp_directory_path() / ("velk-agent-load-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
        velk_.port = FreeUdpPort();
        velk_.pid = Spawn({VELK_AGENT_TARGET, std::to_string(velk_.port), VELK_MIBS_DIR}, -1);
        if (!Answers(velk_.port)) velk_.pid = (Stop(velk_.pid), -1);

        snmpd_.port = FreeUdpPort();
        const std::string conf = (dir_ / "snmpd.conf").string();
        std::ofstream(conf) << "rocommunity public 127.0.0.1\n";
        snmpd_.pid = Spawn({"snmpd", "-f", "-Lo", "-C", "-c", conf, "udp:127.0.0.1:" + std::to_string(snmpd_.port)},
                           -1, {{"SNMP_PERSISTENT_DIR", dir_.string()}});
        if (!Answers(snmpd_.port)) snmpd_.pid = (Stop(snmpd_.pid), -1);
    }
    ~Agents() {
        Stop(velk_.pid);
        Stop(snmpd_.pid);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::filesystem::path dir_;
    Agent velk_, snmpd_;
};

void AgentLoad(benchmark::State& state, Kind kind, bool snmpd) {
    const Agent& agent = snmpd ? Agents::Get().Snmpd() : Agents::Get().Velk();
    if (agent.pid <= 0) {
        state.SkipWithError(snmpd ? "snmpd did not start" : "the agent target did not start");
        return;
    }
    LoadResult r;
    for (auto _ : state) {
        r = RunLoad(agent.port, agent.pid, kind, kRunTime);
        state.SetIterationTime(r.seconds);
    }
    state.counters["req_per_s"] = static_cast<double>(r.answered) / r.seconds;
    state.counters["req_per_cpu_s"] = r.cpuSeconds > 0 ? static_cast<double>(r.answered) / r.cpuSeconds : 0;
    state.counters["cpu_share"] = r.cpuSeconds / r.seconds;
    state.counters["p50_us"] = r.p50us;
    state.counters["p99_us"] = r.p99us;
    state.counters["lost"] = static_cast<double>(r.lost);
    if (getenv("VELK_BENCH_STRACE")) {
        long answered = 0;
        const auto calls = CountSystemCalls(agent.port, agent.pid, kind, &answered);
        if (answered > 0 && calls.count("total")) {
            auto per = [&](const char* name) {
                auto it = calls.find(name);
                return it == calls.end() ? 0.0 : static_cast<double>(it->second) / static_cast<double>(answered);
            };
            state.counters["syscalls_per_req"] = per("total");
            state.counters["recv_per_req"] = per("recvmsg") + per("recvfrom") + per("recvmmsg");
            state.counters["send_per_req"] = per("sendto") + per("sendmsg") + per("sendmmsg");
        }
    }
}

#define VELK_AGENT_LOAD(name, kind)                                                              \
    BENCHMARK_CAPTURE(AgentLoad, velk_##name, kind, false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(AgentLoad, snmpd_##name, kind, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)

VELK_AGENT_LOAD(get_sysDescr_v2c, Kind::GetDescrV2);
VELK_AGENT_LOAD(get_ten_scalars_v2c, Kind::GetTenV2);
VELK_AGENT_LOAD(getnext_v2c, Kind::GetNextV2);
VELK_AGENT_LOAD(get_sysDescr_v1, Kind::GetDescrV1);

}  // namespace
