// Decoding of a message, front to back, each element read once. Every check is made
// against the bytes actually received (an outer length 8192 above them is accepted but
// never trusted), and the first failing check ends the parse, keeping what was read.
#include <cstring>
#include <new>

#include "automation/error_reporting.h"
#include "codec/ber_reader.h"
#include "codec/message.h"
#include "model/value_text.h"

namespace velk::codec {

namespace {

using model::SnmpVariable;

// Parse result of malformed bytes; reported as 12015 once the parse has ended.
constexpr HRESULT kMalformed = automation::ErrorResult(kFormatError);

// An outer length this much above the bytes received is accepted.
constexpr uint64_t kLengthSlack = 8192;
// Plausibility of variable names: a message fails when more than kMaxImplausible names are
// shorter than kShortName characters or arrive after kMaxNameTotal characters of names.
constexpr std::size_t kShortName = 9;
constexpr std::size_t kMaxNameTotal = 16384;
constexpr int kMaxImplausible = 10;

BSTR NewText(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

// Fills a reset message from BER bytes.
class MessageDecoder {
public:
    MessageDecoder(SnmpMessage& message, const uint8_t* data, std::size_t size)
        : m_(message), r_(data, size), size_(size) {}

    // S_OK; kMalformed at the first failing check; E_OUTOFMEMORY, or the creation error of
    // a variable.
    HRESULT Parse();
    // Whether the community was read (it replaced the message's Community).
    bool CommunityRead() const { return communityRead_; }

private:
    bool Tag(uint8_t expected) {
        const auto tag = r_.GetByte();
        return tag && *tag == expected;
    }
    HRESULT ParseVarBindList();
    HRESULT ParseVarBind(std::size_t index);
    // Sets the variable's value from the value tag; kMalformed when its content does not
    // read. `varBindEnd` is where the VarBind ends by its length.
    HRESULT ParseValue(SnmpVariable& v, uint8_t tag, std::size_t varBindEnd);
    // Moves to `end` (the end of a VarBind by its length); false when that lies behind the
    // position or past the bytes.
    bool MoveTo(std::size_t end) {
        if (end < r_.Position() || end > size_) return false;
        return r_.Skip(end - r_.Position());
    }
    static bool SetNumberText(SnmpVariable& v, char16_t* begin, char16_t* end) {
        BSTR text = SysAllocStringLen(begin, static_cast<UINT>(end - begin));
        if (!text) return false;
        v.SetValueText(text);
        return true;
    }

    SnmpMessage& m_;
    BerReader r_;
    std::size_t size_;
    bool communityRead_ = false;
    bool bulk_ = false;
    bool creationChecked_ = false;
    std::size_t nameTotal_ = 0;
    int implausible_ = 0;
};

HRESULT MessageDecoder::Parse() {
    if (!Tag(0x30)) return kMalformed;
    const auto length = r_.GetLength();
    if (!length) return kMalformed;
    const uint64_t rest = r_.Remaining();
    if (*length != rest && *length != rest + kLengthSlack) return kMalformed;

    if (!Tag(0x02)) return kMalformed;
    const auto version = r_.GetInteger();
    if (!version) return kMalformed;

    if (!Tag(0x04)) return kMalformed;
    const auto community = r_.GetBytes();
    if (!community) return kMalformed;
    {
        const auto* bytes = reinterpret_cast<const char*>(community->data());
        const void* zero = community->empty() ? nullptr : std::memchr(bytes, 0, community->size());
        const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes)
                                   : community->size();
        BSTR text = nullptr;
        if (n) {
            text = SysAllocStringLen(nullptr, static_cast<UINT>(n));
            if (!text) return E_OUTOFMEMORY;
            VelkAnsiToWide(bytes, static_cast<int>(n), text, static_cast<int>(n));
        }
        SysFreeString(m_.community_);
        m_.community_ = text;
        communityRead_ = true;
    }

    // The PDU tag: context-specific or constructed, tag number 0 to 7.
    const auto pduTag = r_.GetByte();
    if (!pduTag || (*pduTag & 0xA0) == 0 || (*pduTag & 0x1F) > 7) return kMalformed;
    const auto pduLength = r_.GetLength();
    if (!pduLength || *pduLength > r_.Remaining()) return kMalformed;
    const LONG type = (*pduTag & 0x07) + ((*version == 0 || *version == 32) ? snmp1 : snmp2);
    if (type == 37 || type == 38 || type == 39 || type == 68) return kMalformed;
    m_.type_ = type;

    if (type == snmpTrap1) {
        std::u16string& text = m_.decodeText_;
        if (!Tag(0x06) || !r_.GetOidText(text)) return kMalformed;
        if (!text.empty()) {
            BSTR enterprise = NewText(text);
            if (!enterprise) return E_OUTOFMEMORY;
            SysFreeString(m_.enterprise_);
            m_.enterprise_ = enterprise;
        }
        if (!Tag(0x40) || !r_.GetIpAddressText(text)) return kMalformed;
        BSTR address = NewText(text);
        if (!address) return E_OUTOFMEMORY;
        SysFreeString(m_.agentAddress_);
        m_.agentAddress_ = address;
        if (!Tag(0x02)) return kMalformed;
        const auto generic = r_.GetInteger();
        if (!generic) return kMalformed;
        m_.genericTrap_ = *generic;
        if (!Tag(0x02)) return kMalformed;
        const auto specific = r_.GetInteger();
        if (!specific) return kMalformed;
        m_.specificTrap_ = *specific;
        if (!Tag(0x43)) return kMalformed;
        const auto upTime = r_.GetUnsigned();
        if (!upTime) return kMalformed;
        m_.upTime_ = static_cast<LONG>(*upTime);
        return ParseVarBindList();
    }

    if (!Tag(0x02)) return kMalformed;
    const auto id = r_.GetInteger();
    if (!id) return kMalformed;
    m_.id_ = *id;
    if (!Tag(0x02)) return kMalformed;
    const auto status = r_.GetInteger();
    if (!status) return kMalformed;
    bulk_ = type == snmpGetBulk2;
    if (bulk_)
        m_.nonRepeaters_ = *status;
    else
        m_.exception_ = *status == 32 ? 0 : *status;
    if (!Tag(0x02)) return kMalformed;
    const auto index = r_.GetInteger();
    if (!index) return kMalformed;
    if (bulk_)
        m_.maxRepetition_ = *index;
    else
        m_.exceptionIndex_ = *index;
    return ParseVarBindList();
}

HRESULT MessageDecoder::ParseVarBindList() {
    // Any tag; the length must be well-formed, its value is not relied on.
    if (!r_.GetByte() || !r_.GetLength()) return kMalformed;
    for (std::size_t index = 0; !r_.AtEnd(); ++index) {
        if (HRESULT hr = ParseVarBind(index); FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT MessageDecoder::ParseVarBind(std::size_t index) {
    if (!creationChecked_) {
        if (HRESULT hr = rt::CreationFailure(CLSID_SnmpVariable); FAILED(hr)) return hr;
        creationChecked_ = true;
    }
    auto variable = ComPtr<SnmpVariable>::Adopt(model::NewSnmpVariable());
    if (!variable) return E_OUTOFMEMORY;
    SnmpVariable& v = *variable;
    // GetBulk: the first non-repeaters variables do not repeat (a negative count: none does).
    const LONG nonRepeaters = m_.nonRepeaters_;
    const bool repeat = bulk_ && nonRepeaters >= 0 && index >= static_cast<std::size_t>(nonRepeaters);
    v.SetRepeat(repeat ? VARIANT_TRUE : VARIANT_FALSE);

    if (!r_.GetByte()) return kMalformed;
    const auto varBindLength = r_.GetLength();
    if (!varBindLength) return kMalformed;
    const std::size_t varBindEnd = r_.Position() + *varBindLength;

    std::u16string& name = m_.decodeText_;
    if (!r_.GetByte() || !r_.GetOidText(name)) return kMalformed;
    BSTR oid = NewText(name);
    if (!oid) return E_OUTOFMEMORY;
    v.SetOid(oid);
    nameTotal_ += name.size();
    if ((name.size() < kShortName || nameTotal_ > kMaxNameTotal) && ++implausible_ > kMaxImplausible)
        return kMalformed;

    const auto tag = r_.GetByte();
    if (!tag) return kMalformed;
    if (HRESULT hr = ParseValue(v, *tag, varBindEnd); FAILED(hr)) return hr;
    m_.members_->AppendOwned(variable.Detach());
    return S_OK;
}

HRESULT MessageDecoder::ParseValue(SnmpVariable& v, uint8_t tag, std::size_t varBindEnd) {
    char16_t number[model::kMaxDecimalLength];
    switch (tag) {
        case 0x02: {
            v.SetType(snmpInteger);
            const auto value = r_.GetInteger();
            if (!value) return kMalformed;
            return SetNumberText(v, number, model::RenderSigned(*value, number)) ? S_OK : E_OUTOFMEMORY;
        }
        case 0x41:
        case 0x42:
        case 0x43:
        case 0x47: {
            v.SetType(tag == 0x41 ? snmpCounter32 : tag == 0x42 ? snmpGuage32 : tag == 0x43 ? snmpTimeTicks : snmpUInteger32);
            const auto value = r_.GetUnsigned();
            if (!value) return kMalformed;
            return SetNumberText(v, number, model::RenderUnsigned(*value, number)) ? S_OK : E_OUTOFMEMORY;
        }
        case 0x46: {
            v.SetType(snmpCounter64);
            const auto value = r_.GetUnsigned64();
            if (!value) return kMalformed;
            return SetNumberText(v, number, model::RenderUnsigned(*value, number)) ? S_OK : E_OUTOFMEMORY;
        }
        case 0x04:
        case 0x44:
        case 0x45: {
            v.SetType(tag == 0x04 ? snmpOctetString : tag == 0x44 ? snmpOpaque : snmpNSAPAddress);
            const auto bytes = r_.GetBytes();
            if (!bytes) return kMalformed;
            return v.SetValueBytes(bytes->data(), bytes->size()) ? S_OK : E_OUTOFMEMORY;
        }
        case 0x05:
            v.SetType(snmpNull);
            return r_.GetBytes() ? S_OK : kMalformed;
        case 0x06:
        case 0x40: {
            v.SetType(tag == 0x06 ? snmpObjectID : snmpIpAddress);
            std::u16string& text = m_.decodeText_;
            if (!(tag == 0x06 ? r_.GetOidText(text) : r_.GetIpAddressText(text))) return kMalformed;
            BSTR value = NewText(text);
            if (!value) return E_OUTOFMEMORY;
            v.SetValueText(value);
            return S_OK;
        }
        case 0x80:
        case 0x81:
        case 0x82:
            v.SetException(tag - 0x80 + 1);
            return MoveTo(varBindEnd) ? S_OK : kMalformed;
        default:
            // A value this reader does not know: the variable keeps its name alone.
            return MoveTo(varBindEnd) ? S_OK : kMalformed;
    }
}

HRESULT SnmpMessage::DecodeFrom(const uint8_t* data, std::size_t size, bool haveBytes) {
    HRESULT hr = kMalformed;
    bool communityRead = false;
    if (haveBytes) {
        MessageDecoder decoder(*this, data, size);
        try {
            hr = decoder.Parse();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        communityRead = decoder.CommunityRead();
    }
    if (!communityRead) SetDefaultCommunity();
    if (exceptionIndex_ == 32 && members_->Size() < 32) exceptionIndex_ = 0;
    if (hr == kMalformed) return automation::ReportError(CLSID_SnmpMessage, kFormatError);
    return hr;
}

}  // namespace velk::codec
