// SnmpMib: a MIB store filled by compiling SMI modules (Compile), by reading one MIB file
// or MIB image (Load), and queried by name and OID (Name, Oid).
#pragma once

#include <memory>
#include <string>

#include "mib/mib_store.h"
#include "runtime/object.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::mib {

// Private interface identity answered only by SnmpMib (see SnmpMib::From).
// {2A9F4C61-7B05-4E3D-8C12-9D6E0B47A3F8}
inline constexpr IID IID_SnmpMibImpl = {0x2a9f4c61, 0x7b05, 0x4e3d, {0x8c, 0x12, 0x9d, 0x6e, 0x0b, 0x47, 0xa3, 0xf8}};

class SnmpMib final
    : public rt::Object<SnmpMib, rt::Dual<ISnmpMib>, rt::SupportErrorInfo<ISnmpMib>> {
public:
    // Object-map entry: a new, empty store answering `iid`. Fails with the creation
    // failure set for CLSID_SnmpMib, or with the error of the first of its collections
    // (Modules, Variables, Traps) that cannot be created.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // The store's own collections (the same object on every read, with a new reference).
    STDMETHOD(get_Modules)(IVelkStrings** out) override;
    STDMETHOD(get_Variables)(ISnmpVariables** out) override;
    STDMETHOD(get_Traps)(ISnmpTraps** out) override;

    // A name holding ".bin" (in its ANSI form) is read as a MIB image, without the busy
    // flag. Any other name is read with the single-file loader: fails with 107 (ulBlocked)
    // while a Load or Compile runs, with 108 (ulFile) when the file cannot be read, or
    // with the loader's error (objects added before it stay); on success the module name
    // of its DEFINITIONS line, if any, is added to Modules. The thread's pending messages
    // are dispatched while the file is read, so host code may run during the call.
    STDMETHOD(Load)(BSTR fileName) override;
    // The name of the first known node whose OID equals `oid`, or else, for an OID ending
    // in ".0", whose OID equals it without the ".0"; a null text when none does. Never an
    // error.
    STDMETHOD(get_Name)(BSTR oid, BSTR* out) override;
    // The OID of the first known node with exactly that name; a null text when none has
    // it. Never an error.
    STDMETHOD(get_Oid)(BSTR name, BSTR* out) override;
    // Compiles the files (see CompileMibFiles in mib/compiler.h for the results and
    // errors); fails with 107 (ulBlocked) while a Load or Compile runs.
    STDMETHOD(Compile)(IVelkStrings* fileNames) override;
    // Removes the variable whose Oid is `oid` (as GetIndex finds it) and the variables
    // that follow it in OID order while their Oid equals the prefix or continues it after
    // a '.'; the prefix is `oid` without a final ".0". Fails with 12001 (`oid` followed by
    // " Not found") when no variable has that Oid. Traps and known names are not touched.
    STDMETHOD(RemoveTable)(BSTR oid) override;
    // Empties Modules, Variables, Traps, the known names (also "iso", which the next
    // Compile or Load adds again) and the type assignments. Always succeeds.
    STDMETHOD(Clear)() override;

    // The library's own view of the store.
    MibStore& Store() { return *store_; }

    // Our store behind an ISnmpMib, or null for a host object. Borrowed.
    static SnmpMib* From(ISnmpMib* mib);
    HRESULT QueryExtraInterface(REFIID iid, void** out);

private:
    std::unique_ptr<MibStore> store_;
    std::string scratch_;  // the 8-bit key of Name and Oid
};

// A new store, as SnmpMib::CreateInstance makes it.
HRESULT CreateSnmpMib(ISnmpMib** out);

}  // namespace velk::mib
