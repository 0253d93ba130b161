// Helpers of the MIB tests: a temporary folder for MIB files, a store, compiling files by
// name, reading the thread's error record, and a fixture that checks that every object a
// test made is gone at its end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "mib/mib.h"
#include "runtime/object.h"
#include "sock/velk_strings.h"
#include "velk/com.h"

namespace velk::mib::testing {

constexpr HRESULT kCompileError = static_cast<HRESULT>(0x800A2EEDu);  // 12013
constexpr HRESULT kDuplicateError = static_cast<HRESULT>(0x800A2B5Cu);  // 11100
constexpr HRESULT kFileError = static_cast<HRESULT>(0x800A2B5Eu);  // 11102
constexpr HRESULT kBlockedError = static_cast<HRESULT>(0x800A2EEBu);  // 12011
constexpr HRESULT kInvalidParam1 = static_cast<HRESULT>(0x800A2EE1u);  // 12001

// A folder that lives as long as the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-mib-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `text` to the file `name` in the folder and returns its full path.
    std::string Write(const std::string& name, std::string_view text) const {
        const std::string full = (path_ / name).string();
        std::ofstream out(full, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return full;
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline Bstr B(std::string_view s) { return Bstr::FromAnsi(s); }
inline std::string A(BSTR s) { return Bstr(s).ToAnsi(); }

inline ComPtr<ISnmpMib> NewMib() {
    ComPtr<ISnmpMib> mib;
    EXPECT_EQ(CreateSnmpMib(mib.Put()), S_OK);
    return mib;
}
inline MibStore& StoreOf(ISnmpMib* mib) { return static_cast<SnmpMib*>(mib)->Store(); }

inline ComPtr<IVelkStrings> Names(const std::vector<std::string>& items) {
    ComPtr<IVelkStrings> names;
    EXPECT_EQ(sock::CreateVelkStrings(names.Put()), S_OK);
    for (const std::string& s : items) names->Add(B(s).Get(), 0);
    return names;
}

inline HRESULT Compile(ISnmpMib* mib, const std::vector<std::string>& paths) {
    return mib->Compile(Names(paths).Get());
}

// The description of the thread's error record (taking it), or "(none)".
inline std::string TakeErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return "(none)";
    Bstr d;
    info->GetDescription(d.Put());
    return d.ToAnsi();
}

inline std::string OidOfName(ISnmpMib* mib, std::string_view name) {
    Bstr oid;
    EXPECT_EQ(mib->get_Oid(B(name).Get(), oid.Put()), S_OK);
    return oid.ToAnsi();
}
inline std::string NameOfOid(ISnmpMib* mib, std::string_view oid) {
    Bstr name;
    EXPECT_EQ(mib->get_Name(B(oid).Get(), name.Put()), S_OK);
    return name.ToAnsi();
}

inline LONG VariableCount(ISnmpMib* mib) {
    ComPtr<ISnmpVariables> v;
    mib->get_Variables(v.Put());
    LONG n = -1;
    v->get_Count(&n);
    return n;
}
inline LONG TrapCount(ISnmpMib* mib) {
    ComPtr<ISnmpTraps> t;
    mib->get_Traps(t.Put());
    LONG n = -1;
    t->get_Count(&n);
    return n;
}
// The module names, joined by blanks.
inline std::string ModuleList(ISnmpMib* mib) {
    ComPtr<IVelkStrings> m;
    mib->get_Modules(m.Put());
    std::string all;
    for (const std::u16string& s : sock::AsVelkStrings(m.Get())->Entries()) {
        if (!all.empty()) all += ' ';
        all += Bstr(s).ToAnsi();
    }
    return all;
}

// The variable whose Name is `name` (the first), or null.
inline ComPtr<ISnmpVariable> VariableNamed(ISnmpMib* mib, std::string_view name) {
    ComPtr<ISnmpVariables> vars;
    mib->get_Variables(vars.Put());
    LONG n = 0;
    vars->get_Count(&n);
    for (LONG i = 1; i <= n; ++i) {
        ComPtr<ISnmpVariable> v;
        vars->Item(Variant(i), v.Put());
        Bstr vn;
        v->get_Name(vn.Put());
        if (vn.ToAnsi() == name) return v;
    }
    return nullptr;
}

// The trap whose Name is `name`, or null.
inline ComPtr<ISnmpTrap> TrapNamed(ISnmpMib* mib, std::string_view name) {
    ComPtr<ISnmpTraps> traps;
    mib->get_Traps(traps.Put());
    ComPtr<ISnmpTrap> t;
    traps->Item(Variant(std::u16string_view(Bstr::FromAnsi(name).View())), t.Put());
    return t;
}

inline std::string Text(HRESULT (ISnmpVariable::*get)(BSTR*), ISnmpVariable* v) {
    Bstr s;
    (v->*get)(s.Put());
    return s.ToAnsi();
}
inline std::string Text(HRESULT (ISnmpTrap::*get)(BSTR*), ISnmpTrap* t) {
    Bstr s;
    (t->*get)(s.Put());
    return s.ToAnsi();
}
inline std::string All(IVelkStrings* strings) {
    std::string all;
    for (const std::u16string& s : sock::AsVelkStrings(strings)->Entries()) {
        if (!all.empty()) all += ',';
        all += Bstr(s).ToAnsi();
    }
    return all;
}

// Checks that the objects a test made are all released by its end.
class MibTest : public ::testing::Test {
protected:
    void SetUp() override { live_ = rt::LiveObjectCount(); }
    void TearDown() override {
        TakeErrorDescription();
        EXPECT_EQ(rt::LiveObjectCount(), live_) << "objects leaked by the test";
    }
    TempDir dir_;

private:
    long live_ = 0;
};

}  // namespace velk::mib::testing
