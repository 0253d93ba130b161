// Variable collection lookups over 100,000 variables: Item by OID text, GetIndex, and a
// full GetNext walk as a manager or agent makes it (goal: under 0.5 s per walk).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "model/variable.h"
#include "model/variables.h"
#include "velk/com.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

constexpr int kColumns = 20;
constexpr int kRows = 5000;  // kColumns * kRows = 100,000 variables

std::u16string OidText(int column, int row) {
    std::string s = "1.3.6.1.4.1.8072.2.1.1." + std::to_string(column) + "." + std::to_string(row);
    return std::u16string(s.begin(), s.end());
}

// A collection of 100,000 variables added in random order, with their OIDs.
struct BigCollection {
    ComPtr<velk::model::SnmpVariables> collection = velk::rt::MakeObject<velk::model::SnmpVariables>();
    std::vector<std::u16string> oids;

    BigCollection() {
        for (int c = 1; c <= kColumns; ++c)
            for (int r = 1; r <= kRows; ++r) oids.push_back(OidText(c, r));
        std::shuffle(oids.begin(), oids.end(), std::mt19937(42));
        for (const auto& oid : oids) {
            velk::model::SnmpVariable* v = velk::model::NewSnmpVariable();
            v->SetOid(oid);
            collection->AppendOwned(v);
        }
    }
};

BigCollection& Big() {
    static BigCollection* big = new BigCollection;  // built once for every benchmark
    return *big;
}

void BM_ItemByOidText(benchmark::State& state) {
    auto& big = Big();
    std::vector<Variant> keys;
    for (size_t i = 0; i < 1024; ++i) keys.emplace_back(std::u16string_view(big.oids[i * 97 % big.oids.size()]));
    size_t i = 0;
    for (auto _ : state) {
        ComPtr<ISnmpVariable> v;
        big.collection->Item(keys[i++ & 1023], v.Put());
        benchmark::DoNotOptimize(v.Get());
    }
}
BENCHMARK(BM_ItemByOidText);

void BM_GetIndex(benchmark::State& state) {
    auto& big = Big();
    std::vector<Bstr> keys;
    for (size_t i = 0; i < 1024; ++i) keys.emplace_back(std::u16string_view(big.oids[i * 97 % big.oids.size()]));
    size_t i = 0;
    for (auto _ : state) {
        LONG at = 0;
        big.collection->GetIndex(keys[i++ & 1023].Get(), &at);
        benchmark::DoNotOptimize(at);
    }
}
BENCHMARK(BM_GetIndex);

// From the empty text to the end, each step asking for the successor of the last answer's
// Oid through the automation interface, as a walking manager does.
size_t Walk(ISnmpVariables* collection) {
    size_t steps = 0;
    Bstr oid;
    for (;;) {
        ComPtr<ISnmpVariable> next;
        if (FAILED(collection->GetNext(oid.Get(), next.Put()))) break;
        next->get_Oid(oid.Put());
        ++steps;
    }
    SetErrorInfo(0, nullptr);
    return steps;
}

void BM_GetNextWalk100k(benchmark::State& state) {
    auto& big = Big();
    Walk(big.collection.Get());  // the successor index is built once, before timing
    for (auto _ : state) {
        const size_t steps = Walk(big.collection.Get());
        if (steps != big.oids.size()) state.SkipWithError("the walk missed variables");
    }
}
BENCHMARK(BM_GetNextWalk100k)->Unit(benchmark::kMillisecond);

// The same walk right after a member's Oid changed: the successor index is rebuilt first.
void BM_GetNextWalk100kAfterOidChange(benchmark::State& state) {
    auto& big = Big();
    ComPtr<ISnmpVariable> first;
    big.collection->Item(Variant(LONG{1}), first.Put());
    Bstr oid;
    first->get_Oid(oid.Put());
    for (auto _ : state) {
        first->put_Oid(oid.Get());
        benchmark::DoNotOptimize(Walk(big.collection.Get()));
    }
}
BENCHMARK(BM_GetNextWalk100kAfterOidChange)->Unit(benchmark::kMillisecond);

}  // namespace
