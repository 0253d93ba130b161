// SnmpVariable.
#include "model/variable.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/value_name.h"
#include "model/velk_variant.h"
#include "runtime/placed_array.h"
#include "sock/velk_strings.h"

namespace velk::model {
namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

BSTR NewText(std::u16string_view s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

}  // namespace

SnmpVariable::SnmpVariable() {
    VariantInit(&value_);
    value_.vt = VT_BSTR;  // empty text (a null BSTR)
    value_.bstrVal = nullptr;
}

SnmpVariable::~SnmpVariable() {
    // Most variables (decoded ones) have none of these texts, and decoded variables and MIB
    // variables read from an image hold theirs in their own allocation: skip those.
    for (BSTR* field : {&oid_, &name_, &description_, &reference_, &syntax_, &baseSyntax_})
        if (*field && !(embedded_ & EmbeddedBit(field))) SysFreeString(*field);
    ReleaseValue();
    if (index_) index_->Release();
}

namespace {

// Bytes of a BSTR of n characters held in place: length prefix, characters, terminator.
constexpr size_t EmbeddedTextBytes(size_t n) { return n ? sizeof(uint32_t) + (n + 1) * sizeof(OLECHAR) : 0; }

// Lays out a BSTR of `text` at `at` (EmbeddedTextBytes of room); null for the empty text.
BSTR EmbedText(unsigned char* at, std::u16string_view text) {
    if (text.empty()) return nullptr;
    const auto bytes = static_cast<uint32_t>(text.size() * sizeof(OLECHAR));
    std::memcpy(at, &bytes, sizeof bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(at + sizeof bytes);
    std::memcpy(chars, text.data(), bytes);
    chars[text.size()] = 0;
    return chars;
}

}  // namespace

SnmpVariable* SnmpVariable::NewWithTexts(std::u16string_view oid, std::u16string_view value) {
    return NewEmbedded(oid, value, nullptr, 0);
}

SnmpVariable* SnmpVariable::NewWithFields(const TextFields& texts) {
    const std::u16string_view parts[] = {texts.oid, texts.name, texts.description, texts.reference,
                                         texts.syntax, texts.value};
    size_t total = sizeof(SnmpVariable);
    for (std::u16string_view part : parts) {
        if (part.size() > 0x3FFFFFF0) return nullptr;  // the runtime's BSTR limit
        total += EmbeddedTextBytes(part.size());
    }
    void* memory = ::operator new(total, std::nothrow);
    if (!memory) return nullptr;
    auto* v = ::new (memory) SnmpVariable();
    auto* at = static_cast<unsigned char*>(memory) + sizeof(SnmpVariable);
    const auto place = [&](std::u16string_view text, BSTR* field, uint8_t bit) {
        if ((*field = EmbedText(at, text))) v->embedded_ |= bit;
        at += EmbeddedTextBytes(text.size());
    };
    place(texts.oid, &v->oid_, kEmbeddedOid);
    place(texts.name, &v->name_, kEmbeddedName);
    place(texts.description, &v->description_, kEmbeddedDescription);
    place(texts.reference, &v->reference_, kEmbeddedReference);
    place(texts.syntax, &v->syntax_, kEmbeddedSyntax);
    place(texts.value, &v->value_.bstrVal, kEmbeddedValue);
    v->AddRef();
    return v;
}

SnmpVariable* SnmpVariable::NewWithBytes(std::u16string_view oid, const uint8_t* data, size_t size) {
    return NewEmbedded(oid, {}, data ? data : reinterpret_cast<const uint8_t*>(""), size);
}

// One allocation: the object, then the Oid text, then the value (text, or a byte array
// placed at the next aligned offset).
SnmpVariable* SnmpVariable::NewEmbedded(std::u16string_view oid, std::u16string_view value,
                                        const uint8_t* bytes, size_t byteCount) {
    constexpr size_t kMaxText = 0x3FFFFFF0;  // characters, as the runtime's BSTR limit
    if (oid.size() > kMaxText || value.size() > kMaxText || byteCount > 0x7FFFFFFF) return nullptr;
    constexpr size_t kAlign = rt::kPlacedArrayAlignment;
    static_assert(sizeof(SnmpVariable) % alignof(SnmpVariable) == 0);
    const size_t oidBytes = EmbeddedTextBytes(oid.size());
    const size_t arrayAt = (sizeof(SnmpVariable) + oidBytes + kAlign - 1) / kAlign * kAlign;
    const size_t total = bytes ? arrayAt + rt::PlacedByteVectorBytes(byteCount)
                               : sizeof(SnmpVariable) + oidBytes + EmbeddedTextBytes(value.size());
    static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= kAlign, "operator new aligns for the placed array");
    void* memory = ::operator new(total, std::nothrow);
    if (!memory) return nullptr;
    auto* v = ::new (memory) SnmpVariable();
    auto* base = static_cast<unsigned char*>(memory);
    if ((v->oid_ = EmbedText(base + sizeof(SnmpVariable), oid))) v->embedded_ |= kEmbeddedOid;
    if (bytes) {
        v->value_.vt = kByteArray;
        v->value_.parray = rt::PlaceByteVector(base + arrayAt, bytes, byteCount);
        v->embedded_ |= kEmbeddedValue;
    } else if ((v->value_.bstrVal = EmbedText(base + sizeof(SnmpVariable) + oidBytes, value))) {
        v->embedded_ |= kEmbeddedValue;
    }
    v->AddRef();
    return v;
}

void SnmpVariable::ReleaseValue() {
    if (embedded_ & kEmbeddedValue) {
        embedded_ &= ~kEmbeddedValue;  // the store is that text: nothing to free
        VariantInit(&value_);
    } else {
        VariantClear(&value_);
    }
}

HRESULT SnmpVariable::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpVariable); FAILED(hr)) return hr;
    return rt::CreateInstanceOf<SnmpVariable>(iid, out);
}

