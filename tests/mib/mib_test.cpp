// SnmpMib: publishing and roll-back of Compile, the already-loaded test, the busy flag,
// Name and Oid, RemoveTable and Clear.
#include <string>
#include <vector>

#include "mib/node_index.h"
#include "mib_support.h"

namespace velk::mib {
namespace {

using namespace testing;

std::string Module(const std::string& name, const std::string& body) {
    return name + " DEFINITIONS ::= BEGIN\n" + body + "\nEND\n";
}

constexpr const char* kSmi =
    "internet OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 }\n"
    "mib-2 OBJECT IDENTIFIER ::= { internet 2 1 }\n"
    "system OBJECT IDENTIFIER ::= { mib-2 1 }\n";

constexpr const char* kSystem =
    "sysDescr OBJECT-TYPE SYNTAX DisplayString ACCESS read-only STATUS mandatory\n"
    "  ::= { system 1 }\n"
    "coldStart TRAP-TYPE ENTERPRISE system ::= 0\n";

class SnmpMibTest : public MibTest {
protected:
    std::string smi_ = dir_.Write("SMI.txt", Module("SMI", kSmi));
    std::string system_ = dir_.Write("SYS.txt", Module("SYS", kSystem));
};

TEST_F(SnmpMibTest, EmptyCompileKnowsOnlyIso) {
    ComPtr<ISnmpMib> mib = NewMib();
    EXPECT_EQ(OidOfName(mib.Get(), "iso"), "") << "a fresh store knows no name";
    ASSERT_EQ(Compile(mib.Get(), {}), S_OK);
    EXPECT_EQ(OidOfName(mib.Get(), "iso"), "1");
    EXPECT_EQ(StoreOf(mib.Get()).Nodes().Size(), 1u);
    EXPECT_EQ(mib->Compile(nullptr), S_OK);
    EXPECT_EQ(VariableCount(mib.Get()), 0);
}

TEST_F(SnmpMibTest, PublishesOnlyWhenTheWholeCallSucceeds) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(Compile(mib.Get(), {smi_}), S_OK);
    const std::string bad = dir_.Write("BAD.txt", Module("BAD", "x OBJECT IDENTIFIER ::= { nowhere 1 }"));
    const std::string good = dir_.Write("GOOD.txt", Module("GOOD", "good OBJECT IDENTIFIER ::= { mib-2 99 }"));
    struct Case {
        std::vector<std::string> files;
        HRESULT result;
        std::string message;
    } cases[] = {
        {{system_, bad}, kCompileError,
         "An error occured while compiling a mib:\r\n" + bad + "(2) - \"nowhere\" is an unknown identifier."},
        {{system_, dir_.Path().string() + "/missing.txt"}, kFileError,
         dir_.Path().string() + "/missing.txt does not exist."},
        {{good, system_, dir_.Write("DUP.txt", Module("DUP", "a OBJECT IDENTIFIER ::= { iso 1 }\n"
                                                            "a OBJECT IDENTIFIER ::= { iso 2 }"))},
         kDuplicateError, "Duplicate Name: a in MIB: DUP\r\n"},
        {{good, dir_.Write("TRUNC.txt", "TRUNC DEFINITIONS ::= BEGIN\n")}, kCompileError,
         "An error occured while compiling a mib:\r\n" + dir_.Path().string() +
             "/TRUNC.txt(2) - Unexpected end of file. Unexpected end of file found."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Compile(mib.Get(), c.files), c.result);
        EXPECT_EQ(TakeErrorDescription(), c.message);
        EXPECT_EQ(VariableCount(mib.Get()), 0);
        EXPECT_EQ(TrapCount(mib.Get()), 0);
        EXPECT_EQ(ModuleList(mib.Get()), "SMI");
        // The names the failed call resolved are forgotten; the earlier ones stay.
        EXPECT_EQ(OidOfName(mib.Get(), "sysDescr"), "");
        EXPECT_EQ(OidOfName(mib.Get(), "good"), "");
        EXPECT_EQ(NameOfOid(mib.Get(), "1.3.6.1.2.1.1.1"), "");
        EXPECT_EQ(OidOfName(mib.Get(), "system"), "1.3.6.1.2.1.1");
    }
    // The corrected files compile afterwards, without "Duplicate Name".
    ASSERT_EQ(Compile(mib.Get(), {system_, good}), S_OK) << TakeErrorDescription();
    EXPECT_EQ(VariableCount(mib.Get()), 1);
    EXPECT_EQ(TrapCount(mib.Get()), 1);
    EXPECT_EQ(ModuleList(mib.Get()), "SMI SYS GOOD");
    EXPECT_EQ(OidOfName(mib.Get(), "sysDescr"), "1.3.6.1.2.1.1.1");
    ComPtr<ISnmpTrap> cold = TrapNamed(mib.Get(), "coldStart");
    ASSERT_TRUE(cold);
    EXPECT_EQ(Text(&ISnmpTrap::get_Enterprise, cold.Get()), "1.3.6.1.2.1.1");
}

TEST_F(SnmpMibTest, ModulesAlreadyLoadedAreSkipped) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(Compile(mib.Get(), {smi_, system_}), S_OK);
    ASSERT_EQ(Compile(mib.Get(), {system_}), S_OK) << "the second time adds nothing";
    EXPECT_EQ(VariableCount(mib.Get()), 1);
    EXPECT_EQ(TrapCount(mib.Get()), 1);
    EXPECT_EQ(ModuleList(mib.Get()), "SMI SYS");
    // A loaded module whose name begins with another's does not make that one loaded.
    const std::string ext = dir_.Write("FOO-EXT.txt", Module("FOO-MIB-EXT", "e OBJECT IDENTIFIER ::= { iso 7 }"));
    const std::string foo = dir_.Write("FOO.txt", Module("FOO-MIB", "f OBJECT IDENTIFIER ::= { iso 8 }"));
    ASSERT_EQ(Compile(mib.Get(), {ext}), S_OK);
    ASSERT_EQ(Compile(mib.Get(), {foo}), S_OK);
    EXPECT_EQ(OidOfName(mib.Get(), "f"), "1.8");
    EXPECT_EQ(ModuleList(mib.Get()), "SMI SYS FOO-MIB-EXT FOO-MIB");
}

