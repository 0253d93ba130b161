// Drives the variable collection and ValueName with arbitrary texts and OIDs: members of
// ours and host-implemented ones (some failing), additions, removals, Oid changes and
// lookups. GetNext is checked against its linear definition, GetIndex against the member it
// names; everything must end released.
//
// Input: a sequence of operations, each an opcode byte followed by its operands. A text is
// a length byte and that many bytes; bytes below 0xC0 pick a digit or '.', higher ones a
// piece of syntax text ("INTEGER", "{", "(", a character beyond the code page, ...).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/oid_compare.h"
#include "model/variable.h"
#include "model/variables.h"
#include "runtime/object.h"
#include "support/host_objects.h"
#include "velk/com.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using velk::model::CompareOids;

#define Check(ok)                                                          \
    do {                                                                   \
        if (!(ok)) {                                                       \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #ok); \
            std::abort();                                                  \
        }                                                                  \
    } while (0)

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return pos_ < size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::u16string Text() {
        static const char16_t* const pieces[] = {u"INTEGER", u"{", u"}", u"(", u")", u",", u" ",
                                                 u"-", u"+", u"a", u"b", u"\u0100", u"x", u"\t", u"0"};
        std::u16string s;
        const size_t n = Byte() % 40;
        for (size_t i = 0; i < n && More(); ++i) {
            const uint8_t b = Byte();
            if (b < 0xC0)
                s += u"0123456789."[b % 11];
            else
                s += pieces[(b - 0xC0) % std::size(pieces)];
        }
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

using velk::testing::HostVariable;

std::u16string OidText(ISnmpVariable* v) {
    BSTR text = nullptr;
    if (FAILED(v->get_Oid(&text))) return {};
    std::u16string s = text ? std::u16string(text, SysStringLen(text)) : std::u16string();
    SysFreeString(text);
    return s;
}

// The members in insertion order, as the enumerator gives them.
std::vector<ComPtr<ISnmpVariable>> Members(velk::model::SnmpVariables* c) {
    std::vector<ComPtr<ISnmpVariable>> members;
    ComPtr<IUnknown> unk;
    Check(c->get__NewEnum(unk.Put()) == S_OK);
    ComPtr<IEnumVARIANT> e;
    Check(unk.As(&e) == S_OK);
    Variant item;
    while (e->Next(1, item.Put(), nullptr) == S_OK) {
        ComPtr<ISnmpVariable> v;
        Check(item.pdispVal->QueryInterface(IID_ISnmpVariable, v.PutVoid()) == S_OK);
        members.push_back(v);
    }
    return members;
}

// GetNext by its linear definition.
ISnmpVariable* ReferenceNext(const std::vector<ComPtr<ISnmpVariable>>& members, const std::u16string& key) {
    ISnmpVariable* best = nullptr;
    std::u16string bestOid;
    for (const auto& m : members) {
        const std::u16string oid = OidText(m.Get());
        if (CompareOids(key, oid) != -1) continue;
        if (!best || CompareOids(bestOid, oid) == 1) {
            best = m.Get();
            bestOid = oid;
        }
    }
    return best;
}

void Run(Input& in) {
    auto collection = velk::rt::MakeObject<velk::model::SnmpVariables>();
    std::vector<ComPtr<ISnmpVariable>> members;
    constexpr size_t kMaxMembers = 300;
    for (int ops = 0; in.More() && ops < 3000; ++ops) {
        switch (in.Byte() % 12) {
            case 0: {
                if (members.size() >= kMaxMembers) break;
                ComPtr<ISnmpVariable> v = ComPtr<ISnmpVariable>::Adopt(velk::model::NewSnmpVariable());
                Bstr oid(in.Text());
                v->put_Oid(oid.Get());
                Check(collection->Add(v.Get()) == S_OK);
                break;
            }
            case 1: {
                if (members.size() >= kMaxMembers) break;
                const std::u16string oid = in.Text();
                auto host = ComPtr<ISnmpVariable>::Adopt(new HostVariable(oid, in.Byte() % 4 == 0));
                Check(collection->Add(host.Get()) == S_OK);
                break;
            }
            case 2:
                collection->Remove(Variant(static_cast<LONG>(in.Byte() % (members.size() + 2))));
                break;
            case 3:
                collection->Remove(Variant(in.Text()));
                break;
            case 4:
                if (!members.empty()) {
                    ISnmpVariable* v = members[in.Byte() % members.size()].Get();
                    Bstr oid(in.Text());
                    v->put_Oid(oid.Get());
                }
                break;
            case 5: {
                const std::u16string key = in.Text();
                Bstr k(key);
                ComPtr<ISnmpVariable> got;
                const HRESULT hr = collection->GetNext(k.Get(), got.Put());
                ISnmpVariable* expected = ReferenceNext(members, key);
                Check(got.Get() == expected);
                Check(hr == (expected ? S_OK : static_cast<HRESULT>(0x800A2EE1u)));
                break;
            }
            case 6: {
                const std::u16string key = in.Text();
                Bstr k(key);
                LONG at = 0;
                Check(collection->GetIndex(k.Get(), &at) == S_OK);
                Check(at == -1 || (at >= 1 && static_cast<size_t>(at) <= members.size()));
                if (at != -1) {
                    // The member at that position in OID order has that Oid now.
                    const VARIANT_BOOL sorted = collection->IsSorted() ? VARIANT_TRUE : VARIANT_FALSE;
                    collection->put_Sorted(VARIANT_TRUE);
                    ComPtr<ISnmpVariable> v;
                    Check(collection->Item(Variant(at), v.Put()) == S_OK);
                    Check(OidText(v.Get()) == key);
                    collection->put_Sorted(sorted);
                }
                break;
            }
            case 7: {
                ComPtr<ISnmpVariable> v;
                const HRESULT byNumber = collection->Item(Variant(static_cast<LONG>(in.Byte())), v.Put());
                Check(SUCCEEDED(byNumber) == static_cast<bool>(v));
                const HRESULT byText = collection->Item(Variant(in.Text()), v.Put());
                Check(SUCCEEDED(byText) == static_cast<bool>(v));
                break;
            }
            case 8:
                collection->put_Sorted(in.Byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE);
                break;
            case 9: {
                ComPtr<ISnmpVariable> v = ComPtr<ISnmpVariable>::Adopt(velk::model::NewSnmpVariable());
                Bstr value(in.Text()), syntax(in.Text()), name;
                v->put_Type(static_cast<VariableTypeConstants>(in.Byte() % 3));
                v->put_Value(value.Get());
                v->put_BaseSyntax(syntax.Get());
                Check(v->get_ValueName(name.Put()) == S_OK && name.Get());
                break;
            }
            case 10: {
                Bstr oid(in.Text());
                ComPtr<ISnmpTable> table;
                ComPtr<ISnmpTableRow> row;
                const HRESULT t = collection->GetTable(oid.Get(), table.Put());
                const HRESULT r = collection->GetTableRow(oid.Get(), row.Put());
                Check(SUCCEEDED(t) == static_cast<bool>(table) && SUCCEEDED(r) == static_cast<bool>(row));
                break;
            }
            default:
                if (in.Byte() == 0) {
                    collection->Clear();
                } else {
                    Bstr name(in.Text()), oid;
                    Check(collection->GetOIDFromName(name.Get(), oid.Put()) == S_OK);
                }
                break;
        }
        members = Members(collection.Get());
        LONG count = -1;
        collection->get_Count(&count);
        Check(static_cast<size_t>(count) == members.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetErrorInfo(0, nullptr);
    const long live = velk::rt::LiveObjectCount();
    {
        Input in(data, size);
        Run(in);
    }
    SetErrorInfo(0, nullptr);  // the record failing calls leave behind
    Check(velk::rt::LiveObjectCount() == live);
    return 0;
}
