// velk-snmp: SNMP v1/v2c manager, agent, trap receiver and MIB tools on the Velk SNMP
// library's public interface.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
    using namespace vs;
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kGeneralHelp, stderr);
        return kExitUsage;
    }
    const std::string name = args[0];
    if (name == "-h" || name == "--help" || name == "help") {
        if (args.size() > 1) {
            for (const Command& c : Commands())
                if (args[1] == c.name) {
                    std::fputs(c.help, stdout);
                    return kExitOk;
                }
            std::fprintf(stderr, "velk-snmp: unknown command '%s' (see velk-snmp --help)\n", args[1].c_str());
            return kExitUsage;
        }
        std::fputs(kGeneralHelp, stdout);
        return kExitOk;
    }
    if (name == "--version" || name == "-V") {
        std::puts("velk-snmp 1.0.0");
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const Command& c : Commands())
        if (name == c.name) command = &c;
    if (!command) {
        std::fprintf(stderr, "velk-snmp: unknown command '%s' (see velk-snmp --help)\n", name.c_str());
        return kExitUsage;
    }
    int status = kExitOk;
    try {
        const Args parsed = ParseArgs(std::vector<std::string>(args.begin() + 1, args.end()), command->options);
        if (parsed.Has("help")) {
            std::fputs(command->help, stdout);
            return kExitOk;
        }
        status = command->run(parsed);
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "velk-snmp %s: %s%s\n", command->name, f.what(),
                     f.status == kExitUsage ? std::string(" (see velk-snmp " + name + " --help)").c_str() : "");
        status = f.status;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "velk-snmp %s: %s\n", command->name, e.what());
        status = kExitFailed;
    }
    std::fflush(stdout);
    return status;
}
