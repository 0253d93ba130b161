// VelkStrings: an ordered list of texts (IVelkStrings).
#pragma once

#include <string>
#include <vector>

#include "runtime/object.h"
#include "velk/sock.h"

namespace velk::sock {

class VelkStrings final : public rt::Object<VelkStrings, rt::Dual<IVelkStrings>,
                                            rt::SupportErrorInfo<IVelkStrings>> {
public:
    // Item get/put and Remove with a position outside 1..Count fail with 12001.
    STDMETHOD(get_Item)(LONG index, BSTR* out) override;
    STDMETHOD(put_Item)(LONG index, BSTR text) override;
    STDMETHOD(get_Delimiter)(BSTR* out) override;
    STDMETHOD(put_Delimiter)(BSTR text) override;
    STDMETHOD(get_Count)(LONG* out) override;
    // Every entry joined by the delimiter.
    STDMETHOD(get_All)(BSTR* out) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    // The first entry that begins with `prefix`, or an empty text (null) when none does.
    STDMETHOD(Find)(BSTR prefix, BSTR* out) override;
    STDMETHOD(Clear)() override;
    // Removes the entry at a 1-based position and returns its text.
    STDMETHOD(Remove)(LONG index, BSTR* out) override;
    // Position 0 (or beyond the end) appends; 1..Count inserts before that entry. With a
    // delimiter set, a text containing it is split into several entries at the delimiter.
    STDMETHOD(Add)(BSTR text, LONG position) override;

    // Direct access for the library's own code (no BSTR round trips).
    const std::vector<std::u16string>& Entries() const { return entries_; }
    void Append(std::u16string text) { entries_.push_back(std::move(text)); }

private:
    std::vector<std::u16string> entries_;
    std::u16string delimiter_;
};

// Creates a new, empty collection (fails as the class's creation failure seam says).
HRESULT CreateVelkStrings(IVelkStrings** out);

// The collection behind an IVelkStrings of this library, or null for a foreign object.
VelkStrings* AsVelkStrings(IVelkStrings* strings);

}  // namespace velk::sock
