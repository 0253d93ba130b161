// velk-typelib: prints the library's type information (classes, interfaces with their
// members, DISPIDs, parameters and help strings, enumerations) as the runtime describes it.
#include <velk/snmp.h>
#include <velk/sock.h>

#include <cstdio>
#include <string>

namespace {

using velk::Bstr;
using velk::ComPtr;

std::string Text(BSTR b) { return Bstr::Adopt(b).ToAnsi(); }

std::string TypeName(ITypeInfo* owner, const TYPEDESC& t) {
    switch (t.vt) {
        case VT_PTR: return t.lptdesc ? TypeName(owner, *t.lptdesc) + "*" : "void*";
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> ref;
            if (SUCCEEDED(owner->GetRefTypeInfo(t.hreftype, ref.Put()))) {
                BSTR name = nullptr;
                ref->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
                TYPEATTR* attr = nullptr;
                bool isInterface = SUCCEEDED(ref->GetTypeAttr(&attr)) && attr->typekind != TKIND_ENUM;
                if (attr) ref->ReleaseTypeAttr(attr);
                return Text(name) + (isInterface ? "*" : "");
            }
            return "enum";
        }
        case VT_I4: return "long";
        case VT_UI4: return "unsigned long";
        case VT_I2: return "short";
        case VT_UI1: return "byte";
        case VT_R8: return "double";
        case VT_I8: return "hyper";
        case VT_BOOL: return "VARIANT_BOOL";
        case VT_BSTR: return "BSTR";
        case VT_VARIANT: return "VARIANT";
        case VT_DISPATCH: return "IDispatch*";
        case VT_UNKNOWN: return "IUnknown*";
        case VT_VOID: return "void";
        case VT_HRESULT: return "HRESULT";
        default: return "vt" + std::to_string(t.vt);
    }
}

const char* KindName(INVOKEKIND k) {
    switch (k) {
        case INVOKE_PROPERTYGET: return "propget";
        case INVOKE_PROPERTYPUT: return "propput";
        case INVOKE_PROPERTYPUTREF: return "propputref";
        default: return "method";
    }
}

void PrintInterface(ITypeInfo* info, const char* role) {
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    std::string n = Text(name), d = Text(doc);
    std::printf("    %s %s%s%s\n", role, n.c_str(), d.empty() ? "" : "  -- ", d.c_str());
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        BSTR names[16] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 16, &count);
        std::string member = count ? Text(names[0]) : "?";
        std::string params;
        for (SHORT p = 0; p < f->cParams; ++p) {
            if (p) params += ", ";
            const ELEMDESC& e = f->lprgelemdescParam[p];
            if (e.paramdesc.wParamFlags & PARAMFLAG_FOPT) params += "[optional] ";
            params += TypeName(info, e.tdesc) + " ";
            params += (static_cast<UINT>(p) + 1 < count) ? Text(names[p + 1]) : "value";
        }
        for (UINT k = static_cast<UINT>(f->cParams) + 1; k < count; ++k) SysFreeString(names[k]);
        BSTR help = nullptr;
        info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
        std::string h = Text(help);
        std::printf("      [id %4d] %-10s %s %s(%s)%s%s%s\n", static_cast<int>(f->memid),
                    KindName(f->invkind), TypeName(info, f->elemdescFunc.tdesc).c_str(),
                    member.c_str(), params.c_str(), h.empty() ? "" : "  \"", h.c_str(),
                    h.empty() ? "" : "\"");
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
}

void PrintEnum(ITypeInfo* info) {
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    std::string n = Text(name), d = Text(doc);
    std::printf("  enum %s%s%s\n", n.c_str(), d.empty() ? "" : "  -- ", d.c_str());
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* v = nullptr;
        if (FAILED(info->GetVarDesc(i, &v))) continue;
        BSTR cname = nullptr, chelp = nullptr;
        info->GetDocumentation(v->memid, &cname, &chelp, nullptr, nullptr);
        std::string cn = Text(cname), ch = Text(chelp);
        std::printf("    %-34s = %6d%s%s%s\n", cn.c_str(), static_cast<int>(v->lpvarValue->lVal),
                    ch.empty() ? "" : "  \"", ch.c_str(), ch.empty() ? "" : "\"");
        info->ReleaseVarDesc(v);
    }
    info->ReleaseTypeAttr(attr);
}

int PrintLibrary(REFGUID libid) {
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadRegTypeLib(libid, 1, 0, 0, lib.Put()))) {
        std::fprintf(stderr, "velk-typelib: type library not registered\n");
        return 1;
    }
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, &file);
    std::string n = Text(name), d = Text(doc), f = Text(file);
    std::printf("library %s  \"%s\"  (help file %s)\n", n.c_str(), d.c_str(), f.c_str());
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ComPtr<ITypeInfo> cls;
        if (FAILED(lib->GetTypeInfo(i, cls.Put()))) continue;
        TYPEATTR* attr = nullptr;
        cls->GetTypeAttr(&attr);
        BSTR cname = nullptr, chelp = nullptr;
        cls->GetDocumentation(-1, &cname, &chelp, nullptr, nullptr);
        LPOLESTR progId = nullptr;
        std::string pid = "(not available yet)";
        if (SUCCEEDED(ProgIDFromCLSID(attr->guid, &progId))) {
            pid.clear();
            for (LPOLESTR p = progId; *p; ++p) pid.push_back(static_cast<char>(*p));
            CoTaskMemFree(progId);
        }
        std::string cn = Text(cname), ch = Text(chelp);
        std::printf("\n  class %s  ProgID %s%s%s\n", cn.c_str(), pid.c_str(),
                    ch.empty() ? "" : "  -- ", ch.c_str());
        for (UINT k = 0; k < attr->cImplTypes; ++k) {
            HREFTYPE ref;
            INT flags = 0;
            ComPtr<ITypeInfo> itf;
            if (FAILED(cls->GetRefTypeOfImplType(k, &ref)) ||
                FAILED(cls->GetRefTypeInfo(ref, itf.Put())))
                continue;
            cls->GetImplTypeFlags(k, &flags);
            PrintInterface(itf.Get(), (flags & IMPLTYPEFLAG_FSOURCE) ? "events" : "interface");
        }
        cls->ReleaseTypeAttr(attr);
    }
    std::printf("\n");
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_ENUM) continue;
        ComPtr<ITypeInfo> e;
        if (SUCCEEDED(lib->GetTypeInfo(i, e.Put()))) PrintEnum(e.Get());
    }
    return 0;
}

}  // namespace

int main() {
    int rc = PrintLibrary(LIBID_VelkSnmp);
    std::printf("\n");
    return rc | PrintLibrary(LIBID_VelkSock);
}
