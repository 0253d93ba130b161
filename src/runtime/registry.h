// The class registry behind CoCreateInstance, CLSIDFromProgID and ProgIDFromCLSID. The
// object map registers the library's classes into it; tests may register classes of their
// own. Process-wide and thread-safe (the only global state besides per-thread runtime state).
#pragma once

#include "velk/oleauto.h"

namespace velk::rt {

// Creates a new object and returns the interface `iid` of it (one reference).
using CreateInstanceFn = HRESULT (*)(REFIID iid, void** out);

// Registers a class under `progId` ("Velk.SnmpMessage"); the versioned ProgID
// ("Velk.SnmpMessage.1") is registered with it. A second registration of the same CLSID
// replaces the first.
void RegisterClass(REFCLSID clsid, const char* progId, CreateInstanceFn create);
void UnregisterClass(REFCLSID clsid);

struct LibraryDef;
// Makes a type library available to LoadRegTypeLib.
void RegisterTypeLibrary(const LibraryDef& lib);

}  // namespace velk::rt