HRESULT SnmpVariable::QueryExtraInterface(REFIID iid, void** out) {
    return rt::AnswerOwnIdentity(this, iid, IID_SnmpVariableImpl, out);
}

SnmpVariable* SnmpVariable::From(ISnmpVariable* variable) { return rt::OwnObjectBehind<SnmpVariable>(variable, IID_SnmpVariableImpl); }

// ---- Field helpers ----

uint8_t SnmpVariable::EmbeddedBit(const BSTR* field) const {
    if (field == &oid_) return kEmbeddedOid;
    if (field == &name_) return kEmbeddedName;
    if (field == &description_) return kEmbeddedDescription;
    if (field == &reference_) return kEmbeddedReference;
    if (field == &syntax_) return kEmbeddedSyntax;
    if (field == &baseSyntax_) return kEmbeddedBaseSyntax;
    return 0;
}

void SnmpVariable::Replace(BSTR* field, BSTR text) {
    if (*field == text) return;
    if (const uint8_t bit = EmbeddedBit(field); embedded_ & bit)
        embedded_ &= static_cast<uint8_t>(~bit);  // lived in the object's allocation
    else
        SysFreeString(*field);
    *field = text;
}

HRESULT SnmpVariable::CopyIn(BSTR* field, BSTR value) {
    BSTR copy = nullptr;
    if (value) {
        copy = SysAllocStringLen(value, SysStringLen(value));
        if (!copy) return E_OUTOFMEMORY;
    }
    Replace(field, copy);
    return S_OK;
}

HRESULT SnmpVariable::CopyOut(BSTR field, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!field) return S_OK;
    *out = SysAllocStringLen(field, SysStringLen(field));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---- Plain fields ----

HRESULT SnmpVariable::get_Access(AccessConstants* out) {
    if (!out) return E_POINTER;
    *out = static_cast<AccessConstants>(access_);
    return S_OK;
}
HRESULT SnmpVariable::put_Access(AccessConstants value) {
    access_ = value;
    return S_OK;
}
HRESULT SnmpVariable::get_Exception(VariableExceptionConstants* out) {
    if (!out) return E_POINTER;
    *out = static_cast<VariableExceptionConstants>(exception_);
    return S_OK;
}
HRESULT SnmpVariable::put_Exception(VariableExceptionConstants value) {
    exception_ = value;
    EncodingChanged();
    return S_OK;
}
HRESULT SnmpVariable::get_Status(StatusConstants* out) {
    if (!out) return E_POINTER;
    *out = static_cast<StatusConstants>(status_);
    return S_OK;
}
HRESULT SnmpVariable::put_Status(StatusConstants value) {
    status_ = value;
    return S_OK;
}
HRESULT SnmpVariable::get_Type(VariableTypeConstants* out) {
    if (!out) return E_POINTER;
    *out = static_cast<VariableTypeConstants>(type_);
    return S_OK;
}
HRESULT SnmpVariable::put_Type(VariableTypeConstants value) {
    type_ = value;
    EncodingChanged();
    return S_OK;
}
HRESULT SnmpVariable::get_Repeat(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = repeat_;
    return S_OK;
}
HRESULT SnmpVariable::put_Repeat(VARIANT_BOOL value) {
    repeat_ = value;
    return S_OK;
}

