// ITypeInfo and ITypeLib over the static member tables: enough for hosts to list classes,
// interfaces, members (names, DISPIDs, kinds, parameter names and types, help strings) and
// enumerations (constants and help strings).
#include <cstring>
#include <string>

#include "runtime/dispatch.h"
#include "runtime/object.h"

namespace velk::rt {
namespace {

constexpr MEMBERID kMemberIdNil = -1;

BSTR AsciiBstr(const char* s) {
    if (!s) return nullptr;
    size_t n = std::strlen(s);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (b)
        for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(s[i]);
    return b;
}

void SetOut(BSTR* out, const char* s) {
    if (out) *out = AsciiBstr(s);
}

// Index of the enumeration named `name` in the library, or -1.
int EnumIndex(const LibraryDef* lib, const char* name) {
    if (!lib || !name) return -1;
    for (size_t i = 0; i < lib->enumCount; ++i)
        if (std::strcmp(lib->enums[i]->name, name) == 0) return static_cast<int>(i);
    return -1;
}

// Interface references are numbered after the enumerations' (kInterfaceRefBase + index).
constexpr HREFTYPE kInterfaceRefBase = 0x10000;

int InterfaceIndex(const LibraryDef* lib, const char* name) {
    if (!lib || !name) return -1;
    for (size_t i = 0; i < lib->interfaceCount; ++i)
        if (std::strcmp(lib->interfaces[i]->name, name) == 0) return static_cast<int>(i);
    return -1;
}

// Enumerations and the library's own interfaces are VT_USERDEFINED references, so type
// browsers show their names; everything else is its plain automation type.
void DescribeType(const CppParam& p, const LibraryDef* lib, TYPEDESC* td) {
    VARTYPE base = p.vt & ~VT_BYREF;
    td->lptdesc = nullptr;
    int e = (base == VT_I4) ? EnumIndex(lib, p.typeName) : -1;
    int i = (base == VT_DISPATCH || base == VT_UNKNOWN) ? InterfaceIndex(lib, p.typeName) : -1;
    if (e >= 0) {
        td->vt = VT_USERDEFINED;
        td->hreftype = static_cast<HREFTYPE>(e);
    } else if (i >= 0) {
        td->vt = VT_USERDEFINED;
        td->hreftype = kInterfaceRefBase + static_cast<HREFTYPE>(i);
    } else {
        td->vt = base;
    }
}

class TypeInfo : public Object<TypeInfo, ITypeInfo> {
public:
    enum class Kind { Interface, Enum, Class };
    explicit TypeInfo(const InterfaceDef& itf)
        : kind_(Kind::Interface), itf_(&itf), lib_(itf.library ? itf.library() : nullptr) {}
    TypeInfo(const EnumDef& e, const LibraryDef* lib) : kind_(Kind::Enum), enum_(&e), lib_(lib) {}
    TypeInfo(const ClassDef& c, const LibraryDef* lib) : kind_(Kind::Class), class_(&c), lib_(lib) {}

