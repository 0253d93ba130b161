// The compiler on the real-world corpus of standard MIB modules: each module compiles with
// the modules it imports, all of them compile in one call, and the OIDs of the names they
// define equal what net-snmp's snmptranslate prints for them.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mib/mib.h"
#include "sock/velk_strings.h"
#include "velk/com.h"

namespace velk::mib {
namespace {

namespace fs = std::filesystem;

constexpr HRESULT kCompileError = static_cast<HRESULT>(0x800A2EEDu);

// The one corpus module the recognizer cannot read: a TEXTUAL-CONVENTION whose first
// quoted text is its DISPLAY-HINT, so its DESCRIPTION is skipped token by token, and the
// word OBJECT-TYPE in that text (line 381) starts an object definition that finds no
// SYNTAX.
constexpr const char* kUnreadable = "TRANSPORT-ADDRESS-MIB";
constexpr const char* kUnreadableError = "(381) - \"SYNTAX\" expected.";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text without "--" comments (to the end of the line), enough to read headers.
std::string WithoutComments(const std::string& text) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t dash = line.find("--");
        out += line.substr(0, dash) + "\n";
    }
    return out;
}

struct Corpus {
    std::map<std::string, std::string> files;               // module -> path
    std::map<std::string, std::set<std::string>> imports;   // module -> modules it imports
};

const Corpus& TheCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const std::regex definitions(R"(([A-Za-z][A-Za-z0-9-]*)\s+DEFINITIONS\s*::=)");
        const std::regex from(R"(FROM\s+([A-Za-z][A-Za-z0-9-]*))");
        if (!fs::is_directory(VELK_MIBS_DIR)) return c;
        for (const auto& entry : fs::directory_iterator(VELK_MIBS_DIR)) {
            if (entry.path().extension() != ".txt") continue;
            const std::string text = WithoutComments(ReadFile(entry.path()));
            std::smatch m;
            if (!std::regex_search(text, m, definitions)) continue;
            const std::string module = m[1];
            c.files[module] = entry.path().string();
            const size_t begin = text.find("IMPORTS");
            if (begin == std::string::npos) continue;
            const std::string block = text.substr(begin, text.find(';', begin) - begin);
            for (std::sregex_iterator it(block.begin(), block.end(), from), end; it != end; ++it)
                c.imports[module].insert((*it)[1]);
        }
        return c;
    }();
    return corpus;
}

// The module and every module it imports, directly or not, that the corpus has.
std::vector<std::string> Closure(const std::string& module) {
    const Corpus& c = TheCorpus();
    std::set<std::string> seen;
    std::vector<std::string> todo{module}, files;
    while (!todo.empty()) {
        const std::string m = todo.back();
        todo.pop_back();
        if (!seen.insert(m).second || !c.files.count(m)) continue;
        files.push_back(c.files.at(m));
        if (c.imports.count(m))
            for (const std::string& i : c.imports.at(m)) todo.push_back(i);
    }
    return files;
}

ComPtr<IVelkStrings> Names(const std::vector<std::string>& paths) {
    ComPtr<IVelkStrings> names;
    EXPECT_EQ(sock::CreateVelkStrings(names.Put()), S_OK);
    for (const std::string& p : paths) names->Add(Bstr::FromAnsi(p).Get(), 0);
    return names;
}

std::string TakeErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return "(none)";
    Bstr d;
    info->GetDescription(d.Put());
    return d.ToAnsi();
}

// Runs snmptranslate on the names (one process per batch) and returns one OID text per
// name ("" where it knows none), or nothing when the tool is missing.
class Translator {
public:
    Translator() {
        std::string pattern = (fs::temp_directory_path() / "velk-snmp-XXXXXX").string();
        if (mkdtemp(pattern.data())) dir_ = pattern;
        available_ = !dir_.empty() && std::system("command -v snmptranslate >/dev/null 2>&1") == 0;
    }
    ~Translator() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    bool Available() const { return available_; }

    std::vector<std::string> Translate(const std::vector<std::string>& names, const char* flags = "") {
        std::vector<std::string> out;
        for (size_t i = 0; i < names.size(); i += 400) {
            const std::vector<std::string> batch(names.begin() + i,
                                                 names.begin() + std::min(names.size(), i + 400));
            std::vector<std::string> got = Run(batch, flags);
            if (got.size() != batch.size()) {  // the tool stops at a name it cannot translate
                got.clear();
                for (const std::string& n : batch) {
                    std::vector<std::string> one = Run({n}, flags);
                    got.push_back(one.size() == 1 ? one[0] : "");
                }
            }
            out.insert(out.end(), got.begin(), got.end());
        }
        return out;
    }

private:
    std::vector<std::string> Run(const std::vector<std::string>& names, const char* flags) {
        // An empty configuration folder: the system's configuration may turn MIB loading off.
        std::string command = "SNMPCONFPATH='" + dir_ + "' SNMP_PERSISTENT_DIR='" + dir_ +
                              "' snmptranslate -On " + flags + " -M '" VELK_MIBS_DIR "' -m ALL";
        for (const std::string& n : names) command += " '" + n + "'";
        command += " 2>/dev/null";
        std::vector<std::string> lines;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return lines;
        char buffer[4096];
        while (fgets(buffer, sizeof buffer, pipe)) {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            if (!line.empty()) lines.push_back(line.starts_with(".") ? line.substr(1) : line);
        }
        pclose(pipe);
        return lines;
    }

