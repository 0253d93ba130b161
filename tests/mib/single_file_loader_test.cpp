// Load of a MIB source file: the single-pass OID rule, object types (syntax texts, clauses,
// DEFVAL), traps and notifications, errors, and host code run by Load's message dispatch.
#include <string>
#include <vector>

#include "mib_support.h"

namespace velk::mib {
namespace {

using namespace testing;

constexpr const char* kBase =
    "T-MIB DEFINITIONS ::= BEGIN\n"
    "IMPORTS a, b FROM X-MIB;\n"
    "internet OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 }\n"
    "mib-2 OBJECT IDENTIFIER ::= { internet 2 1 }\n";

std::string Object(const std::string& name, const std::string& clauses, int arc) {
    return name + " OBJECT-TYPE\n" + clauses + "\n ::= { mib-2 " + std::to_string(arc) + " }\n";
}

class LoaderTest : public MibTest {
protected:
    // Loads kBase, `body` and END from the file T.txt into `mib`.
    HRESULT LoadBody(ISnmpMib* mib, const std::string& body) {
        path_ = dir_.Write("T.txt", kBase + body + "END\n");
        return mib->Load(B(path_).Get());
    }
    // The text of a compile error at `line` of T.txt.
    std::string At(int line, const std::string& message) const {
        return "An error occured while compiling a mib:\r\n" + path_ + "(" + std::to_string(line) +
               ") - " + message;
    }
    std::string path_;
};

TEST_F(LoaderTest, OidValuesUseOnlyNamesKnownBeforeAndStandOnOneLine) {
    struct Case {
        const char* what;
        std::string body;
        std::vector<std::pair<std::string, std::string>> oids;  // when it loads
        int line;                                                // else the error's line
        std::string error;
    } cases[] = {
        {"named numbers become names of their own", "",
         {{"internet", "1.3.6.1"}, {"org(3)", "1.3"}, {"dod(6)", "1.3.6"}, {"mib-2", "1.3.6.1.2.1"}}, 0, ""},
        {"identity, module identity and value assignment",
         "m MODULE-IDENTITY LAST-UPDATED \"x\" ::= { mib-2 5 }\n"
         "o OBJECT-IDENTITY STATUS current DESCRIPTION \"d\"\n ::= { m 1 }\n"
         "v ::= { o 2 }\n",
         {{"m", "1.3.6.1.2.1.5"}, {"o", "1.3.6.1.2.1.5.1"}, {"v", "1.3.6.1.2.1.5.1.2"}}, 0, ""},
        {"no forward references", "early OBJECT IDENTIFIER ::= { late 1 }\nlate OBJECT IDENTIFIER ::= { iso 2 }\n",
         {}, 5, "\"late\" is an unknown identifier."},
        {"a value split over two lines", "split OBJECT IDENTIFIER ::= { mib-2\n 7 }\n", {}, 5,
         "\"\n\" is an unknown identifier."},
        {"a named number without its parenthesis", "p OBJECT IDENTIFIER ::= { iso org(3 }\n", {}, 5,
         "\")\" expected."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        const HRESULT hr = LoadBody(mib.Get(), c.body);
        if (c.error.empty()) {
            EXPECT_EQ(hr, S_OK) << TakeErrorDescription();
            EXPECT_EQ(ModuleList(mib.Get()), "T-MIB");
            for (const auto& [name, oid] : c.oids) EXPECT_EQ(OidOfName(mib.Get(), name), oid) << name;
        } else {
            EXPECT_EQ(hr, kCompileError);
            EXPECT_EQ(TakeErrorDescription(), At(c.line, c.error));
            EXPECT_EQ(ModuleList(mib.Get()), "") << "only a successful load adds its module";
            EXPECT_EQ(OidOfName(mib.Get(), "mib-2"), "1.3.6.1.2.1") << "what came before stays";
        }
    }
}

TEST_F(LoaderTest, ObjectTypeClausesGiveTheVariableItsFields) {
    struct Case {
        const char* what;
        std::string clauses;
        std::string syntax;
        LONG type;
        LONG access;
        LONG status;
        std::string description;
    } cases[] = {
        {"enumeration at the end of its line",
         "SYNTAX INTEGER { up(1), down(2) }\nACCESS read-only\nSTATUS mandatory",
         "INTEGER{up(1),down(2) } ", snmpInteger, snmpVariableReadOnly, snmpMandatory, ""},
        {"enumeration over several lines",
         "SYNTAX INTEGER {\n up(1),\n down(2)\n }\nMAX-ACCESS read-write\nSTATUS current",
         "INTEGER{up(1),down(2) } ", snmpInteger, snmpVariableReadWrite, snmpCurrent, ""},
        {"OCTET STRING is one token", "SYNTAX OCTET STRING (SIZE (0..255))\nMAX-ACCESS read-create STATUS deprecated",
         "OCTET STRING(SIZE(0..255)) ", snmpOctetString, snmpVariableReadCreate, snmpDeprecated, ""},
        {"whole names: Unsigned32", "SYNTAX Unsigned32\nMAX-ACCESS accessible-for-notify\nSTATUS obsolete",
         "Unsigned32 ", snmpUInteger32, snmpVariableAccessibleForNotify, snmpObsolete, ""},
        {"whole names: UInteger32 is unknown", "SYNTAX UInteger32\nACCESS write-only\nSTATUS optional",
         "UInteger32 ", snmpNull, snmpVariableWriteOnly, snmpOptional, ""},
        {"a syntax on the next line", "SYNTAX\n  Gauge32\nACCESS read-only\nSTATUS mandatory", "", snmpNull,
         snmpVariableReadOnly, snmpMandatory, ""},
        {"values on the next line", "SYNTAX TimeTicks\nACCESS\n read-only\nSTATUS\n current", "TimeTicks ",
         snmpTimeTicks, snmpVariableReadOnly, snmpCurrent, ""},
        {"description words joined by single blanks",
         "SYNTAX IpAddress\nACCESS read-only\nSTATUS mandatory\nDESCRIPTION\n \"The a, b\n   and  c.\"\n"
         "INDEX { x }\nREFERENCE \"r\"",
         "IpAddress ", snmpIpAddress, snmpVariableReadOnly, snmpMandatory, "The a , b and c. "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* lineEnd : {"\n", "\r\n"}) {
            std::string body = Object("obj", c.clauses, 9);
            for (size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += std::string(lineEnd).size())
                body.replace(at, 1, lineEnd);
            ComPtr<ISnmpMib> mib = NewMib();
            ASSERT_EQ(LoadBody(mib.Get(), body), S_OK) << TakeErrorDescription();
            ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), "obj");
            ASSERT_TRUE(v);
            EXPECT_EQ(Text(&ISnmpVariable::get_Oid, v.Get()), "1.3.6.1.2.1.9");
            EXPECT_EQ(Text(&ISnmpVariable::get_Syntax, v.Get()), c.syntax);
            VariableTypeConstants type{};
            AccessConstants access{};
            StatusConstants status{};
            v->get_Type(&type);
            v->get_Access(&access);
            v->get_Status(&status);
            EXPECT_EQ(type, c.type);
            EXPECT_EQ(access, c.access);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(Text(&ISnmpVariable::get_Description, v.Get()), c.description);
            EXPECT_EQ(Text(&ISnmpVariable::get_Reference, v.Get()), "") << "not filled by this loader";
            EXPECT_EQ(Text(&ISnmpVariable::get_BaseSyntax, v.Get()), "");
            ComPtr<IVelkStrings> index;
            v->get_Index(index.Put());
            EXPECT_EQ(All(index.Get()), "");
        }
    }
}

TEST_F(LoaderTest, DefaultValuesDependOnTheType) {
    struct Case {
        const char* what;
        std::string syntax;
        std::string defval;
        std::string value;
    } cases[] = {
        {"a number", "INTEGER", "DEFVAL { 0 }", "0"},
        {"a quoted string", "DisplayString", "DEFVAL { \"abc def\" }", "abc def "},
        {"an empty string", "OCTET STRING", "DEFVAL { \"\" }", ""},
        {"a hex string is not quoted", "IpAddress", "DEFVAL { 'C0A80001'H }", ""},
        {"an empty hex string", "OCTET STRING", "DEFVAL { ''H }", ""},
        {"an object identifier stores nothing", "OBJECT IDENTIFIER", "DEFVAL { mib-2 }", ""},
        {"a type the table does not know", "RowStatus", "DEFVAL { active }", ""},
        {"bits", "BITS { a(0), b(1) }", "DEFVAL { { a, b } }", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        const std::string clauses = "SYNTAX " + c.syntax + "\nMAX-ACCESS read-write\nSTATUS current\n" + c.defval;
        // The object after it must survive whatever the DEFVAL holds.
        ASSERT_EQ(LoadBody(mib.Get(), Object("withDefault", clauses, 1) +
                                          Object("next", "SYNTAX Counter32 MAX-ACCESS read-only", 2)),
                  S_OK)
            << TakeErrorDescription();
        ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), "withDefault");
        ASSERT_TRUE(v);
        EXPECT_EQ(Text(&ISnmpVariable::get_Value, v.Get()), c.value);
        EXPECT_EQ(OidOfName(mib.Get(), "next"), "1.3.6.1.2.1.2");
        EXPECT_EQ(VariableCount(mib.Get()), 2);
    }
}