TEST_F(SnmpMibTest, BusyStoreRefusesLoadAndCompile) {
    ComPtr<ISnmpMib> mib = NewMib();
    MibStore& store = StoreOf(mib.Get());
    store.SetBusy(true);
    EXPECT_EQ(Compile(mib.Get(), {smi_}), kBlockedError);
    EXPECT_EQ(TakeErrorDescription(), "A MIB file is currently being loaded.");
    EXPECT_EQ(mib->Load(B(smi_).Get()), kBlockedError);
    EXPECT_EQ(TakeErrorDescription(), "A MIB file is currently being loaded.");
    // An empty store (as after Clear from host code inside a Load) stays busy.
    EXPECT_EQ(mib->Clear(), S_OK);
    EXPECT_EQ(Compile(mib.Get(), {smi_}), kBlockedError);
    EXPECT_TRUE(store.Busy());
    EXPECT_EQ(StoreOf(mib.Get()).Nodes().Size(), 0u) << "nothing changed";
    // A ".bin" name goes to the image reader, which ignores the flag.
    EXPECT_NE(mib->Load(B(dir_.Path().string() + "/x.binder.txt").Get()), kBlockedError);
    TakeErrorDescription();
    store.SetBusy(false);
    ASSERT_EQ(Compile(mib.Get(), {smi_}), S_OK);
    EXPECT_FALSE(store.Busy());
    EXPECT_EQ(Compile(mib.Get(), {system_, "/nonexistent.txt"}), kFileError);
    EXPECT_FALSE(store.Busy()) << "cleared on failure too";
}

