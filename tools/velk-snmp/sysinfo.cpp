#include "sysinfo.h"

#include <dirent.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace vs {

namespace {

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

long long ReadNumber(const std::string& path, long long fallback) {
    const std::string s = ReadLine(path);
    if (s.empty()) return fallback;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    return end == s.c_str() ? fallback : v;
}

std::string MacBytes(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        if (c == ':') {
            if (digits) out += static_cast<char>(value);
            value = 0;
            digits = 0;
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
            ++digits;
        }
    }
    if (digits) out += static_cast<char>(value);
    // An all-zero address (the loopback's) is reported as none.
    if (std::all_of(out.begin(), out.end(), [](char b) { return b == 0; })) out.clear();
    return out;
}

}  // namespace

std::vector<InterfaceInfo> ReadInterfaces() {
    // Counters from /proc/net/dev: name: rx bytes packets errs drop fifo frame compressed
    // multicast, tx bytes packets errs drop fifo colls carrier compressed.
    std::map<std::string, std::vector<uint64_t>> counters;
    {
        std::ifstream in("/proc/net/dev");
        std::string line;
        while (std::getline(in, line)) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string name = line.substr(0, colon);
            name.erase(0, name.find_first_not_of(' '));
            std::istringstream fields(line.substr(colon + 1));
            std::vector<uint64_t> v;
            uint64_t x;
            while (fields >> x) v.push_back(x);
            if (v.size() >= 16) counters[name] = v;
        }
    }
    std::vector<InterfaceInfo> out;
    DIR* d = opendir("/sys/class/net");
    if (d) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            const std::string name = e->d_name;
            const std::string base = "/sys/class/net/" + name + "/";
            InterfaceInfo i;
            i.name = name;
            i.index = static_cast<int>(ReadNumber(base + "ifindex", 0));
            if (i.index <= 0) continue;
            const long long type = ReadNumber(base + "type", 0);
            i.type = type == 1 ? 6 : type == 772 ? 24 : 1;
            i.mtu = static_cast<int>(ReadNumber(base + "mtu", 0));
            const long long speed = ReadNumber(base + "speed", -1);
            i.speedMbps = speed > 0 ? static_cast<uint64_t>(speed) : (type == 772 ? 10 : 0);
            i.physAddress = MacBytes(ReadLine(base + "address"));
            const long long flags = ReadNumber(base + "flags", 0);
            i.adminStatus = (flags & 0x1) ? 1 : 2;
            const std::string oper = ReadLine(base + "operstate");
            if (oper == "up") i.operStatus = 1;
            else if (oper == "down") i.operStatus = 2;
            else if (oper == "testing") i.operStatus = 3;
            else if (oper == "dormant") i.operStatus = 5;
            else if (oper == "notpresent") i.operStatus = 6;
            else if (oper == "lowerlayerdown") i.operStatus = 7;
            else i.operStatus = (flags & 0x1) && ReadNumber(base + "carrier", 0) == 1 ? 1 : 4;  // "unknown" (loopback)
            auto c = counters.find(name);
            if (c != counters.end()) {
                const std::vector<uint64_t>& v = c->second;
                i.inOctets = v[0];
                i.inPackets = v[1];
                i.inErrors = v[2];
                i.inDiscards = v[3];
                i.inMulticast = v[7];
                i.outOctets = v[8];
                i.outPackets = v[9];
                i.outErrors = v[10];
                i.outDiscards = v[11];
            }
            out.push_back(std::move(i));
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end(), [](const InterfaceInfo& a, const InterfaceInfo& b) { return a.index < b.index; });
    return out;
}

HostInfo ReadHost() {
    HostInfo h;
    utsname u{};
    if (uname(&u) == 0) {
        h.description = std::string(u.sysname) + " " + u.nodename + " " + u.release + " " + u.version + " " + u.machine;
        h.hostName = u.nodename;
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0]) h.hostName = name;
    double l1 = 0, l5 = 0, l15 = 0;
    unsigned running = 0, total = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf %u/%u", &l1, &l5, &l15, &running, &total) >= 3) {
            h.load1 = static_cast<uint32_t>(l1 * 100 + 0.5);
            h.load5 = static_cast<uint32_t>(l5 * 100 + 0.5);
            h.load15 = static_cast<uint32_t>(l15 * 100 + 0.5);
            h.processes = total;
        }
        std::fclose(f);
    }
    std::ifstream mem("/proc/meminfo");
    std::string key;
    uint64_t value = 0;
    std::string unit;
    while (mem >> key >> value) {
        std::getline(mem, unit);
        if (key == "MemTotal:") h.memTotalKiB = value;
        if (key == "MemAvailable:") h.memAvailableKiB = value;
    }
    return h;
}

}  // namespace vs
