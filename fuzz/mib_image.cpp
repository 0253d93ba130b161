// Fuzz target of the MIB image reader: the input as a ".bin" file, loaded into a new store.
// The load must succeed, fail with ulFile (nothing added) or with ulCompile (a truncated
// record). What was loaded must survive the writer: written again and loaded into a second
// store, every field of every variable and trap is equal. Every object must be released.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mib/image_writer.h"
#include "mib/mib.h"
#include "runtime/object.h"
#include "sock/velk_strings.h"
#include "velk/com.h"

namespace {

using namespace velk;

constexpr HRESULT kFileError = static_cast<HRESULT>(0x800A2B5Eu);
constexpr HRESULT kCompileError = static_cast<HRESULT>(0x800A2EEDu);

void Check(bool condition) {
    if (!condition) abort();
}

// A folder for the inputs, removed at exit.
struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = "/tmp/velk-fuzz-image-XXXXXX";
        Check(mkdtemp(pattern.data()) != nullptr);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::string& Dir() {
    static const TempDir dir;
    return dir.path;
}

std::string WriteFile(const std::string& name, std::string_view bytes) {
    const std::string path = Dir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    if (!bytes.empty()) Check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
    return path;
}

std::u16string Entries(IVelkStrings* list) {
    std::u16string all;
    for (const std::u16string& s : sock::AsVelkStrings(list)->Entries()) all += s + u'\n';
    return all;
}

// Every field an image carries, of every variable and trap, as one text.
std::u16string Dump(mib::MibStore& store) {
    std::u16string out;
    auto number = [&](LONG n) { out += Bstr::FromAnsi(std::to_string(n)).View(); out += u'|'; };
    auto text = [&](BSTR s) { out += Bstr::Adopt(s).View(); out += u'|'; };
    for (auto* n = store.Variables().Members().Head(); n; n = n->next) {
        ISnmpVariable* v = n->value.variable;
        BSTR s = nullptr;
        AccessConstants a{};
        StatusConstants st{};
        VariableTypeConstants t{};
        v->get_Name(&s), text(s);
        v->get_Oid(&s), text(s);
        v->get_Access(&a), number(a);
        v->get_Description(&s), text(s);
        ComPtr<IVelkStrings> index;
        v->get_Index(index.Put());
        out += Entries(index.Get());
        v->get_Reference(&s), text(s);
        v->get_Status(&st), number(st);
        v->get_Syntax(&s), text(s);
        v->get_Type(&t), number(t);
        v->get_Value(&s), text(s);
    }
    LONG count = 0;
    store.Traps().get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ISnmpTrap> trap;
        store.Traps().Item(Variant(i), trap.Put());
        BSTR s = nullptr;
        LONG specific = 0;
        StatusConstants st{};
        trap->get_SpecificTrap(&specific), number(specific);
        trap->get_Status(&st), number(st);
        trap->get_Description(&s), text(s);
        trap->get_Enterprise(&s), text(s);
        trap->get_Name(&s), text(s);
        ComPtr<IVelkStrings> oids;
        trap->get_Oids(oids.Put());
        out += Entries(oids.Get());
        trap->get_Reference(&s), text(s);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const long live = rt::LiveObjectCount();
    {
        const std::string path = WriteFile("in.bin", {reinterpret_cast<const char*>(data), size});
        ComPtr<ISnmpMib> mib;
        Check(mib::CreateSnmpMib(mib.Put()) == S_OK);
        mib::MibStore& store = mib::SnmpMib::From(mib.Get())->Store();
        const HRESULT hr = mib->Load(Bstr::FromAnsi(path).Get());
        Check(hr == S_OK || hr == kFileError || hr == kCompileError);
        if (hr == kFileError) Check(store.Variables().Size() == 0 && Dump(store).empty());
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.Put());

        const std::string again = Dir() + "/again.bin";
        if (mib::WriteMibImage(store, Bstr::FromAnsi(again).View()) == S_OK) {
            ComPtr<ISnmpMib> copy;
            Check(mib::CreateSnmpMib(copy.Put()) == S_OK);
            Check(copy->Load(Bstr::FromAnsi(again).Get()) == S_OK);
            Check(Dump(mib::SnmpMib::From(copy.Get())->Store()) == Dump(store));
        }
        GetErrorInfo(0, info.Put());
    }
    Check(rt::LiveObjectCount() == live);
    return 0;
}
