// SnmpMessage: creation, properties, Reset, and the Encode and Decode entry points.
#include "codec/message.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "automation/error_reporting.h"
#include "model/velk_variant.h"
#include "sock/host_info.h"

namespace velk::codec {
namespace {

constexpr std::u16string_view kDefaultCommunity = u"cobalt";

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// A copy of `value` for a field that stores null for the empty text.
HRESULT CopyNonEmpty(BSTR* field, BSTR value) {
    BSTR copy = nullptr;
    if (SysStringLen(value) != 0) {
        copy = SysAllocStringLen(value, SysStringLen(value));
        if (!copy) return E_OUTOFMEMORY;
    }
    SysFreeString(*field);
    *field = copy;
    return S_OK;
}

HRESULT CopyIn(BSTR* field, BSTR value) {
    BSTR copy = nullptr;
    if (value) {
        copy = SysAllocStringLen(value, SysStringLen(value));
        if (!copy) return E_OUTOFMEMORY;
    }
    SysFreeString(*field);
    *field = copy;
    return S_OK;
}

HRESULT CopyOut(BSTR field, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!field) return S_OK;
    *out = SysAllocStringLen(field, SysStringLen(field));
    return *out ? S_OK : E_OUTOFMEMORY;
}

template <class T>
HRESULT GetNumber(LONG field, T* out) {
    if (!out) return E_POINTER;
    *out = static_cast<T>(field);
    return S_OK;
}

// Milliseconds of a coarse monotonic clock (a few nanoseconds to read).
int64_t CoarseMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// The byte array that `message` (or the VARIANT it refers to) holds when it already has
// the shape a new one would get: one dimension, zero-based, exactly `size` bytes, its data
// its own and not locked. An encoding into such an array is written in place (a control
// that encodes into the same VARIANT each time allocates nothing). Null otherwise.
SAFEARRAY* ReusableArray(VARIANT* message, std::size_t size) {
    const VARIANT* v = message ? model::FollowVariantReferences(message) : nullptr;
    if (!v) return nullptr;
    SAFEARRAY* array = nullptr;
    if (v->vt == (VT_ARRAY | VT_UI1))
        array = v->parray;
    else if (v->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && v->pparray)
        array = *v->pparray;
    if (!array || array->cDims != 1 || array->cbElements != 1 || array->cLocks != 0 || !array->pvData) return nullptr;
    if (array->fFeatures & (FADF_AUTO | FADF_STATIC | FADF_FIXEDSIZE)) return nullptr;
    if (array->rgsabound[0].lLbound != 0 || array->rgsabound[0].cElements != size) return nullptr;
    return array;
}

// How long Reset and Decode reuse the host address read last (by any message): reading it
// asks the system for the host's addresses, far too slow for every message.
constexpr int64_t kHostAddressLifetimeMs = 1000;

}  // namespace

SnmpMessage::SnmpMessage() { VariantInit(&ref_); }

SnmpMessage::~SnmpMessage() {
    SysFreeString(community_);
    SysFreeString(enterprise_);
    SysFreeString(agentAddress_);
    VariantClear(&ref_);
}

HRESULT SnmpMessage::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpMessage); FAILED(hr)) return hr;
    auto message = rt::MakeObject<SnmpMessage>();
    if (!message) return E_OUTOFMEMORY;
    if (HRESULT hr = message->Init(); FAILED(hr)) return hr;
    return message->QueryInterface(iid, out);
}

HRESULT SnmpMessage::Init() {
    if (HRESULT hr = sock::CreateHostInfo(hostInfo_.Put()); FAILED(hr)) return hr;
    if (HRESULT hr = model::SnmpVariables::CreateInstance(IID_ISnmpVariables, variables_.PutVoid());
        FAILED(hr))
        return hr;
    members_ = model::SnmpVariables::From(variables_.Get());
    if (!members_) return E_UNEXPECTED;
    Reset();
    members_->put_Sorted(VARIANT_FALSE);
    return S_OK;
}

HRESULT SnmpMessage::QueryExtraInterface(REFIID iid, void** out) {
    return rt::AnswerOwnIdentity(this, iid, IID_SnmpMessageImpl, out);
}

SnmpMessage* SnmpMessage::From(ISnmpMessage* message) { return rt::OwnObjectBehind<SnmpMessage>(message, IID_SnmpMessageImpl); }

// ---- Properties ----

