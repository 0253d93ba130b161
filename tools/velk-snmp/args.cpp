#include "args.h"

#include <cmath>
#include <cstdlib>

namespace vs {

const std::vector<OptionSpec> kHelpOptions = {{'h', "help", false, "help"}};
const std::vector<OptionSpec> kTargetOptions = {
    {'v', "version", true, "version"},
    {'c', "community", true, "community"},
    {'t', "timeout", true, "timeout"},
    {'r', "retries", true, "retries"},
};
const std::vector<OptionSpec> kMibOptions = {
    {'M', "mibdirs", true, "mibdirs"},
    {'m', "mibs", true, "mibs"},
    {0, "image", true, "image"},
};
const std::vector<OptionSpec> kOutputOptions = {
    {'O', nullptr, true, "O"},
    {0, "json", false, "json"},
};

std::vector<OptionSpec> Join(std::initializer_list<std::vector<OptionSpec>> groups) {
    std::vector<OptionSpec> out;
    for (const auto& g : groups) out.insert(out.end(), g.begin(), g.end());
    return out;
}

std::string Args::Get(const std::string& id, const std::string& fallback) const {
    auto it = values_.find(id);
    return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& Args::All(const std::string& id) const {
    static const std::vector<std::string> kNone;
    auto it = values_.find(id);
    return it == values_.end() ? kNone : it->second;
}

Args ParseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& specs) {
    Args args;
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        // "-" alone, negative numbers and everything after "--" are arguments.
        const bool looksLikeOption = a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9');
        if (optionsEnded || !looksLikeOption) {
            args.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a[1] == '-') {
            const size_t eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionSpec* option = nullptr;
            for (const OptionSpec& s : specs)
                if (s.longName && name == s.longName) option = &s;
            if (!option) Usage("unknown option --" + name);
            if (!option->takesValue) {
                if (eq != std::string::npos) Usage("option --" + name + " takes no value");
                args.Add(option->id, "");
            } else if (eq != std::string::npos) {
                args.Add(option->id, a.substr(eq + 1));
            } else {
                if (i + 1 >= argv.size()) Usage("option --" + name + " needs a value");
                args.Add(option->id, argv[++i]);
            }
            continue;
        }
        // A cluster of short options: flags may be combined, a value ends the cluster.
        for (size_t k = 1; k < a.size(); ++k) {
            const OptionSpec* option = nullptr;
            for (const OptionSpec& s : specs)
                if (s.shortName == a[k]) option = &s;
            if (!option) Usage(std::string("unknown option -") + a[k]);
            if (!option->takesValue) {
                args.Add(option->id, "");
                continue;
            }
            if (k + 1 < a.size()) {
                args.Add(option->id, a.substr(k + 1));
            } else {
                if (i + 1 >= argv.size()) Usage(std::string("option -") + a[k] + " needs a value");
                args.Add(option->id, argv[++i]);
            }
            break;
        }
    }
    return args;
}

long long IntValue(const std::string& option, const std::string& value, long long lo, long long hi) {
    long long v = 0;
    if (!ParseInt(value, lo, hi, &v))
        Usage("invalid value '" + value + "' for " + option + " (a whole number from " + std::to_string(lo) +
              " to " + std::to_string(hi) + ")");
    return v;
}

OutputOptions ParseOutput(const Args& args) {
    OutputOptions o;
    for (const std::string& flags : args.All("O")) {
        for (char c : flags) {
            switch (c) {
                case 'n': o.numeric = true; break;
                case 's': o.noModule = true; break;
                case 'v': o.valueOnly = true; break;
                case 'q': o.quick = true; break;
                case 'e': o.numericEnums = true; break;
                default: Usage(std::string("unknown output flag -O") + c + " (known: n s v q e)");
            }
        }
    }
    o.json = args.Has("json");
    return o;
}

MibOptions ParseMib(const Args& args) {
    MibOptions m;
    m.dirsGiven = args.Has("mibdirs");
    m.dirs = args.Get("mibdirs");
    m.modulesGiven = args.Has("mibs");
    // Several -m options add up; a '+' on the first one keeps the default modules.
    for (const std::string& v : args.All("mibs")) {
        const std::string list = !m.modules.empty() && StartsWith(v, "+") ? v.substr(1) : v;
        m.modules += (m.modules.empty() || m.modules == "+" ? "" : ":") + list;
    }
    m.image = args.Get("image");
    return m;
}

TargetOptions ParseTarget(const Args& args) {
    TargetOptions t;
    if (args.Has("version")) {
        const std::string v = args.Get("version");
        if (v == "1") {
            t.v1 = true;
        } else if (v == "2c" || v == "2") {
            t.v1 = false;
        } else if (v == "3") {
            Usage("SNMP version 3 is not supported (use -v 1 or -v 2c)");
        } else {
            Usage("invalid SNMP version '" + v + "' (use -v 1 or -v 2c)");
        }
    }
    if (args.Has("community")) t.community = args.Get("community");
    if (args.Has("timeout")) {
        const std::string v = args.Get("timeout");
        char* end = nullptr;
        const double seconds = std::strtod(v.c_str(), &end);
        if (v.empty() || *end || !(seconds > 0) || seconds > 3600)
            Usage("invalid time-out '" + v + "' (seconds, above 0 and up to 3600)");
        t.timeoutMs = static_cast<int>(std::lround(seconds * 1000));
        if (t.timeoutMs < 1) t.timeoutMs = 1;
    }
    if (args.Has("retries")) t.retries = static_cast<int>(IntValue("-r", args.Get("retries"), 0, 100));
    return t;
}

std::string Endpoint::Text() const {
    if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

Endpoint ParseEndpoint(const std::string& input, int defaultPort) {
    std::string s = input;
    for (const char* prefix : {"udp:", "UDP:", "udp6:", "UDP6:", "udpv6:", "udpipv6:"})
        if (StartsWith(s, prefix)) s = s.substr(std::string(prefix).size());
    Endpoint e;
    e.port = defaultPort;
    std::string portText;
    if (!s.empty() && s[0] == '[') {
        const size_t close = s.find(']');
        if (close == std::string::npos) Usage("malformed address '" + input + "' (missing ']')");
        e.host = s.substr(1, close - 1);
        if (close + 1 < s.size()) {
            if (s[close + 1] != ':') Usage("malformed address '" + input + "'");
            portText = s.substr(close + 2);
        }
    } else if (std::count(s.begin(), s.end(), ':') == 1) {
        const size_t colon = s.find(':');
        e.host = s.substr(0, colon);
        portText = s.substr(colon + 1);
    } else {
        e.host = s;  // a name, an IPv4 address or a bare IPv6 address
    }
    if (e.host.empty()) Usage("missing host name in '" + input + "'");
    if (!portText.empty() || (s.find(':') != std::string::npos && s[0] != '[' && std::count(s.begin(), s.end(), ':') == 1))
        e.port = static_cast<int>(IntValue("the port of " + input, portText, 1, 65535));
    return e;
}

}  // namespace vs
