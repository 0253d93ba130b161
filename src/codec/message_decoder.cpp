// Decoding of a message, front to back, each byte read once. Every check is made against
// the bytes actually received (an outer length 8192 above them is accepted but never
// trusted), and the first failing check ends the parse, keeping what was read.
//
// The walk uses a small inline cursor with the reading rules of BerReader (definite
// lengths of up to four bytes, contents inside the bytes, number contents of at most 127
// bytes, sub-identifiers that end within their content); texts are rendered into stack
// buffers and each becomes one BSTR.
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "automation/error_reporting.h"
#include "codec/message.h"

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
// Longest number content; anything longer is malformed.
constexpr std::size_t kMaxNumberContent = 127;
// OID contents up to this many bytes render into a stack buffer (4 characters per byte,
// plus the first arc and its dot, is the most an OID text can take).
constexpr std::size_t kStackOidBytes = 127;
constexpr std::size_t kStackOidChars = 4 * kStackOidBytes + 2;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Number of decimal digits of v (at least 1).
int DecimalDigits(uint64_t v) {
    static constexpr uint64_t kPowers[20] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};
    // log10(2) ~ 1233 / 4096: a first guess from the bit length, corrected by one compare.
    const int bits = 64 - __builtin_clzll(v | 1);
    const int guess = (bits * 1233) >> 12;
    return guess + (v >= kPowers[guess] ? 1 : 0);
}

// Decimal text of v at `out`, written from its end backwards in place; returns the end.
char16_t* RenderDecimal(uint64_t v, char16_t* out) {
    if (v < 10) {
        *out = static_cast<char16_t>(u'0' + v);
        return out + 1;
    }
    char16_t* const end = out + DecimalDigits(v);
    char16_t* p = end;
    while (v >= 100) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        *--p = static_cast<char16_t>(kDigitPairs[pair + 1]);
        *--p = static_cast<char16_t>(kDigitPairs[pair]);
    }
    if (v >= 10) {
        const auto pair = static_cast<std::size_t>(v) * 2;
        *--p = static_cast<char16_t>(kDigitPairs[pair + 1]);
        *--p = static_cast<char16_t>(kDigitPairs[pair]);
    } else {
        *--p = static_cast<char16_t>(u'0' + v);
    }
    return end;
}

char16_t* RenderSigned(int32_t v, char16_t* out) {
    if (v >= 0) return RenderDecimal(static_cast<uint64_t>(v), out);
    *out++ = u'-';
    return RenderDecimal(uint64_t{0} - static_cast<uint64_t>(int64_t{v}), out);
}

// Whether `text` is the text of the n bytes through the code page (byte b is U+00bb);
// a null text is that of no bytes.
bool SameText(BSTR text, const uint8_t* bytes, std::size_t n) {
    if (SysStringLen(text) != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] != bytes[i]) return false;
    return true;
}

BSTR NewText(const char16_t* begin, const char16_t* end) {
    return SysAllocStringLen(begin, static_cast<UINT>(end - begin));
}

// Forward-only reader over the bytes received. Every operation checks the bytes it needs
// and fails (false) without reading past the end.
class Cursor {
public:
    Cursor(const uint8_t* data, std::size_t size) : begin_(data), p_(data), end_(data + size) {}

    std::size_t Position() const { return static_cast<std::size_t>(p_ - begin_); }
    std::size_t Remaining() const { return static_cast<std::size_t>(end_ - p_); }
    bool AtEnd() const { return p_ == end_; }

