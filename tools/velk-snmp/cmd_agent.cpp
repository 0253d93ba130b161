// agent: a v1/v2c agent on the library's Agent control. The control answers Get and Set
// by itself from its MIB, which holds the objects served: scalars under their object OID
// (the control drops the ".0" of a request) and table cells under their instance OID.
// GetNext and GetBulk are answered here with the MIB's GetNext. Values of the system group,
// the interfaces and the project's demonstration MIB are read from this machine.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "commands.h"
#include "sysinfo.h"

namespace vs {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kVersionText = "velk-snmp 1.0.0";
// The project's demonstration MIB (VELK-DEMO-MIB) under the documentation enterprise number.
constexpr const char* kVelk = "1.3.6.1.4.1.32473";
constexpr const char* kDemoObjects = "1.3.6.1.4.1.32473.1.1";
constexpr const char* kHeartbeat = "1.3.6.1.4.1.32473.1.0.1";
constexpr const char* kAgentProduct = "1.3.6.1.4.1.32473.2.1";
constexpr const char* kSystem = "1.3.6.1.2.1.1";
constexpr const char* kIfTableEntry = "1.3.6.1.2.1.2.2.1";
constexpr const char* kIfXTableEntry = "1.3.6.1.2.1.31.1.1.1";

// A response stays well below the largest UDP datagram.
constexpr size_t kMaxResponseBytes = 60000;

std::string U32(uint64_t v) { return std::to_string(v & 0xFFFFFFFFu); }

class ToolAgent {
public:
    ToolAgent(MibSet& mib, std::string community) : mib_(mib), community_(std::move(community)) {
        agent_ = Create<IAgent>(CLSID_Agent);
        served_ = Create<ISnmpMib>(CLSID_SnmpMib);
        Check(served_->get_Variables(vars_.Put()), "cannot create the agent's MIB");
        agent_->putref_Mib(served_.Get());
        agent_->put_Community(B(community_).Get());
        agent_->put_Auto(VARIANT_TRUE);
    }

    void AddTrapDestination(const std::string& text) {
        const Endpoint e = ParseEndpoint(text, 162);
        if (e.host.find(':') != std::string::npos) Usage("--trap-dest takes IPv4 addresses and host names: " + text);
        ComPtr<IVelkStrings> list;
        agent_->get_TrapManagers(list.Put());
        list->Add(B(e.host + ":" + std::to_string(e.port)).Get(), 0);
        ++trapDestinations_;
    }

    // A value from the command line or a file: fixed from then on.
    void Pin(const std::string& oid, const std::string& type, const std::string& value) {
        ComPtr<ISnmpVariable> probe = Create<ISnmpVariable>(CLSID_SnmpVariable);
        SetTypedValue(probe.Get(), type, value, mib_, oid);
        VariableTypeConstants t = snmpNull;
        probe->get_Type(&t);
        BSTR text = nullptr;
        probe->get_Value(&text);
        Put(oid, t, A(text));
        pinned_.insert(oid);
    }

    void Start(int port, const std::string& address) {
        Refresh(true);
        events_ = velk::ConnectEvents(agent_, DIID__IAgentEvents);
        events_.On(DISPID_AgentEvents_Request, [this](velk::EventArgs&) { OnRequest(); });
        events_.On(DISPID_AgentEvents_Error, [this](velk::EventArgs& e) {
            // A trap destination that does not listen answers every trap with a refusal.
            if (e.Long(0) == ulConnectionRefused) {
                if (!refusedReported_)
                    std::fprintf(stderr, "velk-snmp: agent: a trap destination refused a trap (is it listening?)\n");
                refusedReported_ = true;
                return;
            }
            std::fprintf(stderr, "velk-snmp: agent: %s\n", Bstr(e.Text(1)).ToAnsi().c_str());
        });
        // Opening announces the agent with a coldStart trap to every trap destination.
        const HRESULT hr = agent_->Open(port, B(address == "0.0.0.0" ? "" : address).Get());
        if (FAILED(hr)) {
            std::string why = ErrorText(hr);
            if (ErrorNumber(hr) == ulAddressInUse) why = "the port is in use";
            if (ErrorNumber(hr) == ulNoAccess) why = "permission denied (ports below 1024 need root; try --port 1161)";
            Fail("cannot open the agent on " + Endpoint{address, port}.Text() + ": " + why);
        }
    }