HRESULT SnmpVariable::get_Description(BSTR* out) { return CopyOut(description_, out); }
HRESULT SnmpVariable::put_Description(BSTR value) { return CopyIn(&description_, value); }
HRESULT SnmpVariable::get_Name(BSTR* out) { return CopyOut(name_, out); }
HRESULT SnmpVariable::put_Name(BSTR value) { return CopyIn(&name_, value); }
HRESULT SnmpVariable::get_Syntax(BSTR* out) { return CopyOut(syntax_, out); }
HRESULT SnmpVariable::put_Syntax(BSTR value) { return CopyIn(&syntax_, value); }
HRESULT SnmpVariable::get_Reference(BSTR* out) { return CopyOut(reference_, out); }
HRESULT SnmpVariable::put_Reference(BSTR value) { return CopyIn(&reference_, value); }
HRESULT SnmpVariable::get_BaseSyntax(BSTR* out) { return CopyOut(baseSyntax_, out); }
HRESULT SnmpVariable::put_BaseSyntax(BSTR value) { return CopyIn(&baseSyntax_, value); }

// ---- Oid ----

HRESULT SnmpVariable::get_Oid(BSTR* out) { return CopyOut(oid_, out); }

HRESULT SnmpVariable::put_Oid(BSTR value) {
    BSTR copy = nullptr;
    if (value) {
        copy = SysAllocStringLen(value, SysStringLen(value));
        if (!copy) return E_OUTOFMEMORY;
    }
    SetOid(copy);
    return S_OK;
}

void SnmpVariable::SetOid(BSTR text) {
    Replace(&oid_, text);
    OidChanged();
}

bool SnmpVariable::SetOid(std::u16string_view text) {
    BSTR copy = NewText(text);
    if (!copy) return false;
    SetOid(copy);
    return true;
}

bool SnmpVariable::SetName(std::u16string_view text) {
    BSTR copy = NewText(text);
    if (!copy) return false;
    Replace(&name_, copy);
    return true;
}

void SnmpVariable::OidChanged() {
    EncodingChanged();
    if (watch_.changes) ++*watch_.changes;
    if (moreWatches_)
        for (Watch& w : *moreWatches_) ++*w.changes;
}

void SnmpVariable::AddWatch(uint64_t* changes) {
    if (watch_.changes == changes) {
        ++watch_.entries;
        return;
    }
    if (moreWatches_) {
        for (Watch& w : *moreWatches_) {
            if (w.changes == changes) {
                ++w.entries;
                return;
            }
        }
    }
    if (!watch_.changes) {
        watch_ = {changes, 1};
        return;
    }
    if (!moreWatches_) moreWatches_ = std::make_unique<std::vector<Watch>>();
    moreWatches_->push_back({changes, 1});
}

void SnmpVariable::RemoveWatch(uint64_t* changes) {
    if (watch_.changes == changes) {
        if (--watch_.entries == 0) {
            watch_ = {nullptr, 0};
            if (moreWatches_ && !moreWatches_->empty()) {
                watch_ = moreWatches_->back();
                moreWatches_->pop_back();
            }
        }
        return;
    }
    if (!moreWatches_) return;
    auto& more = *moreWatches_;
    for (size_t i = 0; i < more.size(); ++i) {
        if (more[i].changes != changes) continue;
        if (--more[i].entries == 0) {
            more[i] = more.back();
            more.pop_back();
        }
        return;
    }
}

// ---- Value store ----

std::u16string_view SnmpVariable::ValueTextView() const {
    return value_.vt == VT_BSTR ? View(value_.bstrVal) : std::u16string_view();
}

void SnmpVariable::SetValueText(BSTR text) {
    if (value_.vt == VT_BSTR && value_.bstrVal == text) return;
    EncodingChanged();
    ReleaseValue();
    value_.vt = VT_BSTR;
    value_.bstrVal = text;
}

bool SnmpVariable::SetValueText(std::u16string_view text) {
    BSTR copy = NewText(text);
    if (!copy) return false;
    SetValueText(copy);
    return true;
}

