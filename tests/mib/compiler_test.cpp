// The compiler through SnmpMib.Compile: OIDs and forward references, objects (syntax
// texts, BaseSyntax, access, status, texts, INDEX, DEFVAL), traps and notifications, and
// the errors with their report texts.
#include <string>
#include <vector>

#include "mib/compiler.h"
#include "mib_support.h"

namespace velk::mib {
namespace {

using namespace testing;

// The first lines of every test module: iso's descendants down to mib-2.
constexpr const char* kBase = R"(
internet OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 }
mgmt OBJECT IDENTIFIER ::= { internet 2 }
mib-2 OBJECT IDENTIFIER ::= { mgmt 1 }
)";

std::string Module(const std::string& name, const std::string& body) {
    return name + " DEFINITIONS ::= BEGIN\n" + body + "\nEND\n";
}

// An object under mib-2 with the given clauses after its name.
std::string Object(const std::string& name, const std::string& clauses, int arc) {
    return name + " OBJECT-TYPE\n" + clauses + "\n ::= { mib-2 " + std::to_string(arc) + " }\n";
}

class CompilerTest : public MibTest {
protected:
    // Compiles one module made of kBase and `body` from the file "T.txt".
    HRESULT CompileBody(ISnmpMib* mib, const std::string& body) {
        path_ = dir_.Write("T.txt", Module("T-MIB", kBase + body));
        return Compile(mib, {path_});
    }
    std::string path_;
};

