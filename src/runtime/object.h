// Object base shared by every class: reference counting (not atomic: one thread per
// object), QueryInterface from the list of exposed interfaces, the dual-interface
// IDispatch mixin over the member tables, and ISupportErrorInfo.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "runtime/dispatch.h"
#include "velk/com.h"

namespace velk::rt {

// Number of live objects built on Object<> in this process (a leak check for tests and hosts).
long LiveObjectCount();

namespace detail {
// Each thread counts in a slot of its own (see live_objects.cpp); inline, because objects
// are made and released on hot paths (one per decoded variable).
struct LiveSlot {
    std::atomic<long> value{0};
    std::atomic<bool> inUse{true};
    LiveSlot* next = nullptr;
};
extern thread_local constinit LiveSlot* t_liveSlot;
LiveSlot* AcquireLiveSlot();
}  // namespace detail

inline void AdjustLiveObjectCount(long delta) {
    detail::LiveSlot* s = detail::t_liveSlot;
    if (!s) [[unlikely]]
        s = detail::AcquireLiveSlot();
    s->value.store(s->value.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

// Implements IDispatch for the dual interface I from its member table. The table is found
// through an overload `const velk::rt::InterfaceDef& DescribeInterface(const I*)`.
template <class I>
class Dual : public I {
public:
    using Interface = I;

    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return CreateTypeInfo(Table(), out);
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispatchGetIDsOfNames(Table(), names, count, ids);
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
        return DispatchInvoke(Table(), static_cast<I*>(this), id, flags, params, result, excep,
                              argErr);
    }

    static const InterfaceDef& Table() { return DescribeInterface(static_cast<const I*>(nullptr)); }
};

template <class T, class = void>
struct ExposedInterface {
    using type = T;
};
template <class T>
struct ExposedInterface<T, std::void_t<typename T::Interface>> {
    using type = typename T::Interface;
};

// Answers ISupportErrorInfo for the listed interfaces.
template <class... Is>
class SupportErrorInfo : public ISupportErrorInfo {
public:
    using Interface = ISupportErrorInfo;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override {
        return ((iid == IidOf<Is>()) || ...) ? S_OK : S_FALSE;
    }
};

// Derived: the final class. Bases: Dual<I>, plain interfaces, SupportErrorInfo<...>, in
// the order QueryInterface should try them; the first one answers IUnknown.
template <class Derived, class... Bases>
class Object : public Bases... {
public:
    Object() { AdjustLiveObjectCount(1); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG r = --refs_;
        if (r == 0) {
            refs_ = 1;  // guards against re-entrant release during destruction
            delete static_cast<Derived*>(this);
        }
        return r;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!(TryInterface<Bases>(iid, out) || ...)) {
            return static_cast<Derived*>(this)->QueryExtraInterface(iid, out);
        }
        AddRef();
        return S_OK;
    }

    // Derived classes may answer more interfaces (for example an aggregate connection point).
    HRESULT QueryExtraInterface(REFIID, void**) { return E_NOINTERFACE; }

    IUnknown* Unknown() { return Unk<Bases...>(); }

protected:
    virtual ~Object() { AdjustLiveObjectCount(-1); }

private:
    template <class B>
    bool TryInterface(REFIID iid, void** out) {
        using I = typename ExposedInterface<B>::type;
        if (!IsInterfaceOrBase<I>(iid)) return false;
        *out = static_cast<I*>(static_cast<B*>(this));
        return true;
    }
    template <class First, class...>
    IUnknown* Unk() {
        using I = typename ExposedInterface<First>::type;
        return static_cast<I*>(static_cast<First*>(this));
    }

    ULONG refs_ = 0;
};

// Creates an object with one reference owned by the result.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
    T* p = new (std::nothrow) T(std::forward<Args>(args)...);
    return ComPtr<T>(p);
}

// Class-factory entry for the object map: a new T, answering `iid`.
template <class T>
HRESULT CreateInstanceOf(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto object = MakeObject<T>();
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(iid, out);
}

// Finding the library's own object behind an interface pointer (a host may hand in an
// implementation of its own): the class answers a private interface identity, known only
// to it, with the object itself.
//   QueryExtraInterface: return rt::AnswerOwnIdentity(this, iid, IID_MyImpl, out);
//   From:                return rt::OwnObjectBehind<My>(pointer, IID_MyImpl);
template <class T>
HRESULT AnswerOwnIdentity(T* self, REFIID iid, REFIID ownIid, void** out) {
    if (iid != ownIid) return E_NOINTERFACE;
    self->AddRef();
    *out = self;
    return S_OK;
}
// The object of class T behind `p`, or null (null `p`, or another implementation).
// Borrowed: the caller's reference keeps it alive.
template <class T, class I>
T* OwnObjectBehind(I* p, REFIID ownIid) {
    if (!p) return nullptr;
    void* raw = nullptr;
    if (FAILED(p->QueryInterface(ownIid, &raw)) || !raw) return nullptr;
    auto* own = static_cast<T*>(raw);
    own->Release();
    return own;
}

// Test seam: makes creation of the class fail with `hr` (S_OK restores it). Consulted by
// CoCreateInstance and by CreationFailure() in the library's own internal creations.
void SetCreationFailure(REFCLSID clsid, HRESULT hr);
// The failure set for the class, or S_OK.
HRESULT CreationFailure(REFCLSID clsid);

}  // namespace velk::rt
