// The object map.
#include "server/object_map.h"

#include "agent/agent.h"
#include "codec/message.h"
#include "manager/manager.h"
#include "mib/mib.h"
#include "model/table.h"
#include "model/table_row.h"
#include "model/trap.h"
#include "model/traps.h"
#include "model/variable.h"
#include "model/variables.h"
#include "runtime/registry.h"
#include "sock/host_info.h"
#include "sock/udp_socket.h"
#include "sock/velk_strings.h"
#include "typelib/typelib.h"

namespace velk::server {
namespace {

struct MapEntry {
    const CLSID* clsid;
    rt::CreateInstanceFn create;
};

// Classes not listed here are not implemented yet and cannot be created.
const MapEntry kObjectMap[] = {
    {&CLSID_VelkStrings, &rt::CreateInstanceOf<sock::VelkStrings>},
    {&CLSID_VelkHostInfo, &rt::CreateInstanceOf<sock::HostInfo>},
    {&CLSID_UdpSocketComponent, &sock::UdpSocket::CreateInstance},
    {&CLSID_SnmpVariable, &model::SnmpVariable::CreateInstance},
    {&CLSID_SnmpVariables, &model::SnmpVariables::CreateInstance},
    {&CLSID_SnmpTable, &model::SnmpTable::CreateInstance},
    {&CLSID_SnmpTableRow, &model::SnmpTableRow::CreateInstance},
    {&CLSID_SnmpTrap, &model::SnmpTrap::CreateInstance},
    {&CLSID_SnmpTraps, &model::SnmpTraps::CreateInstance},
    {&CLSID_SnmpMessage, &codec::SnmpMessage::CreateInstance},
    {&CLSID_SnmpMib, &mib::SnmpMib::CreateInstance},
    {&CLSID_Agent, &agent::Agent::CreateInstance},
    {&CLSID_Manager, &manager::Manager::CreateInstance},
};

}  // namespace

void RegisterClasses() {
    for (const MapEntry& e : kObjectMap) {
        const rt::ClassDef* def = FindClassDef(*e.clsid);
        if (def) rt::RegisterClass(*e.clsid, def->progId, e.create);
    }
    rt::RegisterTypeLibrary(VelkSnmpLibrary());
    rt::RegisterTypeLibrary(VelkSockLibrary());
}

}  // namespace velk::server
