// Control persistence: IPersistStreamInit and IPersistStorage over a table of persisted
// properties. Values are read through the control's own getters (by DISPID) when saving and
// written back through its setters when loading, so every setter side effect happens on
// load too.
//
// Saved data: a 32-bit little-endian version word 0x00000900, then one typed value per
// property in table order: a 16-bit variant type, then VT_BOOL: 2 bytes (0 or 0xFFFF);
// VT_I4: 4 bytes little-endian; VT_BSTR: a 32-bit byte count and that many bytes of
// UTF-16LE characters with one terminating null (count = 2 x length + 2), or a count of 0
// for a null text.
#pragma once

#include <span>

#include "runtime/object.h"

namespace velk::automation {

inline constexpr DWORD kPersistVersion = 0x00000900;

struct PersistedProperty {
    const char* name;  // the property-map name ("TimeOut")
    DISPID dispid;
    VARTYPE vt;        // VT_BOOL, VT_I4 or VT_BSTR
};

// Writes the properties of `object` (read through IDispatch property gets) to `stream`.
HRESULT SavePersistedProperties(IDispatch* object, std::span<const PersistedProperty> props,
                                IStream* stream);
// Reads them back through property puts. A version above kPersistVersion fails with E_FAIL
// and loads nothing; a stream that ends early, a stored type that differs from the table,
// or a text count that is odd, negative or larger than what the stream holds fails with
// E_FAIL (or the stream's own failure); properties loaded before that point keep their new
// values. Nothing large is allocated ahead of the data actually read.
HRESULT LoadPersistedProperties(IDispatch* object, std::span<const PersistedProperty> props,
                                IStream* stream);

// Mixin for a control: implements IPersistStreamInit (QueryInterface answers IPersistStreamInit
// through Persistence's own base list) and IPersistStorage (a stream named "Contents").
// `Derived` provides `static std::span<const PersistedProperty> PersistedProperties()`,
// `static const CLSID& PersistClassId()` and an IDispatch reachable through QueryInterface.
template <class Derived>
class PersistStreamInit : public IPersistStreamInit {
public:
    using Interface = IPersistStreamInit;
    STDMETHOD(GetClassID)(CLSID* out) override {
        if (!out) return E_POINTER;
        *out = Derived::PersistClassId();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return dirty_ ? S_OK : S_FALSE; }
    STDMETHOD(Load)(IStream* stream) override {
        if (!stream) return E_POINTER;
        ComPtr<IDispatch> d;
        if (FAILED(Self()->QueryInterface(IID_IDispatch, d.PutVoid()))) return E_FAIL;
        HRESULT hr = LoadPersistedProperties(d.Get(), Derived::PersistedProperties(), stream);
        if (SUCCEEDED(hr)) dirty_ = false;
        return hr;
    }
    STDMETHOD(Save)(IStream* stream, BOOL clearDirty) override {
        if (!stream) return E_POINTER;
        ComPtr<IDispatch> d;
        if (FAILED(Self()->QueryInterface(IID_IDispatch, d.PutVoid()))) return E_FAIL;
        HRESULT hr = SavePersistedProperties(d.Get(), Derived::PersistedProperties(), stream);
        if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
        return hr;
    }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) override {
        if (!size) return E_POINTER;
        size->QuadPart = 4096;
        return S_OK;
    }
    STDMETHOD(InitNew)() override { return S_OK; }

    void SetDirty() { dirty_ = true; }

protected:
    bool dirty_ = false;

private:
    IUnknown* Self() { return static_cast<Derived*>(this)->Unknown(); }
};

template <class Derived>
class PersistStorage : public IPersistStorage {
public:
    using Interface = IPersistStorage;
    STDMETHOD(GetClassID)(CLSID* out) override {
        if (!out) return E_POINTER;
        *out = Derived::PersistClassId();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return Streams()->IsDirty(); }
    STDMETHOD(InitNew)(IStorage* storage) override {
        if (!storage) return E_POINTER;
        return S_OK;
    }
    STDMETHOD(Load)(IStorage* storage) override {
        if (!storage) return E_POINTER;
        ComPtr<IStream> stream;
        HRESULT hr = storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                         0, stream.Put());
        if (FAILED(hr)) return hr;
        return Streams()->Load(stream.Get());
    }
    STDMETHOD(Save)(IStorage* storage, BOOL) override {
        if (!storage) return E_POINTER;
        ComPtr<IStream> stream;
        HRESULT hr = storage->CreateStream(
            u"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put());
        if (FAILED(hr)) return hr;
        return Streams()->Save(stream.Get(), TRUE);
    }
    STDMETHOD(SaveCompleted)(IStorage*) override { return S_OK; }
    STDMETHOD(HandsOffStorage)() override { return S_OK; }

private:
    PersistStreamInit<Derived>* Streams() { return static_cast<Derived*>(this); }
};

}  // namespace velk::automation
