// Saving and loading persisted control properties.
#include "automation/persistence.h"

#include <cstring>
#include <vector>

namespace velk::automation {
namespace {

HRESULT WriteAll(IStream* s, const void* data, ULONG size) {
    ULONG written = 0;
    HRESULT hr = s->Write(data, size, &written);
    if (FAILED(hr)) return hr;
    return written == size ? S_OK : E_FAIL;
}

HRESULT ReadAll(IStream* s, void* data, ULONG size) {
    ULONG read = 0;
    HRESULT hr = s->Read(data, size, &read);
    if (FAILED(hr)) return hr;
    return read == size ? S_OK : E_FAIL;
}

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetLe(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

HRESULT GetProperty(IDispatch* d, DISPID id, VARIANT* out) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
}

HRESULT PutProperty(IDispatch* d, DISPID id, VARIANT* value) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{value, &put, 1, 1};
    return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

// Reads a text of `count` bytes in chunks, so a count that the stream cannot back never
// causes a large allocation.
HRESULT ReadText(IStream* s, uint32_t count, BSTR* out) {
    *out = nullptr;
    if (count == 0) return S_OK;
    if (count % 2 != 0 || count > 0x7FFFFFFEu) return E_FAIL;
    std::vector<uint8_t> bytes;
    constexpr uint32_t kChunk = 64 * 1024;
    while (bytes.size() < count) {
        uint32_t want = std::min<uint32_t>(kChunk, count - static_cast<uint32_t>(bytes.size()));
        size_t at = bytes.size();
        bytes.resize(at + want);
        if (HRESULT hr = ReadAll(s, bytes.data() + at, want); FAILED(hr)) return hr;
    }
    UINT chars = count / 2 - 1;  // the last character is the terminating null
    BSTR text = SysAllocStringLen(nullptr, chars);
    if (!text) return E_OUTOFMEMORY;
    for (UINT i = 0; i < chars; ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    *out = text;
    return S_OK;
}

}  // namespace

HRESULT SavePersistedProperties(IDispatch* object, std::span<const PersistedProperty> props,
                                IStream* stream) {
    if (!object || !stream) return E_POINTER;
    std::vector<uint8_t> out;
    PutLe(out, kPersistVersion, 4);
    for (const PersistedProperty& p : props) {
        Variant value;
        if (HRESULT hr = GetProperty(object, p.dispid, &value); FAILED(hr)) return hr;
        Variant typed;
        if (HRESULT hr = VariantChangeType(&typed, &value, 0, p.vt); FAILED(hr)) return hr;
        PutLe(out, p.vt, 2);
        switch (p.vt) {
            case VT_BOOL: PutLe(out, typed.boolVal ? 0xFFFF : 0, 2); break;
            case VT_I4: PutLe(out, static_cast<uint32_t>(typed.lVal), 4); break;
            case VT_BSTR: {
                if (!typed.bstrVal) {
                    PutLe(out, 0, 4);
                    break;
                }
                UINT len = SysStringLen(typed.bstrVal);
                PutLe(out, 2 * len + 2, 4);
                for (UINT i = 0; i < len; ++i) PutLe(out, typed.bstrVal[i], 2);
                PutLe(out, 0, 2);
                break;
            }
            default: return E_FAIL;
        }
    }
    return WriteAll(stream, out.data(), static_cast<ULONG>(out.size()));
}

HRESULT LoadPersistedProperties(IDispatch* object, std::span<const PersistedProperty> props,
                                IStream* stream) {
    if (!object || !stream) return E_POINTER;
    uint8_t word[4];
    if (HRESULT hr = ReadAll(stream, word, 4); FAILED(hr)) return hr;
    if (GetLe(word, 4) > kPersistVersion) return E_FAIL;
    for (const PersistedProperty& p : props) {
        uint8_t type[2];
        if (HRESULT hr = ReadAll(stream, type, 2); FAILED(hr)) return hr;
        if (GetLe(type, 2) != p.vt) return E_FAIL;
        Variant value;
        switch (p.vt) {
            case VT_BOOL: {
                uint8_t b[2];
                if (HRESULT hr = ReadAll(stream, b, 2); FAILED(hr)) return hr;
                value.vt = VT_BOOL;
                value.boolVal = GetLe(b, 2) ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            }
            case VT_I4: {
                uint8_t b[4];
                if (HRESULT hr = ReadAll(stream, b, 4); FAILED(hr)) return hr;
                value.vt = VT_I4;
                value.lVal = static_cast<LONG>(GetLe(b, 4));
                break;
            }
            case VT_BSTR: {
                uint8_t b[4];
                if (HRESULT hr = ReadAll(stream, b, 4); FAILED(hr)) return hr;
                value.vt = VT_BSTR;
                if (HRESULT hr = ReadText(stream, GetLe(b, 4), &value.bstrVal); FAILED(hr))
                    return hr;
                break;
            }
            default: return E_FAIL;
        }
        if (HRESULT hr = PutProperty(object, p.dispid, &value); FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace velk::automation