TEST_F(SnmpMibTest, LoadOfAMissingFile) {
    ComPtr<ISnmpMib> mib = NewMib();
    const std::string missing = dir_.Path().string() + "/none.mib";
    EXPECT_EQ(mib->Load(B(missing).Get()), kFileError);
    EXPECT_EQ(TakeErrorDescription(), missing + " does not exist.");
    EXPECT_EQ(OidOfName(mib.Get(), "iso"), "1");
    EXPECT_FALSE(StoreOf(mib.Get()).Busy());
}

TEST_F(SnmpMibTest, NameAndOidTranslate) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(Compile(mib.Get(), {smi_, system_}), S_OK);
    NodeIndex& nodes = StoreOf(mib.Get()).Nodes();
    nodes.Append("alias", "1.3.6.1.2.1.1", "X");      // same OID as system, later
    nodes.Append("zero", "1.3.6.1.2.1.1.1.0", "X");   // an exact match beats a stripped one
    nodes.Append("system", "1.9", "X");               // same name as system, later
    nodes.Append("empty", "", "X");
    struct Case {
        const char* oid;
        const char* name;
    } names[] = {
        {"1.3.6.1.2.1.1.1", "sysDescr"}, {"1.3.6.1.2.1.1.1.0", "zero"}, {"1.3.6.1.2.1.1.0", "system"},
        {"1.3.6.1.2.1.1", "system"},     {"1.0", "iso"},                {".0", ""},
        {"1.3.6.1.2.1.1.1.5", ""},       {"1.3.6.1.2.1.1.1.0.0", "zero"},   {"1.9", "system"},
        {"", "empty"},                   {"1.3.6.1.2.1.1.1.0 ", ""},
    };
    for (const Case& c : names) EXPECT_EQ(NameOfOid(mib.Get(), c.oid), c.name) << c.oid;
    struct OidCase {
        const char* name;
        const char* oid;
    } oids[] = {
        {"system", "1.3.6.1.2.1.1"}, {"System", ""}, {"sysDescr", "1.3.6.1.2.1.1.1"}, {"iso", "1"},
        {"org", ""}, {"", ""}, {"coldStart", ""},
    };
    for (const OidCase& c : oids) EXPECT_EQ(OidOfName(mib.Get(), c.name), c.oid) << c.name;
    Bstr out;
    EXPECT_EQ(mib->get_Name(B("9.9").Get(), out.Put()), S_OK);
    EXPECT_EQ(out.Get(), nullptr);
    EXPECT_EQ(mib->get_Oid(B("nothing").Get(), nullptr), E_POINTER);
    // A character outside the code page never matches.
    EXPECT_EQ(mib->get_Oid(Bstr(u"sys\u0100Descr").Get(), out.Put()), S_OK);
    EXPECT_EQ(out.Get(), nullptr);
}

TEST(NodeIndex, RollBackRestoresEarlierAnswers) {
    NodeIndex nodes;
    nodes.Append("a", "1.1", "M");
    const NodeIndex::Checkpoint checkpoint = nodes.GetCheckpoint();
    nodes.Append("a", "1.2", "N");
    nodes.Append("b", "1.1", "N");
    nodes.Append("c", "1.3", "N");
    EXPECT_EQ(nodes.NameOfOid("1.1"), "a");
    EXPECT_EQ(nodes.NextWithSameName(nodes.FindName("a")), 1u);
    nodes.RollBack(checkpoint);
    EXPECT_EQ(nodes.Size(), 1u);
    EXPECT_EQ(nodes.OidOfName("a"), "1.1");
    EXPECT_EQ(nodes.NextWithSameName(0), NodeIndex::npos);
    EXPECT_EQ(nodes.OidOfName("b"), "");
    EXPECT_EQ(nodes.NameOfOid("1.3"), "");
    nodes.Append("a", "1.4", "N");
    EXPECT_EQ(nodes.NextWithSameName(0), 1u);
    EXPECT_EQ(nodes.NameOfOid("1.4"), "a");
    nodes.Clear();
    EXPECT_EQ(nodes.FindName("a"), NodeIndex::npos);
}

