// The known-node list and its indexes.
#include "mib/node_index.h"

namespace velk::mib {

std::string_view NodeIndex::InternModule(std::string_view module) {
    if (module.empty()) return {};
    // Module names are few; one copy each, kept until Clear (rolled-back nodes may leave an
    // unused one behind).
    if (auto it = modules_.find(module); it != modules_.end()) return *it;
    return *modules_.emplace(module).first;
}

size_t NodeIndex::Append(std::string_view name, std::string_view oid, std::string_view module) {
    const size_t i = nodes_.size();
    const auto position = static_cast<uint32_t>(i);
    Entry e{{arena_.Copy(name), arena_.Copy(oid), InternModule(module)}, npos, i};
    nodes_.push_back(e);
    // On bad_alloc below, the indexes are left as they were and the node is dropped.
    uint32_t first = FlatIndex::kNone;
    try {
        first = byName_.Insert(e.node.name, position, NameOf());
        byOid_.Insert(e.node.oid, position, OidOf());
    } catch (...) {
        if (first == position) byName_.Erase(e.node.name, position, NameOf());
        nodes_.pop_back();
        throw;
    }
    if (first != position) {
        nodes_[nodes_[first].lastSameName].nextSameName = i;
        nodes_[first].lastSameName = i;
    }
    return i;
}

size_t NodeIndex::FindName(std::string_view name) const {
    const uint32_t i = byName_.Find(name, NameOf());
    return i == FlatIndex::kNone ? npos : i;
}

std::string_view NodeIndex::OidOfName(std::string_view name) const {
    const size_t i = FindName(name);
    return i == npos ? std::string_view() : nodes_[i].node.oid;
}

std::string_view NodeIndex::NameOfOid(std::string_view oid, bool* found) const {
    uint32_t i = byOid_.Find(oid, OidOf());
    if (i == FlatIndex::kNone && oid.size() > 2 && oid.ends_with(".0"))
        i = byOid_.Find(oid.substr(0, oid.size() - 2), OidOf());
    if (found) *found = i != FlatIndex::kNone;
    return i == FlatIndex::kNone ? std::string_view() : nodes_[i].node.name;
}

void NodeIndex::RollBack(const Checkpoint& checkpoint) {
    while (nodes_.size() > checkpoint.size) {
        const size_t i = nodes_.size() - 1;
        const auto position = static_cast<uint32_t>(i);
        const MibNode n = nodes_[i].node;
        // The removed node is the newest: the last of its name's chain, and the first node
        // with its OID only when no earlier node has that OID.
        const uint32_t first = byName_.Find(n.name, NameOf());
        if (first == position) {
            byName_.Erase(n.name, position, NameOf());
        } else if (first != FlatIndex::kNone) {
            size_t prev = first;
            while (nodes_[prev].nextSameName != i) prev = nodes_[prev].nextSameName;
            nodes_[prev].nextSameName = npos;
            nodes_[first].lastSameName = prev;
        }
        if (byOid_.Find(n.oid, OidOf()) == position) byOid_.Erase(n.oid, position, OidOf());
        nodes_.pop_back();
    }
    arena_.RollBack(checkpoint.mark);
}

void NodeIndex::Clear() {
    byName_.Clear();
    byOid_.Clear();
    nodes_.clear();
    modules_.clear();
    arena_.Clear();
}

}  // namespace velk::mib
