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
    Entry e{{arena_.Copy(name), arena_.Copy(oid), InternModule(module)}, npos};
    nodes_.push_back(e);
    // On bad_alloc below, the indexes are left as they were and the node is dropped.
    bool nameAdded = false;
    try {
        auto [chain, added] = byName_.try_emplace(e.node.name, NameChain{i, i});
        nameAdded = added;
        byOid_.try_emplace(e.node.oid, i);
        if (!added) {
            nodes_[chain->second.last].nextSameName = i;
            chain->second.last = i;
        }
    } catch (...) {
        if (nameAdded) byName_.erase(e.node.name);
        nodes_.pop_back();
        throw;
    }
    return i;
}

size_t NodeIndex::FindName(std::string_view name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? npos : it->second.first;
}

std::string_view NodeIndex::OidOfName(std::string_view name) const {
    const size_t i = FindName(name);
    return i == npos ? std::string_view() : nodes_[i].node.oid;
}

std::string_view NodeIndex::NameOfOid(std::string_view oid, bool* found) const {
    auto it = byOid_.find(oid);
    if (it == byOid_.end() && oid.size() > 2 && oid.ends_with(".0"))
        it = byOid_.find(oid.substr(0, oid.size() - 2));
    if (found) *found = it != byOid_.end();
    return it == byOid_.end() ? std::string_view() : nodes_[it->second].node.name;
}

void NodeIndex::RollBack(const Checkpoint& checkpoint) {
    while (nodes_.size() > checkpoint.size) {
        const size_t i = nodes_.size() - 1;
        const MibNode& n = nodes_[i].node;
        // The removed node is the newest: the last of its name's chain, and the first node
        // with its OID only when no earlier node has that OID.
        auto chain = byName_.find(n.name);
        if (chain != byName_.end()) {
            if (chain->second.first == i) {
                byName_.erase(chain);
            } else {
                size_t prev = chain->second.first;
                while (nodes_[prev].nextSameName != i) prev = nodes_[prev].nextSameName;
                nodes_[prev].nextSameName = npos;
                chain->second.last = prev;
            }
        }
        auto byOid = byOid_.find(n.oid);
        if (byOid != byOid_.end() && byOid->second == i) byOid_.erase(byOid);
        nodes_.pop_back();
    }
    arena_.RollBack(checkpoint.mark);
}

void NodeIndex::Clear() {
    byName_.clear();
    byOid_.clear();
    nodes_.clear();
    modules_.clear();
    arena_.Clear();
}

}  // namespace velk::mib
