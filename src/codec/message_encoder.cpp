// Encoding of a message, back to front: the VarBinds from the last variable to the first,
// then the PDU fields from the last to the first, then the header.
//
// Our own variables are read in place, and the content of a VarBind encoded a second time
// with unchanged fields is kept on the variable (SnmpVariable::EncodingCache) and copied
// from then on. Host-implemented variables are read through their interface, in the order
// Repeat, Exception, Type, Value or ValueEx, Oid, a failing call reading as an empty value.
// Host calls may change the collection or the message, so the variables are taken into a
// list (holding a reference each while host objects are among them) before the first
// call, the Type (which decides the layout) is read once at the start, and the other
// header fields only after the last call.
#include <new>
#include <string_view>

#include "codec/message.h"
#include "model/value_text.h"
#include "model/velk_variant.h"

namespace velk::codec {
namespace {

using model::SnmpVariable;
using Member = model::SnmpVariables::Member;

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagOid = 0x06;

// The PDU layout that a message Type selects.
enum class Layout { Standard, Bulk, Trap1, Empty };

Layout LayoutOf(LONG type) {
    switch (type) {
        case snmpGet1: case snmpGetNext1: case snmpResponse1: case snmpSet1:
        case snmpGet2: case snmpGetNext2: case snmpResponse2: case snmpSet2:
        case snmpInform2: case snmpTrap2:
            return Layout::Standard;
        case snmpGetBulk2:
            return Layout::Bulk;
        case snmpTrap1:
            return Layout::Trap1;
        default:
            return Layout::Empty;
    }
}

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// Text as bytes through the ANSI code page, in `scratch`.
std::span<const uint8_t> AnsiBytes(std::u16string_view text, std::vector<uint8_t>& scratch) {
    if (text.empty()) return {};
    scratch.resize(text.size());
    const int n = VelkWideToAnsi(text.data(), static_cast<int>(text.size()),
                                 reinterpret_cast<char*>(scratch.data()), static_cast<int>(scratch.size()));
    return {scratch.data(), n > 0 ? static_cast<std::size_t>(n) : 0};
}

// The value element of a type read from value text (numbers, OID, address); false for a
// type that is not one of these. Text arrives as UTF-16 or as 8-bit text (the bytes of a
// byte-array store); both read the same.
template <class Ch>
bool PutTextValue(BerBuffer& b, LONG type, std::basic_string_view<Ch> text) {
    switch (type) {
        case snmpInteger:
            b.PutInteger(model::ReadSigned32(text));
            b.PutByte(kTagInteger);
            return true;
        case snmpObjectID:
            b.PutOid(text);
            b.PutByte(kTagOid);
            return true;
        case snmpIpAddress:
            b.PutIpAddress(text);
            b.PutByte(0x40);
            return true;
        case snmpCounter32:
        case snmpGuage32:
        case snmpTimeTicks:
        case snmpUInteger32:
            b.PutUnsigned(model::ReadUnsigned32(text));
            b.PutByte(type == snmpCounter32 ? 0x41 : type == snmpGuage32 ? 0x42 : type == snmpTimeTicks ? 0x43 : 0x47);
            return true;
        case snmpCounter64:
            b.PutUnsigned64(model::ReadUnsigned64(text));
            b.PutByte(0x46);
            return true;
        default:
            return false;
    }
}

// Tag of a type whose value is bytes, or 0.
uint8_t BytesTag(LONG type) {
    switch (type) {
        case snmpOctetString: return 0x04;
        case snmpOpaque: return 0x44;
        case snmpNSAPAddress: return 0x45;
        default: return 0;
    }
}

void PutBytesValue(BerBuffer& b, uint8_t tag, std::span<const uint8_t> bytes) {
    b.PutBytes(bytes);
    b.PutByte(tag);
}

void PutNull(BerBuffer& b) {
    b.PutByte(0);
    b.PutByte(0x05);
}

void PutException(BerBuffer& b, LONG exception) {
    b.PutByte(0);
    b.PutByte(static_cast<uint8_t>(0x80 + exception - 1));
}

// Value element of our own variable, read from its store as Value and ValueEx would give
// it: the exception when there is one, else the element of its Type (none for a Type
// outside 0..11).
void PutOwnValue(EncoderState& s, const SnmpVariable& v) {
    BerBuffer& b = s.buffer;
    if (const LONG exception = v.ExceptionValue(); exception != 0) {
        PutException(b, exception);
        return;
    }
    const LONG type = v.TypeValue();
    if (type == snmpNull) {
        PutNull(b);
        return;
    }
    const VARIANT& store = v.ValueStore();
    if (store.vt == VT_BSTR) {
        const std::u16string_view text = View(store.bstrVal);
        if (const uint8_t tag = BytesTag(type)) {
            PutBytesValue(b, tag, AnsiBytes(text, s.bytes));
            return;
        }
        PutTextValue(b, type, text);
        return;
    }
    // A byte array gives its bytes (as ValueEx, and as the text of Value); any other store
    // reads as empty.
    model::CVelkVariant array;
    std::span<const uint8_t> bytes;
    if (store.vt == (VT_ARRAY | VT_UI1) && array.Read(store)) bytes = {array.Data(), array.Size()};
    if (const uint8_t tag = BytesTag(type)) {
        PutBytesValue(b, tag, bytes);
        return;
    }
    PutTextValue(b, type, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Value of a host variable, read through its interface; returns its Oid (read last).
Bstr PutHostValue(EncoderState& s, ISnmpVariable* v) {
    BerBuffer& b = s.buffer;
    VariableExceptionConstants exception = snmpNoException;
    if (FAILED(v->get_Exception(&exception))) exception = snmpNoException;
    if (exception != snmpNoException) {
        PutException(b, exception);
    } else {
        VariableTypeConstants type = snmpNull;
        if (FAILED(v->get_Type(&type))) type = snmpNull;
        const uint8_t tag = BytesTag(type);
        if (type == snmpOctetString || type == snmpOpaque) {
            VARIANT value;
            VariantInit(&value);
            model::CVelkVariant bytes;
            std::span<const uint8_t> content;
            const bool ok = SUCCEEDED(v->get_ValueEx(&value));
            if (ok && bytes.Read(value)) content = {bytes.Data(), bytes.Size()};
            PutBytesValue(b, tag, content);
            bytes.Unbind();
            if (ok) VariantClear(&value);
        } else {
            BSTR text = nullptr;
            const bool ok = SUCCEEDED(v->get_Value(&text));
            Bstr owned = Bstr::Adopt(ok ? text : nullptr);  // a failed call owns nothing
            if (type == snmpNull)
                PutNull(b);
            else if (tag)
                PutBytesValue(b, tag, AnsiBytes(owned.View(), s.bytes));
            else
                PutTextValue(b, type, owned.View());
        }
    }
    BSTR oid = nullptr;
    const bool ok = SUCCEEDED(v->get_Oid(&oid));
    return Bstr::Adopt(ok ? oid : nullptr);
}

bool RepeatOf(const Member& m) {
    if (m.own) return m.own->RepeatValue() != VARIANT_FALSE;
    VARIANT_BOOL repeat = VARIANT_FALSE;
    if (FAILED(m.variable->get_Repeat(&repeat))) return false;
    return repeat != VARIANT_FALSE;
}

void PutVarBind(EncoderState& s, const Member& m) {
    BerBuffer& b = s.buffer;
    if (m.own) {
        // The VarBind's content as encoded before, while the fields are unchanged.
        SnmpVariable& v = *m.own;
        if (const std::span<const uint8_t> cached = v.EncodingCache(); !cached.empty()) {
            b.PutBytes(cached);
            b.PutByte(kSequence);
            return;
        }
    }
    const std::size_t start = b.Size();
    if (m.own) {
        SnmpVariable& v = *m.own;
        PutOwnValue(s, v);
        b.PutOid(v.OidView());
        b.PutByte(kTagOid);
        // A variable encoded a second time with the same fields is likely to be encoded
        // again (a prepared request, a repeated trap): keep its content from now on.
        v.NoteEncoding();
        if (v.EncodingCount() >= 2) v.SetEncodingCache(b.Encoded().first(b.Size() - start));
    } else {
        const Bstr oid = PutHostValue(s, m.variable);
        b.PutOid(oid.View());
        b.PutByte(kTagOid);
    }
    b.PutLength(static_cast<uint32_t>(b.Size() - start));
    b.PutByte(kSequence);
}

// Holds a reference on each listed variable while host objects are among them.
class MemberRefs {
public:
    explicit MemberRefs(std::vector<Member>& members) : members_(members) {}
    MemberRefs(const MemberRefs&) = delete;
    MemberRefs& operator=(const MemberRefs&) = delete;
    ~MemberRefs() {
        if (held_)
            for (const Member& m : members_) m.variable->Release();
        members_.clear();
    }
    bool Held() const { return held_; }
    void Hold() {
        for (const Member& m : members_) m.variable->AddRef();
        held_ = true;
    }

private:
    std::vector<Member>& members_;
    bool held_ = false;
};

}  // namespace

HRESULT SnmpMessage::EncodeInto(EncoderState& s) {
    BerBuffer& b = s.buffer;
    try {
        b.Begin();
        const LONG type = type_;
        const Layout layout = LayoutOf(type);
        if (layout != Layout::Empty) {
            // The variables in Item order: insertion order, or OID order while the host
            // keeps the collection sorted.
            s.members.clear();
            MemberRefs refs(s.members);
            bool hostMembers = false;
            if (members_->IsSorted()) {
                // Telling our variables from host ones asks each object, so the list holds
                // its references before.
                for (ISnmpVariable* v : members_->OrderIndex()) s.members.push_back({v, nullptr});
                refs.Hold();
                for (Member& m : s.members) m.own = SnmpVariable::From(m.variable);
            } else {
                for (auto* n = members_->Members().Head(); n; n = n->next) {
                    s.members.push_back(n->value);
                    hostMembers |= n->value.own == nullptr;
                }
            }
            if (hostMembers && !refs.Held()) refs.Hold();

            // Back to front: for GetBulk the repeaters (read last) first.
            LONG nonRepeaters = 0;
            if (layout == Layout::Bulk) {
                for (std::size_t i = s.members.size(); i-- > 0;)
                    if (RepeatOf(s.members[i])) PutVarBind(s, s.members[i]);
                for (std::size_t i = s.members.size(); i-- > 0;) {
                    if (RepeatOf(s.members[i])) continue;
                    PutVarBind(s, s.members[i]);
                    ++nonRepeaters;
                }
                nonRepeaters_ = nonRepeaters;
            } else {
                for (std::size_t i = s.members.size(); i-- > 0;) PutVarBind(s, s.members[i]);
            }
            b.PutLength(static_cast<uint32_t>(b.Size()));
            b.PutByte(kSequence);

            switch (layout) {
                case Layout::Standard: {
                    const bool response = type == snmpResponse1 || type == snmpResponse2;
                    b.PutInteger(response ? exceptionIndex_ : 0);
                    b.PutByte(kTagInteger);
                    b.PutInteger(response ? exception_ : 0);
                    b.PutByte(kTagInteger);
                    b.PutInteger(id_);
                    b.PutByte(kTagInteger);
                    break;
                }
                case Layout::Bulk:
                    b.PutInteger(maxRepetition_);
                    b.PutByte(kTagInteger);
                    b.PutInteger(nonRepeaters);
                    b.PutByte(kTagInteger);
                    b.PutInteger(id_);
                    b.PutByte(kTagInteger);
                    break;
                case Layout::Trap1:
                    b.PutUnsigned(static_cast<uint32_t>(upTime_));
                    b.PutByte(0x43);
                    b.PutInteger(specificTrap_);
                    b.PutByte(kTagInteger);
                    b.PutInteger(genericTrap_);
                    b.PutByte(kTagInteger);
                    b.PutIpAddress(View(agentAddress_));
                    b.PutByte(0x40);
                    b.PutOid(View(enterprise_));
                    b.PutByte(kTagOid);
                    break;
                case Layout::Empty:
                    break;
            }
        }
        b.PutLength(static_cast<uint32_t>(b.Size()));
        b.PutByte(static_cast<uint8_t>(0xA0 + (type & 0x1F)));
        b.PutBytes(AnsiBytes(View(community_), s.bytes));
        b.PutByte(0x04);
        b.PutInteger((type & 0x20) ? 0 : 1);
        b.PutByte(kTagInteger);
        b.PutLength(static_cast<uint32_t>(b.Size()));
        b.PutByte(kSequence);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace velk::codec