    void Stop() {
        events_.Disconnect();
        agent_->Close();
    }

    void SendHeartbeat() {
        Refresh(false);
        ComPtr<ISnmpMessage> m;
        agent_->get_Message(m.Put());
        m->Reset();
        m->put_Community(B(community_).Get());
        m->put_Type(snmpTrap2);
        LONG uptime = 0;
        agent_->get_AgentUptime(&uptime);
        AddValue(m.Get(), "1.3.6.1.2.1.1.3.0", snmpTimeTicks, U32(static_cast<uint32_t>(uptime)));
        AddValue(m.Get(), "1.3.6.1.6.3.1.1.4.1.0", snmpObjectID, kHeartbeat);
        for (const char* object : {"2", "3", "9"}) {
            const std::string key = std::string(kDemoObjects) + "." + object;
            auto it = byKey_.find(key);
            if (it == byKey_.end()) continue;
            VariableTypeConstants t = snmpNull;
            it->second->get_Type(&t);
            BSTR value = nullptr;
            it->second->get_Value(&value);
            AddValue(m.Get(), key + ".0", t, A(value));
        }
        agent_->Send();
    }

    size_t Served() const { return byKey_.size(); }
    int TrapDestinations() const { return trapDestinations_; }

private:
    static void AddValue(ISnmpMessage* m, const std::string& oid, VariableTypeConstants type, const std::string& value) {
        ComPtr<ISnmpVariable> v = AddVariable(m, oid);
        v->put_Type(type);
        v->put_Value(B(value).Get());
    }

    // Serves a value at an instance OID (a scalar's ends in ".0").
    void Put(const std::string& instance, VariableTypeConstants type, const std::string& value) {
        if (pinned_.count(instance)) return;
        std::string objectOid;
        ComPtr<ISnmpVariable> def = mib_.DefinitionOf(instance, &objectOid);
        bool scalar;
        if (def) {
            scalar = instance == objectOid + ".0" && !IsColumn(objectOid);
        } else {
            scalar = EndsWith(instance, ".0");
            objectOid = scalar ? instance.substr(0, instance.size() - 2) : instance;
        }
        const std::string key = scalar ? objectOid : instance;
        auto it = byKey_.find(key);
        if (it == byKey_.end()) {
            ComPtr<ISnmpVariable> v = Create<ISnmpVariable>(CLSID_SnmpVariable);
            v->put_Oid(B(key).Get());
            AccessConstants access = snmpVariableReadOnly;
            if (def) {
                BSTR name = nullptr;
                def->get_Name(&name);
                v->put_Name(name);
                SysFreeString(name);
                def->get_Access(&access);
            }
            v->put_Access(access);
            vars_->Add(v.Get());
            it = byKey_.emplace(key, v).first;
            if (scalar) scalars_.insert(key);
        }
        it->second->put_Type(type);
        it->second->put_Value(B(value).Get());
        live_.insert(key);
    }

    bool IsColumn(const std::string& objectOid) {
        const size_t dot = objectOid.rfind('.');
        if (dot == std::string::npos) return false;
        ComPtr<ISnmpVariable> parent = mib_.Definition(objectOid.substr(0, dot));
        if (!parent) return false;
        ComPtr<IVelkStrings> index;
        parent->get_Index(index.Put());
        LONG n = 0;
        if (index) index->get_Count(&n);
        return n > 0;
    }

