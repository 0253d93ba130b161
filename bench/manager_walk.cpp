// A full walk of net-snmp's snmpd (from 1.3.6.1, version 2c, community "public") by our
// Manager with blocking GetNext and GetBulk requests, beside snmpwalk and snmpbulkwalk on
// the same agent in the same run. Wall time is the benchmark's time; the counters give the
// walker's CPU seconds (our thread, or the tool process), the agent's CPU seconds and the
// variables walked, per walk. Each benchmark runs three walks; a walk gives up after 60 s.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "../tests/interop/manager_snmpd.h"
#include "manager/manager.h"
#include "model/variable.h"
#include "velk/com.h"

namespace {

using manager_peers::Child;
using manager_peers::Snmpd;
using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

constexpr LONG kMaxRepetitions = 10;  // snmpbulkwalk's default
constexpr auto kWalkLimit = std::chrono::seconds(60);
constexpr int kWalks = 3;

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void SetCounters(benchmark::State& state, double walkerCpu, double agentCpu, double variables) {
    using benchmark::Counter;
    state.counters["walker_cpu_s"] = Counter(walkerCpu, Counter::kAvgIterations);
    state.counters["agent_cpu_s"] = Counter(agentCpu, Counter::kAvgIterations);
    state.counters["variables"] = Counter(variables, Counter::kAvgIterations);
}

ComPtr<IManager> NewWalker(int port) {
    ComPtr<IManager> m;
    if (FAILED(velk::manager::Manager::CreateInstance(IID_IManager, m.PutVoid()))) return {};
    m->Open(0, Bstr(u"127.0.0.1").Get());
    m->put_Timeout(2000);
    m->put_AgentName(Bstr(u"127.0.0.1").Get());
    m->put_AgentPort(port);
    return m;
}

// Sets Message to one request for `oid` (a decoded response has reset MaxRepetition).
void Request(ISnmpMessage* msg, ISnmpVariables* vars, TypeConstants type, LONG id, BSTR oid) {
    msg->put_Type(type);
    msg->put_MaxRepetition(kMaxRepetitions);
    msg->put_Id(id);
    msg->put_Exception(snmpOk);
    msg->put_ExceptionIndex(0);
    vars->Clear();
    ComPtr<ISnmpVariable> v;
    velk::model::CreateSnmpVariable(v.Put());
    v->put_Oid(oid);
    v->put_Repeat(VARIANT_TRUE);
    vars->Add(v.Get());
}

// Walks from 1.3.6.1 to the end of the agent's view; the number of variables, or -1.
long Walk(IManager* m, bool bulk) {
    ComPtr<ISnmpMessage> msg;
    ComPtr<ISnmpVariables> vars;
    m->get_Message(msg.Put());
    msg->get_Variables(vars.Put());
    msg->put_Community(Bstr(u"public").Get());
    const TypeConstants type = bulk ? snmpGetBulk2 : snmpGetNext2;
    Bstr next(u"1.3.6.1");
    long walked = 0;
    LONG id = 1;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        Request(msg.Get(), vars.Get(), type, ++id, next.Get());
        if (FAILED(m->Send())) return -1;
        ExceptionConstants status = snmpOk;
        msg->get_Exception(&status);
        LONG count = 0;
        vars->get_Count(&count);
        if (status != snmpOk || count == 0) return walked;
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<ISnmpVariable> v;
            vars->Item(Variant(i), v.Put());
            VariableExceptionConstants exception = snmpNoException;
            v->get_Exception(&exception);
            if (exception == snmpEndOfMibView) return walked;
            ++walked;
            if (i == count) v->get_Oid(next.Put());
        }
        if (std::chrono::steady_clock::now() - start > kWalkLimit) return -1;
    }
}

// One snmpd for the whole run, walked once untimed; null (with the reason printed) when it cannot be had.
Snmpd* Agent() {
    static std::unique_ptr<Snmpd> agent = [] {
        auto a = std::make_unique<Snmpd>();
        if (!a->Start()) {
            std::fprintf(stderr, "manager_walk: %s\n", a->Error().c_str());
            a.reset();
        } else if (ComPtr<IManager> m = NewWalker(a->Port())) {
            Walk(m.Get(), true);  // the agent's caches are filled before anything is timed
            m->Close();
        }
        return a;
    }();
    return agent.get();
}

void ManagerWalk(benchmark::State& state, bool bulk) {
    Snmpd* agent = Agent();
    if (!agent) return state.SkipWithError("snmpd is not available");
    ComPtr<IManager> m = NewWalker(agent->Port());
    if (!m) return state.SkipWithError("no manager");
    double walkerCpu = 0, agentCpu = 0, variables = 0;
    for (auto _ : state) {
        const double cpu0 = ThreadCpuSeconds(), agent0 = agent->CpuSeconds();
        const long walked = Walk(m.Get(), bulk);
        walkerCpu += ThreadCpuSeconds() - cpu0;
        agentCpu += agent->CpuSeconds() - agent0;
        if (walked < 0) return state.SkipWithError("the walk failed");
        variables += static_cast<double>(walked);
    }
    m->Close();
    SetCounters(state, walkerCpu, agentCpu, variables);
}

void ToolWalk(benchmark::State& state, const char* tool) {
    Snmpd* agent = Agent();
    const std::string program = manager_peers::FindProgram(tool);
    if (!agent || program.empty()) return state.SkipWithError("snmpd or the tool is not available");
    const std::string target = "127.0.0.1:" + std::to_string(agent->Port());
    double walkerCpu = 0, agentCpu = 0, variables = 0;
    for (auto _ : state) {
        const std::string output = agent->Folder() + "/walk.out";
        std::remove(output.c_str());
        const double agent0 = agent->CpuSeconds();
        Child walker({program, "-m", "", "-v", "2c", "-c", "public", "-On", "-Oq", "-t", "2", target,
                      "1.3.6.1"},
                     agent->Folder(), output);
        const int status = walker.Wait(std::chrono::milliseconds(kWalkLimit).count());
        agentCpu += agent->CpuSeconds() - agent0;
        walkerCpu += walker.ExitedCpuSeconds();
        if (status != 0) return state.SkipWithError("the tool failed");
        std::ifstream lines(output);
        std::string line;
        // One line per variable (hex dumps may continue on further lines); the end of the
        // agent's view is printed as a line of its own.
        while (std::getline(lines, line))
            if (line.rfind(".1.3.6.1", 0) == 0 && line.find("No more variables") == std::string::npos)
                variables += 1;
    }
    SetCounters(state, walkerCpu, agentCpu, variables);
}

void BM_ManagerWalkGetNext(benchmark::State& state) { ManagerWalk(state, false); }
void BM_SnmpWalk(benchmark::State& state) { ToolWalk(state, "snmpwalk"); }
void BM_ManagerWalkGetBulk(benchmark::State& state) { ManagerWalk(state, true); }
void BM_SnmpBulkWalk(benchmark::State& state) { ToolWalk(state, "snmpbulkwalk"); }

BENCHMARK(BM_ManagerWalkGetNext)->Iterations(kWalks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SnmpWalk)->Iterations(kWalks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ManagerWalkGetBulk)->Iterations(kWalks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SnmpBulkWalk)->Iterations(kWalks)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