    bool Byte(uint8_t& b) {
        if (p_ == end_) return false;
        b = *p_++;
        return true;
    }
    bool Tag(uint8_t expected) { return p_ != end_ && *p_++ == expected; }
    // A definite length: below 0x80 itself, 0x81..0x84 followed by that many bytes.
    bool Length(std::size_t& n) {
        if (p_ == end_) return false;
        const uint8_t first = *p_;
        if (first < 0x80) {
            ++p_;
            n = first;
            return true;
        }
        const std::size_t bytes = first & 0x7Fu;
        if (bytes == 0 || bytes > 4 || bytes >= Remaining()) return false;
        std::size_t v = 0;
        for (std::size_t i = 1; i <= bytes; ++i) v = (v << 8) | p_[i];
        p_ += bytes + 1;
        n = v;
        return true;
    }
    // Length and content, the content inside the bytes.
    bool Content(const uint8_t*& data, std::size_t& n) {
        const uint8_t* start = p_;
        if (!Length(n) || n > Remaining()) {
            p_ = start;
            return false;
        }
        data = p_;
        p_ += n;
        return true;
    }
    bool NumberContent(const uint8_t*& data, std::size_t& n) {
        return Content(data, n) && n <= kMaxNumberContent;
    }
    bool Integer(int32_t& value) {
        const uint8_t* data;
        std::size_t n;
        if (!NumberContent(data, n)) return false;
        uint32_t v = (n && (data[0] & 0x80)) ? ~uint32_t{0} : 0;
        for (std::size_t i = 0; i < n; ++i) v = (v << 8) | data[i];
        value = static_cast<int32_t>(v);
        return true;
    }
    // Unsigned contents keep their last eight bytes (the caller keeps 32 or 64 bits).
    bool Unsigned(uint64_t& value) {
        const uint8_t* data;
        std::size_t n;
        if (!NumberContent(data, n)) return false;
        uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = (v << 8) | data[i];
        value = v;
        return true;
    }
    // Moves to `position` (from the start of the bytes); false past the end.
    bool Seek(std::size_t position) {
        if (position > static_cast<std::size_t>(end_ - begin_)) return false;
        p_ = begin_ + position;
        return true;
    }

private:
    const uint8_t* begin_;
    const uint8_t* p_;
    const uint8_t* end_;
};

// ".v" for the one-byte sub-identifiers v (0..127), as up to four characters packed into
// eight bytes (stored whole; the length says how many count).
struct ArcText {
    char16_t chars[4];
    uint8_t length;
};

constexpr auto kArcTexts = [] {
    std::array<ArcText, 128> table{};
    for (unsigned v = 0; v < 128; ++v) {
        ArcText& t = table[v];
        t.chars[0] = u'.';
        if (v >= 100) {
            t.chars[1] = static_cast<char16_t>(u'0' + v / 100);
            t.chars[2] = static_cast<char16_t>(u'0' + v / 10 % 10);
            t.chars[3] = static_cast<char16_t>(u'0' + v % 10);
            t.length = 4;
        } else if (v >= 10) {
            t.chars[1] = static_cast<char16_t>(u'0' + v / 10);
            t.chars[2] = static_cast<char16_t>(u'0' + v % 10);
            t.length = 3;
        } else {
            t.chars[1] = static_cast<char16_t>(u'0' + v);
            t.length = 2;
        }
    }
    return table;
}();

// OID text of an OID content: arcs as decimals joined by dots; the first sub-identifier X
// gives two arcs (0 and X below 40, 1 and X - 40 below 80, else 2 and X - 80); sub-
// identifiers keep their low 32 bits. `out` has room for 4 * n + 2 characters. Returns the
// end, or null when the last sub-identifier does not end within the content.
char16_t* RenderOid(const uint8_t* data, std::size_t n, char16_t* out) {
    const uint8_t* const end = data + n;
    // The first sub-identifier gives two arcs.
    uint32_t sub = 0;
    uint8_t b;
    do {
        if (data == end) return nullptr;
        b = *data++;
        sub = (sub << 7) | (b & 0x7Fu);
    } while (b & 0x80);
    const uint32_t a1 = sub < 40 ? 0 : sub < 80 ? 1 : 2;
    *out++ = static_cast<char16_t>(u'0' + a1);
    sub -= 40 * a1;
    if (sub < 128) {
        // ".a2" from the table: at most 4 characters, within the 4 per content byte.
        const ArcText& t = kArcTexts[sub];
        std::memcpy(out, t.chars, sizeof t.chars);
        out += t.length;
    } else {
        *out++ = u'.';
        out = RenderDecimal(sub, out);
    }
    while (data != end) {
        b = *data++;
        if (!(b & 0x80)) {
            // One byte: at most 4 characters, within the 4 per content byte of `out`.
            const ArcText& t = kArcTexts[b];
            std::memcpy(out, t.chars, sizeof t.chars);
            out += t.length;
            continue;
        }
        sub = b & 0x7Fu;
        do {
            if (data == end) return nullptr;
            b = *data++;
            sub = (sub << 7) | (b & 0x7Fu);
        } while (b & 0x80);
        *out++ = u'.';
        out = RenderDecimal(sub, out);
    }
    return out;
}