    void Refresh(bool all) {
        LONG uptime = 0;
        agent_->get_AgentUptime(&uptime);
        const std::string sys = kSystem;
        Put(sys + ".3.0", snmpTimeTicks, U32(static_cast<uint32_t>(uptime)));
        Put(std::string(kDemoObjects) + ".2.0", snmpCounter32, U32(requests_));
        const auto now = Clock::now();
        if (!all && now - lastRefresh_ < std::chrono::seconds(1)) return;
        lastRefresh_ = now;
        live_.clear();
        const HostInfo host = ReadHost();
        if (all) {
            Put(sys + ".1.0", snmpOctetString, host.description);
            Put(sys + ".2.0", snmpObjectID, kAgentProduct);
            Put(sys + ".4.0", snmpOctetString, "");
            Put(sys + ".5.0", snmpOctetString, host.hostName);
            Put(sys + ".6.0", snmpOctetString, "");
            Put(sys + ".7.0", snmpInteger, "72");
            Put(std::string(kDemoObjects) + ".1.0", snmpOctetString, kVersionText);
            Put(std::string(kDemoObjects) + ".9.0", snmpOctetString, "Hello from velk-snmp");
        }
        Put(sys + ".3.0", snmpTimeTicks, U32(static_cast<uint32_t>(uptime)));
        // Interfaces.
        const std::vector<InterfaceInfo> interfaces = ReadInterfaces();
        Put("1.3.6.1.2.1.2.1.0", snmpInteger, std::to_string(interfaces.size()));
        const std::string e = kIfTableEntry, x = kIfXTableEntry;
        for (const InterfaceInfo& i : interfaces) {
            const std::string n = "." + std::to_string(i.index);
            auto col = [&](int c) { return e + "." + std::to_string(c) + n; };
            auto xcol = [&](int c) { return x + "." + std::to_string(c) + n; };
            Put(col(1), snmpInteger, std::to_string(i.index));
            Put(col(2), snmpOctetString, i.name);
            Put(col(3), snmpInteger, std::to_string(i.type));
            Put(col(4), snmpInteger, std::to_string(i.mtu));
            Put(col(5), snmpGuage32, std::to_string(std::min<uint64_t>(i.speedMbps * 1000000, 4294967295ULL)));
            Put(col(6), snmpOctetString, i.physAddress);
            Put(col(7), snmpInteger, std::to_string(i.adminStatus));
            Put(col(8), snmpInteger, std::to_string(i.operStatus));
            Put(col(9), snmpTimeTicks, "0");
            Put(col(10), snmpCounter32, U32(i.inOctets));
            Put(col(11), snmpCounter32, U32(i.inPackets - std::min(i.inPackets, i.inMulticast)));
            Put(col(12), snmpCounter32, U32(i.inMulticast));
            Put(col(13), snmpCounter32, U32(i.inDiscards));
            Put(col(14), snmpCounter32, U32(i.inErrors));
            Put(col(15), snmpCounter32, "0");
            Put(col(16), snmpCounter32, U32(i.outOctets));
            Put(col(17), snmpCounter32, U32(i.outPackets));
            Put(col(18), snmpCounter32, "0");
            Put(col(19), snmpCounter32, U32(i.outDiscards));
            Put(col(20), snmpCounter32, U32(i.outErrors));
            Put(col(21), snmpGuage32, "0");
            Put(col(22), snmpObjectID, "0.0");
            Put(xcol(1), snmpOctetString, i.name);
            Put(xcol(2), snmpCounter32, U32(i.inMulticast));
            Put(xcol(6), snmpCounter64, std::to_string(i.inOctets));
            Put(xcol(7), snmpCounter64, std::to_string(i.inPackets - std::min(i.inPackets, i.inMulticast)));
            Put(xcol(10), snmpCounter64, std::to_string(i.outOctets));
            Put(xcol(11), snmpCounter64, std::to_string(i.outPackets));
            Put(xcol(15), snmpGuage32, U32(i.speedMbps));
            Put(xcol(18), snmpOctetString, "");
        }
        // The demonstration objects.
        const std::string d = kDemoObjects;
        Put(d + ".3.0", snmpGuage32, U32(host.load1));
        Put(d + ".4.0", snmpGuage32, U32(host.load5));
        Put(d + ".5.0", snmpGuage32, U32(host.load15));
        Put(d + ".6.0", snmpGuage32, U32(host.memTotalKiB));
        Put(d + ".7.0", snmpGuage32, U32(host.memAvailableKiB));
        Put(d + ".8.0", snmpGuage32, U32(host.processes));
        char clock[64];
        const std::time_t t = std::time(nullptr);
        tm local{};
        localtime_r(&t, &local);
        std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &local);
        Put(d + ".10.0", snmpOctetString, clock);
        // Rows of interfaces that went away.
        if (!all) {
            std::vector<std::string> gone;
            for (const auto& [key, v] : byKey_)
                if (!live_.count(key) && !pinned_.count(key) &&
                    (OidUnder(key, kIfTableEntry) || OidUnder(key, kIfXTableEntry)))
                    gone.push_back(key);
            for (const std::string& key : gone) {
                Variant k(std::u16string(B(key).View()));
                vars_->Remove(k);
                byKey_.erase(key);
            }
        }
    }

