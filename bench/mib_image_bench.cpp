// MIB loading: one large module read with Load (the single-file loader), the image of the
// whole corpus read with Load beside compiling the corpus (goal: the image at least 10x
// faster), and Name / Oid translations (goal: under 100 ns each).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "mib/mib.h"
#include "sock/velk_strings.h"
#include "velk/com.h"
#include "velk/mib_image.h"

namespace {

using velk::Bstr;
using velk::ComPtr;

const char* const kLargeModule = "IP-MIB.txt";

ComPtr<ISnmpMib> Compiled(const std::vector<std::string>& files, std::string* error = nullptr) {
    ComPtr<ISnmpMib> mib;
    velk::mib::CreateSnmpMib(mib.Put());
    ComPtr<IVelkStrings> names;
    velk::sock::CreateVelkStrings(names.Put());
    for (const std::string& f : files) names->Add(Bstr::FromAnsi(f).Get(), 0);
    if (SUCCEEDED(mib->Compile(names.Get()))) return mib;
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.Put());
    if (error && info) {
        Bstr text;
        info->GetDescription(text.Put());
        *error = text.ToAnsi();
    }
    return nullptr;
}

// The corpus files that compile in one call (sorted), less `except`: a file that a compile
// error names is left out and the call repeated.
std::vector<std::string> CorpusFiles(const char* except = nullptr) {
    static const std::vector<std::string> compilable = [] {
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(VELK_MIBS_DIR))
            if (e.path().extension() == ".txt") files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        std::string error;
        while (!files.empty() && !Compiled(files, &error)) {
            const size_t from = error.find("\r\n");
            const size_t to = error.rfind('(', error.find(") - "));
            if (from == std::string::npos || to == std::string::npos || to < from) break;
            auto it = std::find(files.begin(), files.end(), error.substr(from + 2, to - from - 2));
            if (it == files.end()) break;
            files.erase(it);
        }
        return files;
    }();
    std::vector<std::string> files;
    for (const std::string& f : compilable)
        if (!except || std::filesystem::path(f).filename() != except) files.push_back(f);
    return files;
}

LONG Count(ISnmpMib* mib) {
    ComPtr<ISnmpVariables> v;
    mib->get_Variables(v.Put());
    LONG n = 0;
    v->get_Count(&n);
    return n;
}

// The image of the whole corpus, written once into a temporary folder.
struct CorpusImage {
    std::string folder;
    std::string path;
    CorpusImage() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velk-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        folder = pattern;
        path = folder + "/corpus.bin";
        ComPtr<ISnmpMib> mib = Compiled(CorpusFiles());
        if (!mib || FAILED(VelkWriteMibImage(mib.Get(), Bstr::FromAnsi(path).Get()))) path.clear();
    }
    ~CorpusImage() {
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
};

void BM_LoadLargeModule(benchmark::State& state) {
    const std::vector<std::string> others = CorpusFiles(kLargeModule);
    const Bstr file = Bstr::FromAnsi(std::string(VELK_MIBS_DIR) + "/" + kLargeModule);
    LONG added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Every other module is known first: the loader resolves names in a single pass.
        ComPtr<ISnmpMib> mib = Compiled(others);
        if (!mib) {
            state.SkipWithError("the corpus does not compile");
            break;
        }
        const LONG before = Count(mib.Get());
        state.ResumeTiming();
        if (FAILED(mib->Load(file.Get()))) {
            state.SkipWithError("Load of the large module failed");
            break;
        }
        state.PauseTiming();
        added = Count(mib.Get()) - before;
        mib = nullptr;
        state.ResumeTiming();
    }
    state.counters["variables"] = static_cast<double>(added);
}
BENCHMARK(BM_LoadLargeModule)->Unit(benchmark::kMillisecond)->Iterations(20);

// Times `fill` (a Compile or an image Load) into a fresh store per iteration; creating and
// destroying the store is not timed. Returns the store's variable count of the last round.
template <class Fill>
LONG TimeIntoFreshStores(benchmark::State& state, const char* failure, Fill fill) {
    LONG variables = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ComPtr<ISnmpMib> mib;
        velk::mib::CreateSnmpMib(mib.Put());
        state.ResumeTiming();
        if (FAILED(fill(mib.Get()))) {
            state.SkipWithError(failure);
            break;
        }
        state.PauseTiming();
        variables = Count(mib.Get());
        mib = nullptr;
        state.ResumeTiming();
    }
    return variables;
}

void BM_CompileCorpusBesideItsImage(benchmark::State& state) {
    const std::vector<std::string> files = CorpusFiles();
    ComPtr<IVelkStrings> names;
    velk::sock::CreateVelkStrings(names.Put());
    for (const std::string& f : files) names->Add(Bstr::FromAnsi(f).Get(), 0);
    TimeIntoFreshStores(state, "the corpus does not compile", [&](ISnmpMib* mib) { return mib->Compile(names.Get()); });
}
BENCHMARK(BM_CompileCorpusBesideItsImage)->Unit(benchmark::kMillisecond);

void BM_LoadCorpusImage(benchmark::State& state) {
    static const CorpusImage image;
    if (image.path.empty()) {
        state.SkipWithError("the corpus image could not be made");
        return;
    }
    const Bstr file = Bstr::FromAnsi(image.path);
    const LONG variables =
        TimeIntoFreshStores(state, "Load of the image failed", [&](ISnmpMib* mib) { return mib->Load(file.Get()); });
    state.counters["variables"] = static_cast<double>(variables);
}
BENCHMARK(BM_LoadCorpusImage)->Unit(benchmark::kMillisecond);

// 100,000 translations per iteration, alternating Name (of an instance OID, ".0" added)
// and Oid (of a name), over every variable of the corpus.
void BM_NameOidTranslations(benchmark::State& state) {
    constexpr int kTranslations = 100000;
    ComPtr<ISnmpMib> mib = Compiled(CorpusFiles());
    if (!mib) {
        state.SkipWithError("the corpus does not compile");
        return;
    }
    std::vector<Bstr> names;
    std::vector<Bstr> instances;
    ComPtr<ISnmpVariables> vars;
    mib->get_Variables(vars.Put());
    for (auto* n = velk::model::SnmpVariables::From(vars.Get())->Members().Head(); n; n = n->next) {
        names.emplace_back(n->value.own->NameView());
        instances.emplace_back(std::u16string(n->value.own->OidView()) + u".0");
    }
    size_t found = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTranslations; ++i) {
            const size_t k = static_cast<size_t>(i) % names.size();
            Bstr out;
            if (i & 1)
                mib->get_Oid(names[k].Get(), out.Put());
            else
                mib->get_Name(instances[k].Get(), out.Put());
            found += !out.Empty();
        }
    }
    benchmark::DoNotOptimize(found);
    state.counters["ns_per_translation"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kTranslations * 1e-9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NameOidTranslations)->Unit(benchmark::kMillisecond);

}  // namespace
