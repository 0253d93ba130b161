// The known-node list of a MIB store: every OID name resolved so far (MibNode), in order
// of resolution, with hash indexes so that the lookups by name and by OID text cost
// constant time while giving the answers of a walk of the list in order (the first
// matching node wins).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <string>
#include <unordered_set>
#include <vector>

#include "mib/flat_index.h"
#include "mib/string_arena.h"

namespace velk::mib {

// A named OID. Texts are bytes of the ANSI code page; an absent module is empty.
struct MibNode {
    std::string_view name;
    std::string_view oid;     // dotted decimal, as built (not validated)
    std::string_view module;
};

class NodeIndex {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // A point to roll back to: the nodes appended after it are removed by RollBack.
    struct Checkpoint {
        size_t size = 0;
        StringArena::Mark mark;
    };

    NodeIndex() = default;
    NodeIndex(const NodeIndex&) = delete;
    NodeIndex& operator=(const NodeIndex&) = delete;

    size_t Size() const { return nodes_.size(); }
    bool Empty() const { return nodes_.empty(); }
    // The node at a 0-based position in order of resolution; the views stay valid until
    // the node is removed (RollBack, Clear).
    const MibNode& At(size_t i) const { return nodes_[i].node; }

    // Appends a node with copies of the texts; returns its position. May throw
    // std::bad_alloc.
    size_t Append(std::string_view name, std::string_view oid, std::string_view module);

    // Position of the first node with exactly this name, or npos.
    size_t FindName(std::string_view name) const;
    // The next node after position `i` with the same name, or npos.
    size_t NextWithSameName(size_t i) const { return nodes_[i].nextSameName; }

    // Oid of a name: the OID of the first node whose name equals `name` exactly (case
    // matters); an empty view when there is none.
    std::string_view OidOfName(std::string_view name) const;
    // Name of an OID: the name of the first node whose OID equals `oid`; failing that, when
    // `oid` is longer than two bytes and ends in ".0", the name of the first node whose OID
    // equals `oid` without the ".0"; failing that, an empty view. `found` tells an empty
    // name apart from no match.
    std::string_view NameOfOid(std::string_view oid, bool* found = nullptr) const;

    Checkpoint GetCheckpoint() const { return {nodes_.size(), arena_.GetMark()}; }
    // Removes the nodes appended after `checkpoint` (the newest first); earlier nodes and
    // their lookups are untouched.
    void RollBack(const Checkpoint& checkpoint);
    void Clear();

private:
    struct Entry {
        MibNode node;
        size_t nextSameName;
        size_t lastSameName;  // on the first node of a name: the last one
    };

    std::string_view InternModule(std::string_view module);
    auto NameOf() const {
        return [this](uint32_t i) { return nodes_[i].node.name; };
    }
    auto OidOf() const {
        return [this](uint32_t i) { return nodes_[i].node.oid; };
    }

    std::vector<Entry> nodes_;
    FlatIndex byName_;  // first node of each name
    FlatIndex byOid_;   // first node of each OID
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> modules_;  // shared by nodes
    StringArena arena_;
};

}  // namespace velk::mib
