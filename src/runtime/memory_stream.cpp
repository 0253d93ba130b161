// Memory streams and a memory storage. A storage keeps one buffer per stream name; each
// CreateStream/OpenStream gives a stream object with its own seek position over it.
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "runtime/object.h"
#include "velk/oleauto.h"

namespace {

using velk::ComPtr;

constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009u);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070u);
// Largest stream; writes or sizes beyond it fail with STG_E_MEDIUMFULL.
constexpr ULONGLONG kMaxStreamBytes = 0x7FFFFFFFu;

using Buffer = std::vector<unsigned char>;

class MemoryStream final : public velk::rt::Object<MemoryStream, IStream> {
public:
    explicit MemoryStream(std::shared_ptr<Buffer> data) : data_(std::move(data)) {}

    // Reads up to `cb` bytes from the position; fewer (S_OK, count in *pcbRead) at the end.
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv) return STG_E_INVALIDPOINTER;
        const ULONGLONG size = data_->size();
        const ULONGLONG available = position_ < size ? size - position_ : 0;
        const auto n = static_cast<ULONG>(cb < available ? cb : available);
        if (n) std::memcpy(pv, data_->data() + position_, n);
        position_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    // Writes at the position, growing the stream (a gap after a seek past the end is zeroed).
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        const ULONGLONG end = position_ + cb;
        if (end > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        if (end > data_->size()) {
            HRESULT hr = Resize(end);
            if (FAILED(hr)) return hr;
        }
        std::memcpy(data_->data() + position_, pv, cb);
        position_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    // Moves the position; it may go past the end but not before the start
    // (STG_E_INVALIDFUNCTION, as for an unknown origin).
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        LONGLONG base;
        switch (origin) {
            case STREAM_SEEK_SET: base = 0; break;
            case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
            case STREAM_SEEK_END: base = static_cast<LONGLONG>(data_->size()); break;
            default: return STG_E_INVALIDFUNCTION;
        }
        LONGLONG target;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<ULONGLONG>(target);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    // Truncates or zero-extends the stream; the position does not move.
    STDMETHOD(SetSize)(ULARGE_INTEGER newSize) override {
        if (newSize.QuadPart > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        return Resize(newSize.QuadPart);
    }

private:
    HRESULT Resize(ULONGLONG size) {
        try {
            data_->resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    std::shared_ptr<Buffer> data_;
    ULONGLONG position_ = 0;
};

HRESULT NewStream(std::shared_ptr<Buffer> data, IStream** out) {
    ComPtr<MemoryStream> stream = velk::rt::MakeObject<MemoryStream>(std::move(data));
    if (!stream) return E_OUTOFMEMORY;
    *out = stream.Detach();
    return S_OK;
}

class MemoryStorage final : public velk::rt::Object<MemoryStorage, IStorage> {
public:
    // A new empty stream of that name. An existing one is replaced with STGM_CREATE,
    // otherwise STG_E_FILEALREADYEXISTS.
    STDMETHOD(CreateStream)(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!name) return STG_E_INVALIDPOINTER;
        try {
            std::u16string key(name);
            auto found = streams_.find(key);
            if (found != streams_.end() && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            auto data = std::make_shared<Buffer>();
            HRESULT hr = NewStream(data, out);
            if (FAILED(hr)) return hr;
            streams_[std::move(key)] = std::move(data);
        } catch (const std::bad_alloc&) {
            if (*out) (*out)->Release();
            *out = nullptr;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // A stream over the named stream's contents, positioned at its start.
    // STG_E_FILENOTFOUND when there is no stream of that name.
    STDMETHOD(OpenStream)(LPCOLESTR name, void*, DWORD, DWORD, IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!name) return STG_E_INVALIDPOINTER;
        try {
            auto found = streams_.find(std::u16string(name));
            if (found == streams_.end()) return STG_E_FILENOTFOUND;
            return NewStream(found->second, out);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    std::map<std::u16string, std::shared_ptr<Buffer>> streams_;
};

}  // namespace

// A new empty, growable memory stream. Only a null `hGlobal` is supported (E_INVALIDARG
// otherwise); the memory always belongs to the stream.
HRESULT CreateStreamOnHGlobal(void* hGlobal, BOOL, IStream** ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    if (hGlobal) return E_INVALIDARG;
    try {
        return NewStream(std::make_shared<Buffer>(), ppstm);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A new empty storage holding named memory streams.
HRESULT VelkCreateMemoryStorage(IStorage** ppstg) {
    if (!ppstg) return E_INVALIDARG;
    *ppstg = nullptr;
    ComPtr<MemoryStorage> storage = velk::rt::MakeObject<MemoryStorage>();
    if (!storage) return E_OUTOFMEMORY;
    *ppstg = storage.Detach();
    return S_OK;
}
