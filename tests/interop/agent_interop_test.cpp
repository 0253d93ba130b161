// Our Agent against net-snmp's programs over loopback: snmpget, snmpgetnext, snmpwalk,
// snmpbulkwalk and snmpset (v1 and v2c) query an agent that answers Get and Set by itself
// from a MIB compiled from the standard modules, while the test host answers GetNext and
// GetBulk in its Request handler; snmptrapd receives the coldStart and
// authenticationFailure traps.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "agent/agent.h"
#include "agent_peers.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "sock/velk_strings.h"
#include "velk/events.h"

namespace agent_interop {
namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

std::u16string U(const std::string& s) {
    std::u16string r;
    for (unsigned char c : s) r.push_back(c);
    return r;
}

// The system group's scalars and the values the host gives them.
struct Scalar {
    const char* oid;
    const char* value;
};
const Scalar kSystem[] = {
    {"1.3.6.1.2.1.1.1", "Velk interop agent"},
    {"1.3.6.1.2.1.1.2", "1.3.6.1.4.1.8072.3.2.10"},
    {"1.3.6.1.2.1.1.3", "123456"},
    {"1.3.6.1.2.1.1.4", "ops@example.org"},
    {"1.3.6.1.2.1.1.5", "velk-test"},
    {"1.3.6.1.2.1.1.6", "lab"},
    {"1.3.6.1.2.1.1.7", "72"},
};

// An agent as a host runs it: Auto answers Get and Set; the host answers GetNext and
// GetBulk from the same MIB with GetNext.
class HostAgent {
public:
    HostAgent() {
        EXPECT_EQ(velk::agent::Agent::CreateInstance(IID_IAgent, agent_.PutVoid()), S_OK);
        agent_->put_Community(Bstr(u"public").Get());
        ComPtr<ISnmpMib> mib;
        agent_->get_Mib(mib.Put());
        mib->get_Variables(variables_.Put());
        CompileStandardModules(mib.Get());
        for (const Scalar& s : kSystem) {
            ComPtr<ISnmpVariable> v = Find(s.oid);
            if (!v) continue;
            v->put_Value(Bstr(U(s.value)).Get());
            valued_.insert(U(s.oid));
        }
        events_ = velk::ConnectEvents(agent_, DIID__IAgentEvents);
        events_.On(DISPID_AgentEvents_Request, [this](velk::EventArgs&) { AnswerWalk(); });
    }

    IAgent* Agent() const { return agent_.Get(); }
    size_t Valued() const { return valued_.size(); }
    std::string CompileError() const { return compileError_; }

    HRESULT Open(int port) { return agent_->Open(port, Bstr(u"127.0.0.1").Get()); }

    ComPtr<ISnmpVariable> Find(const std::string& oid) const {
        ComPtr<ISnmpVariable> v;
        Variant key(U(oid));
        variables_->Item(key, v.Put());
        return v;
    }

private:
    void CompileStandardModules(ISnmpMib* mib) {
        ComPtr<IVelkStrings> files;
        velk::sock::CreateVelkStrings(files.Put());
        for (const char* name : {"SNMPv2-SMI.txt", "SNMPv2-TC.txt", "SNMPv2-CONF.txt", "SNMPv2-MIB.txt"})
            files->Add(Bstr(U(std::string(VELK_MIBS_DIR) + "/" + name)).Get(), 0);
        if (FAILED(mib->Compile(files.Get()))) {
            ComPtr<IErrorInfo> info;
            Bstr description;
            if (GetErrorInfo(0, info.Put()) == S_OK) info->GetDescription(description.Put());
            compileError_ = description.ToAnsi();
        }
    }

    // The valued scalar with the smallest instance OID after `oid`, or null.
    ComPtr<ISnmpVariable> NextScalar(const std::u16string& oid) const {
        if (valued_.count(oid)) return Find(Bstr(oid).ToAnsi());
        Bstr cursor(oid);
        for (int guard = 0; guard < 100000; ++guard) {
            ComPtr<ISnmpVariable> next;
            if (FAILED(variables_->GetNext(cursor.Get(), next.Put()))) return nullptr;
            Bstr nextOid;
            next->get_Oid(nextOid.Put());
            if (valued_.count(std::u16string(nextOid.View()))) return next;
            cursor = nextOid;
        }
        return nullptr;
    }

