// The type-assignment list.
#include "mib/type_assignments.h"

namespace velk::mib {

void TypeAssignments::Add(std::string_view name, std::string_view rightSide) {
    std::string text;
    text.reserve(name.size() + 3 + rightSide.size());
    text.append(name).append("::=").append(rightSide);
    entries_.push_back({std::move(text), name.size()});
    try {
        firstByName_.try_emplace(std::string(name), entries_.size() - 1);
    } catch (...) {
        entries_.pop_back();
        throw;
    }
}

bool TypeAssignments::Find(std::string_view syntax, std::string_view* rightSide) const {
    auto it = firstByName_.find(syntax);
    if (it == firstByName_.end()) return false;
    const Entry& e = entries_[it->second];
    *rightSide = std::string_view(e.text).substr(e.nameLength + 3);
    return true;
}

void TypeAssignments::Clear() {
    entries_.clear();
    firstByName_.clear();
}

}  // namespace velk::mib
