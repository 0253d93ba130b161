// Interface descriptions read from ITypeInfo: members grouped by DISPID with the
// parameters of each invoke kind, their names and help strings. Built once per interface
// and kept as plain data, so no type-information object stays alive.
#include <cstring>
#include <map>
#include <unordered_map>

#include "binding.h"

namespace velkpy {
namespace {

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string TypeName(ITypeInfo* owner, const TYPEDESC& t) {
    switch (t.vt) {
        case VT_PTR: return t.lptdesc ? TypeName(owner, *t.lptdesc) : "any";
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> ref;
            if (SUCCEEDED(owner->GetRefTypeInfo(t.hreftype, ref.Put()))) {
                BSTR name = nullptr;
                ref->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
                return Narrow(velk::Bstr::Adopt(name).Get());
            }
            return "int";
        }
        case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT: return "int";
        case VT_R4: case VT_R8: return "float";
        case VT_BOOL: return "bool";
        case VT_BSTR: return "str";
        case VT_DISPATCH: return "object";
        case VT_UNKNOWN: return "object";
        case VT_VARIANT: return "any";
        case VT_VOID: case VT_HRESULT: return "";
        default: return "any";
    }
}

std::string GuidKey(const GUID& g) { return std::string(reinterpret_cast<const char*>(&g), sizeof g); }

// Process-wide: interfaces are static descriptions. Used with the GIL held.
std::map<std::string, std::shared_ptr<const TypeDesc>>& Cache() {
    static auto* cache = new std::map<std::string, std::shared_ptr<const TypeDesc>>();
    return *cache;
}
std::unordered_map<const void*, std::shared_ptr<const TypeDesc>>& VtableCache() {
    static auto* cache = new std::unordered_map<const void*, std::shared_ptr<const TypeDesc>>();
    return *cache;
}

// "Name(a: int, b: str=..., &c) -> type": `&` marks by-reference parameters, `=...`
// optional ones.
std::string SignatureText(const Signature& s, const std::string& name, bool call) {
    std::string r = name;
    if (call) {
        r += "(";
        for (size_t i = 0; i < s.params.size(); ++i) {
            const ParamDesc& p = s.params[i];
            if (i) r += ", ";
            if (p.out) r += "&";
            r += p.name;
            if (!p.out && !p.type.empty()) r += ": " + p.type;
            if (p.optional && !p.out) r += "=...";
        }
        r += ")";
    }
    if (s.retval) r += " -> " + (s.retType.empty() ? std::string("any") : s.retType);
    return r;
}

}  // namespace

