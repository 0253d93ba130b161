// Fuzz target of the MIB compiler: the input as one MIB file, then split at form feeds
// into several files compiled in one call (twice, so the second call skips what the first
// loaded). Every call must succeed or fail with a compile error (12013) or a duplicate
// report (11100); a failed call must publish nothing; every object must be released.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mib/mib.h"
#include "runtime/object.h"
#include "sock/velk_strings.h"
#include "velk/com.h"

namespace {

using namespace velk;

constexpr size_t kMaxFiles = 8;

const std::string& TempDir() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/velk-fuzz-mib-XXXXXX";
        if (!mkdtemp(pattern.data())) abort();
        return pattern;
    }();
    return dir;
}

std::string WriteFile(size_t index, std::string_view text) {
    const std::string path = TempDir() + "/m" + std::to_string(index) + ".txt";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) abort();
    std::fclose(f);
    return path;
}

void Check(bool condition) {
    if (!condition) abort();
}

LONG Count(ISnmpMib* mib) {
    ComPtr<ISnmpVariables> v;
    ComPtr<ISnmpTraps> t;
    ComPtr<IVelkStrings> m;
    mib->get_Variables(v.Put());
    mib->get_Traps(t.Put());
    mib->get_Modules(m.Put());
    LONG a = 0, b = 0, c = 0;
    v->get_Count(&a);
    t->get_Count(&b);
    m->get_Count(&c);
    return a * 1000003 + b * 1009 + c;
}

void CompileChecked(ISnmpMib* mib, const std::vector<std::string>& paths) {
    ComPtr<IVelkStrings> names;
    Check(sock::CreateVelkStrings(names.Put()) == S_OK);
    for (const std::string& p : paths) names->Add(Bstr::FromAnsi(p).Get(), 0);
    const LONG before = Count(mib);
    const HRESULT hr = mib->Compile(names.Get());
    Check(hr == S_OK || hr == static_cast<HRESULT>(0x800A2EEDu) ||  // ulCompile
          hr == static_cast<HRESULT>(0x800A2B5Cu));                   // ulError (duplicates)
    if (FAILED(hr)) Check(Count(mib) == before);
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.Put());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const long live = rt::LiveObjectCount();
    {
        const std::string_view input(reinterpret_cast<const char*>(data), size);
        ComPtr<ISnmpMib> mib;
        Check(mib::CreateSnmpMib(mib.Put()) == S_OK);
        CompileChecked(mib.Get(), {WriteFile(0, input)});
        mib->Clear();

        std::vector<std::string> paths;
        size_t start = 0;
        while (paths.size() < kMaxFiles) {
            size_t end = input.find('\f', start);
            if (end == std::string_view::npos || paths.size() + 1 == kMaxFiles) end = input.size();
            paths.push_back(WriteFile(paths.size() + 1, input.substr(start, end - start)));
            if (end >= input.size()) break;
            start = end + 1;
        }
        CompileChecked(mib.Get(), paths);
        CompileChecked(mib.Get(), paths);
    }
    Check(rt::LiveObjectCount() == live);
    return 0;
}
