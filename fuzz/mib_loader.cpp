// Fuzz target of the single-file loader: the input as one MIB source file, loaded twice
// into one store (the second time every name of the first is known), with a task posted
// before each load that tries a nested Load. Each load must succeed or fail with a compile
// error (12013); the nested Load must fail with 107 (12011); every object must be
// released.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "mib/mib.h"
#include "runtime/object.h"
#include "velk/com.h"

namespace {

using namespace velk;

constexpr HRESULT kCompileError = static_cast<HRESULT>(0x800A2EEDu);
constexpr HRESULT kBlockedError = static_cast<HRESULT>(0x800A2EEBu);

void Check(bool condition) {
    if (!condition) abort();
}

// A folder for the inputs, removed at exit.
struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = "/tmp/velk-fuzz-loader-XXXXXX";
        Check(mkdtemp(pattern.data()) != nullptr);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

struct Nested {
    ISnmpMib* mib;
    Bstr file;
    bool inLoad = false;
    bool ran = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TempDir dir;
    const long live = rt::LiveObjectCount();
    {
        const std::string path = dir.path + "/in.txt";
        FILE* f = std::fopen(path.c_str(), "wb");
        Check(f != nullptr);
        if (size) Check(std::fwrite(data, 1, size, f) == size);
        std::fclose(f);

        ComPtr<ISnmpMib> mib;
        Check(mib::CreateSnmpMib(mib.Put()) == S_OK);
        const Bstr name = Bstr::FromAnsi(path);
        for (int round = 0; round < 2; ++round) {
            Nested nested{mib.Get(), Bstr::FromAnsi(path)};
            VelkPostTask(
                [](void* context) {
                    auto* n = static_cast<Nested*>(context);
                    n->ran = true;
                    if (n->inLoad) Check(n->mib->Load(n->file.Get()) == kBlockedError);
                },
                &nested);
            nested.inLoad = true;
            const HRESULT hr = mib->Load(name.Get());
            nested.inLoad = false;
            Check(hr == S_OK || hr == kCompileError);
            // The task runs at the first token; an input without tokens leaves it queued.
            if (!nested.ran) VelkPumpPendingMessages();
            Check(nested.ran);
            ComPtr<IErrorInfo> info;
            GetErrorInfo(0, info.Put());
        }
    }
    Check(rt::LiveObjectCount() == live);
    return 0;
}