TEST_F(LoaderTest, TrapsAndNotificationsArePublishedAtOnce) {
    const std::string body =
        Object("ifIndex", "SYNTAX INTEGER ACCESS read-only STATUS mandatory", 1) +
        Object("ifOperStatus", "SYNTAX INTEGER ACCESS read-only STATUS mandatory", 2) +
        "snmp OBJECT IDENTIFIER ::= { mib-2 11 }\n"
        "linkDown TRAP-TYPE\n ENTERPRISE snmp\n VARIABLES { ifIndex,\n ifOperStatus }\n"
        " DESCRIPTION \"Link\n down.\"\n ::= 3\n"
        "snmpTraps OBJECT IDENTIFIER ::= { iso 6 3 1 1 5 }\n"
        "coldStart NOTIFICATION-TYPE\n OBJECTS { ifIndex }\n STATUS current\n DESCRIPTION \"Cold.\"\n"
        " ::= { snmpTraps 1 }\n"
        "big TRAP-TYPE ENTERPRISE snmp ::= 99999999999\n";
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(LoadBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    struct Expected {
        const char* name;
        LONG specific;
        std::string enterprise;
        std::string oids;
        std::string description;
    } expected[] = {
        {"linkDown", 3, "1.3.6.1.2.1.11", "1.3.6.1.2.1.1,1.3.6.1.2.1.2", "Link down. "},
        {"coldStart", 0, "", "1.3.6.1.2.1.1", "Cold. "},
        {"big", 2147483647, "1.3.6.1.2.1.11", "", ""},
    };
    ASSERT_EQ(TrapCount(mib.Get()), 3);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        ComPtr<ISnmpTrap> t = TrapNamed(mib.Get(), e.name);
        ASSERT_TRUE(t);
        LONG specific = 0;
        t->get_SpecificTrap(&specific);
        EXPECT_EQ(specific, e.specific);
        EXPECT_EQ(Text(&ISnmpTrap::get_Enterprise, t.Get()), e.enterprise);
        ComPtr<IVelkStrings> oids;
        t->get_Oids(oids.Put());
        EXPECT_EQ(All(oids.Get()), e.oids);
        EXPECT_EQ(Text(&ISnmpTrap::get_Description, t.Get()), e.description);
    }
    // The rest of the notification's line is read as ordinary tokens: nothing defined.
    EXPECT_EQ(OidOfName(mib.Get(), "coldStart"), "");
}