std::string Narrow(BSTR text) {
    std::string r;
    if (!text) return r;
    UINT n = SysStringLen(text);
    r.reserve(n);
    for (UINT i = 0; i < n; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            r.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            r.push_back(static_cast<char>(0xC0 | (c >> 6)));
            r.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            r.push_back(static_cast<char>(0xE0 | (c >> 12)));
            r.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            r.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            r.push_back(static_cast<char>(0xF0 | (c >> 18)));
            r.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            r.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            r.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return r;
}

size_t Signature::RequiredInputs() const {
    size_t n = 0;
    for (const ParamDesc& p : params)
        if (!p.out && !p.optional) ++n;
    return n;
}

std::string MemberDesc::Doc(bool includeHelp) const {
    std::string r;
    if (method.present) {
        r = SignatureText(method, name, true);
    } else if (get.present && get.RequiredInputs() == 0) {
        r = name + ": " + (get.retType.empty() ? "any" : get.retType);
        r += (put.present || putref.present) ? "  (property)" : "  (read-only property)";
    } else if (get.present) {
        r = SignatureText(get, name, true);
        if (put.present || putref.present) r += "  (settable as " + name + "[...] = value)";
    } else if (put.present || putref.present) {
        const Signature& s = put.present ? put : putref;
        r = name + "  (write-only property";
        if (s.params.size() > 1) r += ", set as " + name + "[...] = value";
        r += ")";
    } else {
        r = name;
    }
    if (includeHelp && !help.empty()) r += "\n    " + help;
    return r;
}

const MemberDesc* TypeDesc::Find(std::string_view name) const {
    // Exact spelling first (no allocation for the common case), then case-insensitive.
    if (auto it = byName.find(name); it != byName.end()) return &members[it->second];
    if (auto it = byLowerName.find(Lower(name)); it != byLowerName.end()) return &members[it->second];
    return nullptr;
}

const MemberDesc* TypeDesc::Find(PyObject* name, std::string_view text) const {
    if (auto it = byInterned.find(name); it != byInterned.end()) return it->second;
    const MemberDesc* m = Find(text);
    if (m && PyUnicode_CHECK_INTERNED(name)) {
        byInterned.emplace(name, m);
        Py_INCREF(name);
    }
    return m;
}

TypeDesc::~TypeDesc() {
    for (auto& [name, member] : byInterned) Py_DECREF(name);
}

const MemberDesc* TypeDesc::FindId(DISPID id) const {
    for (const MemberDesc& m : members)
        if (m.id == id) return &m;
    return nullptr;
}

std::string TypeDesc::Doc() const {
    std::string r = name;
    if (!help.empty()) r += ": " + help;
    r += "\n\nMembers (late bound; names are case-insensitive):\n";
    for (const MemberDesc& m : members) {
        if (m.hidden) continue;
        std::string d = m.Doc();
        r += "\n  ";
        for (char c : d) {
            r.push_back(c);
            if (c == '\n') r += "  ";
        }
    }
    bool enumerable = FindId(DISPID_NEWENUM) != nullptr;
    const MemberDesc* def = FindId(DISPID_VALUE);
    bool byRef = false;
    for (const MemberDesc& m : members)
        for (const Signature* s : {&m.method, &m.get})
            for (const ParamDesc& p : s->params) byRef = byRef || p.out;
    r += "\n";
    if (byRef)
        r += "\n  &Name: a by-reference parameter; when left out, its value is returned after the "
             "result\n  (one value alone, else a tuple).";
    if (def) r += "\n  obj[...] and obj(...) call the default member " + def->name + ".";
    if (enumerable) r += "\n  Iterating the object enumerates its items.";
    r += "\n";
    return r;
}

std::shared_ptr<const TypeDesc> DescribeTypeInfo(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr)) || !attr) return nullptr;
    const GUID guid = attr->guid;
    const WORD funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    // Interfaces without an identity (GUID_NULL) are described each time, never cached.
    const bool cacheable = !(guid == GUID_NULL);
    if (cacheable) {
        auto it = Cache().find(GuidKey(guid));
        if (it != Cache().end()) return it->second;
    }

    auto desc = std::make_shared<TypeDesc>();
    desc->iid = guid;
    {
        BSTR name = nullptr, doc = nullptr;
        info->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
        desc->name = Narrow(velk::Bstr::Adopt(name).Get());
        desc->help = Narrow(velk::Bstr::Adopt(doc).Get());
    }
    std::map<DISPID, size_t> byId;
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f)) || !f) continue;
        size_t index;
        if (auto it = byId.find(f->memid); it != byId.end()) {
            index = it->second;
        } else {
            index = desc->members.size();
            byId.emplace(f->memid, index);
            MemberDesc m;
            m.id = f->memid;
            BSTR name = nullptr, doc = nullptr;
            info->GetDocumentation(f->memid, &name, &doc, nullptr, nullptr);
            m.name = Narrow(velk::Bstr::Adopt(name).Get());
            m.help = Narrow(velk::Bstr::Adopt(doc).Get());
            desc->members.push_back(std::move(m));
        }
        MemberDesc& m = desc->members[index];
        if (f->wFuncFlags & (FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED)) m.hidden = true;

        Signature* sig = &m.method;
        switch (f->invkind) {
            case INVOKE_PROPERTYGET: sig = &m.get; break;
            case INVOKE_PROPERTYPUT: sig = &m.put; break;
            case INVOKE_PROPERTYPUTREF: sig = &m.putref; break;
            default: break;
        }
        sig->present = true;
        const UINT count = f->cParams > 0 ? static_cast<UINT>(f->cParams) : 0;
        std::vector<BSTR> names(count + 1, nullptr);
        UINT got = 0;
        info->GetNames(f->memid, names.data(), count + 1, &got);
        for (UINT k = 0; k < count; ++k) {
            const ELEMDESC& e = f->lprgelemdescParam[k];
            ParamDesc p;
            p.name = (k + 1 < got) ? Narrow(names[k + 1]) : std::string();
            if (p.name.empty()) p.name = (k + 1 == count && sig != &m.method && sig != &m.get) ? "value" : "arg" + std::to_string(k + 1);
            p.type = TypeName(info, e.tdesc);
            const USHORT flags = e.paramdesc.wParamFlags;
            p.out = (flags & PARAMFLAG_FOUT) || e.tdesc.vt == VT_PTR;
            p.optional = (flags & PARAMFLAG_FOPT) != 0;
            sig->params.push_back(std::move(p));
        }
        for (BSTR b : names) SysFreeString(b);
        const VARTYPE rt = f->elemdescFunc.tdesc.vt;
        sig->retval = !(rt == VT_VOID || rt == VT_HRESULT || rt == VT_EMPTY);
        if (sig->retval) sig->retType = TypeName(info, f->elemdescFunc.tdesc);
        info->ReleaseFuncDesc(f);
    }
    for (size_t i = 0; i < desc->members.size(); ++i) {
        desc->byName.emplace(desc->members[i].name, i);
        desc->byLowerName.emplace(Lower(desc->members[i].name), i);
    }
    std::shared_ptr<const TypeDesc> result = std::move(desc);
    if (cacheable) Cache().emplace(GuidKey(guid), result);
    return result;
}

std::shared_ptr<const TypeDesc> DescribeObject(IDispatch* object) {
    if (!object) return nullptr;
    // Objects that share a vtable are of one class, whose type information is static: the
    // description found for the first is reused for the others without asking again (a
    // wrapper is made for every object a call returns). Identified interfaces only.
    const void* vtable = *reinterpret_cast<const void* const*>(object);
    auto& byVtable = VtableCache();
    if (auto it = byVtable.find(vtable); it != byVtable.end()) return it->second;
    UINT count = 0;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0) return nullptr;
    ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfo(0, 0, info.Put())) || !info) return nullptr;
    std::shared_ptr<const TypeDesc> desc = DescribeTypeInfo(info.Get());
    if (desc && !(desc->iid == GUID_NULL)) byVtable.emplace(vtable, desc);
    return desc;
}

}  // namespace velkpy
