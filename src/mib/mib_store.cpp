// The MIB store's state.
#include "mib/mib_store.h"

#include <new>

#include "mib/mib_errors.h"

namespace velk::mib {

HRESULT MibStore::Create(std::unique_ptr<MibStore>* out) {
    out->reset();
    std::unique_ptr<MibStore> store(new (std::nothrow) MibStore());
    if (!store) return E_OUTOFMEMORY;
    // In the order of the members: Modules, Variables, Traps.
    ComPtr<IVelkStrings> modules;
    if (HRESULT hr = sock::CreateVelkStrings(modules.Put()); FAILED(hr)) return hr;
    store->modules_ = sock::AsVelkStrings(modules.Get());
    ComPtr<ISnmpVariables> variables;
    if (HRESULT hr = model::SnmpVariables::CreateInstance(IID_ISnmpVariables, variables.PutVoid());
        FAILED(hr))
        return hr;
    store->variables_ = model::SnmpVariables::From(variables.Get());
    ComPtr<ISnmpTraps> traps;
    if (HRESULT hr = model::SnmpTraps::CreateInstance(IID_ISnmpTraps, traps.PutVoid()); FAILED(hr))
        return hr;
    // Our own class: the interface pointer is the object's ISnmpTraps base.
    store->traps_ = static_cast<model::SnmpTraps*>(traps.Get());
    if (!store->modules_ || !store->variables_ || !store->traps_) return E_UNEXPECTED;
    *out = std::move(store);
    return S_OK;
}

HRESULT MibStore::FormatCompileError(UINT id, unsigned long line, std::string_view argument) const {
    return mib::FormatCompileError(currentFile_, id, line, argument);
}

// Called before every token of a source Load: asking first keeps a load with nothing
// pending free of system calls on most tokens.
void MibStore::DispatchPendingMessages() {
    if (VelkMessagesMayBePending()) VelkPumpPendingMessages();
}

void MibStore::AddIsoIfEmpty() {
    if (nodes_.Empty()) nodes_.Append("iso", "1", {});
}

void MibStore::Clear() {
    modules_->Clear();
    traps_->Clear();
    variables_->Clear();
    nodes_.Clear();
    types_.Clear();
}

}  // namespace velk::mib