    std::string dir_;
    bool available_ = false;
};

class MibCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        if (TheCorpus().files.size() < 77) GTEST_SKIP() << "the MIB corpus is not at " VELK_MIBS_DIR;
    }
};

TEST_F(MibCorpus, EachModuleCompilesWithItsImports) {
    for (const auto& [module, file] : TheCorpus().files) {
        SCOPED_TRACE(module);
        ComPtr<ISnmpMib> mib;
        ASSERT_EQ(CreateSnmpMib(mib.Put()), S_OK);
        const HRESULT hr = mib->Compile(Names(Closure(module)).Get());
        const std::string error = TakeErrorDescription();
        const bool unreadable = module == kUnreadable;
        if (unreadable) {
            EXPECT_EQ(hr, kCompileError);
            EXPECT_NE(error.find(kUnreadableError), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(hr, S_OK) << error;
        ComPtr<IVelkStrings> modules;
        mib->get_Modules(modules.Put());
        const auto& loaded = sock::AsVelkStrings(modules.Get())->Entries();
        EXPECT_NE(std::find(loaded.begin(), loaded.end(), std::u16string(Bstr::FromAnsi(module).View())),
                  loaded.end());
    }
}

TEST_F(MibCorpus, AllModulesInOneCall) {
    std::vector<std::string> readable, all;
    for (const auto& [module, file] : TheCorpus().files) {
        all.push_back(file);
        if (module != kUnreadable) readable.push_back(file);
    }
    ComPtr<ISnmpMib> mib;
    ASSERT_EQ(CreateSnmpMib(mib.Put()), S_OK);
    EXPECT_EQ(mib->Compile(Names(all).Get()), kCompileError);
    EXPECT_NE(TakeErrorDescription().find(kUnreadableError), std::string::npos);
    ASSERT_EQ(mib->Compile(Names(readable).Get()), S_OK) << TakeErrorDescription();
    ComPtr<IVelkStrings> modules;
    mib->get_Modules(modules.Put());
    LONG count = 0;
    modules->get_Count(&count);
    EXPECT_EQ(count, static_cast<LONG>(readable.size()));
    ComPtr<ISnmpVariables> variables;
    mib->get_Variables(variables.Put());
    variables->get_Count(&count);
    EXPECT_GT(count, 2000);
    // A second call finds every module loaded and adds nothing.
    ASSERT_EQ(mib->Compile(Names(readable).Get()), S_OK);
    LONG again = 0;
    variables->get_Count(&again);
    EXPECT_EQ(again, count);
}

TEST_F(MibCorpus, OidsMatchSnmptranslate) {
    Translator translator;
    if (!translator.Available()) GTEST_SKIP() << "snmptranslate is not installed";
    std::vector<std::string> readable;
    for (const auto& [module, file] : TheCorpus().files)
        if (module != kUnreadable) readable.push_back(file);
    ComPtr<ISnmpMib> mib;
    ASSERT_EQ(CreateSnmpMib(mib.Put()), S_OK);
    ASSERT_EQ(mib->Compile(Names(readable).Get()), S_OK) << TakeErrorDescription();

    // Every name the compiler resolved, qualified by its module.
    const NodeIndex& nodes = static_cast<SnmpMib*>(mib.Get())->Store().Nodes();
    std::vector<std::string> names, oids;
    for (size_t i = 0; i < nodes.Size(); ++i) {
        const MibNode& n = nodes.At(i);
        if (n.module.empty()) continue;
        names.push_back(std::string(n.module) + "::" + std::string(n.name));
        oids.push_back(std::string(n.oid));
    }
    ASSERT_GT(names.size(), 3000u);
    const std::vector<std::string> theirs = translator.Translate(names);
    ASSERT_EQ(theirs.size(), names.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < names.size(); ++i)
        if (theirs[i] != oids[i] && ++mismatches <= 20)
            ADD_FAILURE() << names[i] << ": " << oids[i] << " but snmptranslate gives " << theirs[i];
    EXPECT_EQ(mismatches, 0u);

    // Notifications: their Enterprise is their own OID.
    ComPtr<ISnmpTraps> traps;
    mib->get_Traps(traps.Put());
    LONG count = 0;
    traps->get_Count(&count);
    std::vector<std::string> trapNames, enterprises;
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ISnmpTrap> trap;
        traps->Item(Variant(i), trap.Put());
        LONG specific = 0;
        trap->get_SpecificTrap(&specific);
        if (specific != -1) continue;
        Bstr name, enterprise;
        trap->get_Name(name.Put());
        trap->get_Enterprise(enterprise.Put());
        trapNames.push_back(name.ToAnsi());
        enterprises.push_back(enterprise.ToAnsi());
    }
    ASSERT_GT(trapNames.size(), 30u);
    const std::vector<std::string> trapOids = translator.Translate(trapNames, "-IR");
    for (size_t i = 0; i < trapNames.size(); ++i)
        EXPECT_EQ(enterprises[i], trapOids[i]) << trapNames[i];
}

}  // namespace
}  // namespace velk::mib