    STDMETHOD(GetTypeAttr)(TYPEATTR** out) override {
        if (!out) return E_POINTER;
        auto* a = new (std::nothrow) TYPEATTR{};
        if (!a) return E_OUTOFMEMORY;
        a->memidConstructor = kMemberIdNil;
        a->memidDestructor = kMemberIdNil;
        a->cbAlignment = 8;
        if (lib_) {
            a->wMajorVerNum = lib_->major;
            a->wMinorVerNum = lib_->minor;
        }
        switch (kind_) {
            case Kind::Interface:
                a->guid = *itf_->iid;
                a->typekind = TKIND_DISPATCH;
                a->cFuncs = static_cast<WORD>(itf_->count);
                a->cImplTypes = 1;
                a->wTypeFlags = itf_->dispinterface ? TYPEFLAG_FDISPATCHABLE
                                                    : (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
                break;
            case Kind::Enum:
                a->guid = GUID_NULL;
                a->typekind = TKIND_ENUM;
                a->cVars = static_cast<WORD>(enum_->count);
                break;
            case Kind::Class:
                a->guid = *class_->clsid;
                a->typekind = TKIND_COCLASS;
                a->cImplTypes = class_->eventInterface ? 2 : 1;
                a->wTypeFlags = TYPEFLAG_FCANCREATE | (class_->control ? TYPEFLAG_FCONTROL : 0);
                break;
        }
        *out = a;
        return S_OK;
    }

    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (kind_ != Kind::Interface || index >= itf_->count) return TYPE_E_ELEMENTNOTFOUND;
        const ResolvedMember& m = Resolve(*itf_, index);
        auto* f = new (std::nothrow) FUNCDESC{};
        if (!f) return E_OUTOFMEMORY;
        f->memid = m.def->dispid;
        f->funckind = FUNC_DISPATCH;
        f->invkind = static_cast<INVOKEKIND>(m.def->kind);
        f->callconv = CC_STDCALL;
        f->cParams = static_cast<SHORT>(m.dispatchParams);
        f->wFuncFlags = m.def->flags;
        if (m.dispatchParams) {
            f->lprgelemdescParam = new (std::nothrow) ELEMDESC[m.dispatchParams]{};
            if (!f->lprgelemdescParam) {
                delete f;
                return E_OUTOFMEMORY;
            }
            for (UINT p = 0; p < m.dispatchParams; ++p) {
                ELEMDESC& e = f->lprgelemdescParam[p];
                DescribeType(m.params[p].type, lib_, &e.tdesc);
                if (m.params[p].type.vt & VT_BYREF) {
                    // by-reference parameters read as VT_PTR to the base type
                    auto* inner = new (std::nothrow) TYPEDESC(e.tdesc);
                    e.tdesc.vt = VT_PTR;
                    e.tdesc.lptdesc = inner;
                }
                e.paramdesc.wParamFlags = m.params[p].flags;
                if (m.params[p].flags & PARAMFLAG_FHASDEFAULT) {
                    auto* ex = new (std::nothrow) PARAMDESCEX{};
                    if (ex) {
                        ex->cBytes = sizeof(PARAMDESCEX);
                        VariantInit(&ex->varDefaultValue);
                        VariantCopy(&ex->varDefaultValue, &m.params[p].defaultValue);
                    }
                    e.paramdesc.pparamdescex = ex;
                }
                if ((m.params[p].flags & PARAMFLAG_FOPT) &&
                    !(m.params[p].flags & PARAMFLAG_FHASDEFAULT))
                    ++f->cParamsOpt;
            }
        }
        if (m.def->binding.retval)
            DescribeType(m.params[m.def->binding.count - 1].type, lib_, &f->elemdescFunc.tdesc);
        else
            f->elemdescFunc.tdesc.vt = itf_->dispinterface ? VT_VOID : VT_HRESULT;
        *out = f;
        return S_OK;
    }

    STDMETHOD(GetVarDesc)(UINT index, VARDESC** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (kind_ != Kind::Enum || index >= enum_->count) return TYPE_E_ELEMENTNOTFOUND;
        auto* v = new (std::nothrow) VARDESC{};
        if (!v) return E_OUTOFMEMORY;
        v->memid = static_cast<MEMBERID>(index);
        v->varkind = VAR_CONST;
        v->elemdescVar.tdesc.vt = VT_I4;
        v->lpvarValue = new (std::nothrow) VARIANT;
        if (v->lpvarValue) {
            VariantInit(v->lpvarValue);
            v->lpvarValue->vt = VT_I4;
            v->lpvarValue->lVal = enum_->constants[index].value;
        }
        *out = v;
        return S_OK;
    }

