// The type-assignment list of a MIB store: texts Name::=RightSide recorded by the compiler
// from type assignments whose right side begins with INTEGER. Kept until Clear; the
// compiler takes an object's BaseSyntax from it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velk::mib {

class TypeAssignments {
public:
    // Appends Name::=RightSide. May throw std::bad_alloc.
    void Add(std::string_view name, std::string_view rightSide);

    // The right side of the first entry that begins with `syntax` followed by "::=", or
    // false. (`syntax` holds no "::=" that could make a longer name match: names are single
    // tokens.)
    bool Find(std::string_view syntax, std::string_view* rightSide) const;

    size_t Size() const { return entries_.size(); }
    // The whole text of an entry, Name::=RightSide.
    const std::string& At(size_t i) const { return entries_[i].text; }
    void Clear();

private:
    struct Entry {
        std::string text;
        size_t nameLength;
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t, Hash, std::equal_to<>> firstByName_;
};

}  // namespace velk::mib