    // The first served instance after `oid`: its variable and instance OID. Version 1 has
    // no Counter64: a version 1 walk steps over such values.
    bool Next(const std::string& oid, bool v1, ComPtr<ISnmpVariable>* v, std::string* instance) {
        std::string from = oid;
        for (size_t step = 0; step <= byKey_.size(); ++step) {
            ComPtr<ISnmpVariable> next;
            std::string key;
            // A scalar's own OID comes just before its instance.
            if (auto it = byKey_.find(from); it != byKey_.end() && scalars_.count(from)) {
                next = it->second;
                key = from;
            } else {
                if (FAILED(vars_->GetNext(B(from).Get(), next.Put())) || !next) return false;
                BSTR o = nullptr;
                next->get_Oid(&o);
                key = A(o);
            }
            *instance = scalars_.count(key) ? key + ".0" : key;
            VariableTypeConstants type = snmpNull;
            next->get_Type(&type);
            if (v1 && type == snmpCounter64) {
                from = *instance;
                continue;
            }
            *v = next;
            return true;
        }
        return false;
    }

    static void Copy(ISnmpVariable* to, ISnmpVariable* from, const std::string& instance) {
        VariableTypeConstants t = snmpNull;
        from->get_Type(&t);
        BSTR value = nullptr;
        from->get_Value(&value);
        to->put_Oid(B(instance).Get());
        to->put_Exception(snmpNoException);
        to->put_Type(t);
        to->put_Value(value);
        SysFreeString(value);
    }

    // The served value for a Get of `oid`, or null: a scalar only by its instance OID, and
    // no Counter64 in version 1.
    ISnmpVariable* GetValue(const std::string& oid, bool v1) {
        std::string key = oid;
        if (EndsWith(oid, ".0") && scalars_.count(oid.substr(0, oid.size() - 2))) key = oid.substr(0, oid.size() - 2);
        auto it = byKey_.find(key);
        if (it == byKey_.end() || (key == oid && scalars_.count(key))) return nullptr;
        VariableTypeConstants type = snmpNull;
        it->second->get_Type(&type);
        return v1 && type == snmpCounter64 ? nullptr : it->second.Get();
    }

    // The control finds a scalar also by its object OID without ".0", which names no
    // instance, and it answers version 1 with Counter64 values, which version 1 does not
    // have. A Get that asks for either is answered here; any other Get is left to the control.
    void AnswerGet(ISnmpMessage* m, bool v1) {
        ComPtr<ISnmpVariables> list;
        m->get_Variables(list.Put());
        const std::vector<ComPtr<ISnmpVariable>> request = Members<ISnmpVariable>(list.Get());
        bool ours = false;
        for (const ComPtr<ISnmpVariable>& v : request) {
            BSTR o = nullptr;
            v->get_Oid(&o);
            const std::string oid = A(o);
            ours = ours || scalars_.count(oid) > 0 || (v1 && byKey_.count(oid) && !GetValue(oid, true));
        }
        if (!ours) return;
        BSTR c = nullptr;
        m->get_Community(&c);
        if (A(c) != community_) return;  // the control sends its authenticationFailure trap
        for (size_t i = 0; i < request.size(); ++i) {
            BSTR o = nullptr;
            request[i]->get_Oid(&o);
            const std::string oid = A(o);
            if (ISnmpVariable* value = GetValue(oid, v1)) {
                Copy(request[i].Get(), value, oid);
                continue;
            }
            if (v1) {
                m->put_Exception(snmpNoSuchName);
                m->put_ExceptionIndex(static_cast<LONG>(i + 1));
                for (const ComPtr<ISnmpVariable>& v : request) {
                    v->put_Type(snmpNull);
                    v->put_Value(B("").Get());
                }
                break;
            }
            request[i]->put_Type(snmpNull);
            request[i]->put_Exception(scalars_.count(oid) ? snmpNoSuchInstance : snmpNoSuchObject);
        }
        m->put_Type(v1 ? snmpResponse1 : snmpResponse2);
        agent_->Send();
    }