// Text of an IpAddress content: the first four bytes (missing ones read 0) as decimals
// joined by dots. `out` has room for 15 characters.
char16_t* RenderAddress(const uint8_t* data, std::size_t n, char16_t* out) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (i) *out++ = u'.';
        out = RenderDecimal(i < n ? data[i] : 0u, out);
    }
    return out;
}

// Where an OID text is rendered: a stack buffer, or `spill` for long contents.
class OidTextBuffer {
public:
    explicit OidTextBuffer(std::u16string& spill) : spill_(spill) {}
    // Renders the OID text of a content; false when a sub-identifier does not end within
    // it. An empty content gives the empty text.
    bool Render(const uint8_t* data, std::size_t n) {
        char16_t* out = local_;
        if (n > kStackOidBytes) {
            spill_.resize(4 * n + 2);
            out = spill_.data();
        }
        char16_t* end = n ? RenderOid(data, n, out) : out;
        if (!end) return false;
        text_ = std::u16string_view(out, static_cast<std::size_t>(end - out));
        return true;
    }
    std::u16string_view Text() const { return text_; }

private:
    std::u16string& spill_;
    char16_t local_[kStackOidChars];
    std::u16string_view text_;
};

}  // namespace

// Fills a reset message from BER bytes.
class MessageDecoder {
public:
    MessageDecoder(SnmpMessage& message, const uint8_t* data, std::size_t size, SnmpMessage::Retired& retired)
        : m_(message), c_(data, size), retired_(retired) {}

    // S_OK; kMalformed at the first failing check; E_OUTOFMEMORY when a variable or a text
    // cannot be allocated.
    HRESULT Parse();
    // Whether the community was read (it replaced the message's Community).
    bool CommunityRead() const { return communityRead_; }

private:
    HRESULT ParseTrap1();
    HRESULT ParseVarBindList();
    HRESULT ParseVarBind(std::size_t index);

    SnmpMessage& m_;
    Cursor c_;
    SnmpMessage::Retired& retired_;
    bool communityRead_ = false;
    bool bulk_ = false;
    std::size_t nameTotal_ = 0;
    int implausible_ = 0;
};

HRESULT MessageDecoder::Parse() {
    std::size_t length;
    if (!c_.Tag(0x30) || !c_.Length(length)) return kMalformed;
    const uint64_t rest = c_.Remaining();
    if (length != rest && length != rest + kLengthSlack) return kMalformed;

    int32_t version;
    if (!c_.Tag(0x02) || !c_.Integer(version)) return kMalformed;

    const uint8_t* community;
    std::size_t communityLength;
    if (!c_.Tag(0x04) || !c_.Content(community, communityLength)) return kMalformed;
    {
        // The community ends at its first zero byte.
        const void* zero = communityLength ? std::memchr(community, 0, communityLength) : nullptr;
        const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - community)
                                   : communityLength;
        if (!SameText(m_.community_, community, n)) {
            BSTR text = nullptr;
            if (n) {
                text = SysAllocStringLen(nullptr, static_cast<UINT>(n));
                if (!text) return E_OUTOFMEMORY;
                VelkAnsiToWide(reinterpret_cast<const char*>(community), static_cast<int>(n), text, static_cast<int>(n));
            }
            SysFreeString(m_.community_);
            m_.community_ = text;
        }
        communityRead_ = true;
    }

    // The PDU tag: context-specific or constructed, tag number 0 to 7.
    uint8_t pduTag;
    std::size_t pduLength;
    if (!c_.Byte(pduTag) || (pduTag & 0xA0) == 0 || (pduTag & 0x1F) > 7) return kMalformed;
    if (!c_.Length(pduLength) || pduLength > c_.Remaining()) return kMalformed;
    const LONG type = (pduTag & 0x07) + ((version == 0 || version == 32) ? snmp1 : snmp2);
    if (type == 37 || type == 38 || type == 39 || type == 68) return kMalformed;
    m_.type_ = type;
    if (type == snmpTrap1) return ParseTrap1();

    int32_t id, status, index;
    if (!c_.Tag(0x02) || !c_.Integer(id)) return kMalformed;
    m_.id_ = id;
    if (!c_.Tag(0x02) || !c_.Integer(status)) return kMalformed;
    bulk_ = type == snmpGetBulk2;
    if (bulk_)
        m_.nonRepeaters_ = status;
    else
        m_.exception_ = status == 32 ? 0 : status;
    if (!c_.Tag(0x02) || !c_.Integer(index)) return kMalformed;
    if (bulk_)
        m_.maxRepetition_ = index;
    else
        m_.exceptionIndex_ = index;
    return ParseVarBindList();
}

