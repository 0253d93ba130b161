// MIB image files: the layout the reader accepts, damaged images, the writer and the round
// trip of the whole corpus through an image.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mib/image_writer.h"
#include "mib_support.h"
#include "model/trap.h"
#include "model/variable.h"
#include "velk/mib_image.h"

namespace velk::mib {
namespace {

using namespace testing;

// Image pieces.
std::string Num(uint32_t v) {
    return {'\0', static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v), ' '};
}
std::string Txt(std::string_view s) {
    std::string out;
    for (char c : s) out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ 0x80));
    return out + ' ';
}
const std::string kReservedField = "abcd ";

std::string VariableRecord(const std::string& name, const std::string& oid, uint32_t access = 1,
                           const std::string& index = "", uint32_t type = 2,
                           const std::string& value = "") {
    return Txt(name) + Txt(oid) + Num(access) + Txt("the description") + Txt(index) +
           Txt("the reference") + Num(4) + Txt("DisplayString ") + Num(type) + Txt(value);
}
std::string TrapRecord(const std::string& name, uint32_t specific, const std::string& oids) {
    return Num(specific) + Num(1) + Txt("a trap") + Txt("1.3.6.1.4.1.9") + Txt(name) + Txt(oids) +
           Txt("");
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Entries(IVelkStrings* list) {
    std::vector<std::string> out;
    for (const std::u16string& s : sock::AsVelkStrings(list)->Entries()) out.push_back(Bstr(s).ToAnsi());
    return out;
}

// Every field an image carries, as text.
std::vector<std::string> Fields(ISnmpVariable* v) {
    AccessConstants access{};
    StatusConstants status{};
    VariableTypeConstants type{};
    v->get_Access(&access);
    v->get_Status(&status);
    v->get_Type(&type);
    ComPtr<IVelkStrings> index;
    v->get_Index(index.Put());
    std::string names;
    for (const std::string& n : Entries(index.Get())) names += n + "|";
    return {Text(&ISnmpVariable::get_Name, v),        Text(&ISnmpVariable::get_Oid, v),
            std::to_string(access),                   Text(&ISnmpVariable::get_Description, v),
            names,                                    Text(&ISnmpVariable::get_Reference, v),
            std::to_string(status),                   Text(&ISnmpVariable::get_Syntax, v),
            std::to_string(type),                     Text(&ISnmpVariable::get_Value, v)};
}
std::vector<std::string> Fields(ISnmpTrap* t) {
    LONG specific = 0;
    StatusConstants status{};
    t->get_SpecificTrap(&specific);
    t->get_Status(&status);
    ComPtr<IVelkStrings> oids;
    t->get_Oids(oids.Put());
    std::string list;
    for (const std::string& o : Entries(oids.Get())) list += o + "|";
    return {std::to_string(specific),              std::to_string(status),
            Text(&ISnmpTrap::get_Description, t),  Text(&ISnmpTrap::get_Enterprise, t),
            Text(&ISnmpTrap::get_Name, t),         list,
            Text(&ISnmpTrap::get_Reference, t)};
}

std::vector<ComPtr<ISnmpVariable>> AllVariables(ISnmpMib* mib) {
    ComPtr<ISnmpVariables> vars;
    mib->get_Variables(vars.Put());
    std::vector<ComPtr<ISnmpVariable>> out;
    for (auto* n = model::SnmpVariables::From(vars.Get())->Members().Head(); n; n = n->next)
        out.emplace_back(n->value.variable);
    return out;
}
std::vector<ComPtr<ISnmpTrap>> AllTraps(ISnmpMib* mib) {
    ComPtr<ISnmpTraps> traps;
    mib->get_Traps(traps.Put());
    LONG n = 0;
    traps->get_Count(&n);
    std::vector<ComPtr<ISnmpTrap>> out;
    for (LONG i = 1; i <= n; ++i) {
        ComPtr<ISnmpTrap> t;
        traps->Item(Variant(i), t.Put());
        out.push_back(t);
    }
    return out;
}

class ImageTest : public MibTest {
protected:
    HRESULT LoadBytes(ISnmpMib* mib, const std::string& bytes, const std::string& name = "t.bin") {
        path_ = dir_.Write(name, bytes);
        return mib->Load(B(path_).Get());
    }
    std::string path_;
};

TEST_F(ImageTest, HeaderAndSizeDecideWhetherAFileIsAnImage) {
    const std::string empty = kReservedField + Num(0) + Num(0);
    struct Case {
        const char* what;
        std::string bytes;
        HRESULT result;
        std::string message;  // "%s" stands for the file name
    } cases[] = {
        {"the empty image is 15 bytes", empty, S_OK, "(none)"},
        {"bytes after the trap count are never read", empty + "garbage", S_OK, "(none)"},
        {"11 bytes: the trap count is cut short and reads 0", empty.substr(0, 11), S_OK, "(none)"},
        {"10 bytes are too few", empty.substr(0, 10), kFileError, "%s does not exist."},
        {"an empty file", "", kFileError, "%s does not exist."},
        {"byte 4 must be a space", "abcdX" + Num(0) + Num(0), kFileError, "Illegal Serialized File."},
        {"byte 9 must be a space", kReservedField + Num(0).substr(0, 4) + "!" + Num(0), kFileError,
         "Illegal Serialized File."},
        {"a bad header adds nothing", "abcdX" + Num(1) + VariableRecord("a", "1") + Num(0), kFileError,
         "Illegal Serialized File."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        EXPECT_EQ(LoadBytes(mib.Get(), c.bytes), c.result);
        std::string message = c.message;
        if (const size_t at = message.find("%s"); at != std::string::npos) message.replace(at, 2, path_);
        EXPECT_EQ(TakeErrorDescription(), message);
        EXPECT_EQ(VariableCount(mib.Get()), 0);
        EXPECT_EQ(TrapCount(mib.Get()), 0);
    }
}

TEST_F(ImageTest, NamesHoldingDotBinAreImagesAndOthersAreNot) {
    const std::string image = kReservedField + Num(1) + VariableRecord("a", "1.3") + Num(0);
    ComPtr<ISnmpMib> mib = NewMib();
    EXPECT_EQ(LoadBytes(mib.Get(), image, "x.binder.txt"), S_OK) << TakeErrorDescription();
    EXPECT_EQ(VariableCount(mib.Get()), 1);
    const std::string folder = (dir_.Path() / "folder.bin").string();
    std::filesystem::create_directory(folder);
    EXPECT_EQ(mib->Load(B(folder).Get()), kFileError);
    EXPECT_EQ(TakeErrorDescription(), folder + " does not exist.");
    EXPECT_EQ(mib->Load(B(dir_.Path().string() + "/missing.bin").Get()), kFileError);
}

TEST_F(ImageTest, RecordsSetEveryField) {
    const std::string image = kReservedField + Num(2) +
                              VariableRecord("ifIndex", "1.3.6.1.2.1.2.2.1.1", 1, "ifIndex,IMPLIED ifName", 1, "7") +
                              VariableRecord("with spaces", "1.3.6", 3, "", 2, "a b  c" + std::string(40000, 'z')) + Num(2) +
                              TrapRecord("linkDown", 3, "1.3.6.1.2.1.2.2.1.1,1.3.6.1.2.1.2.2.1.7") +
                              TrapRecord("note", 0xFFFFFF, "");
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(LoadBytes(mib.Get(), image), S_OK) << TakeErrorDescription();
    const auto vars = AllVariables(mib.Get());
    ASSERT_EQ(vars.size(), 2u);
    EXPECT_EQ(Fields(vars[0].Get()),
              (std::vector<std::string>{"ifIndex", "1.3.6.1.2.1.2.2.1.1", "1", "the description",
                                        "ifIndex|IMPLIED ifName|", "the reference", "4", "DisplayString ",
                                        "1", "7"}));
    EXPECT_EQ(Fields(vars[1].Get())[0], "with spaces");
    EXPECT_EQ(Fields(vars[1].Get())[4], "") << "an empty Index list gives an empty collection";
    EXPECT_EQ(Fields(vars[1].Get())[9], "a b  c" + std::string(40000, 'z')) << "longer than a read";
    ComPtr<IVelkStrings> index;
    vars[0]->get_Index(index.Put());
    Bstr delimiter;
    index->get_Delimiter(delimiter.Put());
    EXPECT_EQ(delimiter.ToAnsi(), ",");

    const auto traps = AllTraps(mib.Get());
    ASSERT_EQ(traps.size(), 2u);
    EXPECT_EQ(Fields(traps[0].Get()),
              (std::vector<std::string>{"3", "1", "a trap", "1.3.6.1.4.1.9", "linkDown",
                                        "1.3.6.1.2.1.2.2.1.1|1.3.6.1.2.1.2.2.1.7|", ""}));
    EXPECT_EQ(Fields(traps[1].Get())[0], "-1") << "numbers are 24-bit two's complement";
    ComPtr<IVelkStrings> oids;
    traps[1]->get_Oids(oids.Put());
    oids->get_Delimiter(delimiter.Put());
    EXPECT_EQ(delimiter.Get(), nullptr) << "an empty list leaves the trap its own Oids";
    // Nothing but the two collections changes.
    EXPECT_EQ(ModuleList(mib.Get()), "");
    EXPECT_EQ(StoreOf(mib.Get()).Nodes().Size(), 0u);
}

TEST_F(ImageTest, EveryTruncationEndsInAFileOrRecordError) {
    const std::string full = kReservedField + Num(2) + VariableRecord("a", "1.1", 1, "x,y") +
                             VariableRecord("b", "1.2") + Num(2) + TrapRecord("t", 1, "1.1") +
                             TrapRecord("u", 2, "1.2");
    const size_t secondVariable = 10 + VariableRecord("a", "1.1", 1, "x,y").size();
    for (size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        ComPtr<ISnmpMib> mib = NewMib();
        const HRESULT hr = LoadBytes(mib.Get(), full.substr(0, length));
        const std::string message = TakeErrorDescription();
        if (length <= 10) {
            EXPECT_EQ(hr, kFileError);
            EXPECT_EQ(message, path_ + " does not exist.");
        } else if (hr != S_OK) {
            EXPECT_EQ(hr, kCompileError);
            const std::string prefix = "An error occured while compiling a mib:\r\n" + path_ + "(";
            EXPECT_EQ(message.substr(0, prefix.size()), prefix);
            EXPECT_TRUE(message.ends_with(") - Illegal Serialized File.")) << message;
        }
        EXPECT_LE(VariableCount(mib.Get()), 2);
        EXPECT_LE(TrapCount(mib.Get()), 2);
        if (length > secondVariable && length < secondVariable + 10) {
            EXPECT_EQ(hr, kCompileError);
            EXPECT_NE(message.find("(1) - "), std::string::npos) << "zero-based record number";
            EXPECT_EQ(VariableCount(mib.Get()), 1) << "the records before stay";
        }
    }
}

TEST_F(ImageTest, DamagedBytesAndHugeCountsNeverReadOutsideTheFile) {
    const std::string full = kReservedField + Num(1) + VariableRecord("a", "1.1", 1, "x") + Num(1) +
                             TrapRecord("t", 1, "1.1");
    for (size_t at = 10; at < full.size(); ++at) {
        for (char replacement : {'\x20', '\x00', '\xff'}) {
            std::string bytes = full;
            bytes[at] = replacement;
            ComPtr<ISnmpMib> mib = NewMib();
            const HRESULT hr = LoadBytes(mib.Get(), bytes);
            EXPECT_TRUE(hr == S_OK || hr == kCompileError) << at;
            TakeErrorDescription();
        }
    }
    // 16,777,215 records announced in 25 bytes: one error, no allocation sized by the count.
    ComPtr<ISnmpMib> mib = NewMib();
    EXPECT_EQ(LoadBytes(mib.Get(), kReservedField + Num(0xFFFFFF) + "0123456789"), kCompileError);
    EXPECT_NE(TakeErrorDescription().find("(1) - Illegal Serialized File."), std::string::npos);
    EXPECT_EQ(VariableCount(mib.Get()), 1);
    // 300 KB without a single terminator: 20,000 records of empty texts, each text field
    // found empty without searching the rest of the file again.
    mib = NewMib();
    EXPECT_EQ(LoadBytes(mib.Get(), kReservedField + Num(0xFFFFFF) + std::string(300000, 'x')), kCompileError);
    EXPECT_EQ(VariableCount(mib.Get()), 20000);
}

// ---- Writer ----

TEST_F(ImageTest, WriterProducesTheLayoutTheReaderReads) {
    ComPtr<ISnmpMib> mib = NewMib();
    const std::string empty = (dir_.Path() / "empty.bin").string();
    ASSERT_EQ(VelkWriteMibImage(mib.Get(), B(empty).Get()), S_OK);
    EXPECT_EQ(ReadAll(empty), "VELK " + Num(0) + Num(0));

    MibStore& store = StoreOf(mib.Get());
    model::SnmpVariable* v = model::NewSnmpVariable();
    v->SetName(std::u16string_view(u"a b"));
    v->SetType(snmpInteger);
    v->SetAccess(snmpVariableReadOnly);
    v->SetValueText(std::u16string_view(u"x\u00a0y\u0100z"));
    store.Variables().AppendOwned(v);
    ComPtr<model::SnmpTrap> trap;
    ASSERT_EQ(model::CreateSnmpTrap(&trap), S_OK);
    trap->SetName(Bstr(u"n"));
    sock::AsVelkStrings(trap->Oids())->Append(u"1.2");
    sock::AsVelkStrings(trap->Oids())->Append(u"1.3");
    store.Traps().AppendOwned(trap.Detach());
    const std::string path = (dir_.Path() / "one.bin").string();
    ASSERT_EQ(VelkWriteMibImage(mib.Get(), B(path).Get()), S_OK) << TakeErrorDescription();
    const std::string expected = "VELK " + Num(1) + Txt("a b") + Txt("") + Num(1) + Txt("") + Txt("") +
                                 Txt("") + Num(0) + Txt("") + Num(1) + Txt("x?y?z") + Num(1) +
                                 "\xff\xff\xff\xff " + Num(0) + Txt("") + Txt("") + Txt("n") +
                                 Txt("1.2,1.3") + Txt("");
    EXPECT_EQ(ReadAll(path), expected) << "U+00A0 and characters beyond the code page become ?";
}

TEST_F(ImageTest, WriterRefusesWhatTheImageCannotCarry) {
    const std::string path = (dir_.Path() / "keep.bin").string();
    struct Case {
        const char* what;
        void (*spoil)(MibStore&);
        std::string message;
    } cases[] = {
        {"a number beyond 24 bits",
         [](MibStore& s) {
             ComPtr<model::SnmpTrap> t;
             model::CreateSnmpTrap(&t);
             t->SetName(Bstr(u"big"));
             t->SetSpecificTrap(0x800000);
             s.Traps().AppendOwned(t.Detach());
         },
         "\"big\" cannot be stored in a MIB image."},
        {"an index entry holding the separator",
         [](MibStore& s) {
             model::SnmpVariable* v = model::NewSnmpVariable();
             ComPtr<IVelkStrings> index;
             v->get_Index(index.Put());
             index->Add(B("a,b").Get(), 0);
             s.Variables().AppendOwned(v);
         },
         "\"a,b\" cannot be stored in a MIB image."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        ASSERT_EQ(VelkWriteMibImage(mib.Get(), B(path).Get()), S_OK);
        const std::string before = ReadAll(path);
        c.spoil(StoreOf(mib.Get()));
        EXPECT_EQ(VelkWriteMibImage(mib.Get(), B(path).Get()), kFileError);
        EXPECT_EQ(TakeErrorDescription(), c.message);
        EXPECT_EQ(ReadAll(path), before) << "a failed write leaves the earlier file";
    }
    ComPtr<ISnmpMib> mib = NewMib();
    const std::string unwritable = (dir_.Path() / "no-such-folder" / "x.bin").string();
    EXPECT_EQ(VelkWriteMibImage(mib.Get(), B(unwritable).Get()), kFileError);
    EXPECT_EQ(TakeErrorDescription(), unwritable + " cannot be written.");
    EXPECT_EQ(VelkWriteMibImage(mib.Get(), nullptr), E_POINTER);
    EXPECT_EQ(VelkWriteMibImage(nullptr, B(path).Get()), E_INVALIDARG);
}

// The corpus compiled in one call, less the modules the compiler refuses (and those that
// need them): each failing file named by the error is left out and the call repeated.
ComPtr<ISnmpMib> CompileCorpus(std::vector<std::string>* left) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(VELK_MIBS_DIR))
        if (e.path().extension() == ".txt") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    while (!files.empty()) {
        ComPtr<ISnmpMib> mib = NewMib();
        if (Compile(mib.Get(), files) == S_OK) return mib;
        const std::string message = TakeErrorDescription();
        const size_t from = message.find("\r\n");
        const size_t to = message.rfind('(', message.find(") - "));
        if (from == std::string::npos || to == std::string::npos || to < from) return nullptr;
        const std::string file = message.substr(from + 2, to - from - 2);
        auto it = std::find(files.begin(), files.end(), file);
        if (it == files.end()) return nullptr;
        left->push_back(std::filesystem::path(file).filename().string());
        files.erase(it);
    }
    return nullptr;
}

TEST_F(ImageTest, CorpusRoundTripsThroughAnImage) {
    std::vector<std::string> left;
    ComPtr<ISnmpMib> compiled = CompileCorpus(&left);
    ASSERT_TRUE(compiled);
    for (const std::string& m : left) std::printf("left out of the corpus: %s\n", m.c_str());
    const std::string path = (dir_.Path() / "corpus.bin").string();
    ASSERT_EQ(VelkWriteMibImage(compiled.Get(), B(path).Get()), S_OK) << TakeErrorDescription();

    ComPtr<ISnmpMib> loaded = NewMib();
    ASSERT_EQ(loaded->Load(B(path).Get()), S_OK) << TakeErrorDescription();
    const auto a = AllVariables(compiled.Get());
    const auto b = AllVariables(loaded.Get());
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 1000u);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(Fields(a[i].Get()), Fields(b[i].Get())) << i;
    const auto s = AllTraps(compiled.Get());
    const auto t = AllTraps(loaded.Get());
    ASSERT_EQ(s.size(), t.size());
    ASSERT_GT(s.size(), 20u);
    bool notification = false;
    for (size_t i = 0; i < s.size(); ++i) {
        ASSERT_EQ(Fields(s[i].Get()), Fields(t[i].Get())) << i;
        notification |= Fields(s[i].Get())[0] == "-1";
    }
    EXPECT_TRUE(notification) << "the corpus has notifications (SpecificTrap -1)";
}

}  // namespace
}  // namespace velk::mib