    // Gives `target` the instance of `next` (its OID with ".0", type and value).
    static void Fill(ISnmpVariable* target, ISnmpVariable* next) {
        Bstr oid, value;
        VariableTypeConstants type{};
        next->get_Oid(oid.Put());
        next->get_Type(&type);
        next->get_Value(value.Put());
        target->put_Oid(Bstr(std::u16string(oid.View()) + u".0").Get());
        target->put_Type(type);
        target->put_Value(value.Get());
        target->put_Exception(snmpNoException);
    }

    void AnswerWalk() {
        ComPtr<ISnmpMessage> m;
        agent_->get_Message(m.Put());
        TypeConstants type{};
        m->get_Type(&type);
        Bstr community;
        m->get_Community(community.Put());
        if (community.ToAnsi() != "public") return;
        ComPtr<ISnmpVariables> vars;
        m->get_Variables(vars.Put());
        LONG count = 0;
        vars->get_Count(&count);
        if (type == snmpGetNext1 || type == snmpGetNext2) {
            for (LONG i = 1; i <= count; ++i) {
                ComPtr<ISnmpVariable> v;
                vars->Item(Variant(i), v.Put());
                Bstr oid;
                v->get_Oid(oid.Put());
                if (ComPtr<ISnmpVariable> next = NextScalar(std::u16string(oid.View()))) {
                    Fill(v.Get(), next.Get());
                } else if (type == snmpGetNext2) {
                    v->put_Exception(snmpEndOfMibView);
                } else {
                    m->put_Exception(snmpNoSuchName);
                    m->put_ExceptionIndex(i);
                    break;
                }
            }
            m->put_Type(type == snmpGetNext1 ? snmpResponse1 : snmpResponse2);
            agent_->Send();
        } else if (type == snmpGetBulk2) {
            AnswerBulk(m.Get(), vars.Get(), count);
        }
    }

    void AnswerBulk(ISnmpMessage* m, ISnmpVariables* vars, LONG count) {
        LONG repetitions = 0;
        m->get_MaxRepetition(&repetitions);
        std::vector<std::u16string> plain, repeating;
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<ISnmpVariable> v;
            vars->Item(Variant(i), v.Put());
            Bstr oid;
            VARIANT_BOOL repeat = VARIANT_FALSE;
            v->get_Oid(oid.Put());
            v->get_Repeat(&repeat);
            (repeat ? repeating : plain).emplace_back(oid.View());
        }
        vars->Clear();
        size_t endCount = 0;
        auto add = [&](std::u16string* cursor) {
            ComPtr<ISnmpVariable> out;
            velk::model::CreateSnmpVariable(out.Put());
            if (ComPtr<ISnmpVariable> next = NextScalar(*cursor)) {
                Fill(out.Get(), next.Get());
                Bstr oid;
                out->get_Oid(oid.Put());
                cursor->assign(oid.View());
            } else {
                out->put_Oid(Bstr(*cursor).Get());
                out->put_Exception(snmpEndOfMibView);
                ++endCount;
            }
            vars->Add(out.Get());
        };
        for (std::u16string& oid : plain) add(&oid);
        // Repetitions stop once every repeating variable has reached the end of the MIB.
        for (LONG r = 0; r < std::min<LONG>(repetitions, 50) && !repeating.empty(); ++r) {
            endCount = 0;
            for (std::u16string& oid : repeating) add(&oid);
            if (endCount == repeating.size()) break;
        }
        m->put_Type(snmpResponse2);
        agent_->Send();
    }

    ComPtr<IAgent> agent_;
    ComPtr<ISnmpVariables> variables_;
    velk::EventConnection events_;
    std::set<std::u16string> valued_;
    std::string compileError_;
};

class AgentInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (system("command -v snmpget snmpset snmpwalk snmpbulkwalk snmpgetnext snmptrapd >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "net-snmp's programs are not installed";
        live_ = velk::rt::LiveObjectCount();
    }
    void TearDown() override {
        VelkPumpPendingMessages();
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.Put());
        info.Reset();
        if (!IsSkipped()) {
            EXPECT_EQ(velk::rt::LiveObjectCount(), live_) << "objects leaked";
        }
    }