HRESULT MessageDecoder::ParseTrap1() {
    const uint8_t* data;
    std::size_t n;
    if (!c_.Tag(0x06) || !c_.Content(data, n)) return kMalformed;
    if (n) {
        OidTextBuffer text(m_.decodeName_);
        if (!text.Render(data, n)) return kMalformed;
        BSTR enterprise = NewText(text.Text().data(), text.Text().data() + text.Text().size());
        if (!enterprise) return E_OUTOFMEMORY;
        SysFreeString(m_.enterprise_);
        m_.enterprise_ = enterprise;
    }
    if (!c_.Tag(0x40) || !c_.Content(data, n)) return kMalformed;
    char16_t text[16];
    BSTR address = NewText(text, RenderAddress(data, n, text));
    if (!address) return E_OUTOFMEMORY;
    SysFreeString(m_.agentAddress_);
    m_.agentAddress_ = address;
    int32_t generic, specific;
    uint64_t upTime;
    if (!c_.Tag(0x02) || !c_.Integer(generic)) return kMalformed;
    m_.genericTrap_ = generic;
    if (!c_.Tag(0x02) || !c_.Integer(specific)) return kMalformed;
    m_.specificTrap_ = specific;
    if (!c_.Tag(0x43) || !c_.Unsigned(upTime)) return kMalformed;
    m_.upTime_ = static_cast<LONG>(static_cast<uint32_t>(upTime));
    return ParseVarBindList();
}

HRESULT MessageDecoder::ParseVarBindList() {
    // Any tag; the length must be well-formed, its value is not relied on.
    uint8_t tag;
    std::size_t length;
    if (!c_.Byte(tag) || !c_.Length(length)) return kMalformed;
    for (std::size_t index = 0; !c_.AtEnd(); ++index) {
        if (HRESULT hr = ParseVarBind(index); FAILED(hr)) return hr;
    }
    return S_OK;
}

