// A one-dimensional byte array built inside memory its caller owns, for objects that hold
// a small byte store in their own allocation instead of two blocks of the allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velk/oleauto.h"

namespace velk::rt {

// Alignment the memory given to PlaceByteVector must have.
inline constexpr std::size_t kPlacedArrayAlignment = alignof(std::max_align_t);

// Bytes PlaceByteVector needs for `count` elements.
std::size_t PlacedByteVectorBytes(std::size_t count);

// Builds at `memory` (kPlacedArrayAlignment-aligned, PlacedByteVectorBytes(count) bytes)
// a zero-based VT_UI1 vector holding a copy of `data`, and returns it. The array owns no
// memory (FADF_STATIC): SafeArrayDestroy releases nothing and SafeArrayRedim refuses it;
// every other SAFEARRAY function (copy, bounds, element access, type) treats it as any
// other byte vector. It lives as long as `memory`. `count` must be below 2^31.
SAFEARRAY* PlaceByteVector(void* memory, const uint8_t* data, std::size_t count);

}  // namespace velk::rt
