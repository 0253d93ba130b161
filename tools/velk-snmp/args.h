// Command-line parsing: short options in net-snmp's style (-v2c, -c public, -On, -Cr10),
// long options (--json, --port 1161, --port=1161) and positional arguments, in any order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common.h"
#include "mibs.h"

namespace vs {

struct OptionSpec {
    char shortName;        // 0: none
    const char* longName;  // nullptr: none
    bool takesValue;
    const char* id;
};

class Args {
public:
    std::vector<std::string> positional;

    bool Has(const std::string& id) const { return values_.count(id) > 0; }
    // The last value given, or `fallback`.
    std::string Get(const std::string& id, const std::string& fallback = "") const;
    const std::vector<std::string>& All(const std::string& id) const;
    void Add(const std::string& id, const std::string& value) { values_[id].push_back(value); }

private:
    std::map<std::string, std::vector<std::string>> values_;
};

// Parses `argv` (the arguments after the command name) against `specs`; throws a usage
// Failure for an unknown option or a missing value.
Args ParseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& specs);

// Option groups shared by several commands.
extern const std::vector<OptionSpec> kHelpOptions;
extern const std::vector<OptionSpec> kTargetOptions;  // -v -c -t -r
extern const std::vector<OptionSpec> kMibOptions;     // -M -m --image
extern const std::vector<OptionSpec> kOutputOptions;  // -O --json
std::vector<OptionSpec> Join(std::initializer_list<std::vector<OptionSpec>> groups);

// Output settings from -O and --json.
struct OutputOptions {
    bool numeric = false;    // -On
    bool noModule = false;   // -Os
    bool valueOnly = false;  // -Ov
    bool quick = false;      // -Oq: no type names
    bool numericEnums = false;  // -Oe: enumerations as numbers
    bool json = false;
};
OutputOptions ParseOutput(const Args& args);
MibOptions ParseMib(const Args& args);

// SNMP version and community, waits and retries.
struct TargetOptions {
    bool v1 = false;
    std::string community = "public";
    int timeoutMs = 1000;
    int retries = 1;
};
TargetOptions ParseTarget(const Args& args);

// HOST[:PORT], [IPv6]:PORT, udp:HOST:PORT, udp6:[...]:PORT.
struct Endpoint {
    std::string host;
    int port = 0;
    std::string Text() const;
};
Endpoint ParseEndpoint(const std::string& text, int defaultPort);

// A whole number option value within [lo, hi]; usage error otherwise.
long long IntValue(const std::string& option, const std::string& value, long long lo, long long hi);

}  // namespace vs
