// The MIB image writer.
#include "mib/image_writer.h"

#include <new>
#include <string>
#include <vector>

#include "mib/ansi_text.h"
#include "mib/image_format.h"
#include "mib/mib.h"
#include "mib/mib_errors.h"
#include "mib/whole_file.h"
#include "sock/velk_strings.h"
#include "velk/mib_image.h"
#include "velk/snmp.h"

namespace velk::mib {
namespace {

constexpr UINT kMsgCannotWrite = 117;  // "%s cannot be written."
constexpr UINT kMsgCannotStore = 118;  // "\"%s\" cannot be stored in a MIB image."

HRESULT CannotStore(std::u16string_view what) {
    return ReportMibError(ulFile, FormatMessageText(kMsgCannotStore, {what}));
}

// The entries of a string collection, ours in place, a host's through its interface.
HRESULT Entries(IVelkStrings* list, std::vector<std::u16string>* out) {
    out->clear();
    if (!list) return S_OK;
    if (sock::VelkStrings* own = sock::AsVelkStrings(list)) {
        *out = own->Entries();
        return S_OK;
    }
    LONG count = 0;
    if (HRESULT hr = list->get_Count(&count); FAILED(hr)) return hr;
    for (LONG i = 1; i <= count; ++i) {
        Bstr item;
        if (HRESULT hr = list->get_Item(i, item.Put()); FAILED(hr)) return hr;
        out->emplace_back(item.View());
    }
    return S_OK;
}

class ImageWriter {
public:
    explicit ImageWriter(MibStore& store) : store_(store) {}

    HRESULT Build() {
        out_.append(image::kReserved, 4);
        out_.push_back(static_cast<char>(image::kFieldEnd));
        if (HRESULT hr = Variables(); FAILED(hr)) return hr;
        return Traps();
    }
    const std::string& Bytes() const { return out_; }

private:
    void Number(uint32_t bits) {
        out_.push_back(static_cast<char>(bits >> 24));
        out_.push_back(static_cast<char>(bits >> 16));
        out_.push_back(static_cast<char>(bits >> 8));
        out_.push_back(static_cast<char>(bits));
        out_.push_back(static_cast<char>(image::kFieldEnd));
    }
    HRESULT Count(size_t n, std::u16string_view what) {
        if (n > image::kMaxCount) return CannotStore(what);
        Number(static_cast<uint32_t>(n));
        return S_OK;
    }
    // A record number, as 32-bit two's complement whose low 24 bits carry it.
    HRESULT RecordNumber(LONG value) {
        if (value < image::kMinNumber || value > image::kMaxNumber) return CannotStore(owner_);
        Number(static_cast<uint32_t>(value));
        return S_OK;
    }
    void Text(std::u16string_view text) {
        for (char16_t c : text) {
            uint8_t b = c <= 0xFF ? static_cast<uint8_t>(c) : '?';
            if (b == (image::kFieldEnd ^ image::kTextFlip)) b = '?';
            out_.push_back(static_cast<char>(b ^ image::kTextFlip));
        }
        out_.push_back(static_cast<char>(image::kFieldEnd));
    }
    HRESULT Text(HRESULT (ISnmpVariable::*get)(BSTR*), ISnmpVariable* v) {
        Bstr s;
        if (HRESULT hr = (v->*get)(s.Put()); FAILED(hr)) return hr;
        Text(s.View());
        return S_OK;
    }
    HRESULT Text(HRESULT (ISnmpTrap::*get)(BSTR*), ISnmpTrap* t) {
        Bstr s;
        if (HRESULT hr = (t->*get)(s.Put()); FAILED(hr)) return hr;
        Text(s.View());
        return S_OK;
    }
    // The entries joined by the separator. An empty entry or one holding the separator
    // would read back as other entries.
    HRESULT List(IVelkStrings* list) {
        if (HRESULT hr = Entries(list, &entries_); FAILED(hr)) return hr;
        joined_.clear();
        for (size_t i = 0; i < entries_.size(); ++i) {
            const std::u16string& e = entries_[i];
            if (e.empty() || e.find(image::kListSeparator) != std::u16string::npos)
                return CannotStore(e.empty() ? owner_ : std::u16string_view(e));
            if (i) joined_ += image::kListSeparator;
            joined_ += e;
        }
        Text(joined_);
        return S_OK;
    }

    HRESULT Variables() {
        // Host code may run in a member's getters and change the collection: work on a copy.
        std::vector<ComPtr<ISnmpVariable>> members;
        members.reserve(store_.Variables().Size());
        for (auto* node = store_.Variables().Members().Head(); node; node = node->next)
            members.emplace_back(node->value.variable);
        if (HRESULT hr = Count(members.size(), u"Variables"); FAILED(hr)) return hr;
        for (const ComPtr<ISnmpVariable>& v : members)
            if (HRESULT hr = Variable(v.Get()); FAILED(hr)) return hr;
        return S_OK;
    }