TEST_F(LoaderTest, ErrorsEndTheLoadAndKeepWhatCameBefore) {
    const std::string first = Object("first", "SYNTAX INTEGER ACCESS read-only STATUS mandatory", 1);
    struct Case {
        const char* what;
        std::string body;
        int line;
        std::string error;
    } cases[] = {
        {"unknown access", Object("x", "SYNTAX INTEGER\nACCESS read-mostly", 3), 10,
         "\"read-mostly\" is an unknown access type."},
        {"unknown status", Object("x", "SYNTAX INTEGER\nSTATUS new", 3), 10, "\"new\" is an unknown status type."},
        {"an object type cut short", "x OBJECT-TYPE\n SYNTAX INTEGER\n", 10,
         "Unexpected end of file. Unexpected end of file found."},
        {"no brace after ::=", "x OBJECT-TYPE\n SYNTAX INTEGER\n ::= mib-2 3\n", 10, "\"{\" expected."},
        {"an open string", "x OBJECT-TYPE DESCRIPTION \"never closed\n", 9, "\"\"\" expected."},
        {"an unknown trap variable", "t TRAP-TYPE ENTERPRISE mib-2 VARIABLES { nothing } ::= 1\n", 8,
         "\"nothing\" is an unknown identifier."},
        {"imports without their end", "IMPORTS x FROM Y\n", 9, "Unexpected end of file. "},
        {"a value cut by the end of the text", "cut OBJECT IDENTIFIER ::= { mib-2", 8, "Unexpected end of file. "},
        {"an identity without ::=", "o OBJECT-IDENTITY STATUS current\n", 9, "\"::=\" expected."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        path_ = dir_.Write("T.txt", kBase + first + c.body);
        EXPECT_EQ(mib->Load(B(path_).Get()), kCompileError);
        EXPECT_EQ(TakeErrorDescription(), At(c.line, c.error));
        EXPECT_EQ(VariableCount(mib.Get()), 1) << "the object before the error stays";
        EXPECT_EQ(ModuleList(mib.Get()), "");
    }
}

TEST_F(LoaderTest, CommentsAndRepeatedLoads) {
    const std::string body = "-- x OBJECT IDENTIFIER ::= { iso 9 }\n" +
                             Object("obj", "SYNTAX INTEGER -- ACCESS write-only\nACCESS read-only", 1) +
                             "-- a comment on the last line, without a line feed";
    ComPtr<ISnmpMib> mib = NewMib();
    path_ = dir_.Write("T.txt", kBase + body);
    ASSERT_EQ(mib->Load(B(path_).Get()), S_OK) << TakeErrorDescription();
    EXPECT_EQ(OidOfName(mib.Get(), "x"), "");
    ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), "obj");
    ASSERT_TRUE(v);
    EXPECT_EQ(Text(&ISnmpVariable::get_Syntax, v.Get()), "INTEGER -- ACCESS write-only ")
        << "comments are not recognised inside a definition";
    ASSERT_EQ(mib->Load(B(path_).Get()), S_OK) << TakeErrorDescription();
    EXPECT_EQ(VariableCount(mib.Get()), 2) << "a module loaded twice adds its objects twice";
    EXPECT_EQ(ModuleList(mib.Get()), "T-MIB T-MIB");
    EXPECT_EQ(mib->Load(B(dir_.Path().string() + "/missing.txt").Get()), kFileError);
}

