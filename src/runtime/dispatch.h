// The one IDispatch implementation: interfaces are described by static member tables
// (name, DISPID, kind, help string, parameter names) bound to the C++ vtable member by a
// member-function pointer. Argument coercion, optional parameters, retval handling and
// EXCEPINFO are done once here, generically. The same tables feed ITypeInfo.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>
#include <utility>
#include <cstdint>
#include <type_traits>

#include "velk/com.h"
#include "velk/oleauto.h"

namespace velk::rt {

enum class MemberKind : uint8_t {
    Method = INVOKE_FUNC,
    PropGet = INVOKE_PROPERTYGET,
    PropPut = INVOKE_PROPERTYPUT,
    PropPutRef = INVOKE_PROPERTYPUTREF,
};

// The automation type of one C++ parameter, deduced from the signature.
struct CppParam {
    VARTYPE vt;            // VT_I4, VT_BSTR, VT_BOOL, VT_VARIANT, VT_DISPATCH, VT_UNKNOWN, ...;
                           // VT_BYREF added for out parameters that are not the retval
    const IID* iid;        // interface parameters: the interface to QueryInterface for
    const char* typeName;  // interface or enumeration name, or null
};

// Calls the bound member. `args` holds one coerced VARIANT per dispatch parameter in
// declaration order (VT_BYREF for pointer parameters); `result` receives the retval.
using InvokeFn = HRESULT (*)(void* iface, VARIANT* args, VARIANT* result);

struct Binding {
    InvokeFn invoke;          // null for event (dispinterface) members
    const CppParam* params;   // all C++ parameters, the retval included
    uint8_t count;
    bool retval;              // the last C++ parameter is [out, retval]
};

constexpr WORD kMemberHidden = FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED;

struct MemberDef {
    const char* name;
    DISPID dispid;
    MemberKind kind;
    const char* help;      // may be null (no help string)
    // Parameter names, comma separated, in C++ order including the retval. A name ending in
    // '?' is optional without default (VARIANT: VT_ERROR/DISP_E_PARAMNOTFOUND); "Name=5",
    // "Name=-1" or "Name=\"text\"" is optional with that default value.
    const char* params;
    Binding binding;
    WORD flags = 0;
};

struct LibraryDef;

struct InterfaceDef {
    const char* name;
    const IID* iid;
    const char* help;
    const MemberDef* members;
    size_t count;
    bool dispinterface;               // event interfaces: described, never invoked
    const LibraryDef* (*library)();   // containing type library, may be null
};

struct EnumConstantDef {
    const char* name;
    LONG value;
    const char* help;
};

struct EnumDef {
    const char* name;
    const char* help;
    const EnumConstantDef* constants;
    size_t count;
};

struct ClassDef {
    const char* name;            // "SnmpMessage"
    const char* progId;          // "Velk.SnmpMessage"; the versioned form appends ".1"
    const CLSID* clsid;
    const char* help;
    const InterfaceDef* defaultInterface;
    const InterfaceDef* eventInterface;  // may be null
    bool control;
};

struct LibraryDef {
    const char* name;
    const char* help;
    const char* helpFile;
    const GUID* guid;
    WORD major, minor;
    const InterfaceDef* const* interfaces;
    size_t interfaceCount;
    const EnumDef* const* enums;
    size_t enumCount;
    const ClassDef* const* classes;
    size_t classCount;
};

// Resolved parameter list of a member (parsed once from MemberDef::params).
struct ParamInfo {
    const char* name;       // points into a per-member arena, NUL terminated
    CppParam type;
    USHORT flags;           // PARAMFLAG_*
    VARIANT defaultValue;   // VT_EMPTY when there is none
};
struct ResolvedMember {
    const MemberDef* def;
    ParamInfo* params;      // binding.count entries
    UINT dispatchParams;    // parameters a caller passes (the retval excluded)
    UINT required;          // leading parameters that are not optional
};
const ResolvedMember& Resolve(const InterfaceDef& itf, size_t memberIndex);

// The generic IDispatch entry points over a table. `iface` is the object's I* pointer.
HRESULT DispatchGetIDsOfNames(const InterfaceDef& itf, LPOLESTR* names, UINT count,
                              DISPID* ids);
HRESULT DispatchInvoke(const InterfaceDef& itf, void* iface, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* argErr);
// ITypeInfo over a table; ITypeLib over a library.
HRESULT CreateTypeInfo(const InterfaceDef& itf, ITypeInfo** out);
HRESULT CreateEnumTypeInfo(const EnumDef& e, const LibraryDef* lib, ITypeInfo** out);
HRESULT CreateClassTypeInfo(const ClassDef& c, const LibraryDef* lib, ITypeInfo** out);
HRESULT CreateTypeLib(const LibraryDef& lib, ITypeLib** out);

// ---------------------------------------------------------------------------------------
// Deduction of automation types from C++ types.
namespace detail {

template <class T>
struct ParamOf;

template <class T>
constexpr CppParam InParam() {
    if constexpr (std::is_same_v<T, LONG>)
        return {VT_I4, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, ULONG>)
        return {VT_UI4, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
        return {VT_BOOL, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, BYTE>)
        return {VT_UI1, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, DOUBLE>)
        return {VT_R8, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, LONGLONG>)
        return {VT_I8, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, BSTR>)
        return {VT_BSTR, nullptr, nullptr};
    else if constexpr (std::is_same_v<T, VARIANT>)
        return {VT_VARIANT, nullptr, nullptr};
    else if constexpr (std::is_enum_v<T>)
        return {VT_I4, nullptr, kEnumName<T>};
    else if constexpr (std::is_pointer_v<T> &&
                       std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
        using I = std::remove_pointer_t<T>;
        return {std::is_base_of_v<IDispatch, I> ? VT_DISPATCH : VT_UNKNOWN,
                InterfaceTraits<I>::iid_ptr, InterfaceTraits<I>::name};
    } else
        static_assert(sizeof(T) == 0, "parameter type has no automation mapping");
}

// Out parameter T* (retval or by-reference).
template <class T>
constexpr CppParam OutParam() {
    CppParam p = InParam<T>();
    return p;
}

template <class T>
constexpr CppParam ParamFor(bool isRetval) {
    if constexpr (std::is_pointer_v<T> &&
                  !std::is_base_of_v<IUnknown, std::remove_pointer_t<T>> &&
                  !std::is_same_v<T, BSTR>) {
        CppParam p = InParam<std::remove_pointer_t<T>>();
        if (!isRetval) p.vt |= VT_BYREF;
        return p;
    } else {
        return InParam<T>();
    }
}

// Reads a coerced argument as the C++ type T.
template <class T>
T ArgAs(VARIANT& v) {
    if constexpr (std::is_same_v<T, LONG>)
        return v.lVal;
    else if constexpr (std::is_same_v<T, ULONG>)
        return v.ulVal;
    else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
        return v.boolVal;
    else if constexpr (std::is_same_v<T, BYTE>)
        return v.bVal;
    else if constexpr (std::is_same_v<T, DOUBLE>)
        return v.dblVal;
    else if constexpr (std::is_same_v<T, LONGLONG>)
        return v.llVal;
    else if constexpr (std::is_same_v<T, BSTR>)
        return v.bstrVal;
    else if constexpr (std::is_same_v<T, VARIANT>)
        return v;
    else if constexpr (std::is_enum_v<T>)
        return static_cast<T>(v.lVal);
    else if constexpr (std::is_pointer_v<T> &&
                       std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>)
        // The dispatcher stored the QueryInterface result for this exact interface.
        return static_cast<T>(v.byref);
    else  // pointer out-parameters: the dispatcher passes VT_BYREF storage
        return static_cast<T>(v.byref);
}

// Moves a retval of type T into a result VARIANT (ownership passes to the VARIANT).
template <class T>
void StoreResult(T value, VARIANT* out) {
    if constexpr (std::is_same_v<T, LONG> || std::is_enum_v<T>) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(value);
    } else if constexpr (std::is_same_v<T, ULONG>) {
        out->vt = VT_UI4;
        out->ulVal = value;
    } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
        out->vt = VT_BOOL;
        out->boolVal = value;
    } else if constexpr (std::is_same_v<T, BYTE>) {
        out->vt = VT_UI1;
        out->bVal = value;
    } else if constexpr (std::is_same_v<T, DOUBLE>) {
        out->vt = VT_R8;
        out->dblVal = value;
    } else if constexpr (std::is_same_v<T, LONGLONG>) {
        out->vt = VT_I8;
        out->llVal = value;
    } else if constexpr (std::is_same_v<T, BSTR>) {
        out->vt = VT_BSTR;
        out->bstrVal = value;
    } else if constexpr (std::is_same_v<T, VARIANT>) {
        *out = value;
    } else if constexpr (std::is_pointer_v<T> &&
                         std::is_base_of_v<IDispatch, std::remove_pointer_t<T>>) {
        out->vt = VT_DISPATCH;
        out->pdispVal = static_cast<IDispatch*>(value);
    } else if constexpr (std::is_pointer_v<T> &&
                         std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
        out->vt = VT_UNKNOWN;
        out->punkVal = static_cast<IUnknown*>(value);
    } else {
        static_assert(sizeof(T) == 0, "retval type has no automation mapping");
    }
}

template <class T>
T ZeroValue() {
    if constexpr (std::is_same_v<T, VARIANT>) {
        VARIANT v;
        VariantInit(&v);
        return v;
    } else {
        return T{};
    }
}

template <auto Mf, bool Retval>
struct Binder;

template <class I, class... A, HRESULT (I::*Mf)(A...), bool Retval>
struct Binder<Mf, Retval> {
    static constexpr size_t N = sizeof...(A);
    static_assert(!Retval || N > 0, "a retval member needs an out parameter");

