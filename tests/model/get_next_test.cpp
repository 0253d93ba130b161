// GetNext and the OID lookups against brute-force references on random collections:
// duplicates, prefixes, leading zeros, changed OIDs, texts that are not OIDs and
// host-implemented members.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "model/merge_sort.h"
#include "model/oid_compare.h"
#include "model_support.h"

namespace velk::model {
namespace {

using testing::OidOf;

TEST(CompareOids, OrdersDottedDecimalArcByArcAndAPrefixFirst) {
    struct Case {
        std::u16string_view a, b;
        int expected;
    } cases[] = {
        {u"1.3.6.1.2.1.2", u"1.3.6.1.2.1.10", -1}, {u"1.3.6", u"1.3.6.1", -1}, {u"1.10", u"1.9", 1},
        {u"2.1", u"10.1", -1}, {u"1.4294967295", u"1.4294967294", 1}, {u"1.01", u"1.1", 1},
        {u"", u"", 0}, {u"", u"1", -1}, {u"1.", u"1", 1}, {u"1a", u"1b", 1}, {u"1b", u"1a", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareOids(c.a, c.b), c.expected) << std::string(c.a.begin(), c.a.end());
}

TEST(StableMergeSort, KeepsEqualsInOrderAndFinishesWhateverTheComparisonAnswers) {
    std::mt19937 rng(3);
    std::vector<std::pair<int, int>> keyed(1000);
    for (int i = 0; i < 1000; ++i) keyed[i] = {static_cast<int>(rng() % 10), i};
    StableMergeSort(keyed, [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = 1; i < keyed.size(); ++i)
        ASSERT_LT(std::pair(keyed[i - 1].first, keyed[i - 1].second), std::pair(keyed[i].first, keyed[i].second));

    std::vector<int> items(1001);
    std::iota(items.begin(), items.end(), 0);
    StableMergeSort(items, [&](int, int) { return rng() % 2 == 0; });  // no order at all
    std::sort(items.begin(), items.end());
    for (int i = 0; i <= 1000; ++i) ASSERT_EQ(items[i], i) << "a permutation of the items";
}

// GetNext by its linear definition over the members in insertion order.
ISnmpVariable* ReferenceNext(const std::vector<ComPtr<ISnmpVariable>>& members, std::u16string_view key) {
    ISnmpVariable* best = nullptr;
    std::u16string bestOid;
    for (const auto& m : members) {
        const std::u16string oid = OidOf(m.Get());
        if (CompareOids(key, oid) == -1 && (!best || CompareOids(bestOid, oid) == 1)) {
            best = m.Get();
            bestOid = oid;
        }
    }
    return best;
}

struct Shape {
    const char* name;
    unsigned weirdPercent;  // texts that are not OIDs
    unsigned hostPercent;   // host-implemented members
};

class RandomCollections : public testing::ModelTest, public ::testing::WithParamInterface<Shape> {
protected:
    bool Percent(unsigned p) { return rng_() % 100 < p; }
    std::u16string RandomOid() {
        static const std::u16string weird[] = {u"1a", u"x", u"1.2b", u"1.\u0661", u" 1", u"-1"};
        static const std::u16string arcs[] = {u"0", u"1", u"2", u"10", u"01", u"9", u"100", u""};
        if (Percent(GetParam().weirdPercent)) return weird[rng_() % std::size(weird)];
        std::u16string s;
        for (size_t i = 0, n = rng_() % 5; i < n; ++i) s += (i ? u"." : u"") + arcs[rng_() % std::size(arcs)];
        return s;
    }
    ComPtr<ISnmpVariable> NewMember(const std::u16string& oid) {
        return Percent(GetParam().hostPercent) ? testing::HostVariable::Make(oid) : testing::NewVariable(oid);
    }
    std::mt19937 rng_{12345};
};

TEST_P(RandomCollections, GetNextMatchesTheLinearDefinition) {
    for (int round = 0; round < 30; ++round) {
        ComPtr<SnmpVariables> c = rt::MakeObject<SnmpVariables>();
        std::vector<ComPtr<ISnmpVariable>> members;
        for (int step = 0; step < 120; ++step) {
            const unsigned op = rng_() % 8;
            if (op < 3 || members.empty()) {
                members.push_back(NewMember(RandomOid()));
            } else if (op == 3) {
                members.push_back(members[rng_() % members.size()]);  // the same object again
            } else if (op == 4) {
                const size_t at = rng_() % members.size();
                ASSERT_EQ(c->Remove(testing::Of(VT_I2, static_cast<SHORT>(at + 1))), S_OK);
                members.erase(members.begin() + static_cast<std::ptrdiff_t>(at));
                continue;
            } else if (op == 5) {
                members[rng_() % members.size()]->put_Oid(Bstr(RandomOid()).Get());
                continue;
            } else {
                continue;
            }
            ASSERT_EQ(c->Add(members.back().Get()), S_OK);
        }
        for (int q = 0; q < 100; ++q) {
            const std::u16string key = members.empty() || q % 2 ? RandomOid() : OidOf(members[rng_() % members.size()].Get());
            ComPtr<ISnmpVariable> got;
            const HRESULT hr = c->GetNext(Bstr(key).Get(), got.Put());
            ISnmpVariable* expected = ReferenceNext(members, key);
            ASSERT_EQ(got.Get(), expected) << "round " << round << " key " << std::string(key.begin(), key.end());
            ASSERT_EQ(hr, expected ? S_OK : testing::kInvalidParam1);
            if (q % 20 == 0 && !members.empty()) members[rng_() % members.size()]->put_Oid(Bstr(RandomOid()).Get());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RandomCollections,
                         ::testing::Values(Shape{"oids", 0, 0}, Shape{"texts", 15, 0}, Shape{"host", 0, 20},
                                           Shape{"mixed", 15, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// Positions and GetIndex on OID texts (CompareOids orders nothing else).
using RandomOidCollections = RandomCollections;

TEST_P(RandomOidCollections, PositionsAreInOidOrderAndGetIndexFindsEveryMember) {
    for (int round = 0; round < 30; ++round) {
        ComPtr<SnmpVariables> c = rt::MakeObject<SnmpVariables>();
        std::vector<std::u16string> oids(1 + rng_() % 80);
        for (auto& oid : oids) c->Add(NewMember(oid = RandomOid()).Get());
        std::vector<std::u16string> inOrder;
        for (LONG i = 1; i <= static_cast<LONG>(oids.size()); ++i) {
            ComPtr<ISnmpVariable> v;
            ASSERT_EQ(c->Item(testing::I4(i), v.Put()), S_OK);
            inOrder.push_back(OidOf(v.Get()));
            ASSERT_TRUE(i == 1 || CompareOids(inOrder[i - 2], inOrder[i - 1]) <= 0);
        }
        for (const auto& oid : oids) {
            LONG at = 0;
            ASSERT_EQ(c->GetIndex(Bstr(oid).Get(), &at), S_OK);
            ASSERT_GE(at, 1);
            EXPECT_EQ(inOrder[at - 1], oid);
        }
        LONG at = 0;
        c->GetIndex(Bstr(u"5.5.5.5.5").Get(), &at);
        EXPECT_EQ(at, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RandomOidCollections,
                         ::testing::Values(Shape{"oids", 0, 0}, Shape{"host", 0, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::model
