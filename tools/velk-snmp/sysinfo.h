// This machine as the agent reports it: system description and the network interfaces
// (from /sys/class/net and /proc/net/dev), load, memory and processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vs {

struct InterfaceInfo {
    int index = 0;
    std::string name;
    int type = 1;           // IANAifType: 6 ethernetCsmacd, 24 softwareLoopback, 1 other
    int mtu = 0;
    uint64_t speedMbps = 0;
    std::string physAddress;  // bytes
    int adminStatus = 2;      // 1 up, 2 down
    int operStatus = 4;       // 1 up, 2 down, 3 testing, 4 unknown, 5 dormant, 6 notPresent, 7 lowerLayerDown
    uint64_t inOctets = 0, inPackets = 0, inErrors = 0, inDiscards = 0, inMulticast = 0;
    uint64_t outOctets = 0, outPackets = 0, outErrors = 0, outDiscards = 0;
};

// The interfaces, ordered by index.
std::vector<InterfaceInfo> ReadInterfaces();

struct HostInfo {
    std::string description;  // "Linux host 6.1.0-18-amd64 #1 SMP ... x86_64"
    std::string hostName;
    uint32_t load1 = 0, load5 = 0, load15 = 0;  // hundredths
    uint32_t processes = 0;
    uint64_t memTotalKiB = 0, memAvailableKiB = 0;
};

HostInfo ReadHost();

}  // namespace vs
