// Runtime round trips: BSTR allocation, VARIANT copy and conversion, late-bound calls.
#include <benchmark/benchmark.h>

#include "sock/velk_strings.h"
#include "velk/com.h"

namespace {

void BM_BstrRoundTrip(benchmark::State& state) {
    const char16_t text[] = u"1.3.6.1.2.1.2.2.1.10.1";
    for (auto _ : state) {
        BSTR b = SysAllocString(text);
        benchmark::DoNotOptimize(SysStringLen(b));
        SysFreeString(b);
    }
}
BENCHMARK(BM_BstrRoundTrip);

void BM_VariantCopyText(benchmark::State& state) {
    velk::Variant src(std::u16string_view(u"host.example.org"));
    for (auto _ : state) {
        VARIANT dst;
        VariantInit(&dst);
        VariantCopy(&dst, &src);
        VariantClear(&dst);
    }
}
BENCHMARK(BM_VariantCopyText);

void BM_VariantChangeTypeTextToI4(benchmark::State& state) {
    velk::Variant src(std::u16string_view(u" 4000000 "));
    for (auto _ : state) {
        VARIANT dst;
        VariantInit(&dst);
        benchmark::DoNotOptimize(VariantChangeType(&dst, &src, 0, VT_I4));
    }
}
BENCHMARK(BM_VariantChangeTypeTextToI4);

void BM_LateBoundPropertyGet(benchmark::State& state) {
    velk::ComPtr<IVelkStrings> strings;
    velk::sock::CreateVelkStrings(strings.Put());
    velk::ComPtr<IDispatch> d;
    strings.As(&d);
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Count")};
    d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (auto _ : state) {
        VARIANT r;
        VariantInit(&r);
        d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr);
        benchmark::DoNotOptimize(r.lVal);
    }
}
BENCHMARK(BM_LateBoundPropertyGet);

}  // namespace
