// Keyword tables shared by the MIB readers: the values of ACCESS / MAX-ACCESS and STATUS
// clauses, in the order in which they are tested (each reader matches tokens its own way),
// and the longest OID accepted.
#pragma once

#include <cstddef>
#include <string_view>

#include "velk/snmp.h"

namespace velk::mib {

struct SmiKeyword {
    std::string_view name;
    LONG value;
};

// ACCESS and MAX-ACCESS values (AccessConstants).
inline constexpr SmiKeyword kAccessKeywords[] = {
    {"not-accessible", snmpVariableNotAccessible}, {"write-only", snmpVariableWriteOnly},
    {"read-only", snmpVariableReadOnly},           {"read-write", snmpVariableReadWrite},
    {"read-create", snmpVariableReadCreate},
    {"accessible-for-notify", snmpVariableAccessibleForNotify},
};

// STATUS values (StatusConstants).
inline constexpr SmiKeyword kStatusKeywords[] = {
    {"obsolete", snmpObsolete}, {"deprecated", snmpDeprecated}, {"optional", snmpOptional},
    {"current", snmpCurrent},   {"mandatory", snmpMandatory},
};

// The first entry of `table` whose name satisfies `matches`, or null.
template <size_t N, class Match>
constexpr const SmiKeyword* FindKeyword(const SmiKeyword (&table)[N], Match matches) {
    for (const SmiKeyword& k : table)
        if (matches(k.name)) return &k;
    return nullptr;
}

// The entry of `table` whose name equals `token` exactly, or null.
template <size_t N>
constexpr const SmiKeyword* FindKeywordExact(const SmiKeyword (&table)[N], std::string_view token) {
    return FindKeyword(table, [token](std::string_view name) { return name == token; });
}

// An OID of more sub-identifiers than this (RFC 2578's limit) is refused (message 113):
// chains of definitions would otherwise make OID texts grow quadratically with the input.
inline constexpr size_t kMaxOidArcs = 128;

}  // namespace velk::mib