bool SnmpVariable::SetValueBytes(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) return false;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (!array) return false;
    if (size) std::memcpy(array->pvData, data, size);
    EncodingChanged();
    ReleaseValue();
    value_.vt = kByteArray;
    value_.parray = array;
    return true;
}

HRESULT SnmpVariable::get_Value(BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (value_.vt == VT_BSTR) return CopyOut(value_.bstrVal, out);
    if (value_.vt != kByteArray) return S_OK;
    CVelkVariant bytes;
    if (!bytes.Read(value_) || bytes.Size() > 0x7FFFFFFF) return S_OK;
    const int n = static_cast<int>(bytes.Size());
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (!text) return E_OUTOFMEMORY;
    if (n) VelkAnsiToWide(reinterpret_cast<const char*>(bytes.Data()), n, text, n);
    *out = text;
    return S_OK;
}

HRESULT SnmpVariable::put_Value(BSTR value) {
    BSTR copy = nullptr;
    if (value) {
        copy = SysAllocStringLen(value, SysStringLen(value));
        if (!copy) return E_OUTOFMEMORY;
    }
    SetValueText(copy);
    return S_OK;
}

HRESULT SnmpVariable::get_ValueEx(VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (value_.vt == kByteArray) return VariantCopy(out, &value_);
    if (value_.vt != VT_BSTR) return S_OK;
    // The text's bytes into a new byte array.
    VARIANT result;
    VariantInit(&result);
    result.vt = kByteArray;
    result.parray = nullptr;
    CVelkVariant reader;
    reader.Read(value_);
    CVelkVariant writer;
    uint8_t* data = writer.Write(&result, reader.Size());
    if (!data) return E_OUTOFMEMORY;
    if (reader.Size()) std::memcpy(data, reader.Data(), reader.Size());
    writer.Commit(reader.Size());
    *out = result;
    return S_OK;
}

HRESULT SnmpVariable::put_ValueEx(VARIANT value) {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopyInd(&copy, &value);
    if (hr == E_OUTOFMEMORY) return hr;
    if (FAILED(hr)) VariantInit(&copy);  // unfollowable reference or invalid type: no value
    EncodingChanged();
    ReleaseValue();
    value_ = copy;
    return S_OK;
}

// ---- Encoding cache ----

bool SnmpVariable::SetEncodingCache(std::span<const uint8_t> bytes) {
    encoding_.reset();
    encodingSize_ = 0;
    if (bytes.empty() || bytes.size() > UINT32_MAX) return false;
    encoding_.reset(new (std::nothrow) uint8_t[bytes.size()]);
    if (!encoding_) return false;
    std::memcpy(encoding_.get(), bytes.data(), bytes.size());
    encodingSize_ = static_cast<uint32_t>(bytes.size());
    if (encodings_ == 0) encodings_ = 1;  // so that the next change drops the cache
    return true;
}

// ---- Index ----

HRESULT SnmpVariable::get_Index(IVelkStrings** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!index_ && FAILED(sock::CreateVelkStrings(&index_))) index_ = nullptr;
    if (index_) {
        index_->AddRef();
        *out = index_;
    }
    return S_OK;
}

void SnmpVariable::ReplaceIndex(IVelkStrings* index) {
    if (index) index->AddRef();
    if (index_) index_->Release();
    index_ = index;
}

// ---- ValueName ----

HRESULT SnmpVariable::get_ValueName(BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::optional<std::u16string> label;
    if (type_ == snmpInteger && SysStringLen(baseSyntax_) != 0) {
        Bstr bytesAsText;  // the text of a byte-array store
        std::u16string_view value = ValueTextView();
        if (value_.vt == kByteArray) {
            HRESULT hr = get_Value(bytesAsText.Put());
            if (FAILED(hr)) return hr;
            value = bytesAsText.View();
        }
        if (!value.empty()) label = EnumerationLabel(value, BaseSyntaxView());
    }
    *out = NewText(label ? std::u16string_view(*label) : kInvalidEnumerationValue);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---- Creation ----

HRESULT CreateSnmpVariable(ISnmpVariable** out) {
    return SnmpVariable::CreateInstance(IID_ISnmpVariable, reinterpret_cast<void**>(out));
}

SnmpVariable* NewSnmpVariable() {
    return rt::MakeObject<SnmpVariable>().Detach();
}

}  // namespace velk::model