HRESULT SnmpMessage::get_Community(BSTR* out) { return CopyOut(community_, out); }
HRESULT SnmpMessage::put_Community(BSTR value) { return CopyNonEmpty(&community_, value); }
HRESULT SnmpMessage::get_Enterprise(BSTR* out) { return CopyOut(enterprise_, out); }
HRESULT SnmpMessage::put_Enterprise(BSTR value) { return CopyNonEmpty(&enterprise_, value); }
HRESULT SnmpMessage::get_AgentAddress(BSTR* out) { return CopyOut(agentAddress_, out); }
HRESULT SnmpMessage::put_AgentAddress(BSTR value) { return CopyIn(&agentAddress_, value); }

HRESULT SnmpMessage::get_Exception(ExceptionConstants* out) { return GetNumber(exception_, out); }
HRESULT SnmpMessage::put_Exception(ExceptionConstants value) {
    exception_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_ExceptionIndex(LONG* out) { return GetNumber(exceptionIndex_, out); }
HRESULT SnmpMessage::put_ExceptionIndex(LONG value) {
    exceptionIndex_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_Id(LONG* out) { return GetNumber(id_, out); }
HRESULT SnmpMessage::put_Id(LONG value) {
    id_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_MaxRepetition(LONG* out) { return GetNumber(maxRepetition_, out); }
HRESULT SnmpMessage::put_MaxRepetition(LONG value) {
    maxRepetition_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_Type(TypeConstants* out) { return GetNumber(type_, out); }
HRESULT SnmpMessage::put_Type(TypeConstants value) {
    type_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_GenericTrap(TrapConstants* out) { return GetNumber(genericTrap_, out); }
HRESULT SnmpMessage::put_GenericTrap(TrapConstants value) {
    genericTrap_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_SpecificTrap(LONG* out) { return GetNumber(specificTrap_, out); }
HRESULT SnmpMessage::put_SpecificTrap(LONG value) {
    specificTrap_ = value;
    return S_OK;
}
HRESULT SnmpMessage::get_UpTime(LONG* out) { return GetNumber(upTime_, out); }
HRESULT SnmpMessage::put_UpTime(LONG value) {
    upTime_ = value;
    return S_OK;
}

HRESULT SnmpMessage::get_Ref(VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    return VariantCopy(out, &ref_);
}

HRESULT SnmpMessage::put_Ref(VARIANT value) {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopyInd(&copy, &value);
    if (hr == E_OUTOFMEMORY) return hr;
    if (FAILED(hr)) VariantInit(&copy);  // a reference that cannot be followed: no value
    VariantClear(&ref_);
    ref_ = copy;
    return S_OK;
}

HRESULT SnmpMessage::get_Variables(ISnmpVariables** out) { return variables_.CopyTo(out); }

// ---- Reset ----

bool SnmpMessage::SetDefaultCommunity() {
    BSTR text = SysAllocStringLen(kDefaultCommunity.data(), static_cast<UINT>(kDefaultCommunity.size()));
    if (!text) return false;
    SysFreeString(community_);
    community_ = text;
    return true;
}

void SnmpMessage::ResetFields(bool community) {
    if (community) SetDefaultCommunity();
    SysFreeString(enterprise_);
    enterprise_ = nullptr;
    VariantClear(&ref_);
    exception_ = 0;
    type_ = snmpGet1;
    genericTrap_ = 0;
    upTime_ = 0;
    specificTrap_ = 0;
    maxRepetition_ = 0;
    id_ = 0;
    exceptionIndex_ = 0;
    nonRepeaters_ = 0;
}

namespace {

// The host address last read, shared by every message of the process: a host that makes a
// message per request would otherwise ask the system each time.
struct HostAddressCache {
    std::mutex mutex;
    std::u16string address;
    int64_t time = 0;
    bool known = false;
};

HostAddressCache& TheHostAddressCache() {
    static HostAddressCache* cache = new HostAddressCache;  // never destroyed: used at exit
    return *cache;
}

}  // namespace

void SnmpMessage::TakeHostAddress() {
    const int64_t now = CoarseMilliseconds();
    HostAddressCache& cache = TheHostAddressCache();
    std::lock_guard lock(cache.mutex);
    if (!cache.known || now - cache.time >= kHostAddressLifetimeMs) {
        cache.known = false;
        cache.address.clear();
        ComPtr<IVelkStrings> addresses;
        if (hostInfo_ && SUCCEEDED(hostInfo_->get_Addresses(addresses.Put())) && addresses) {
            Bstr first;
            if (SUCCEEDED(addresses->get_Item(1, first.Put()))) {
                try {
                    cache.address.assign(first.View());
                } catch (const std::bad_alloc&) {
                    cache.address.clear();
                }
            }
        }
        cache.known = true;
        cache.time = now;
    }
    // Compared in place: most messages already hold the address, and copying it out would
    // cost an allocation per message.
    const std::u16string& address = cache.address;
    if (address.empty() || View(agentAddress_) == address) return;
    BSTR copy = SysAllocStringLen(address.data(), static_cast<UINT>(address.size()));
    if (!copy) return;  // AgentAddress stays as it is
    SysFreeString(agentAddress_);
    agentAddress_ = copy;
}

HRESULT SnmpMessage::Reset() {
    TakeHostAddress();
    ResetFields(true);
    members_->Clear();
    return S_OK;
}

// ---- Decode and Encode ----

SnmpMessage::Retired::Retired(SnmpMessage& message) : message_(message) {
    held_.swap(message.retired_);  // a nested Decode finds no storage and makes its own
}

SnmpMessage::Retired::~Retired() {
    while (next_ < held_.size()) ReleaseNext();
    held_.clear();
    if (message_.retired_.capacity() < held_.capacity()) message_.retired_.swap(held_);
}

void SnmpMessage::ResetForDecode(Retired& retired) {
    TakeHostAddress();
    ResetFields(false);
    for (auto* n = members_->Members().Head(); n; n = n->next) {
        if (!n->value.own) continue;
        try {
            retired.Hold(n->value.own);
        } catch (const std::bad_alloc&) {
            break;  // the others are released by Clear
        }
    }
    members_->Clear();
}

HRESULT SnmpMessage::Decode(VARIANT message) {
    // The bytes are bound after the reset (which may release host objects) and read in
    // place when they are a byte array.
    Retired retired(*this);
    ResetForDecode(retired);
    model::CVelkVariant bytes;
    const bool haveBytes = bytes.Read(message);
    return DecodeFrom(bytes.Data(), bytes.Size(), haveBytes, retired);
}

HRESULT SnmpMessage::DecodeBytes(std::span<const uint8_t> bytes) {
    Retired retired(*this);
    ResetForDecode(retired);
    return DecodeFrom(bytes.data(), bytes.size(), true, retired);
}

HRESULT SnmpMessage::Encode(VARIANT* message) {
    const bool nested = encoding_;
    EncoderState local;
    EncoderState& state = nested ? local : encoder_;
    encoding_ = true;
    const HRESULT hr = EncodeInto(state);
    encoding_ = nested;
    if (FAILED(hr)) return hr;

    const std::span<const uint8_t> encoded = state.buffer.Encoded();
    if (SAFEARRAY* array = ReusableArray(message, encoded.size())) {
        if (!encoded.empty()) std::memcpy(array->pvData, encoded.data(), encoded.size());
        return S_OK;
    }
    // An empty target (a script's output argument starts empty) receives a new byte array.
    if (const VARIANT* found = message ? model::FollowVariantReferences(message) : nullptr;
        found && found->vt == VT_EMPTY) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(encoded.size()));
        if (!array) return E_OUTOFMEMORY;
        if (!encoded.empty()) std::memcpy(array->pvData, encoded.data(), encoded.size());
        VARIANT* target = const_cast<VARIANT*>(found);
        target->vt = VT_ARRAY | VT_UI1;
        target->parray = array;
        return S_OK;
    }
    model::CVelkVariant writer;
    uint8_t* target = message ? writer.Write(message, encoded.size()) : nullptr;
    // A VARIANT that can hold no bytes (nor a new array, for want of memory) stays as it is.
    if (!target) return automation::ReportError(CLSID_SnmpMessage, kFormatError);
    const std::size_t n = std::min(encoded.size(), writer.Size());
    if (n) std::memcpy(target, encoded.data(), n);
    return writer.Commit(n);
}

HRESULT SnmpMessage::EncodeBytes(std::span<const uint8_t>* out) {
    if (!out) return E_POINTER;
    *out = {};
    if (encoding_) return E_UNEXPECTED;
    encoding_ = true;
    const HRESULT hr = EncodeInto(encoder_);
    encoding_ = false;
    if (SUCCEEDED(hr)) *out = encoder_.buffer.Encoded();
    return hr;
}

}  // namespace velk::codec
