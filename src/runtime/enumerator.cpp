// Snapshot enumerator shared by all collections.
#include "runtime/enumerator.h"

#include <memory>

#include "runtime/object.h"

namespace velk::rt {
namespace {

struct Snapshot {
    std::vector<VARIANT> items;
    ~Snapshot() {
        for (VARIANT& v : items) VariantClear(&v);
    }
};

class SnapshotEnumerator : public Object<SnapshotEnumerator, IEnumVARIANT> {
public:
    SnapshotEnumerator(std::shared_ptr<Snapshot> snapshot, size_t position)
        : snapshot_(std::move(snapshot)), position_(position) {}

    STDMETHOD(Next)(ULONG celt, VARIANT* out, ULONG* fetched) override {
        if (celt == 0) return E_INVALIDARG;
        if (!out) return E_POINTER;
        if (celt > 1 && !fetched) return E_POINTER;
        const auto& items = snapshot_->items;
        ULONG n = 0;
        while (n < celt && position_ < items.size()) {
            VariantInit(&out[n]);
            VariantCopy(&out[n], &items[position_]);
            ++n;
            ++position_;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override {
        if (celt == 0) return E_INVALIDARG;
        size_t left = snapshot_->items.size() - position_;
        if (celt > left) {
            position_ = snapshot_->items.size();
            return S_FALSE;
        }
        position_ += celt;
        return S_OK;
    }
    STDMETHOD(Reset)() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        auto clone = MakeObject<SnapshotEnumerator>(snapshot_, position_);
        if (!clone) return E_OUTOFMEMORY;
        *out = clone.Detach();
        return S_OK;
    }

private:
    std::shared_ptr<Snapshot> snapshot_;
    size_t position_;
};

}  // namespace

HRESULT CreateSnapshotEnumerator(const VARIANT* items, size_t count, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (count && !items) return E_INVALIDARG;
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->items.resize(count);
    for (size_t i = 0; i < count; ++i) {
        VariantInit(&snapshot->items[i]);
        if (HRESULT hr = VariantCopy(&snapshot->items[i], &items[i]); FAILED(hr)) return hr;
    }
    auto e = MakeObject<SnapshotEnumerator>(std::move(snapshot), 0);
    if (!e) return E_OUTOFMEMORY;
    *out = static_cast<IEnumVARIANT*>(e.Detach());
    return S_OK;
}

}  // namespace velk::rt