TEST_F(CompilerTest, ResolvesOidValuesAndForwardReferences) {
    struct Case {
        const char* what;
        std::vector<std::string> files;  // module texts, one file each
        std::vector<std::pair<std::string, std::string>> oids;
    } cases[] = {
        {"named numbers",
         {Module("A", "internet OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 }")},
         {{"internet", "1.3.6.1"}, {"iso", "1"}, {"org", ""}}},
        {"forward reference in one file",
         {Module("A", "mgmt OBJECT IDENTIFIER ::= { internet 2 }\n"
                      "internet OBJECT IDENTIFIER ::= { iso 3 6 1 }")},
         {{"mgmt", "1.3.6.1.2"}}},
        {"parent in a later file",
         {Module("A", "x OBJECT IDENTIFIER ::= { y 7 }"),
          Module("B", "y OBJECT IDENTIFIER ::= { iso 2 }")},
         {{"x", "1.2.7"}, {"y", "1.2"}}},
        {"numbers only define nothing",
         {Module("A", "zeroDotZero OBJECT IDENTIFIER ::= { 0 0 }")},
         {{"zeroDotZero", ""}}},
        {"identity macros",
         {Module("A", "m MODULE-IDENTITY LAST-UPDATED \"x ::= { iso 9 }\" ORGANIZATION \"o\"\n"
                      " ::= { iso 5 }\n"
                      "i OBJECT-IDENTITY STATUS current DESCRIPTION \"d\" ::= { m 1 }\n"
                      "g OBJECT-GROUP OBJECTS { a, b } STATUS current ::= { m 2 }")},
         {{"m", "1.5"}, {"i", "1.5.1"}, {"g", "1.5.2"}}},
        {"two modules in one file",
         {Module("A", "a OBJECT IDENTIFIER ::= { iso 1 }") + Module("B", "b OBJECT IDENTIFIER ::= { a 2 }")},
         {{"b", "1.1.2"}}},
        {"SMIv1 base module with macros and type assignments",
         {R"(RFC1155-SMI DEFINITIONS ::= BEGIN
EXPORTS internet, OBJECT-TYPE;
internet OBJECT IDENTIFIER ::= { iso org(3) dod(6) 1 }
private OBJECT IDENTIFIER ::= { internet 4 }
OBJECT-TYPE MACRO ::=
BEGIN
    TYPE NOTATION ::= "SYNTAX" type (TYPE ObjectSyntax)
                      "ACCESS" Access
    VALUE NOTATION ::= value (VALUE ObjectName)
    Access ::= "read-only" | "read-write"
END
ObjectName ::= OBJECT IDENTIFIER
Counter ::= [APPLICATION 1] IMPLICIT INTEGER (0..4294967295)
END
)"},
         {{"internet", "1.3.6.1"}, {"private", "1.3.6.1.4"}}},
        {"imports choose the module",
         {Module("A", "nn OBJECT IDENTIFIER ::= { iso 1 }"), Module("B", "nn OBJECT IDENTIFIER ::= { iso 2 }"),
          "C DEFINITIONS ::= BEGIN IMPORTS nn FROM B ; c OBJECT IDENTIFIER ::= { nn 9 } END",
          // Without IMPORTS of its own, E does not use C's.
          "E DEFINITIONS ::= BEGIN e OBJECT IDENTIFIER ::= { nn 9 } END",
          "D DEFINITIONS ::= BEGIN IMPORTS xx FROM A ; nn OBJECT IDENTIFIER ::= { iso 4 }\n"
          " d OBJECT IDENTIFIER ::= { nn 9 } END"},
         {{"c", "1.2.9"}, {"d", "1.4.9"}, {"e", "1.1.9"}, {"nn", "1.1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<ISnmpMib> mib = NewMib();
        std::vector<std::string> paths;
        for (size_t i = 0; i < c.files.size(); ++i)
            paths.push_back(dir_.Write("f" + std::to_string(i) + ".txt", c.files[i]));
        ASSERT_EQ(Compile(mib.Get(), paths), S_OK) << TakeErrorDescription();
        for (const auto& [name, oid] : c.oids) EXPECT_EQ(OidOfName(mib.Get(), name), oid) << name;
    }
}

TEST_F(CompilerTest, ReportsErrorsWithFileAndLine) {
    const std::string sysDescr = Object("o", "SYNTAX INTEGER ACCESS read-only STATUS current", 1);
    struct Case {
        std::string body;
        HRESULT result;
        std::string message;  // after the file(line) prefix; the whole report for duplicates
        unsigned line;
    } cases[] = {
        {Object("o", "SYNTAX INTEGER ACCESS read-only STATUS current DESCRIPTION \"\"", 1) +
             "x OBJECT IDENTIFIER ::= { nowhere 3 }",
         kCompileError, "\"nowhere\" is an unknown identifier.", 9},
        {Object("ifIndex", "SYNTAX INTEGER ACCESS read-only STATUS current", 1) +
             Object("ifIndex", "SYNTAX INTEGER ACCESS read-only STATUS current", 2),
         kDuplicateError, "Duplicate Name: ifIndex in MIB: T-MIB\r\n", 0},
        {"a OBJECT IDENTIFIER ::= { iso 1 }\na OBJECT IDENTIFIER ::= { iso 1 }\n"
         "a OBJECT IDENTIFIER ::= { iso 1 }\nb OBJECT IDENTIFIER ::= { iso 2 }\n"
         "b OBJECT IDENTIFIER ::= { iso 2 }",
         kDuplicateError,
         "Duplicate Name: a in MIB: T-MIB\r\nDuplicate Name: a in MIB: T-MIB\r\n"
         "Duplicate Name: b in MIB: T-MIB\r\n", 0},
        {Object("o", "ACCESS read-only STATUS current", 1), kCompileError, "\"SYNTAX\" expected.", 7},
        {Object("o", "SYNTAX INTEGER ACCESS read-maybe STATUS current", 1), kCompileError,
         "\"read-maybe\" is an unknown access type.", 7},
        {Object("o", "SYNTAX INTEGER MAX-ACCESS read-only STATUS sometimes", 1), kCompileError,
         "\"sometimes\" is an unknown status type.", 7},
        {Object("o", "SYNTAX INTEGER STATUS current", 1), kCompileError, "\"ACCESS\" expected.", 10},
        {Object("o", "SYNTAX INTEGER ACCESS read-only DESCRIPTION \"\"", 1), kCompileError,
         "\"STATUS\" expected.", 7},
        {Object("o", "SYNTAX INTEGER ACCESS read-only STATUS current DESCRIPTION none", 1),
         kCompileError, "\"\"\" expected.", 7},
        {Object("o", "SYNTAX INTEGER ACCESS read-only STATUS current DEFVAL 0", 1), kCompileError,
         "\"{\" expected.", 7},
        {"o OBJECT-TYPE SYNTAX INTEGER ACCESS read-only STATUS current ::= { 1 3 }", kCompileError,
         "\"OID Expected\r\n\" expected.", 6},
        {"x OBJECT IDENTIFIER { iso 1 }", kCompileError, "\"::=\" expected.", 6},
        {"x OBJECT IDENTIFIER ::= iso 1 }", kCompileError, "\"{\" expected.", 6},
        {"x OBJECT IDENTIFIER ::= { iso(1 }", kCompileError, "\")\" expected.", 6},
        {"t TRAP-TYPE ENTERPRISE mib-2 VARIABLES a ::= 1", kCompileError,
         "\"{\" is an unknown identifier.", 6},
        {"t TRAP-TYPE ENTERPRISE mib-2 VARIABLES { a b } ::= 1", kCompileError, "\",\" expected.", 6},
        {"t TRAP-TYPE VARIABLES { a } ::= 1", kCompileError, "\"ENTERPRISE\" expected.", 6},
        {"t TRAP-TYPE ENTERPRISE mib-2 { a } ::= 1", kCompileError, "\"::=\" expected.", 6},
        {"n NOTIFICATION-TYPE OBJECTS { a } ::= { mib-2 0 1 }", kCompileError,
         "\"STATUS\" expected.", 6},
        {"a OBJECT IDENTIFIER ::= { b 1 }\nb OBJECT IDENTIFIER ::= { a 1 }", kCompileError,
         "\"a\" is an unknown identifier.", 7},
        {"a OBJECT IDENTIFIER ::= { a 1 }", kCompileError, "\"a\" is an unknown identifier.", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        ComPtr<ISnmpMib> mib = NewMib();
        ASSERT_EQ(CompileBody(mib.Get(), c.body), c.result);
        const std::string expected =
            c.result == kDuplicateError
                ? c.message
                : "An error occured while compiling a mib:\r\n" + path_ + "(" +
                      std::to_string(c.line) + ") - " + c.message;
        EXPECT_EQ(TakeErrorDescription(), expected);
        EXPECT_EQ(VariableCount(mib.Get()), 0);
        EXPECT_EQ(ModuleList(mib.Get()), "");
    }
}

TEST_F(CompilerTest, ReportsUnexpectedEndOfText) {
    const char* texts[] = {
        "M DEFINITIONS ::= BEGIN\na OBJECT IDENTIFIER ::= { iso 1 }\n",
        "M DEFINITIONS ::= BEGIN IMPORTS a FROM B",
        "M DEFINITIONS ::= BEGIN EXPORTS a, b",
        "M DEFINITIONS ::= BEGIN\n\n\n",
        "M DEFINITIONS ::= BEGIN\nT ::= TEXTUAL-CONVENTION STATUS current DESCRIPTION \"x",
    };
    const unsigned lines[] = {3, 1, 1, 4, 2};
    for (size_t i = 0; i < std::size(texts); ++i) {
        ComPtr<ISnmpMib> mib = NewMib();
        const std::string path = dir_.Write("e.txt", texts[i]);
        ASSERT_EQ(Compile(mib.Get(), {path}), kCompileError) << texts[i];
        EXPECT_EQ(TakeErrorDescription(), "An error occured while compiling a mib:\r\n" + path + "(" +
                                              std::to_string(lines[i]) +
                                              ") - Unexpected end of file. Unexpected end of file found.");
    }
}

TEST_F(CompilerTest, HeaderRules) {
    struct Case {
        const char* text;
        HRESULT result;
        const char* modules;
    } cases[] = {
        {"A DEFINITIONS ::= BEGIN END trailing words are ignored", S_OK, "A"},
        {"A { iso 1 } DEFINITIONS ::= BEGIN END", S_OK, "A"},
        {"not a module at all", S_OK, ""},
        {"", S_OK, ""},
        {"A DEFINITIONS BEGIN END", kCompileError, ""},
        {"A DEFINITIONS ::= START END", kCompileError, ""},
        {"A DEFINITIONS ::= BEGIN END B DEFINITIONS ::= BEGIN END", S_OK, "A B"},
        {"A DEFINITIONS ::= BEGIN END A DEFINITIONS ::= BEGIN x OBJECT IDENTIFIER ::= { iso 1 } END\n"
         "C DEFINITIONS ::= BEGIN END",
         S_OK, "A"},
    };
    for (const Case& c : cases) {
        ComPtr<ISnmpMib> mib = NewMib();
        EXPECT_EQ(Compile(mib.Get(), {dir_.Write("h.txt", c.text)}), c.result) << c.text;
        EXPECT_EQ(ModuleList(mib.Get()), c.modules) << c.text;
        TakeErrorDescription();
    }
}

TEST_F(CompilerTest, ErrorLineCountsFromTheStartOfTheFile) {
    ComPtr<ISnmpMib> mib = NewMib();
    const std::string path = dir_.Write(
        "two.txt", Module("A", "a OBJECT IDENTIFIER ::= { iso 1 }") + "\n\n" +
                       Module("B", "\nb OBJECT IDENTIFIER ::= { nothing 2 }"));
    ASSERT_EQ(Compile(mib.Get(), {path}), kCompileError);
    EXPECT_EQ(TakeErrorDescription(), "An error occured while compiling a mib:\r\n" + path +
                                          "(8) - \"nothing\" is an unknown identifier.");
}

TEST_F(CompilerTest, SyntaxTextTypeAndBaseSyntax) {
    struct Case {
        const char* syntax;
        LONG type;
        const char* text;
        const char* base;  // null: the syntax text
    } cases[] = {
        {"INTEGER { up(1), down(2) }", snmpInteger, "INTEGER{up(1),down(2) }", nullptr},
        {"OCTET STRING (SIZE (0..255))", snmpOctetString, "OCTET STRING(SIZE(0..255))", nullptr},
        {"SEQUENCE OF IfEntry", snmpNull, "SEQUENCE OF IfEntry", nullptr},
        {"Counter32", snmpCounter32, "Counter32", nullptr},
        {"Counter32 UNITS \"seconds\"", snmpCounter32, "Counter32 UNITS \" seconds \"", nullptr},
        {"Counter64", snmpCounter64, "Counter64", nullptr},
        {"Gauge32", snmpGuage32, "Gauge32", nullptr},
        {"Unsigned32 (1..5)", snmpGuage32, "Unsigned32(1..5)", nullptr},
        {"UInteger32", snmpUInteger32, "UInteger32", nullptr},
        {"Integer32", snmpInteger, "Integer32", nullptr},
        {"IntegerFoo", snmpNull, "IntegerFoo", nullptr},
        {"TimeTicks", snmpTimeTicks, "TimeTicks", nullptr},
        {"TimeStamp", snmpTimeTicks, "TimeStamp", nullptr},
        {"IpAddress", snmpIpAddress, "IpAddress", nullptr},
        {"OBJECT IDENTIFIER", snmpObjectID, "OBJECT IDENTIFIER", nullptr},
        {"ObjectName", snmpObjectID, "ObjectName", nullptr},
        {"DisplayString (SIZE (0..255))", snmpOctetString, "DisplayString(SIZE(0..255))", nullptr},
        {"PhysAddress", snmpOctetString, "PhysAddress", nullptr},
        {"Opaque", snmpOctetString, "Opaque", nullptr},
        {"BITS { a(0), b(1) }", snmpNull, "BITS{a(0),b(1) }", nullptr},
        {"Status", snmpNull, "Status", "INTEGER{up(1),down(2)}"},
        {"Level (1..3)", snmpNull, "Level(1..3)", nullptr},
    };
    std::string body = "Status ::= INTEGER { up(1), down(2) }\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        body += Object("o" + std::to_string(i),
                       std::string("SYNTAX ") + cases[i].syntax + "\nMAX-ACCESS read-only STATUS current",
                       static_cast<int>(i + 1));
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].syntax);
        ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), "o" + std::to_string(i));
        ASSERT_TRUE(v);
        VariableTypeConstants type;
        v->get_Type(&type);
        EXPECT_EQ(type, cases[i].type);
        EXPECT_EQ(Text(&ISnmpVariable::get_Syntax, v.Get()), cases[i].text);
        EXPECT_EQ(Text(&ISnmpVariable::get_BaseSyntax, v.Get()),
                  cases[i].base ? cases[i].base : cases[i].text);
    }
    // The enumeration of an INTEGER syntax names values.
    ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), "o0");
    v->put_Value(B("2").Get());
    EXPECT_EQ(Text(&ISnmpVariable::get_ValueName, v.Get()), "down");
}