    template <size_t... K>
    static constexpr auto MakeParams(std::index_sequence<K...>) {
        if constexpr (N == 0) {
            return std::array<CppParam, 1>{CppParam{VT_EMPTY, nullptr, nullptr}};
        } else {
            return std::array<CppParam, N>{ParamFor<A>(Retval && K == N - 1)...};
        }
    }
    static constexpr auto params = MakeParams(std::index_sequence_for<A...>{});

    template <size_t... K>
    static HRESULT Call(I* self, VARIANT* args, VARIANT* result, std::index_sequence<K...>) {
        if constexpr (Retval) {
            using Tuple = std::tuple<A...>;
            using RetPtr = std::tuple_element_t<N - 1, Tuple>;
            using Ret = std::remove_pointer_t<RetPtr>;
            Ret r = ZeroValue<Ret>();
            HRESULT hr = CallWithRet(self, args, &r, std::make_index_sequence<N - 1>{});
            if (SUCCEEDED(hr) && result) {
                StoreResult<Ret>(r, result);
            } else if (SUCCEEDED(hr)) {
                VARIANT tmp;
                VariantInit(&tmp);
                StoreResult<Ret>(r, &tmp);
                VariantClear(&tmp);
            }
            return hr;
        } else {
            return (self->*Mf)(ArgAs<A>(args[K])...);
        }
    }
    template <class R, size_t... K>
    static HRESULT CallWithRet(I* self, VARIANT* args, R* r, std::index_sequence<K...>) {
        using Tuple = std::tuple<A...>;
        return (self->*Mf)(ArgAs<std::tuple_element_t<K, Tuple>>(args[K])..., r);
    }

