// trap, inform and listen: sending and receiving notifications.
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "commands.h"

namespace vs {

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

constexpr const char* kSysUpTime0 = "1.3.6.1.2.1.1.3.0";
constexpr const char* kSnmpTrapOid0 = "1.3.6.1.6.3.1.1.4.1.0";

// Hundredths of a second since the machine started, for traps sent without an uptime.
uint32_t MachineUptime() {
    double seconds = 0;
    if (FILE* f = std::fopen("/proc/uptime", "r")) {
        if (std::fscanf(f, "%lf", &seconds) != 1) seconds = 0;
        std::fclose(f);
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(seconds * 100) & 0xFFFFFFFFu);
}

std::string UptimeText(const std::string& given) {
    if (given.empty()) return std::to_string(MachineUptime());
    return std::to_string(IntValue("the uptime", given, 0, 4294967295LL));
}

const char* const kGenericNames[] = {"coldStart", "warmStart", "linkDown", "linkUp",
                                     "authenticationFailure", "egpNeighborLoss", "enterpriseSpecific"};

long GenericTrap(const std::string& text) {
    for (long i = 0; i < 7; ++i)
        if (text == kGenericNames[i]) return i;
    return static_cast<long>(IntValue("the generic trap", text, 0, 6));
}

struct Notify {
    TargetOptions target;
    Endpoint endpoint;
    MibSet& mib = KeptMibSet();
};

// The variables of a v2c trap or inform: sysUpTime.0, snmpTrapOID.0, then the rest.
void BuildV2(ISnmpMessage* m, TypeConstants type, const std::string& uptime, const std::string& trapOid,
             const std::vector<ComPtr<ISnmpVariable>>& extra) {
    m->put_Type(type);
    ComPtr<ISnmpVariable> up = AddVariable(m, kSysUpTime0);
    up->put_Type(snmpTimeTicks);
    up->put_Value(B(uptime).Get());
    ComPtr<ISnmpVariable> id = AddVariable(m, kSnmpTrapOid0);
    id->put_Type(snmpObjectID);
    id->put_Value(B(trapOid).Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    for (const ComPtr<ISnmpVariable>& v : extra) list->Add(v.Get());
}

std::vector<ComPtr<ISnmpVariable>> Prepare(const std::vector<Binding>& bindings, const MibSet& mib) {
    std::vector<ComPtr<ISnmpVariable>> out;
    for (const Binding& b : bindings) {
        ComPtr<ISnmpVariable> v = Create<ISnmpVariable>(CLSID_SnmpVariable);
        v->put_Oid(B(b.oid).Get());
        SetTypedValue(v.Get(), b.type, b.value, mib, b.oid);
        out.push_back(v);
    }
    return out;
}

int SendNotification(const Args& args, bool inform) {
    const std::vector<std::string>& p = args.positional;
    Notify n;
    n.target = ParseTarget(args);
    if (inform && n.target.v1) Usage("inform needs SNMP version 2c (version 1 has no informs)");
    if (p.empty()) Usage("missing HOST");
    n.endpoint = ParseEndpoint(p[0], 162);
    n.mib.Load(ParseMib(args));
    Session session(n.endpoint, n.target);
    if (n.target.v1) {
        if (p.size() < 6) Usage("a version 1 trap needs HOST ENTERPRISE AGENT-ADDRESS GENERIC SPECIFIC UPTIME");
        const std::string enterprise = p[1].empty() ? "1.3.6.1.4.1" : n.mib.Resolve(p[1]);
        const std::string agentAddress = p[2];
        const long generic = GenericTrap(p[3]);
        const long specific = static_cast<long>(IntValue("the specific trap", p[4], 0, 2147483647));
        const std::string uptime = UptimeText(p[5]);
        const auto extra = Prepare(ReadBindings(p, 6, n.mib), n.mib);
        if (!agentAddress.empty()) {
            ComPtr<ISnmpVariable> probe = Create<ISnmpVariable>(CLSID_SnmpVariable);
            SetTypedValue(probe.Get(), "a", agentAddress, n.mib, "");
        }
        session.Send([&](ISnmpMessage* m) {
            m->put_Type(snmpTrap1);
            m->put_Enterprise(B(enterprise).Get());
            if (!agentAddress.empty()) m->put_AgentAddress(B(agentAddress).Get());
            m->put_GenericTrap(static_cast<TrapConstants>(generic));
            m->put_SpecificTrap(specific);
            m->put_UpTime(static_cast<LONG>(std::stoul(uptime)));
            ComPtr<ISnmpVariables> list;
            m->get_Variables(list.Put());
            for (const ComPtr<ISnmpVariable>& v : extra) list->Add(v.Get());
        });
        return kExitOk;
    }
    if (p.size() < 3) Usage(std::string("a version 2c ") + (inform ? "inform" : "trap") + " needs HOST UPTIME TRAP-OID");
    const std::string uptime = UptimeText(p[1]);
    const std::string trapOid = n.mib.Resolve(p[2]);
    const auto extra = Prepare(ReadBindings(p, 3, n.mib), n.mib);
    if (!inform) {
        session.Send([&](ISnmpMessage* m) { BuildV2(m, snmpTrap2, uptime, trapOid, extra); });
        return kExitOk;
    }
    ISnmpMessage* ack = session.Request([&](ISnmpMessage* m) { BuildV2(m, snmpInform2, uptime, trapOid, extra); });
    ExceptionConstants status = snmpOk;
    ack->get_Exception(&status);
    if (status != snmpOk) Fail("receiver " + n.endpoint.Text() + " answered the inform with " + ErrorStatusName(status));
    return kExitOk;
}

std::string Now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(tv.tv_usec / 1000));
    return std::string(buffer) + ms;
}

}  // namespace

void InstallStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop != 0; }

int CmdTrap(const Args& args) { return SendNotification(args, false); }
int CmdInform(const Args& args) { return SendNotification(args, true); }

int CmdListen(const Args& args) {
    if (!args.positional.empty()) Usage("listen takes no arguments (see velk-snmp listen --help)");
    const OutputOptions output = ParseOutput(args);
    const std::string address = args.Get("address", "0.0.0.0");
    const int port = static_cast<int>(IntValue("--port", args.Get("port", "162"), 1, 65535));
    const bool filter = args.Has("community");
    const std::string community = args.Get("community");
    const long wanted = args.Has("count") ? static_cast<long>(IntValue("--count", args.Get("count"), 1, 1000000000)) : 0;
    double seconds = 0;
    if (args.Has("timeout")) {
        const std::string t = args.Get("timeout");
        char* end = nullptr;
        seconds = std::strtod(t.c_str(), &end);
        if (t.empty() || *end || !(seconds > 0)) Usage("invalid --timeout '" + t + "' (seconds)");
    }
    MibSet& mib = KeptMibSet();
    mib.Load(ParseMib(args));
    Printer printer(mib, output);

    ComPtr<IManager> manager = Create<IManager>(CLSID_Manager);
    ComPtr<ISnmpMib> noMib = Create<ISnmpMib>(CLSID_SnmpMib);
    manager->putref_Mib(noMib.Get());
    manager->put_Timeout(5000);
    const HRESULT opened = manager->Open(port, B(address == "0.0.0.0" ? "" : address).Get());
    if (FAILED(opened)) {
        std::string why = ErrorText(opened);
        if (ErrorNumber(opened) == ulAddressInUse) why = "the port is in use";
        if (ErrorNumber(opened) == ulNoAccess) why = "permission denied (ports below 1024 need root; try --port 1162)";
        Fail("cannot listen on " + Endpoint{address, port}.Text() + ": " + why);
    }
    manager->put_Timeout(0);
    InstallStopSignals();
    std::fprintf(stderr, "velk-snmp: listening for traps and informs on %s\n", Endpoint{address, port}.Text().c_str());
    std::fflush(stderr);

    long received = 0;
    auto handle = [&](bool isTrapEvent) {
        ComPtr<ISnmpMessage> m;
        manager->get_Message(m.Put());
        TypeConstants type = snmpGet1;
        m->get_Type(&type);
        const bool isInform = type == snmpInform2;
        if (!isTrapEvent && !isInform) return;
        BSTR from = nullptr, comm = nullptr;
        LONG fromPort = 0;
        manager->get_AgentName(&from);
        manager->get_AgentPort(&fromPort);
        m->get_Community(&comm);
        const std::string sender = A(from), senderCommunity = A(comm);
        const std::string fromText = (sender.find(':') != std::string::npos ? "[" + sender + "]" : sender) + ":" +
                                     std::to_string(fromPort);
        if (filter && senderCommunity != community) {
            std::fprintf(stderr, "velk-snmp: ignored a notification from %s with community \"%s\"\n", fromText.c_str(),
                         senderCommunity.c_str());
            return;
        }
        ComPtr<ISnmpVariables> list;
        m->get_Variables(list.Put());
        const auto vars = Members<ISnmpVariable>(list.Get());
        const bool v1 = type == snmpTrap1;
        std::string notification;
        for (const ComPtr<ISnmpVariable>& v : vars) {
            BSTR o = nullptr;
            v->get_Oid(&o);
            if (A(o) == kSnmpTrapOid0) {
                BSTR value = nullptr;
                v->get_Value(&value);
                notification = A(value);
            }
        }
        const char* kind = isInform ? "INFORM" : "TRAP";
        const std::string version = v1 ? "v1" : "v2c";
        if (output.json) {
            JsonObject j;
            j.Str("time", Now()).Str("from", fromText).Str("version", v1 ? "1" : "2c");
            j.Str("type", isInform ? "inform" : "trap").Str("community", senderCommunity);
            if (v1) {
                BSTR enterprise = nullptr, agentAddress = nullptr;
                TrapConstants generic = snmpColdStart;
                LONG specific = 0, uptime = 0;
                m->get_Enterprise(&enterprise);
                m->get_AgentAddress(&agentAddress);
                m->get_GenericTrap(&generic);
                m->get_SpecificTrap(&specific);
                m->get_UpTime(&uptime);
                const std::string ent = A(enterprise);
                j.Str("enterprise", ent);
                if (!output.numeric && IsNumericOid(ent)) j.Str("enterpriseName", mib.Format(ent, !output.noModule));
                j.Str("agentAddress", A(agentAddress)).Int("genericTrap", generic).Int("specificTrap", specific);
                j.Num("uptime", std::to_string(static_cast<uint32_t>(uptime)));
            } else if (!notification.empty()) {
                j.Str("notification", notification);
                if (!output.numeric && IsNumericOid(notification))
                    j.Str("notificationName", mib.Format(notification, !output.noModule));
            }
            std::vector<std::string> items;
            for (const ComPtr<ISnmpVariable>& v : vars) items.push_back(printer.Json(v.Get()));
            std::string arr = "[";
            for (size_t i = 0; i < items.size(); ++i) arr += (i ? ", " : "") + items[i];
            j.Raw("variables", arr + "]");
            Out(j.Text() + "\n");
        } else {
            std::string head = Now() + "  " + version + " " + kind + " from " + fromText + "  community \"" +
                               senderCommunity + "\"";
            std::string what;
            if (v1) {
                BSTR enterprise = nullptr, agentAddress = nullptr;
                TrapConstants generic = snmpColdStart;
                LONG specific = 0, uptime = 0;
                m->get_Enterprise(&enterprise);
                m->get_AgentAddress(&agentAddress);
                m->get_GenericTrap(&generic);
                m->get_SpecificTrap(&specific);
                m->get_UpTime(&uptime);
                const std::string ent = A(enterprise);
                what = generic >= 0 && generic < 7 ? kGenericNames[generic] : "generic " + std::to_string(generic);
                if (generic == snmpEnterpriseSpecific) {
                    const std::string v2oid = ent + ".0." + std::to_string(specific);
                    const MibSet::Notification* known = mib.NotificationByOid(v2oid);
                    what = known && !output.numeric ? (output.noModule || known->module.empty() ? "" : known->module + "::") + known->name
                                                    : "enterpriseSpecific " + std::to_string(specific);
                }
                what += "\n    enterprise " + (IsNumericOid(ent) ? printer.Name(ent) : ent) + ", agent " +
                        A(agentAddress) + ", uptime " + TimeTicksText(static_cast<uint32_t>(uptime));
            } else if (!notification.empty()) {
                what = IsNumericOid(notification) ? printer.Name(notification) : notification;
            }
            std::string text = head + (what.empty() ? "" : ": " + what) + "\n";
            for (const ComPtr<ISnmpVariable>& v : vars) text += "    " + printer.Line(v.Get()) + "\n";
            Out(text);
        }
        std::fflush(stdout);
        // Informs are acknowledged with a response that repeats their variables.
        if (isInform) {
            m->put_Type(snmpResponse2);
            m->put_Exception(snmpOk);
            m->put_ExceptionIndex(0);
            manager->Send();
        }
        ++received;
    };
    velk::EventConnection events = velk::ConnectEvents(manager, DIID__IManagerEvents);
    events.On(DISPID_ManagerEvents_Trap, [&](velk::EventArgs&) { handle(true); });
    events.On(DISPID_ManagerEvents_Response, [&](velk::EventArgs&) { handle(false); });
    events.On(DISPID_ManagerEvents_Error, [&](velk::EventArgs& e) {
        std::fprintf(stderr, "velk-snmp: dropped a datagram that is not an SNMP message (%s)\n",
                     Bstr(e.Text(1)).ToAnsi().c_str());
    });

    const auto start = std::chrono::steady_clock::now();
    while (!StopRequested() && (wanted == 0 || received < wanted)) {
        if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds)) break;
        VelkWaitMessage(100);
    }
    events.Disconnect();
    manager->Close();
    std::fflush(stdout);
    if (wanted > 0 && received < wanted) {
        Fail("received " + std::to_string(received) + " of " + std::to_string(wanted) + " notifications" +
             (StopRequested() ? "" : " before the time-out"));
    }
    return kExitOk;
}

}  // namespace vs
