// The agent side of the load benchmark as a process of its own, so that its CPU time and
// system calls can be measured like those of any daemon: an Agent on 127.0.0.1:<port>
// answering Get and Set from a MIB compiled from the standard modules, with the host
// answering GetNext in its Request handler. Prints "ready" once it listens; runs until it
// is terminated.
//
//     velk-agent-target <port> <mib folder>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/agent.h"
#include "sock/velk_strings.h"
#include "velk/events.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

std::u16string U(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The scalars the benchmark asks for, with their values.
const char* const kValues[][2] = {
    {"1.3.6.1.2.1.1.1", "Velk SNMP agent load target"},
    {"1.3.6.1.2.1.1.2", "1.3.6.1.4.1.8072.3.2.10"},
    {"1.3.6.1.2.1.1.3", "4242"},
    {"1.3.6.1.2.1.1.4", "ops@example.org"},
    {"1.3.6.1.2.1.1.5", "velk-bench"},
    {"1.3.6.1.2.1.1.6", "lab"},
    {"1.3.6.1.2.1.1.7", "72"},
    {"1.3.6.1.2.1.1.8", "0"},
    {"1.3.6.1.2.1.11.1", "0"},
    {"1.3.6.1.2.1.11.30", "2"},
};

// GetNext: the next MIB object after each requested OID that has a value, as its instance.
void AnswerGetNext(IAgent* agent, ISnmpVariables* mib) {
    ComPtr<ISnmpMessage> m;
    agent->get_Message(m.Put());
    TypeConstants type{};
    m->get_Type(&type);
    if (type != snmpGetNext1 && type != snmpGetNext2) return;
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    LONG count = 0;
    vars->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ISnmpVariable> v;
        vars->Item(Variant(i), v.Put());
        Bstr cursor;
        v->get_Oid(cursor.Put());
        ComPtr<ISnmpVariable> next;
        Bstr value;
        while (SUCCEEDED(mib->GetNext(cursor.Get(), next.Put()))) {
            next->get_Oid(cursor.Put());
            next->get_Value(value.Put());
            if (!value.Empty()) break;
        }
        if (!next || value.Empty()) {
            v->put_Exception(snmpEndOfMibView);
            continue;
        }
        VariableTypeConstants t{};
        next->get_Type(&t);
        v->put_Oid(Bstr(std::u16string(cursor.View()) + u".0").Get());
        v->put_Type(t);
        v->put_Value(value.Get());
    }
    m->put_Type(type == snmpGetNext1 ? snmpResponse1 : snmpResponse2);
    agent->Send();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <port> <mib folder>\n", argv[0]);
        return 2;
    }
    ComPtr<IAgent> agent;
    if (FAILED(velk::agent::Agent::CreateInstance(IID_IAgent, agent.PutVoid()))) return 1;
    agent->put_Community(Bstr(u"public").Get());
    ComPtr<ISnmpMib> mib;
    agent->get_Mib(mib.Put());
    ComPtr<IVelkStrings> files;
    velk::sock::CreateVelkStrings(files.Put());
    for (const char* name : {"SNMPv2-SMI.txt", "SNMPv2-TC.txt", "SNMPv2-CONF.txt", "SNMPv2-MIB.txt"})
        files->Add(Bstr(U(std::string(argv[2]) + "/" + name)).Get(), 0);
    if (FAILED(mib->Compile(files.Get()))) {
        fprintf(stderr, "the MIB modules do not compile\n");
        return 1;
    }
    ComPtr<ISnmpVariables> variables;
    mib->get_Variables(variables.Put());
    for (const auto& entry : kValues) {
        ComPtr<ISnmpVariable> v;
        if (FAILED(variables->Item(Variant(U(entry[0])), v.Put()))) {
            fprintf(stderr, "%s is not in the MIB\n", entry[0]);
            return 1;
        }
        v->put_Value(Bstr(U(entry[1])).Get());
    }
    auto events = velk::ConnectEvents(agent, DIID__IAgentEvents);
    events.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) { AnswerGetNext(agent.Get(), variables.Get()); });
    if (FAILED(agent->Open(atoi(argv[1]), Bstr(u"127.0.0.1").Get()))) {
        fprintf(stderr, "cannot open port %s\n", argv[1]);
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;) VelkWaitMessage(INFINITE);
}