    STDMETHOD(GetNames)(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
        if (!names || !count) return E_POINTER;
        *count = 0;
        if (kind_ == Kind::Enum) {
            if (memid < 0 || static_cast<size_t>(memid) >= enum_->count || max == 0)
                return TYPE_E_ELEMENTNOTFOUND;
            names[0] = AsciiBstr(enum_->constants[memid].name);
            *count = 1;
            return S_OK;
        }
        if (kind_ != Kind::Interface) return TYPE_E_ELEMENTNOTFOUND;
        for (size_t i = 0; i < itf_->count; ++i) {
            if (itf_->members[i].dispid != memid) continue;
            const ResolvedMember& m = Resolve(*itf_, i);
            if (max == 0) return S_OK;
            names[(*count)++] = AsciiBstr(m.def->name);
            for (UINT p = 0; p < m.dispatchParams && *count < max; ++p)
                names[(*count)++] = AsciiBstr(m.params[p].name);
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }

    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* out) override {
        if (!out) return E_POINTER;
        if (kind_ == Kind::Class) {
            if (index == 0 || (index == 1 && class_->eventInterface)) {
                *out = index;
                return S_OK;
            }
        } else if (kind_ == Kind::Interface && index == 0) {
            *out = kImplIDispatch;
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* out) override {
        if (!out) return E_POINTER;
        if (kind_ != Kind::Class) return TYPE_E_ELEMENTNOTFOUND;
        if (index == 0) {
            *out = IMPLTYPEFLAG_FDEFAULT;
            return S_OK;
        }
        if (index == 1 && class_->eventInterface) {
            *out = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetIDsOfNames)(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if (kind_ != Kind::Interface) return DISP_E_UNKNOWNNAME;
        return DispatchGetIDsOfNames(*itf_, names, count, ids);
    }
    STDMETHOD(Invoke)(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (kind_ != Kind::Interface || !instance) return E_INVALIDARG;
        return DispatchInvoke(*itf_, instance, memid, flags, params, result, excep, argErr);
    }
    STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context,
                                BSTR* helpFile) override {
        if (context) *context = 0;
        SetOut(helpFile, lib_ ? lib_->helpFile : nullptr);
        const char* n = nullptr;
        const char* h = nullptr;
        bool found = false;
        if (memid == kMemberIdNil) {
            found = true;
            switch (kind_) {
                case Kind::Interface: n = itf_->name, h = itf_->help; break;
                case Kind::Enum: n = enum_->name, h = enum_->help; break;
                case Kind::Class: n = class_->name, h = class_->help; break;
            }
        } else if (kind_ == Kind::Interface) {
            for (size_t i = 0; i < itf_->count && !found; ++i) {
                if (itf_->members[i].dispid == memid) {
                    n = itf_->members[i].name;
                    h = itf_->members[i].help;
                    found = true;
                }
            }
        } else if (kind_ == Kind::Enum && memid >= 0 &&
                   static_cast<size_t>(memid) < enum_->count) {
            n = enum_->constants[memid].name;
            h = enum_->constants[memid].help;
            found = true;
        }
        if (!found) {
            if (helpFile) SysFreeString(*helpFile), *helpFile = nullptr;
            return TYPE_E_ELEMENTNOTFOUND;
        }
        SetOut(name, n);
        SetOut(doc, h);
        return S_OK;
    }
    STDMETHOD(GetRefTypeInfo)(HREFTYPE ref, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (kind_ == Kind::Class) {
            if (ref == 0) return CreateTypeInfo(*class_->defaultInterface, out);
            if (ref == 1 && class_->eventInterface)
                return CreateTypeInfo(*class_->eventInterface, out);
            return TYPE_E_ELEMENTNOTFOUND;
        }
        if (ref == kImplIDispatch || !lib_) return TYPE_E_ELEMENTNOTFOUND;
        if (ref >= kInterfaceRefBase && ref - kInterfaceRefBase < lib_->interfaceCount)
            return CreateTypeInfo(*lib_->interfaces[ref - kInterfaceRefBase], out);
        if (ref >= lib_->enumCount) return TYPE_E_ELEMENTNOTFOUND;
        return CreateEnumTypeInfo(*lib_->enums[ref], lib_, out);
    }
    STDMETHOD(GetContainingTypeLib)(ITypeLib** out, UINT* index) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!lib_) return E_NOTIMPL;
        if (index) *index = IndexInLibrary();
        return CreateTypeLib(*lib_, out);
    }
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* a) override { delete a; }
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* f) override {
        if (!f) return;
        for (SHORT p = 0; p < f->cParams && f->lprgelemdescParam; ++p) {
            ELEMDESC& e = f->lprgelemdescParam[p];
            if (e.tdesc.vt == VT_PTR) delete e.tdesc.lptdesc;
            if (e.paramdesc.pparamdescex) {
                VariantClear(&e.paramdesc.pparamdescex->varDefaultValue);
                delete e.paramdesc.pparamdescex;
            }
        }
        delete[] f->lprgelemdescParam;
        delete f;
    }
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* v) override {
        if (!v) return;
        if (v->lpvarValue) {
            VariantClear(v->lpvarValue);
            delete v->lpvarValue;
        }
        delete v;
    }

