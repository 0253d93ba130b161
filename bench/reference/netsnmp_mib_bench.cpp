// Reference figure for the MIB compiler: net-snmp's MIB parser reading the whole corpus
// (MIBDIRS = the corpus folder, MIBS = ALL), as a manager does at start-up. Each iteration
// reads every module into a fresh tree and frees it again.
#include <benchmark/benchmark.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>

namespace {

void BM_NetSnmp_ParseCorpus(benchmark::State& state) {
    setenv("MIBDIRS", VELK_MIBS_DIR, 1);
    setenv("MIBS", "ALL", 1);
    // The corpus's own quirks are reported on stderr once per parse; keep the output clean.
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
    // The corpus really is read: names from modules early and late in it resolve.
    netsnmp_init_mib();
    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    const bool early = read_objid("IF-MIB::ifDescr", name, &length) != 0;
    length = MAX_OID_LEN;
    const bool late = read_objid("DISMAN-PING-MIB::pingCtlTable", name, &length) != 0;
    shutdown_mib();
    if (!early || !late) {
        state.SkipWithError("net-snmp did not read the corpus");
        return;
    }
    for (auto _ : state) {
        netsnmp_init_mib();
        benchmark::DoNotOptimize(get_tree_head());
        shutdown_mib();
    }
}
BENCHMARK(BM_NetSnmp_ParseCorpus)->Unit(benchmark::kMillisecond);

}  // namespace