// The whole VarBind is read first; the variable is then made in one allocation with its
// Oid and value text (a VarBind that does not read makes none, as if it were discarded).
HRESULT MessageDecoder::ParseVarBind(std::size_t index) {
    // VarBind and name: any tags, well-formed lengths.
    uint8_t tag;
    std::size_t varBindLength;
    const uint8_t* data;
    std::size_t n;
    if (!c_.Byte(tag) || !c_.Length(varBindLength)) return kMalformed;
    const std::size_t varBindEnd = c_.Position() + varBindLength;
    OidTextBuffer name(m_.decodeName_);
    if (!c_.Byte(tag) || !c_.Content(data, n) || !name.Render(data, n)) return kMalformed;
    nameTotal_ += name.Text().size();
    if ((name.Text().size() < kShortName || nameTotal_ > kMaxNameTotal) && ++implausible_ > kMaxImplausible)
        return kMalformed;

    // The value, by its tag.
    LONG type = snmpNull;
    LONG exception = snmpNoException;
    std::u16string_view text;          // Value text
    bool isBytes = false;              // or ValueEx bytes
    const uint8_t* bytes = nullptr;
    std::size_t byteCount = 0;
    char16_t number[24];
    OidTextBuffer oidValue(m_.decodeValue_);
    const std::size_t valueTag = c_.Position();
    if (!c_.Byte(tag)) return kMalformed;
    switch (tag) {
        case 0x02: {
            type = snmpInteger;
            int32_t value;
            if (!c_.Integer(value)) return kMalformed;
            text = std::u16string_view(number, static_cast<std::size_t>(RenderSigned(value, number) - number));
            break;
        }
        case 0x41:
        case 0x42:
        case 0x43:
        case 0x47:
        case 0x46: {
            type = tag == 0x41 ? snmpCounter32 : tag == 0x42 ? snmpGuage32 : tag == 0x43 ? snmpTimeTicks
                 : tag == 0x47 ? snmpUInteger32 : snmpCounter64;
            uint64_t value;
            if (!c_.Unsigned(value)) return kMalformed;
            if (tag != 0x46) value = static_cast<uint32_t>(value);
            text = std::u16string_view(number, static_cast<std::size_t>(RenderDecimal(value, number) - number));
            break;
        }
        case 0x04:
        case 0x44:
        case 0x45:
            type = tag == 0x04 ? snmpOctetString : tag == 0x44 ? snmpOpaque : snmpNSAPAddress;
            if (!c_.Content(bytes, byteCount)) return kMalformed;
            isBytes = true;
            break;
        case 0x05:
            if (!c_.Content(data, n)) return kMalformed;
            break;
        case 0x06:
            type = snmpObjectID;
            if (!c_.Content(data, n) || !oidValue.Render(data, n)) return kMalformed;
            text = oidValue.Text();
            break;
        case 0x40:
            type = snmpIpAddress;
            if (!c_.Content(data, n)) return kMalformed;
            text = std::u16string_view(number, static_cast<std::size_t>(RenderAddress(data, n, number) - number));
            break;
        default:
            // An exception, or a value this reader does not know (the variable keeps its
            // name alone): reading goes on at the end of the VarBind by its length. That
            // may be back over the value tag (a VarBind of a name alone, as the encoder
            // writes for a Type outside the table), never further back, so every VarBind
            // moves forward.
            if (tag >= 0x80 && tag <= 0x82) exception = tag - 0x80 + 1;
            if (varBindEnd < valueTag || !c_.Seek(varBindEnd)) return kMalformed;
            break;
    }

    retired_.ReleaseNext();
    auto variable = ComPtr<SnmpVariable>::Adopt(isBytes ? SnmpVariable::NewWithBytes(name.Text(), bytes, byteCount)
                                                        : SnmpVariable::NewWithTexts(name.Text(), text));
    if (!variable) return E_OUTOFMEMORY;
    SnmpVariable& v = *variable;
    // GetBulk: the first non-repeaters variables do not repeat (a negative count: none does).
    const LONG nonRepeaters = m_.nonRepeaters_;
    if (bulk_ && nonRepeaters >= 0 && index >= static_cast<std::size_t>(nonRepeaters)) v.SetRepeat(VARIANT_TRUE);
    if (type != snmpNull) v.SetType(type);
    if (exception != snmpNoException) v.SetException(exception);
    m_.members_->AppendOwned(variable.Detach());
    return S_OK;
}

HRESULT SnmpMessage::DecodeFrom(const uint8_t* data, std::size_t size, bool haveBytes, Retired& retired) {
    HRESULT hr = kMalformed;
    bool communityRead = false;
    if (haveBytes) {
        MessageDecoder decoder(*this, data, size, retired);
        try {
            hr = decoder.Parse();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        communityRead = decoder.CommunityRead();
    }
    if (!communityRead) SetDefaultCommunity();
    if (exceptionIndex_ == 32 && members_->Size() < 32) exceptionIndex_ = 0;
    return hr == kMalformed ? automation::ReportError(CLSID_SnmpMessage, kFormatError) : hr;
}

}  // namespace velk::codec