TEST_F(CompilerTest, TypeAssignmentsRecordIntegerRightSides) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(),
                          "Status ::= INTEGER { up(1), down(2) }\n"
                          "Level ::= INTEGER (0..10)\n"
                          "Short ::= INTEGER\n"
                          "x OBJECT-TYPE SYNTAX Short ACCESS read-only STATUS current ::= { mib-2 1 }\n"
                          "Seq ::= SEQUENCE { a INTEGER, b INTEGER }\n"
                          "Oid ::= OBJECT IDENTIFIER\n"
                          "Last ::= INTEGER { a(1) }\n"),
              S_OK)
        << TakeErrorDescription();
    const TypeAssignments& types = StoreOf(mib.Get()).Types();
    std::vector<std::string> texts;
    for (size_t i = 0; i < types.Size(); ++i) texts.push_back(types.At(i));
    EXPECT_EQ(texts, (std::vector<std::string>{"Status::=INTEGER{up(1),down(2)}", "Level::=INTEGER(0..10)",
                                               "Last::=INTEGER{a(1)}"}));
    EXPECT_EQ(OidOfName(mib.Get(), "x"), "1.3.6.1.2.1.1");
}

TEST_F(CompilerTest, ObjectClauses) {
    const std::string body =
        Object("a", "SYNTAX INTEGER ACCESS read-only STATUS mandatory\n"
                    "DESCRIPTION \"line one\n  line two\"\nREFERENCE \"RFC 1\"\nINDEX { IMPLIED ifName, x }\n"
                    "DEFVAL { 0 }", 1) +
        Object("b", "SYNTAX DisplayString MAX-ACCESS read-create STATUS current DEFVAL { \"abc\" }", 2) +
        Object("c", "SYNTAX OCTET STRING MAX-ACCESS read-write STATUS deprecated DEFVAL { 'C0A80001'H }", 3) +
        Object("d", "SYNTAX BITS { x(0) } MAX-ACCESS not-accessible STATUS obsolete DEFVAL { { x, y } }", 4) +
        Object("e", "SYNTAX BITS { x(0) } MAX-ACCESS accessible-for-notify STATUS current DEFVAL { {} }", 5) +
        Object("f", "SYNTAX INTEGER ACCESS write-only STATUS optional AUGMENTS { a }\nDEFVAL { up }", 6) +
        Object("g", "SYNTAX INTEGER ACCESS read-only STATUS current DEFVAL { ''H }", 7);
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    struct Case {
        const char* name;
        AccessConstants access;
        StatusConstants status;
        const char* value;
        const char* index;
    } cases[] = {
        {"a", snmpVariableReadOnly, snmpMandatory, "0 ", "IMPLIED,ifName,x"},
        {"b", snmpVariableReadCreate, snmpCurrent, "\"abc\" ", ""},
        {"c", snmpVariableReadWrite, snmpDeprecated, "'C0A80001'H ", ""},
        {"d", snmpVariableNotAccessible, snmpObsolete, "x, y ", ""},
        {"e", snmpVariableAccessibleForNotify, snmpCurrent, "", ""},
        {"f", snmpVariableWriteOnly, snmpOptional, "up ", "a"},
        {"g", snmpVariableReadOnly, snmpCurrent, "''H ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<ISnmpVariable> v = VariableNamed(mib.Get(), c.name);
        ASSERT_TRUE(v);
        AccessConstants access;
        StatusConstants status;
        v->get_Access(&access);
        v->get_Status(&status);
        EXPECT_EQ(access, c.access);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(Text(&ISnmpVariable::get_Value, v.Get()), c.value);
        ComPtr<IVelkStrings> index;
        v->get_Index(index.Put());
        EXPECT_EQ(All(index.Get()), c.index);
    }
    ComPtr<ISnmpVariable> a = VariableNamed(mib.Get(), "a");
    EXPECT_EQ(Text(&ISnmpVariable::get_Description, a.Get()), "line one\n  line two");
    EXPECT_EQ(Text(&ISnmpVariable::get_Reference, a.Get()), "RFC 1");
    EXPECT_EQ(Text(&ISnmpVariable::get_Oid, a.Get()), "1.3.6.1.2.1.1");
}

TEST_F(CompilerTest, ObjectWithoutOidValueDefinesNothing) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), "o OBJECT-TYPE SYNTAX INTEGER ACCESS read-only STATUS current\n"
                                     "UNITS \"s\" ::= { mib-2 1 }\n"
                                     "p OBJECT IDENTIFIER ::= { mib-2 2 }"),
              S_OK)
        << TakeErrorDescription();
    EXPECT_EQ(VariableCount(mib.Get()), 0);
    EXPECT_EQ(OidOfName(mib.Get(), "o"), "");
    EXPECT_EQ(OidOfName(mib.Get(), "p"), "1.3.6.1.2.1.2");
}

