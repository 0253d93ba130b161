// C++ helpers over the automation runtime: interface identity traits, ComPtr, and RAII
// owners for BSTR and VARIANT. Header-only; usable by hosts and by the library alike.
#pragma once

#include <string>
#include <type_traits>
#include <string_view>
#include <utility>

#include "velk/oleauto.h"

namespace velk {

// Maps an interface type to its IID and its base interface. Every interface of the library
// declares one with VELK_INTERFACE_TRAITS.
template <class I>
struct InterfaceTraits;

template <>
struct InterfaceTraits<IUnknown> {
    using Base = void;
    static constexpr const char* name = "IUnknown";
    static constexpr const IID* iid_ptr = &IID_IUnknown;
    static const IID& iid() { return IID_IUnknown; }
};

#define VELK_INTERFACE_TRAITS(Iface, BaseIface, IidConstant)   \
    template <>                                                \
    struct velk::InterfaceTraits<Iface> {                      \
        using Base = BaseIface;                                \
        static constexpr const char* name = #Iface;            \
        static constexpr const IID* iid_ptr = &IidConstant;    \
        static const IID& iid() { return IidConstant; }        \
    };

}  // namespace velk

VELK_INTERFACE_TRAITS(IDispatch, IUnknown, IID_IDispatch)
VELK_INTERFACE_TRAITS(ITypeInfo, IUnknown, IID_ITypeInfo)
VELK_INTERFACE_TRAITS(ITypeLib, IUnknown, IID_ITypeLib)
VELK_INTERFACE_TRAITS(IEnumVARIANT, IUnknown, IID_IEnumVARIANT)
VELK_INTERFACE_TRAITS(IConnectionPoint, IUnknown, IID_IConnectionPoint)
VELK_INTERFACE_TRAITS(IConnectionPointContainer, IUnknown, IID_IConnectionPointContainer)
VELK_INTERFACE_TRAITS(IEnumConnections, IUnknown, IID_IEnumConnections)
VELK_INTERFACE_TRAITS(IEnumConnectionPoints, IUnknown, IID_IEnumConnectionPoints)
VELK_INTERFACE_TRAITS(IErrorInfo, IUnknown, IID_IErrorInfo)
VELK_INTERFACE_TRAITS(ICreateErrorInfo, IUnknown, IID_ICreateErrorInfo)
VELK_INTERFACE_TRAITS(ISupportErrorInfo, IUnknown, IID_ISupportErrorInfo)
VELK_INTERFACE_TRAITS(IClassFactory, IUnknown, IID_IClassFactory)
VELK_INTERFACE_TRAITS(IStream, IUnknown, IID_IStream)
VELK_INTERFACE_TRAITS(IStorage, IUnknown, IID_IStorage)
VELK_INTERFACE_TRAITS(IPersist, IUnknown, IID_IPersist)
VELK_INTERFACE_TRAITS(IPersistStreamInit, IPersist, IID_IPersistStreamInit)
VELK_INTERFACE_TRAITS(IPersistStorage, IPersist, IID_IPersistStorage)

namespace velk {

// Type-library name of an enumeration used in interface signatures (VT_USERDEFINED).
template <class E>
inline constexpr const char* kEnumName = nullptr;

template <class I>
const IID& IidOf() {
    return InterfaceTraits<I>::iid();
}

// True when `iid` names I or one of its bases.
template <class I>
bool IsInterfaceOrBase(REFIID iid) {
    if (iid == InterfaceTraits<I>::iid()) return true;
    if constexpr (std::is_same_v<typename InterfaceTraits<I>::Base, void>)
        return false;
    else
        return IsInterfaceOrBase<typename InterfaceTraits<I>::Base>(iid);
}

// Owning interface pointer.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) {
        ComPtr(p).Swap(*this);
        return *this;
    }

    // Takes ownership of a reference the caller already holds.
    static ComPtr Adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Releases the current pointer and returns the address for an out parameter.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    // Copies a new reference into an out parameter.
    HRESULT CopyTo(T** out) const {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(IidOf<U>(), out->PutVoid());
    }

private:
    T* p_ = nullptr;
};

// Owning BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const OLECHAR* s) : s_(s ? SysAllocString(s) : nullptr) {}
    explicit Bstr(std::u16string_view s)
        : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr(const Bstr& o) : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    ~Bstr() { SysFreeString(s_); }
    Bstr& operator=(Bstr o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }

    static Bstr Adopt(BSTR s) {
        Bstr b;
        b.s_ = s;
        return b;
    }
    // Texts through the ANSI code page (ISO-8859-1).
    static Bstr FromAnsi(std::string_view s);
    std::string ToAnsi() const;

    BSTR Get() const { return s_; }
    BSTR* Put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    BSTR Detach() { return std::exchange(s_, nullptr); }
    // A fresh copy for an out parameter (null stays null).
    BSTR Copy() const { return s_ ? SysAllocStringLen(s_, SysStringLen(s_)) : nullptr; }
    UINT Length() const { return SysStringLen(s_); }
    bool Empty() const { return Length() == 0; }
    std::u16string_view View() const { return s_ ? std::u16string_view(s_, Length()) : std::u16string_view(); }

private:
    BSTR s_ = nullptr;
};

inline Bstr Bstr::FromAnsi(std::string_view s) {
    Bstr b;
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
    if (out) VelkAnsiToWide(s.data(), static_cast<int>(s.size()), out, static_cast<int>(s.size()));
    b.s_ = out;
    return b;
}

inline std::string Bstr::ToAnsi() const {
    std::string r(Length(), '\0');
    if (!r.empty()) VelkWideToAnsi(s_, static_cast<int>(r.size()), r.data(), static_cast<int>(r.size()));
    return r;
}

// Owning VARIANT.
class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    Variant(const Variant& o) {
        VariantInit(this);
        VariantCopy(this, &o);
    }
    Variant(const VARIANT& o) {
        VariantInit(this);
        VariantCopy(this, &o);
    }
    Variant(Variant&& o) noexcept {
        *static_cast<VARIANT*>(this) = o;
        VariantInit(&o);
    }
    explicit Variant(LONG v) {
        VariantInit(this);
        vt = VT_I4;
        lVal = v;
    }
    explicit Variant(std::u16string_view s) {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    ~Variant() { VariantClear(this); }
    Variant& operator=(Variant o) noexcept {
        std::swap(*static_cast<VARIANT*>(this), *static_cast<VARIANT*>(&o));
        return *this;
    }
    void Clear() { VariantClear(this); }
    VARIANT* Put() {
        VariantClear(this);
        return this;
    }
    VARIANT Detach() {
        VARIANT r = *this;
        VariantInit(this);
        return r;
    }
};

}  // namespace velk