    HRESULT Variable(ISnmpVariable* v) {
        Bstr name;
        if (HRESULT hr = v->get_Name(name.Put()); FAILED(hr)) return hr;
        owner_.assign(name.View());
        Text(name.View());
        if (HRESULT hr = Text(&ISnmpVariable::get_Oid, v); FAILED(hr)) return hr;
        AccessConstants access{};
        if (HRESULT hr = v->get_Access(&access); FAILED(hr)) return hr;
        if (HRESULT hr = RecordNumber(access); FAILED(hr)) return hr;
        if (HRESULT hr = Text(&ISnmpVariable::get_Description, v); FAILED(hr)) return hr;
        ComPtr<IVelkStrings> index;
        if (model::SnmpVariable* own = model::SnmpVariable::From(v))
            index = own->IndexIfCreated();  // an index never read is empty: not created for this
        else if (HRESULT hr = v->get_Index(index.Put()); FAILED(hr))
            return hr;
        if (HRESULT hr = List(index.Get()); FAILED(hr)) return hr;
        if (HRESULT hr = Text(&ISnmpVariable::get_Reference, v); FAILED(hr)) return hr;
        StatusConstants status{};
        if (HRESULT hr = v->get_Status(&status); FAILED(hr)) return hr;
        if (HRESULT hr = RecordNumber(status); FAILED(hr)) return hr;
        if (HRESULT hr = Text(&ISnmpVariable::get_Syntax, v); FAILED(hr)) return hr;
        VariableTypeConstants type{};
        if (HRESULT hr = v->get_Type(&type); FAILED(hr)) return hr;
        if (HRESULT hr = RecordNumber(type); FAILED(hr)) return hr;
        return Text(&ISnmpVariable::get_Value, v);
    }

    HRESULT Traps() {
        std::vector<ComPtr<ISnmpTrap>> members;
        ComPtr<IUnknown> unknown;
        ComPtr<IEnumVARIANT> items;
        if (HRESULT hr = store_.Traps().get__NewEnum(unknown.Put()); FAILED(hr)) return hr;
        if (HRESULT hr = unknown.As(&items); FAILED(hr)) return hr;
        for (;;) {
            Variant item;
            ULONG fetched = 0;
            if (items->Next(1, item.Put(), &fetched) != S_OK || fetched != 1) break;
            ComPtr<ISnmpTrap> trap;
            if (item.vt != VT_DISPATCH || !item.pdispVal ||
                FAILED(item.pdispVal->QueryInterface(IID_ISnmpTrap, trap.PutVoid())))
                return E_UNEXPECTED;
            members.push_back(std::move(trap));
        }
        if (HRESULT hr = Count(members.size(), u"Traps"); FAILED(hr)) return hr;
        for (const ComPtr<ISnmpTrap>& t : members)
            if (HRESULT hr = Trap(t.Get()); FAILED(hr)) return hr;
        return S_OK;
    }

    HRESULT Trap(ISnmpTrap* t) {
        Bstr name;
        if (HRESULT hr = t->get_Name(name.Put()); FAILED(hr)) return hr;
        owner_.assign(name.View());
        LONG specific = 0;
        if (HRESULT hr = t->get_SpecificTrap(&specific); FAILED(hr)) return hr;
        if (HRESULT hr = RecordNumber(specific); FAILED(hr)) return hr;
        StatusConstants status{};
        if (HRESULT hr = t->get_Status(&status); FAILED(hr)) return hr;
        if (HRESULT hr = RecordNumber(status); FAILED(hr)) return hr;
        if (HRESULT hr = Text(&ISnmpTrap::get_Description, t); FAILED(hr)) return hr;
        if (HRESULT hr = Text(&ISnmpTrap::get_Enterprise, t); FAILED(hr)) return hr;
        Text(name.View());
        ComPtr<IVelkStrings> oids;
        if (HRESULT hr = t->get_Oids(oids.Put()); FAILED(hr)) return hr;
        if (HRESULT hr = List(oids.Get()); FAILED(hr)) return hr;
        return Text(&ISnmpTrap::get_Reference, t);
    }

    MibStore& store_;
    std::string out_;
    std::u16string owner_;  // name of the record being written, for messages
    std::vector<std::u16string> entries_;
    std::u16string joined_;
};

}  // namespace

HRESULT WriteMibImage(MibStore& store, std::u16string_view fileName) {
    try {
        ImageWriter writer(store);
        if (HRESULT hr = writer.Build(); FAILED(hr)) return hr;
        if (!ReplaceWholeFile(Narrow(fileName), writer.Bytes()))
            return ReportMibError(ulFile, FormatMessageText(kMsgCannotWrite, {fileName}));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace velk::mib

HRESULT VelkWriteMibImage(ISnmpMib* mib, LPCOLESTR fileName) {
    velk::mib::SnmpMib* own = velk::mib::SnmpMib::From(mib);
    if (!own) return E_INVALIDARG;
    if (!fileName) return E_POINTER;
    // The store stays alive through host code run by the writer (a host variable's getter).
    velk::ComPtr<ISnmpMib> keep(mib);
    return velk::mib::WriteMibImage(own->Store(), std::u16string_view(fileName));
}