TEST_F(CompilerTest, VariablesArePublishedInOidOrder) {
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), Object("c", "SYNTAX INTEGER ACCESS read-only STATUS current", 10) +
                                         Object("a", "SYNTAX INTEGER ACCESS read-only STATUS current", 2) +
                                         Object("b", "SYNTAX INTEGER ACCESS read-only STATUS current", 9)),
              S_OK);
    ComPtr<ISnmpVariables> vars;
    mib->get_Variables(vars.Put());
    vars->put_Sorted(VARIANT_FALSE);  // positions in insertion order
    std::string names;
    for (LONG i = 1; i <= 3; ++i) {
        ComPtr<ISnmpVariable> v;
        ASSERT_EQ(vars->Item(Variant(i), v.Put()), S_OK);
        names += Text(&ISnmpVariable::get_Name, v.Get());
    }
    EXPECT_EQ(names, "abc");
}

TEST_F(CompilerTest, TrapTypes) {
    const std::string body =
        "snmp OBJECT IDENTIFIER ::= { mib-2 11 }\n"
        "linkUp TRAP-TYPE ENTERPRISE snmp VARIABLES { ifIndex, ifOperStatus }\n"
        "  DESCRIPTION \"up\" REFERENCE \"r\" ::= 3\n" +
        Object("ifIndex", "SYNTAX INTEGER ACCESS read-only STATUS current", 1) +
        Object("ifOperStatus", "SYNTAX INTEGER ACCESS read-only STATUS current", 2) +
        "plain TRAP-TYPE ENTERPRISE snmp ::= -7\n"
        "braced TRAP-TYPE ENTERPRISE { snmp 1 } ::= 1\n"
        "snmp TRAP-TYPE ENTERPRISE snmp ::= 1\n"
        "big TRAP-TYPE ENTERPRISE snmp ::= 99999999999\n";
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    EXPECT_EQ(TrapCount(mib.Get()), 3) << "braced has no record, snmp names a definition";
    struct Case {
        const char* name;
        LONG specific;
        const char* enterprise;
        const char* oids;
    } cases[] = {
        {"linkUp", 3, "1.3.6.1.2.1.11", "1.3.6.1.2.1.1,1.3.6.1.2.1.2"},
        {"plain", -7, "1.3.6.1.2.1.11", ""},
        {"big", 2147483647, "1.3.6.1.2.1.11", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<ISnmpTrap> t = TrapNamed(mib.Get(), c.name);
        ASSERT_TRUE(t);
        LONG specific;
        t->get_SpecificTrap(&specific);
        EXPECT_EQ(specific, c.specific);
        EXPECT_EQ(Text(&ISnmpTrap::get_Enterprise, t.Get()), c.enterprise);
        ComPtr<IVelkStrings> oids;
        t->get_Oids(oids.Put());
        EXPECT_EQ(All(oids.Get()), c.oids);
    }
    ComPtr<ISnmpTrap> up = TrapNamed(mib.Get(), "linkUp");
    EXPECT_EQ(Text(&ISnmpTrap::get_Description, up.Get()), "up");
    EXPECT_EQ(Text(&ISnmpTrap::get_Reference, up.Get()), "r");

    // A trap whose name is already in Traps is skipped.
    const std::string again = dir_.Write("again.txt", Module("AGAIN", kBase + std::string(
        "snmp OBJECT IDENTIFIER ::= { mib-2 11 }\nlinkUp TRAP-TYPE ENTERPRISE snmp ::= 4")));
    ASSERT_EQ(Compile(mib.Get(), {again}), S_OK) << TakeErrorDescription();
    EXPECT_EQ(TrapCount(mib.Get()), 3);
}

TEST_F(CompilerTest, NotificationTypes) {
    const std::string body =
        "snmpTraps OBJECT IDENTIFIER ::= { iso 3 6 1 6 3 1 1 5 }\n" +
        Object("ifIndex", "SYNTAX INTEGER ACCESS read-only STATUS current", 1) +
        "linkDown NOTIFICATION-TYPE OBJECTS { ifIndex } STATUS current DESCRIPTION \"d\"\n"
        "  ::= { snmpTraps 3 }\n"
        "linkUp NOTIFICATION-TYPE OBJECTS { ifIndex } STATUS deprecated ::= { snmpTraps 4 }\n"
        "numbers NOTIFICATION-TYPE OBJECTS { ifIndex } STATUS current ::= { 1 3 6 }\n";
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    EXPECT_EQ(TrapCount(mib.Get()), 2) << "a value of numbers only defines nothing";
    ComPtr<ISnmpTrap> down = TrapNamed(mib.Get(), "linkDown");
    ASSERT_TRUE(down);
    LONG specific;
    down->get_SpecificTrap(&specific);
    EXPECT_EQ(specific, -1);
    EXPECT_EQ(Text(&ISnmpTrap::get_Enterprise, down.Get()), "1.3.6.1.6.3.1.1.5.3");
    EXPECT_EQ(Text(&ISnmpTrap::get_Description, down.Get()), "d");
    ComPtr<IVelkStrings> oids;
    down->get_Oids(oids.Put());
    EXPECT_EQ(All(oids.Get()), "1.3.6.1.2.1.1");
    ComPtr<ISnmpTrap> up = TrapNamed(mib.Get(), "linkUp");
    StatusConstants status;
    up->get_Status(&status);
    EXPECT_EQ(status, snmpDeprecated);
    EXPECT_EQ(OidOfName(mib.Get(), "linkUp"), "") << "a notification's name is not an OID name";
}

TEST_F(CompilerTest, OidsLongerThan128ArcsAreRefused) {
    std::string body = "a0 OBJECT IDENTIFIER ::= { iso 1 }\n";
    for (int i = 1; i < 127; ++i)
        body += "a" + std::to_string(i) + " OBJECT IDENTIFIER ::= { a" + std::to_string(i - 1) + " 1 }\n";
    ComPtr<ISnmpMib> mib = NewMib();
    ASSERT_EQ(CompileBody(mib.Get(), body), S_OK) << TakeErrorDescription();
    const std::string longest = OidOfName(mib.Get(), "a126");
    EXPECT_EQ(std::count(longest.begin(), longest.end(), '.'), 127);
    body += "a127 OBJECT IDENTIFIER ::= { a126 1 }\n";
    ComPtr<ISnmpMib> second = NewMib();
    ASSERT_EQ(CompileBody(second.Get(), body), kCompileError);
    EXPECT_EQ(TakeErrorDescription(), "An error occured while compiling a mib:\r\n" + path_ +
                                          "(133) - \"a127\" has an OID of more than 128 sub-identifiers.");
}

}  // namespace
}  // namespace velk::mib