TEST_F(SnmpMibTest, ClearEmptiesEverything) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(Compile(mib.Get(), {smi_, system_}), S_OK);
    EXPECT_EQ(mib->Clear(), S_OK);
    EXPECT_EQ(VariableCount(mib.Get()), 0);
    EXPECT_EQ(TrapCount(mib.Get()), 0);
    EXPECT_EQ(ModuleList(mib.Get()), "");
    EXPECT_EQ(OidOfName(mib.Get(), "iso"), "");
    EXPECT_EQ(StoreOf(mib.Get()).Types().Size(), 0u);
    ASSERT_EQ(Compile(mib.Get(), {smi_, system_}), S_OK) << "the same modules compile again";
    EXPECT_EQ(OidOfName(mib.Get(), "iso"), "1");
    EXPECT_EQ(VariableCount(mib.Get()), 1);
}

TEST_F(SnmpMibTest, CollectionsAreTheSameObjects) {
    ComPtr<ISnmpMib> mib = NewMib();
    ComPtr<ISnmpVariables> v1, v2;
    mib->get_Variables(v1.Put());
    mib->get_Variables(v2.Put());
    EXPECT_EQ(v1.Get(), v2.Get());
    ComPtr<IVelkStrings> m1, m2;
    mib->get_Modules(m1.Put());
    mib->get_Modules(m2.Put());
    EXPECT_EQ(m1.Get(), m2.Get());
    // Through late binding too.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(mib->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(u"Oid");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 5);
}

// RemoveTable over members added directly, in the order given.
TEST_F(SnmpMibTest, RemoveTableRemovesTheRunUnderThePrefix) {
    struct Case {
        std::vector<std::string> oids;  // insertion order
        const char* remove;
        bool sorted;
        HRESULT result;
        std::vector<std::string> left;  // insertion order
    } cases[] = {
        {{"1.3.6.1.2.1.2", "1.3.6.1.2.1.2.1", "1.3.6.1.2.1.2.2.1.1", "1.3.6.1.2.1.25", "1.3.6.1.2.1.3"},
         "1.3.6.1.2.1.2", true, S_OK, {"1.3.6.1.2.1.25", "1.3.6.1.2.1.3"}},
        {{"1.3.6.1.2.1.25", "1.3.6.1.2.1.3", "1.3.6.1.2.1.2.1", "1.3.6.1.2.1.2", "1.3.6.1.2.1.20"},
         "1.3.6.1.2.1.2", false, S_OK, {"1.3.6.1.2.1.25", "1.3.6.1.2.1.3", "1.3.6.1.2.1.20"}},
        {{"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.1.0.5"},
         "1.3.6.1.2.1.1.1.0", true, S_OK, {"1.3.6.1.2.1.1.2.0"}},
        {{"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.10.0"}, "1.3.6.1.2.1.1.1.0", true, S_OK, {"1.3.6.1.2.1.1.10.0"}},
        {{"1.2", "1.3"}, "1.4", true, kInvalidParam1, {"1.2", "1.3"}},
        {{"1.2.1", "1.2"}, "1.2.1", true, S_OK, {"1.2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remove);
        ComPtr<ISnmpMib> mib = NewMib();
        ComPtr<ISnmpVariables> vars;
        mib->get_Variables(vars.Put());
        for (const std::string& oid : c.oids) {
            ComPtr<ISnmpVariable> v;
            ASSERT_EQ(model::CreateSnmpVariable(v.Put()), S_OK);
            v->put_Oid(B(oid).Get());
            vars->Add(v.Get());
        }
        vars->put_Sorted(c.sorted ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(mib->RemoveTable(B(c.remove).Get()), c.result);
        if (FAILED(c.result)) {
            EXPECT_EQ(TakeErrorDescription(), std::string(c.remove) + " Not found");
        }
        std::vector<std::string> left;
        for (auto* n = StoreOf(mib.Get()).Variables().Members().Head(); n; n = n->next)
            left.push_back(Text(&ISnmpVariable::get_Oid, n->value.variable));
        EXPECT_EQ(left, c.left);
    }
}

}  // namespace
}  // namespace velk::mib