    static HRESULT Invoke(void* iface, VARIANT* args, VARIANT* result) {
        return Call(static_cast<I*>(iface), args, result, std::make_index_sequence<Retval ? 1 : N>{});
    }
};

// Parameter types of an event member, from its C++ argument types.
template <class... A>
struct EventParams {
    static constexpr size_t N = sizeof...(A);
    static constexpr auto params = [] {
        if constexpr (N == 0)
            return std::array<CppParam, 1>{CppParam{VT_EMPTY, nullptr, nullptr}};
        else
            return std::array<CppParam, N>{ParamFor<A>(false)...};
    }();
};

}  // namespace detail

template <auto Mf, bool Retval>
constexpr Binding Bind() {
    using B = detail::Binder<Mf, Retval>;
    return Binding{&B::Invoke, B::params.data(), static_cast<uint8_t>(B::N), Retval};
}

template <class... A>
constexpr Binding EventSignature() {
    using E = detail::EventParams<A...>;
    return Binding{nullptr, E::params.data(), static_cast<uint8_t>(sizeof...(A)), false};
}

}  // namespace velk::rt

// Table entries. `I` is the interface, `Name` the member, `Id` the DISPID.
#define VELK_PROPGET(I, Name, Id, Help, Params)                                     \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::PropGet, Help, Params,                     \
            velk::rt::Bind<&I::get_##Name, true>()                                  \
    }
#define VELK_PROPPUT(I, Name, Id, Help, Params)                                     \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::PropPut, Help, Params,                     \
            velk::rt::Bind<&I::put_##Name, false>()                                 \
    }
#define VELK_PROPPUTREF(I, Name, Id, Help, Params)                                  \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::PropPutRef, Help, Params,                  \
            velk::rt::Bind<&I::putref_##Name, false>()                              \
    }
// A method whose last parameter is [out, retval].
#define VELK_METHOD_R(I, Name, Id, Help, Params)                                    \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::Method, Help, Params,                      \
            velk::rt::Bind<&I::Name, true>()                                        \
    }
// A method without retval.
#define VELK_METHOD(I, Name, Id, Help, Params)                                      \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::Method, Help, Params,                      \
            velk::rt::Bind<&I::Name, false>()                                       \
    }
// An event of a dispinterface, with its argument types.
#define VELK_EVENT(Name, Id, Help, Params, ...)                                     \
    velk::rt::MemberDef {                                                           \
        #Name, Id, velk::rt::MemberKind::Method, Help, Params,                      \
            velk::rt::EventSignature<__VA_ARGS__>()                                 \
    }