// ---- Host code run during Load ----

struct Reentry {
    ISnmpMib* mib = nullptr;
    std::string nested;   // a file for the nested Load
    std::string image;    // an image file, loaded from inside
    int runs = 0;
    HRESULT nestedLoad = S_OK;
    std::string nestedMessage;
    HRESULT nestedCompile = S_OK;
    HRESULT imageLoad = E_FAIL;
    LONG variablesSeen = -1;
};

TEST_F(LoaderTest, PostedTasksRunDuringLoadAndCannotNestALoad) {
    ComPtr<ISnmpMib> mib = NewMib();
    Reentry r;
    r.mib = mib.Get();
    r.nested = dir_.Write("N.txt", "N-MIB DEFINITIONS ::= BEGIN\nEND\n");
    r.image = dir_.Write("i.bin", std::string("abcd \0\0\0\0 \0\0\0\0 ", 15));
    path_ = dir_.Write("T.txt", std::string(kBase) + "END\n");
    VelkPostTask(
        [](void* context) {
            auto* r = static_cast<Reentry*>(context);
            ++r->runs;
            r->variablesSeen = VariableCount(r->mib);
            r->nestedLoad = r->mib->Load(B(r->nested).Get());
            r->nestedMessage = TakeErrorDescription();
            r->nestedCompile = Compile(r->mib, {r->nested});
            TakeErrorDescription();
            r->imageLoad = r->mib->Load(B(r->image).Get());
        },
        &r);
    ASSERT_EQ(mib->Load(B(path_).Get()), S_OK) << TakeErrorDescription();
    EXPECT_EQ(r.runs, 1) << "the task ran inside Load";
    EXPECT_EQ(r.nestedLoad, kBlockedError);
    EXPECT_EQ(r.nestedMessage, "A MIB file is currently being loaded.");
    EXPECT_EQ(r.nestedCompile, kBlockedError);
    EXPECT_EQ(r.imageLoad, S_OK) << "an image load does not use the busy flag";
    EXPECT_EQ(ModuleList(mib.Get()), "T-MIB");
    EXPECT_EQ(OidOfName(mib.Get(), "mib-2"), "1.3.6.1.2.1") << "the outer load went on undisturbed";
    // Afterwards a Load works again.
    EXPECT_EQ(mib->Load(B(r.nested).Get()), S_OK);
}

TEST_F(LoaderTest, HostClearingOrReleasingTheStoreDuringLoadIsSafe) {
    // A task that empties the store: later names are unknown to the outer load.
    {
        ComPtr<ISnmpMib> mib = NewMib();
        path_ = dir_.Write("T.txt", std::string(kBase) + "END\n");
        VelkPostTask([](void* m) { static_cast<ISnmpMib*>(m)->Clear(); }, mib.Get());
        const HRESULT hr = mib->Load(B(path_).Get());
        EXPECT_EQ(hr, kCompileError);
        EXPECT_EQ(TakeErrorDescription(), At(3, "\"iso\" is an unknown identifier."));
    }
    // A task that drops the host's last reference: Load finishes on a live object.
    {
        ISnmpMib* mib = nullptr;
        ASSERT_EQ(CreateSnmpMib(&mib), S_OK);
        VelkPostTask([](void* m) { static_cast<ISnmpMib*>(m)->Release(); }, mib);
        EXPECT_EQ(mib->Load(B(path_).Get()), S_OK);
    }
}

}  // namespace
}  // namespace velk::mib