    void OnRequest() {
        ComPtr<ISnmpMessage> m;
        agent_->get_Message(m.Put());
        TypeConstants type = snmpGet1;
        m->get_Type(&type);
        ++requests_;
        Refresh(false);
        if (type == snmpGet1 || type == snmpGet2) {
            AnswerGet(m.Get(), type == snmpGet1);
            return;
        }
        if (type != snmpGetNext1 && type != snmpGetNext2 && type != snmpGetBulk2) return;  // Set: the control
        BSTR c = nullptr;
        m->get_Community(&c);
        if (A(c) != community_) return;  // no answer for a wrong community
        const bool v1 = type == snmpGetNext1;
        ComPtr<ISnmpVariables> list;
        m->get_Variables(list.Put());
        const std::vector<ComPtr<ISnmpVariable>> request = Members<ISnmpVariable>(list.Get());
        if (type != snmpGetBulk2) {
            for (size_t i = 0; i < request.size(); ++i) {
                BSTR o = nullptr;
                request[i]->get_Oid(&o);
                ComPtr<ISnmpVariable> next;
                std::string instance;
                if (Next(A(o), v1, &next, &instance)) {
                    Copy(request[i].Get(), next.Get(), instance);
                } else if (v1) {
                    m->put_Exception(snmpNoSuchName);
                    m->put_ExceptionIndex(static_cast<LONG>(i + 1));
                    break;
                } else {
                    request[i]->put_Type(snmpNull);
                    request[i]->put_Exception(snmpEndOfMibView);
                }
            }
            m->put_Type(v1 ? snmpResponse1 : snmpResponse2);
            agent_->Send();
            return;
        }
        // GetBulk: the non-repeaters once, then up to max-repetitions rounds of the repeaters.
        LONG maxRepetitions = 0;
        m->get_MaxRepetition(&maxRepetitions);
        std::vector<std::string> nonRepeaters, repeaters;
        for (const ComPtr<ISnmpVariable>& v : request) {
            VARIANT_BOOL repeat = VARIANT_FALSE;
            v->get_Repeat(&repeat);
            BSTR o = nullptr;
            v->get_Oid(&o);
            (repeat ? repeaters : nonRepeaters).push_back(A(o));
        }
        list->Clear();
        size_t bytes = 0;
        auto add = [&](const std::string& from, std::string* last) {
            ComPtr<ISnmpVariable> out = Create<ISnmpVariable>(CLSID_SnmpVariable);
            ComPtr<ISnmpVariable> next;
            std::string instance;
            if (Next(from, false, &next, &instance)) {
                Copy(out.Get(), next.Get(), instance);
                BSTR value = nullptr;
                next->get_Value(&value);
                bytes += instance.size() / 2 + SysStringLen(value) + 12;
                SysFreeString(value);
                if (last) *last = instance;
            } else {
                out->put_Oid(B(from).Get());
                out->put_Exception(snmpEndOfMibView);
                bytes += from.size() / 2 + 12;
                if (last) last->clear();
            }
            list->Add(out.Get());
        };
        for (const std::string& oid : nonRepeaters) add(oid, nullptr);
        std::vector<std::string> cursor = repeaters;
        const LONG rounds = maxRepetitions < 0 ? 0 : std::min<LONG>(maxRepetitions, 10000);
        for (LONG r = 0; r < rounds && !cursor.empty() && bytes < kMaxResponseBytes; ++r) {
            bool any = false;
            for (std::string& oid : cursor) {
                if (oid.empty() || bytes >= kMaxResponseBytes) continue;
                std::string last;
                add(oid, &last);
                oid = last;
                any = any || !last.empty();
            }
            if (!any) break;  // every repeater is at the end of the MIB
        }
        m->put_Exception(snmpOk);
        m->put_ExceptionIndex(0);
        m->put_Type(snmpResponse2);
        agent_->Send();
    }

