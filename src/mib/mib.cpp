// SnmpMib.
#include "mib/mib.h"

#include <algorithm>
#include <new>
#include <unordered_map>
#include <vector>

#include "mib/ansi_text.h"
#include "mib/compiler.h"
#include "mib/loaders.h"
#include "mib/mib_errors.h"

namespace velk::mib {
namespace {

// Clears the busy flag on every path out of Load and Compile.
class BusyScope {
public:
    explicit BusyScope(MibStore& store) : store_(store) { store_.SetBusy(true); }
    ~BusyScope() { store_.SetBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    MibStore& store_;
};

// The Oid of a member: ours in place, a host object's through its interface.
std::u16string_view MemberOid(ISnmpVariable* v, Bstr* holder) {
    if (model::SnmpVariable* own = model::SnmpVariable::From(v)) return own->OidView();
    if (FAILED(v->get_Oid(holder->Put()))) return {};
    return holder->View();
}

// x lies under `prefix`: equal to it, or continuing it after a '.'.
bool LiesUnder(std::u16string_view x, std::u16string_view prefix) {
    return x.starts_with(prefix) && (x.size() == prefix.size() || x[prefix.size()] == u'.');
}

}  // namespace

HRESULT SnmpMib::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpMib); FAILED(hr)) return hr;
    auto mib = rt::MakeObject<SnmpMib>();
    if (!mib) return E_OUTOFMEMORY;
    if (HRESULT hr = MibStore::Create(&mib->store_); FAILED(hr)) return hr;
    return mib->QueryInterface(iid, out);
}

HRESULT SnmpMib::QueryExtraInterface(REFIID iid, void** out) {
    return rt::AnswerOwnIdentity(this, iid, IID_SnmpMibImpl, out);
}

SnmpMib* SnmpMib::From(ISnmpMib* mib) { return rt::OwnObjectBehind<SnmpMib>(mib, IID_SnmpMibImpl); }

HRESULT CreateSnmpMib(ISnmpMib** out) {
    return SnmpMib::CreateInstance(IID_ISnmpMib, reinterpret_cast<void**>(out));
}

HRESULT SnmpMib::get_Modules(IVelkStrings** out) {
    if (!out) return E_POINTER;
    *out = &store_->Modules();
    (*out)->AddRef();
    return S_OK;
}

HRESULT SnmpMib::get_Variables(ISnmpVariables** out) {
    if (!out) return E_POINTER;
    *out = &store_->Variables();
    (*out)->AddRef();
    return S_OK;
}

HRESULT SnmpMib::get_Traps(ISnmpTraps** out) {
    if (!out) return E_POINTER;
    *out = &store_->Traps();
    (*out)->AddRef();
    return S_OK;
}

HRESULT SnmpMib::Load(BSTR fileName) {
    const std::u16string_view name = BstrView(fileName);
    if (Narrow(name).find(".bin") != std::string::npos) return LoadMibImage(*store_, fileName);
    // Tested before anything changes: a Load from host code run by an outer Load's message
    // dispatch must leave the outer load's source and state alone.
    if (store_->Busy()) return ReportBusy();
    store_->AddIsoIfEmpty();
    // Host code run during the load may release the caller's last reference.
    ComPtr<SnmpMib> self(this);
    BusyScope busy(*store_);
    store_->SetCurrentFileName(name);
    store_->SetCurrentModuleName({});
    MibSource& source = store_->Source();
    if (source.LoadFile(fileName) != 0) return ReportNoFile(name);
    const HRESULT hr = LoadSingleMibFile(*store_, source);
    if (SUCCEEDED(hr) && !store_->CurrentModuleName().empty())
        store_->Modules().Append(Widen(store_->CurrentModuleName()));
    return hr;
}

HRESULT SnmpMib::get_Name(BSTR oid, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    NarrowInto(BstrView(oid), &scratch_);
    bool found = false;
    const std::string_view name = store_->Nodes().NameOfOid(scratch_, &found);
    if (found && !name.empty()) *out = WidenToBstr(name);
    return S_OK;
}

HRESULT SnmpMib::get_Oid(BSTR name, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    NarrowInto(BstrView(name), &scratch_);
    const std::string_view oid = store_->Nodes().OidOfName(scratch_);
    if (!oid.empty()) *out = WidenToBstr(oid);
    return S_OK;
}

HRESULT SnmpMib::Compile(IVelkStrings* fileNames) {
    if (store_->Busy()) return ReportBusy();
    store_->AddIsoIfEmpty();
    BusyScope busy(*store_);
    return CompileMibFiles(*store_, fileNames);
}

HRESULT SnmpMib::RemoveTable(BSTR oid) {
    model::SnmpVariables& variables = store_->Variables();
    LONG position = -1;
    variables.GetIndex(oid, &position);
    const std::u16string_view key = BstrView(oid);
    if (position < 1) return ReportMibError(ulInvalidParam1, std::u16string(key) + u" Not found");
    const std::u16string_view prefix = key.ends_with(u".0") ? key.substr(0, key.size() - 2) : key;
    try {
        // The members from that position on in OID order, while they lie under the prefix.
        std::unordered_map<ISnmpVariable*, size_t> doomed;
        {
            const std::span<ISnmpVariable* const> order = variables.OrderIndex();
            Bstr holder;
            for (size_t i = static_cast<size_t>(position) - 1; i < order.size(); ++i) {
                if (!LiesUnder(MemberOid(order[i], &holder), prefix)) break;
                ++doomed[order[i]];
            }
        }
        // Those very entries, by their positions in insertion order, removed from the last.
        std::vector<LONG> positions;
        LONG at = 1;
        for (auto* node = variables.Members().Head(); node; node = node->next, ++at) {
            auto it = doomed.find(node->value.variable);
            if (it == doomed.end() || it->second == 0) continue;
            --it->second;
            positions.push_back(at);
        }
        for (auto p = positions.rbegin(); p != positions.rend(); ++p) {
            Variant index(*p);
            variables.Remove(index);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SnmpMib::Clear() {
    store_->Clear();
    return S_OK;
}

}  // namespace velk::mib