private:
    static constexpr HREFTYPE kImplIDispatch = 0xFFFF0000u;

    UINT IndexInLibrary() const {
        UINT i = 0;
        for (size_t k = 0; k < lib_->interfaceCount; ++k, ++i)
            if (kind_ == Kind::Interface && lib_->interfaces[k] == itf_) return i;
        for (size_t k = 0; k < lib_->enumCount; ++k, ++i)
            if (kind_ == Kind::Enum && lib_->enums[k] == enum_) return i;
        for (size_t k = 0; k < lib_->classCount; ++k, ++i)
            if (kind_ == Kind::Class && lib_->classes[k] == class_) return i;
        return 0;
    }

    Kind kind_;
    const InterfaceDef* itf_ = nullptr;
    const EnumDef* enum_ = nullptr;
    const ClassDef* class_ = nullptr;
    const LibraryDef* lib_;
};

class TypeLib : public Object<TypeLib, ITypeLib> {
public:
    explicit TypeLib(const LibraryDef& lib) : lib_(lib) {}

    STDMETHOD_(UINT, GetTypeInfoCount)() override {
        return static_cast<UINT>(lib_.interfaceCount + lib_.enumCount + lib_.classCount);
    }
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index < lib_.interfaceCount) return CreateTypeInfo(*lib_.interfaces[index], out);
        index -= static_cast<UINT>(lib_.interfaceCount);
        if (index < lib_.enumCount) return CreateEnumTypeInfo(*lib_.enums[index], &lib_, out);
        index -= static_cast<UINT>(lib_.enumCount);
        if (index < lib_.classCount) return CreateClassTypeInfo(*lib_.classes[index], &lib_, out);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* out) override {
        if (!out) return E_POINTER;
        if (index < lib_.interfaceCount) {
            *out = TKIND_DISPATCH;
        } else if (index < lib_.interfaceCount + lib_.enumCount) {
            *out = TKIND_ENUM;
        } else if (index < GetTypeInfoCount()) {
            *out = TKIND_COCLASS;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        return S_OK;
    }
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        for (size_t i = 0; i < lib_.interfaceCount; ++i)
            if (*lib_.interfaces[i]->iid == guid) return CreateTypeInfo(*lib_.interfaces[i], out);
        for (size_t i = 0; i < lib_.classCount; ++i)
            if (*lib_.classes[i]->clsid == guid)
                return CreateClassTypeInfo(*lib_.classes[i], &lib_, out);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetLibAttr)(TLIBATTR** out) override {
        if (!out) return E_POINTER;
        auto* a = new (std::nothrow) TLIBATTR{};
        if (!a) return E_OUTOFMEMORY;
        a->guid = *lib_.guid;
        a->syskind = SYS_WIN64;
        a->wMajorVerNum = lib_.major;
        a->wMinorVerNum = lib_.minor;
        *out = a;
        return S_OK;
    }
    STDMETHOD(GetDocumentation)(INT index, BSTR* name, BSTR* doc, DWORD* context,
                                BSTR* helpFile) override {
        if (index == -1) {
            SetOut(name, lib_.name);
            SetOut(doc, lib_.help);
            if (context) *context = 0;
            SetOut(helpFile, lib_.helpFile);
            return S_OK;
        }
        ComPtr<ITypeInfo> info;
        if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
        if (HRESULT hr = GetTypeInfo(static_cast<UINT>(index), info.Put()); FAILED(hr)) return hr;
        return info->GetDocumentation(kMemberIdNil, name, doc, context, helpFile);
    }
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* a) override { delete a; }

private:
    const LibraryDef& lib_;
};

template <class... A>
HRESULT Make(ITypeInfo** out, A&&... args) {
    if (!out) return E_POINTER;
    auto info = MakeObject<TypeInfo>(std::forward<A>(args)...);
    if (!info) return E_OUTOFMEMORY;
    *out = info.Detach();
    return S_OK;
}

}  // namespace

HRESULT CreateTypeInfo(const InterfaceDef& itf, ITypeInfo** out) { return Make(out, itf); }
HRESULT CreateEnumTypeInfo(const EnumDef& e, const LibraryDef* lib, ITypeInfo** out) {
    return Make(out, e, lib);
}
HRESULT CreateClassTypeInfo(const ClassDef& c, const LibraryDef* lib, ITypeInfo** out) {
    return Make(out, c, lib);
}
HRESULT CreateTypeLib(const LibraryDef& lib, ITypeLib** out) {
    if (!out) return E_POINTER;
    auto tl = MakeObject<TypeLib>(lib);
    if (!tl) return E_OUTOFMEMORY;
    *out = tl.Detach();
    return S_OK;
}

}  // namespace velk::rt
