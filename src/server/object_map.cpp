// The object map.
#include "server/object_map.h"

#include "runtime/registry.h"
#include "sock/host_info.h"
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