    MibSet& mib_;
    std::string community_;
    ComPtr<IAgent> agent_;
    ComPtr<ISnmpMib> served_;
    ComPtr<ISnmpVariables> vars_;
    std::unordered_map<std::string, ComPtr<ISnmpVariable>> byKey_;
    std::unordered_set<std::string> scalars_;
    std::unordered_set<std::string> pinned_;
    std::unordered_set<std::string> live_;
    velk::EventConnection events_;
    Clock::time_point lastRefresh_{};
    uint64_t requests_ = 0;
    int trapDestinations_ = 0;
    bool refusedReported_ = false;
};

// Lines "OID TYPE VALUE" or "OID = VALUE"; '#' starts a comment line; a value may be quoted.
std::vector<Binding> ReadValuesFile(const std::string& path, const MibSet& mib) {
    std::string text;
    if (!ReadFile(path, &text)) Usage("cannot read the values file " + path);
    std::vector<Binding> out;
    int lineNumber = 0;
    for (const std::string& raw : Split(text, '\n')) {
        ++lineNumber;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        const size_t a = line.find_first_of(" \t");
        if (a == std::string::npos) Usage(path + ":" + std::to_string(lineNumber) + ": expected OID TYPE VALUE");
        const std::string oid = line.substr(0, a);
        std::string rest = Trim(line.substr(a));
        const size_t b = rest.find_first_of(" \t");
        const std::string type = rest.substr(0, b);
        std::string value = b == std::string::npos ? "" : Trim(rest.substr(b));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        std::string error;
        auto resolved = mib.TryResolve(oid, &error);
        if (!resolved) Usage(path + ":" + std::to_string(lineNumber) + ": " + error);
        out.push_back({*resolved, type, value});
    }
    return out;
}

}  // namespace

int CmdAgent(const Args& args) {
    if (!args.positional.empty()) Usage("agent takes no arguments (see velk-snmp agent --help)");
    const std::string address = args.Get("address", "0.0.0.0");
    const int port = static_cast<int>(IntValue("--port", args.Get("port", "161"), 1, 65535));
    const std::string community = args.Get("community", "public");
    long heartbeat = 0;
    if (args.Has("heartbeat")) heartbeat = static_cast<long>(IntValue("--heartbeat", args.Get("heartbeat"), 1, 86400));
    MibSet& mib = KeptMibSet();
    mib.Load(ParseMib(args));
    ToolAgent agent(mib, community);
    for (const std::string& d : args.All("trap-dest")) agent.AddTrapDestination(d);
    // Values given by the user, checked before the agent starts.
    std::vector<Binding> values;
    for (const std::string& file : args.All("values"))
        for (const Binding& b : ReadValuesFile(file, mib)) values.push_back(b);
    for (const std::string& v : args.All("value")) {
        const size_t eq = v.find('=');
        if (eq == std::string::npos || eq == 0) Usage("--value takes OID=VALUE: " + v);
        const std::string oid = mib.Resolve(v.substr(0, eq));
        if (mib.ObjectType(mib.DefinitionOf(oid).Get()) < 0)
            Usage("the MIB gives no type for " + mib.Format(oid) + ": serve it from a --values file with a type letter");
        values.push_back({oid, "=", v.substr(eq + 1)});
    }
    for (const Binding& b : values) agent.Pin(b.oid, b.type, b.value);

    InstallStopSignals();
    agent.Start(port, address);
    const std::string where = Endpoint{address, port}.Text();
    std::fprintf(stderr, "velk-snmp: agent on %s (community \"%s\"), %zu objects, %d trap destination%s\n",
                 where.c_str(), community.c_str(), agent.Served(), agent.TrapDestinations(),
                 agent.TrapDestinations() == 1 ? "" : "s");
    std::fflush(stderr);
    UINT_PTR timer = 0;
    if (heartbeat > 0) timer = VelkSetTimer(static_cast<DWORD>(heartbeat * 1000), [&agent] { agent.SendHeartbeat(); });
    while (!StopRequested()) VelkWaitMessage(200);
    if (timer) VelkKillTimer(timer);
    agent.Stop();
    std::fprintf(stderr, "velk-snmp: agent stopped\n");
    return kExitOk;
}

}  // namespace vs
