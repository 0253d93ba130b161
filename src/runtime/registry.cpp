// Class registry, class factories and creation-failure test seam.
#include "runtime/registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/object.h"

namespace velk::rt {
namespace {

struct ClassEntry {
    CLSID clsid;
    std::string progId;
    std::string versioned;
    CreateInstanceFn create;
};

struct Registry {
    std::mutex mutex;
    std::vector<ClassEntry> classes;
    std::vector<std::pair<CLSID, HRESULT>> failures;
    std::vector<const LibraryDef*> libraries;
};

Registry& TheRegistry() {
    static Registry* r = new Registry;  // lives for the process; never destroyed during exit
    return *r;
}

bool WideEqualsAscii(LPCOLESTR w, const std::string& a) {
    size_t i = 0;
    for (; w[i] && i < a.size(); ++i)
        if (w[i] != static_cast<unsigned char>(a[i])) return false;
    return w[i] == 0 && i == a.size();
}

class ClassFactory : public Object<ClassFactory, IClassFactory> {
public:
    ClassFactory(CLSID clsid, CreateInstanceFn create) : clsid_(clsid), create_(create) {}
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (HRESULT hr = CreationFailure(clsid_); FAILED(hr)) return hr;
        return create_(iid, out);
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

private:
    CLSID clsid_;
    CreateInstanceFn create_;
};

bool Find(REFCLSID clsid, ClassEntry* out) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const ClassEntry& e : r.classes) {
        if (e.clsid == clsid) {
            *out = e;
            return true;
        }
    }
    return false;
}

}  // namespace

void RegisterClass(REFCLSID clsid, const char* progId, CreateInstanceFn create) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (ClassEntry& e : r.classes) {
        if (e.clsid == clsid) {
            e = ClassEntry{clsid, progId, std::string(progId) + ".1", create};
            return;
        }
    }
    r.classes.push_back(ClassEntry{clsid, progId, std::string(progId) + ".1", create});
}

void RegisterTypeLibrary(const LibraryDef& lib) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const LibraryDef* l : r.libraries)
        if (l == &lib) return;
    r.libraries.push_back(&lib);
}

void UnregisterClass(REFCLSID clsid) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::erase_if(r.classes, [&](const ClassEntry& e) { return e.clsid == clsid; });
}

void SetCreationFailure(REFCLSID clsid, HRESULT hr) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::erase_if(r.failures, [&](const auto& f) { return f.first == clsid; });
    if (hr != S_OK) r.failures.emplace_back(clsid, hr);
}

HRESULT CreationFailure(REFCLSID clsid) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& f : r.failures)
        if (f.first == clsid) return f.second;
    return S_OK;
}

}  // namespace velk::rt

using velk::rt::ClassEntry;

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
    velk::rt::ClassEntry entry;
    if (!velk::rt::Find(clsid, &entry)) return REGDB_E_CLASSNOTREG;
    auto factory = velk::rt::MakeObject<velk::rt::ClassFactory>(clsid, entry.create);
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, out);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
    velk::rt::ClassEntry entry;
    if (!velk::rt::Find(clsid, &entry)) return REGDB_E_CLASSNOTREG;
    if (HRESULT hr = velk::rt::CreationFailure(clsid); FAILED(hr)) return hr;
    return entry.create(iid, out);
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    velk::rt::Registry& r = velk::rt::TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const ClassEntry& e : r.classes) {
        if (velk::rt::WideEqualsAscii(progId, e.progId) ||
            velk::rt::WideEqualsAscii(progId, e.versioned)) {
            *clsid = e.clsid;
            return S_OK;
        }
    }
    *clsid = GUID_NULL;
    return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    velk::rt::ClassEntry entry;
    if (!velk::rt::Find(clsid, &entry)) return REGDB_E_CLASSNOTREG;
    const std::string& text = entry.versioned;
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[text.size()] = 0;
    *progId = out;
    return S_OK;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const velk::rt::LibraryDef* found = nullptr;
    {
        velk::rt::Registry& r = velk::rt::TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (const velk::rt::LibraryDef* l : r.libraries) {
            if (*l->guid == libid && (l->major > major || (l->major == major && l->minor >= minor)))
                found = l;
        }
    }
    if (!found) return TYPE_E_LIBNOTREGISTERED;
    return velk::rt::CreateTypeLib(*found, out);
}
