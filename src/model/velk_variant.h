// CVelkVariant: byte access to a VARIANT holding text, one byte or a byte array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velk/oleauto.h"

namespace velk::model {

// Binds to one VARIANT at a time, for reading or for writing. Text converts through the
// ANSI code page (one character per byte, '?' for characters it cannot hold). A VARIANT
// that refers to another VARIANT (VT_BYREF|VT_VARIANT) is followed up to kMaxIndirection
// times; a deeper chain or a null reference gives no bytes.
class CVelkVariant {
public:
    static constexpr size_t kNoLimit = SIZE_MAX;
    static constexpr int kMaxIndirection = 8;

    CVelkVariant() = default;
    CVelkVariant(const CVelkVariant&) = delete;
    CVelkVariant& operator=(const CVelkVariant&) = delete;
    // Unbinds (see Unbind).
    ~CVelkVariant();

    // Binds `v` for reading and returns true when it holds bytes:
    //   text (VT_BSTR, or a reference to one): its characters as bytes, at most `max`;
    //   a single byte (VT_UI1, or a reference to one): that byte;
    //   a byte array (VT_ARRAY|VT_UI1, or a reference to one): its elements in place, the
    //   product of the element counts of all dimensions cut to `max`; the array stays locked
    //   until Unbind, and `v` must outlive the binding.
    // Any other VARIANT gives false and no bytes. A previous binding is ended first.
    bool Read(const VARIANT& v, size_t max = kNoLimit);

    // Binds `v` for writing `n` bytes that replace its contents, and returns the buffer to
    // fill (Size() bytes available), or null when `v` can hold no bytes (it is then
    // unchanged) or memory runs out:
    //   text: a private buffer of n bytes; Commit converts the bytes used to the new string
    //   and frees the old one;
    //   a byte array: the old array is destroyed (a locked array refuses: null) and a new
    //   one-dimensional, zero-based array of exactly n bytes takes its place, locked until
    //   Commit, which shrinks it to the bytes used;
    //   a single byte: the VARIANT's own byte (Size() is 1 whatever n is).
    // A previous binding is ended first. `v` must outlive the binding.
    uint8_t* Write(VARIANT* v, size_t n);

    // Ends a write binding with `used` bytes (cut to Size()) as the new contents. Returns
    // E_OUTOFMEMORY when the new text cannot be allocated (the old text then stays),
    // E_UNEXPECTED when nothing is bound for writing, else S_OK.
    HRESULT Commit(size_t used);

    // Ends any binding: unlocks an array bound for reading; an open write is committed
    // with all of its bytes.
    void Unbind();

    // The bound bytes (reading) or the writable buffer (writing); null with no binding or
    // no bytes.
    const uint8_t* Data() const { return data_; }
    uint8_t* MutableData() { return mode_ == Mode::Write ? data_ : nullptr; }
    size_t Size() const { return size_; }

private:
    enum class Mode : uint8_t { None, Read, Write };
    enum class Kind : uint8_t { None, Text, Byte, Array };

    Mode mode_ = Mode::None;
    Kind kind_ = Kind::None;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint8_t byte_ = 0;              // copy of a single byte being read
    SAFEARRAY* locked_ = nullptr;   // the array locked by this binding
    BSTR* text_ = nullptr;          // the string slot being written
    std::vector<uint8_t> buffer_;   // converted text
};

// The VARIANT that `v` finally refers to through VT_BYREF|VT_VARIANT links (at most
// CVelkVariant::kMaxIndirection of them), or null for a null link or a deeper chain.
const VARIANT* FollowVariantReferences(const VARIANT* v);

}  // namespace velk::model