private:
    long live_ = 0;
};

// Common options: numeric OIDs, no MIB files, one try with a short time-out.
std::string Tool(const char* tool, const char* version, const char* community, int port, const std::string& rest) {
    return std::string(tool) + " -m '' -M /nonexistent -On -t 1 -r 0 -v " + version + " -c " + community +
           " 127.0.0.1:" + std::to_string(port) + " " + rest;
}

struct QueryCase {
    const char* name;
    const char* tool;
    const char* version;
    const char* community;
    const char* args;
    std::vector<const char*> expected;  // substrings of the output, in this order
};

const QueryCase kQueries[] = {
    {"v2c get", "snmpget", "2c", "public", ".1.3.6.1.2.1.1.1.0 .1.3.6.1.2.1.1.7.0",
     {".1.3.6.1.2.1.1.1.0 = STRING: \"Velk interop agent\"", ".1.3.6.1.2.1.1.7.0 = INTEGER: 72"}},
    {"v1 get of an object identifier and time ticks", "snmpget", "1", "public", ".1.3.6.1.2.1.1.2.0 .1.3.6.1.2.1.1.3.0",
     {".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10", ".1.3.6.1.2.1.1.3.0 = Timeticks: (123456)"}},
    {"v2c get of an unknown object", "snmpget", "2c", "public", ".1.3.6.1.2.1.1.99.0",
     {".1.3.6.1.2.1.1.99.0 = No Such Object available on this agent at this OID"}},
    {"v1 get of an unknown object", "snmpget", "1", "public", ".1.3.6.1.2.1.1.1.0 .1.3.6.1.2.1.1.99.0",
     {"noSuchName", "Failed object: .1.3.6.1.2.1.1.99.0"}},
    {"v2c get with a wrong community", "snmpget", "2c", "private", ".1.3.6.1.2.1.1.1.0", {"Timeout"}},
    {"v1 get with a wrong community", "snmpget", "1", "Public", ".1.3.6.1.2.1.1.1.0", {"Timeout"}},
    {"v2c getnext", "snmpgetnext", "2c", "public", ".1.3.6.1.2.1.1.1.0",
     {".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10"}},
    {"v1 getnext past the end", "snmpgetnext", "1", "public", ".1.3.6.1.2.1.1.7.0", {"noSuchName"}},
    {"v2c walk", "snmpwalk", "2c", "public", ".1.3.6.1.2.1.1",
     {".1.3.6.1.2.1.1.1.0 = STRING: \"Velk interop agent\"", ".1.3.6.1.2.1.1.2.0 = OID:",
      ".1.3.6.1.2.1.1.3.0 = Timeticks: (123456)", ".1.3.6.1.2.1.1.4.0 = STRING: \"ops@example.org\"",
      ".1.3.6.1.2.1.1.5.0 = STRING: \"velk-test\"", ".1.3.6.1.2.1.1.6.0 = STRING: \"lab\"",
      ".1.3.6.1.2.1.1.7.0 = INTEGER: 72"}},
    {"v1 walk", "snmpwalk", "1", "public", ".1.3.6.1.2.1.1",
     {".1.3.6.1.2.1.1.1.0 = STRING:", ".1.3.6.1.2.1.1.7.0 = INTEGER: 72"}},
    {"v2c bulk walk", "snmpbulkwalk", "2c", "public", "-Cr3 .1.3.6.1.2.1.1",
     {".1.3.6.1.2.1.1.1.0 = STRING:", ".1.3.6.1.2.1.1.4.0 = STRING:", ".1.3.6.1.2.1.1.7.0 = INTEGER: 72"}},
    {"v2c set of a writable object", "snmpset", "2c", "public", ".1.3.6.1.2.1.1.4.0 s noc@example.org",
     {".1.3.6.1.2.1.1.4.0 = STRING: \"noc@example.org\""}},
    {"v2c set of a read-only object", "snmpset", "2c", "public", ".1.3.6.1.2.1.1.1.0 s other", {"readOnly"}},
    {"v2c set with the wrong type", "snmpset", "2c", "public", ".1.3.6.1.2.1.1.5.0 i 5", {"wrongType"}},
    {"v1 set with the wrong type", "snmpset", "1", "public", ".1.3.6.1.2.1.1.5.0 i 5", {"badValue"}},
    {"v2c set of an unknown object", "snmpset", "2c", "public", ".1.3.6.1.2.1.1.99.0 i 5", {"notWritable"}},
    {"v1 set of an unknown object", "snmpset", "1", "public", ".1.3.6.1.2.1.1.99.0 i 5", {"noSuchName"}},
    {"v2c get after the set", "snmpget", "2c", "public", ".1.3.6.1.2.1.1.4.0",
     {".1.3.6.1.2.1.1.4.0 = STRING: \"noc@example.org\""}},
};

