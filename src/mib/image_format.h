// The layout of a MIB image file, shared by its reader and its writer.
//
//   reserved field   5 bytes: 4 free bytes and a space
//   number field     5 bytes: a free byte, bits 23..0 of the value (most significant byte
//                    first), a space
//   text field       each text byte XOR 0x80, then one raw space (a text space is stored as
//                    0xA0, so a raw space always ends the field)
//   list field       a text field holding the entries joined by kListSeparator
//
//   reserved field, V, V variable records, T, T trap records
//   variable record: Name, Oid, Access#, Description, Index list, Reference, Status#,
//                    Syntax, Type#, Value
//   trap record:     SpecificTrap#, Status#, Description, Enterprise, Name, Oids list,
//                    Reference
//
// Counts (V, T) are unsigned 24-bit numbers. The numbers of a record are 24-bit two's
// complement: the writer stores bits 31..24 in the free byte (0x00 or 0xFF), the reader
// sign-extends bit 23, so a notification's SpecificTrap -1 survives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::mib::image {

inline constexpr uint8_t kFieldEnd = 0x20;     // ends every field
inline constexpr uint8_t kTextFlip = 0x80;     // XORed into every stored text byte
inline constexpr char16_t kListSeparator = u',';  // never part of a MIB name or OID
inline constexpr char kReserved[] = "VELK";    // the writer's four free header bytes

inline constexpr size_t kReservedSize = 5;
inline constexpr size_t kNumberSize = 5;
inline constexpr size_t kHeaderSize = 10;      // reserved field and V
inline constexpr size_t kMinRecordBytes = 10;  // a record starts only with this much left

inline constexpr uint32_t kMaxCount = 0xFFFFFF;
inline constexpr int32_t kMinNumber = -0x800000;
inline constexpr int32_t kMaxNumber = 0x7FFFFF;

// A record number's value from its 24 bits.
constexpr int32_t SignExtend24(uint32_t bits) {
    return static_cast<int32_t>(bits & 0x7FFFFF) - static_cast<int32_t>(bits & 0x800000);
}

}  // namespace velk::mib::image
