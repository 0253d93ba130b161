// GetNext and the OID-ordered lookups against brute-force references on random
// collections: duplicates, prefixes, leading zeros, changed OIDs, texts that are not OIDs,
// and host-implemented members.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "model/oid_compare.h"
#include "model_support.h"

namespace velk::model {
namespace {

using testing::ModelTest;
using testing::OidOf;

// The OID order by its definition on dotted-decimal texts: arc by arc numerically, a
// proper prefix first.
int ArcOrder(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::u16string Join(const std::vector<uint64_t>& arcs) {
    std::u16string s;
    for (size_t i = 0; i < arcs.size(); ++i) {
        if (i) s += u'.';
        for (char c : std::to_string(arcs[i])) s += static_cast<char16_t>(c);
    }
    return s;
}

TEST(CompareOids, OrdersDottedDecimalOidsArcByArc) {
    std::mt19937 rng(7);
    const uint64_t arcs[] = {0, 1, 2, 9, 10, 11, 99, 100, 4294967295u};
    auto random = [&] {
        std::vector<uint64_t> oid(1 + rng() % 4);
        for (auto& a : oid) a = arcs[rng() % std::size(arcs)];
        return oid;
    };
    for (int i = 0; i < 20000; ++i) {
        const auto a = random(), b = random();
        ASSERT_EQ(CompareOids(Join(a), Join(b)), ArcOrder(a, b));
    }
    struct Case {
        std::u16string_view a, b;
        int expected;
    } cases[] = {
        {u"1.01", u"1.1", 1},  {u"1.1", u"1.01", -1}, {u"", u"", 0},   {u"", u"1", -1},
        {u"1a", u"1b", 1},     {u"1b", u"1a", 1},     {u"1.", u"1", 1}, {u"1.3.6", u"1.3.6.1", -1},
        {u"1.3.6.1.2.1.2", u"1.3.6.1.2.1.10", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareOids(c.a, c.b), c.expected);
}

// GetNext by its linear definition over the members in insertion order.
ISnmpVariable* ReferenceNext(const std::vector<ComPtr<ISnmpVariable>>& members, std::u16string_view key) {
    ISnmpVariable* best = nullptr;
    std::u16string bestOid;
    for (const auto& m : members) {
        Bstr text;
        if (FAILED(m->get_Oid(text.Put()))) text = Bstr();
        if (CompareOids(key, text.View()) != -1) continue;
        if (!best || CompareOids(bestOid, text.View()) == 1) {
            best = m.Get();
            bestOid = std::u16string(text.View());
        }
    }
    return best;
}

struct Shape {
    const char* name;
    double weird;  // chance of a text that is not an OID
    double host;   // chance of a host-implemented member
};

class RandomCollections : public ModelTest, public ::testing::WithParamInterface<Shape> {
protected:
    std::u16string RandomOid() {
        if (Chance(GetParam().weird)) {
            static const std::u16string weird[] = {u"1a", u"x", u"1.2b", u"..", u"1.\u0661", u" 1", u"-1"};
            return weird[rng_() % std::size(weird)];
        }
        static const std::u16string arcs[] = {u"0", u"1", u"2", u"3", u"10", u"01", u"9", u"100", u""};
        std::u16string s;
        const size_t n = rng_() % 5;
        for (size_t i = 0; i < n; ++i) {
            if (i) s += u'.';
            s += arcs[rng_() % (std::size(arcs) - (Chance(0.05) ? 0 : 1))];
        }
        return s;
    }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    ComPtr<ISnmpVariable> NewMember(const std::u16string& oid) {
        if (Chance(GetParam().host)) return ComPtr<ISnmpVariable>(testing::HostVariable::Make(oid).Get());
        return testing::NewVariable(oid);
    }

    std::mt19937 rng_{12345};
};

TEST_P(RandomCollections, GetNextMatchesTheLinearDefinition) {
    for (int round = 0; round < 30; ++round) {
        auto c = testing::NewCollection();
        std::vector<ComPtr<ISnmpVariable>> members;
        for (int step = 0; step < 120; ++step) {
            const unsigned op = rng_() % 10;
            if (op < 4 || members.empty()) {
                members.push_back(NewMember(RandomOid()));
                ASSERT_EQ(c->Add(members.back().Get()), S_OK);
            } else if (op < 5) {
                const size_t at = rng_() % members.size();
                ASSERT_EQ(c->Remove(testing::I2(static_cast<SHORT>(at + 1))), S_OK);
                members.erase(members.begin() + static_cast<std::ptrdiff_t>(at));
            } else if (op < 6) {
                Bstr oid(RandomOid());
                members[rng_() % members.size()]->put_Oid(oid.Get());
            } else if (op < 7) {
                // The same object once more: equal OIDs, the earlier entry wins.
                members.push_back(members[rng_() % members.size()]);
                ASSERT_EQ(c->Add(members.back().Get()), S_OK);
            }
            for (int q = 0; q < 3; ++q) {
                const std::u16string key = Chance(0.5) || members.empty()
                                               ? RandomOid()
                                               : OidOf(members[rng_() % members.size()].Get());
                Bstr k(key);
                ComPtr<ISnmpVariable> got;
                const HRESULT hr = c->GetNext(k.Get(), got.Put());
                ISnmpVariable* expected = ReferenceNext(members, key);
                ASSERT_EQ(got.Get(), expected) << "round " << round << " step " << step << " key "
                                               << std::string(key.begin(), key.end());
                ASSERT_EQ(hr, expected ? S_OK : testing::kInvalidParam1);
            }
        }
    }
}

TEST_P(RandomCollections, OidLookupsFindEveryMemberAfterAMembershipChange) {
    if (GetParam().weird > 0) GTEST_SKIP() << "positions are defined for OID texts only";
    for (int round = 0; round < 30; ++round) {
        auto c = testing::NewCollection();
        std::vector<std::u16string> oids;
        const int n = 1 + static_cast<int>(rng_() % 80);
        for (int i = 0; i < n; ++i) {
            oids.push_back(RandomOid());
            c->Add(NewMember(oids.back()).Get());
        }
        std::vector<std::u16string> inOrder;
        for (LONG i = 1; i <= n; ++i) {
            ComPtr<ISnmpVariable> v;
            ASSERT_EQ(c->Item(testing::I4(i), v.Put()), S_OK);
            inOrder.push_back(OidOf(v.Get()));
            if (i > 1) {
                ASSERT_LE(CompareOids(inOrder[i - 2], inOrder[i - 1]), 0);
            }
        }
        for (const auto& oid : oids) {
            Bstr key(oid);
            LONG at = 0;
            ASSERT_EQ(c->GetIndex(key.Get(), &at), S_OK);
            ASSERT_GE(at, 1);
            EXPECT_EQ(inOrder[at - 1], oid);
        }
        Bstr absent(u"5.5.5.5.5");
        LONG at = 0;
        c->GetIndex(absent.Get(), &at);
        EXPECT_EQ(at, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RandomCollections,
                         ::testing::Values(Shape{"oids", 0, 0}, Shape{"texts", 0.15, 0},
                                           Shape{"host", 0, 0.2}, Shape{"mixed", 0.15, 0.2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::model