TEST_F(AgentInteropTest, NetSnmpToolsQueryTheAgent) {
    HostAgent host;
    ASSERT_EQ(host.CompileError(), "");
    ASSERT_EQ(host.Valued(), std::size(kSystem)) << "system group missing from the compiled MIB";
    const int port = FreeUdpPort();
    ASSERT_EQ(host.Open(port), S_OK);
    for (const QueryCase& q : kQueries) {
        SCOPED_TRACE(q.name);
        const CommandResult r = RunPumping(Tool(q.tool, q.version, q.community, port, q.args));
        size_t at = 0;
        for (const char* expected : q.expected) {
            const size_t found = r.output.find(expected, at);
            EXPECT_NE(found, std::string::npos) << "missing: " << expected << "\noutput:\n" << r.output;
            if (found != std::string::npos) at = found;
        }
    }
    // The walk stops at the end of the MIB view, not at an error.
    const CommandResult walk = RunPumping(Tool("snmpwalk", "2c", "public", port, ".1.3.6.1.2.1.1.5"));
    EXPECT_EQ(walk.status, 0) << walk.output;
    EXPECT_EQ(walk.output.find("Error"), std::string::npos) << walk.output;
    host.Agent()->Close();
}

TEST_F(AgentInteropTest, SnmptrapdReceivesColdStartAndAuthenticationFailure) {
    const std::string dir = ScratchDir("trapd");
    const std::string config = dir + "/snmptrapd.conf";
    {
        std::ofstream(config) << "disableAuthorization yes\n";
    }
    const int trapPort = FreeUdpPort();
    Daemon trapd({"snmptrapd", "-f", "-Lo", "-C", "-c", config, "-m", "", "-M", "/nonexistent", "-On", "-n",
                  "--persistentDir=" + dir, "-F",
                  "TRAP version=%s generic=%w specific=%q enterprise=%N %P\n",
                  "udp:127.0.0.1:" + std::to_string(trapPort)},
                 dir + "/output.log");
    ASSERT_TRUE(trapd.Started());
    ASSERT_TRUE(PumpUntil([&] { return UdpPortTaken(trapPort); }, milliseconds(10000))) << trapd.Output();

    {
        HostAgent host;
        ComPtr<IVelkStrings> managers;
        host.Agent()->get_TrapManagers(managers.Put());
        managers->Add(Bstr(U("127.0.0.1:" + std::to_string(trapPort))).Get(), 0);
        const int port = FreeUdpPort();
        ASSERT_EQ(host.Open(port), S_OK);  // coldStart
        const CommandResult r = RunPumping(Tool("snmpget", "2c", "intruder", port, ".1.3.6.1.2.1.1.1.0"));
        EXPECT_NE(r.output.find("Timeout"), std::string::npos) << r.output;
        EXPECT_TRUE(PumpUntil([&] { return trapd.Output().find("generic=4") != std::string::npos; },
                              milliseconds(5000)));
        host.Agent()->Close();
    }
    trapd.Stop();
    const std::string log = trapd.Output();
    const std::string enterprise = ".1.3.6.1.4.1";
    EXPECT_NE(log.find("TRAP version=0 generic=0 specific=0 enterprise=" + enterprise + " TRAP, SNMP v1, community public"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("TRAP version=0 generic=4 specific=0 enterprise=" + enterprise + " TRAP, SNMP v1, community intruder"),
              std::string::npos)
        << log;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace agent_interop
