// Consistency of the type-library tables with the C++ interfaces they bind, and the fixed
// facts hosts rely on (DISPIDs, enumeration values, class identities).
#include "typelib/typelib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using velk::rt::ClassDef;
using velk::rt::CppParam;
using velk::rt::EnumDef;
using velk::rt::InterfaceDef;
using velk::rt::LibraryDef;
using velk::rt::MemberDef;
using velk::rt::MemberKind;

const LibraryDef* const kLibraries[] = {&VelkSnmpLibrary(), &VelkSockLibrary()};

std::vector<const InterfaceDef*> AllInterfaces() {
    std::vector<const InterfaceDef*> all;
    for (const LibraryDef* lib : kLibraries)
        for (size_t i = 0; i < lib->interfaceCount; ++i) all.push_back(lib->interfaces[i]);
    return all;
}

std::vector<const ClassDef*> AllClasses() {
    std::vector<const ClassDef*> all;
    for (const LibraryDef* lib : kLibraries)
        for (size_t i = 0; i < lib->classCount; ++i) all.push_back(lib->classes[i]);
    return all;
}

const InterfaceDef& Interface(const char* name) {
    for (const InterfaceDef* itf : AllInterfaces())
        if (std::strcmp(itf->name, name) == 0) return *itf;
    ADD_FAILURE() << "no interface " << name;
    static const InterfaceDef none{};
    return none;
}

const MemberDef* Find(const InterfaceDef& itf, const char* name, MemberKind kind) {
    for (size_t i = 0; i < itf.count; ++i)
        if (itf.members[i].kind == kind && std::strcmp(itf.members[i].name, name) == 0)
            return &itf.members[i];
    return nullptr;
}

const char* KindName(MemberKind k) {
    switch (k) {
        case MemberKind::Method:
            return "method";
        case MemberKind::PropGet:
            return "get";
        case MemberKind::PropPut:
            return "put";
        case MemberKind::PropPutRef:
            return "putref";
    }
    return "?";
}

std::string Where(const InterfaceDef& itf, const MemberDef& m) {
    return std::string(itf.name) + "." + m.name + " (" + KindName(m.kind) + ")";
}

// One entry of a MemberDef::params list.
struct ParamEntry {
    std::string name;
    bool optional = false;
    std::string defaultText;  // empty when there is no default
};

// Splits a parameter list at the commas outside quoted defaults.
std::vector<ParamEntry> ParseParams(const char* list) {
    std::vector<ParamEntry> out;
    if (!list || !*list) return out;
    std::string cur;
    bool quoted = false;
    auto flush = [&] {
        ParamEntry p;
        size_t eq = cur.find('=');
        if (eq != std::string::npos) {
            p.name = cur.substr(0, eq);
            p.defaultText = cur.substr(eq + 1);
            p.optional = true;
        } else if (!cur.empty() && cur.back() == '?') {
            p.name = cur.substr(0, cur.size() - 1);
            p.optional = true;
        } else {
            p.name = cur;
        }
        out.push_back(p);
        cur.clear();
    };
    for (const char* c = list; *c; ++c) {
        if (*c == '"') quoted = !quoted;
        if (*c == ',' && !quoted) {
            flush();
            continue;
        }
        cur += *c;
    }
    flush();
    return out;
}

bool SameType(const CppParam& a, const CppParam& b) {
    bool sameName = (!a.typeName && !b.typeName) ||
                    (a.typeName && b.typeName && std::strcmp(a.typeName, b.typeName) == 0);
    bool sameIid = (!a.iid && !b.iid) || (a.iid && b.iid && *a.iid == *b.iid);
    return a.vt == b.vt && sameName && sameIid;
}

bool IsIdentifier(const std::string& s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

// ---------------------------------------------------------------------------------------
// Member tables

TEST(TypeLibTables, ParameterNamesMatchTheBoundSignature) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            auto params = ParseParams(m.params);
            EXPECT_EQ(params.size(), m.binding.count)
                << Where(*itf, m) << " params \"" << m.params << "\"";
            std::set<std::string> names;
            for (const ParamEntry& p : params) {
                EXPECT_TRUE(IsIdentifier(p.name))
                    << Where(*itf, m) << " bad name '" << p.name << "'";
                EXPECT_TRUE(names.insert(p.name).second) << Where(*itf, m) << " repeats " << p.name;
            }
        }
    }
}

TEST(TypeLibTables, KindsAgreeWithRetvalAndInvocation) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            ASSERT_NE(m.name, nullptr);
            if (itf->dispinterface) {
                EXPECT_EQ(m.kind, MemberKind::Method) << Where(*itf, m);
                EXPECT_EQ(m.binding.invoke, nullptr) << Where(*itf, m);
                EXPECT_FALSE(m.binding.retval) << Where(*itf, m);
                continue;
            }
            EXPECT_NE(m.binding.invoke, nullptr) << Where(*itf, m);
            switch (m.kind) {
                case MemberKind::PropGet:
                    EXPECT_TRUE(m.binding.retval) << Where(*itf, m);
                    break;
                case MemberKind::PropPut:
                case MemberKind::PropPutRef:
                    EXPECT_FALSE(m.binding.retval) << Where(*itf, m);
                    EXPECT_GE(m.binding.count, 1) << Where(*itf, m);
                    break;
                case MemberKind::Method:
                    break;
            }
            if (m.kind == MemberKind::PropPutRef) {
                VARTYPE vt = m.binding.params[m.binding.count - 1].vt;
                EXPECT_TRUE(vt == VT_DISPATCH || vt == VT_UNKNOWN) << Where(*itf, m);
            }
        }
    }
}

// Within an interface a name has one DISPID and a DISPID one name, and no (kind, DISPID)
// pair occurs twice.
TEST(TypeLibTables, DispidsAreUniquePerKindAndName) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        std::set<std::pair<MemberKind, DISPID>> kindIds;
        std::map<std::string, DISPID> idOfName;
        std::map<DISPID, std::string> nameOfId;
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            EXPECT_TRUE(kindIds.insert({m.kind, m.dispid}).second)
                << Where(*itf, m) << " repeats DISPID " << m.dispid;
            auto [n, newName] = idOfName.emplace(m.name, m.dispid);
            EXPECT_EQ(n->second, m.dispid) << Where(*itf, m);
            auto [d, newId] = nameOfId.emplace(m.dispid, m.name);
            EXPECT_EQ(d->second, m.name) << Where(*itf, m);
        }
    }
}

// Every put or putref follows a get of the same name, DISPID and help, with the same
// index parameters and a value of the get's result type.
TEST(TypeLibTables, PropertyPutsMatchTheirGet) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& put = itf->members[i];
            if (put.kind != MemberKind::PropPut && put.kind != MemberKind::PropPutRef) continue;
            const MemberDef* get = Find(*itf, put.name, MemberKind::PropGet);
            ASSERT_NE(get, nullptr) << Where(*itf, put) << " has no get";
            EXPECT_LT(get, &put) << Where(*itf, put) << " precedes its get";
            EXPECT_EQ(get->dispid, put.dispid) << Where(*itf, put);
            EXPECT_EQ(get->help == nullptr, put.help == nullptr) << Where(*itf, put);
            if (get->help && put.help) {
                EXPECT_STREQ(get->help, put.help) << Where(*itf, put);
            }
            ASSERT_EQ(get->binding.count, put.binding.count) << Where(*itf, put);
            for (uint8_t k = 0; k < put.binding.count; ++k)
                EXPECT_TRUE(SameType(get->binding.params[k], put.binding.params[k]))
                    << Where(*itf, put) << " parameter " << int(k);
            auto getNames = ParseParams(get->params), putNames = ParseParams(put.params);
            for (size_t k = 0; k + 1 < getNames.size() && k < putNames.size(); ++k)
                EXPECT_EQ(getNames[k].name, putNames[k].name) << Where(*itf, put);
        }
    }
}

// Optional parameters come last (before the retval), "?" marks only VARIANTs, and a default
// suits the parameter's type.
TEST(TypeLibTables, OptionalParametersAreTrailingAndTyped) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            auto params = ParseParams(m.params);
            if (params.size() != m.binding.count) continue;  // reported elsewhere
            size_t inputs = params.size() - (m.binding.retval ? 1 : 0);
            if (m.binding.retval) {
                EXPECT_FALSE(params.back().optional) << Where(*itf, m);
            }
            bool seenOptional = false;
            for (size_t k = 0; k < inputs; ++k) {
                const ParamEntry& p = params[k];
                VARTYPE vt = m.binding.params[k].vt & ~VT_BYREF;
                if (seenOptional) {
                    EXPECT_TRUE(p.optional) << Where(*itf, m) << " " << p.name;
                }
                seenOptional = seenOptional || p.optional;
                if (!p.optional) continue;
                if (p.defaultText.empty()) {
                    EXPECT_EQ(vt, VT_VARIANT) << Where(*itf, m) << " " << p.name;
                } else if (vt == VT_BSTR) {
                    EXPECT_TRUE(p.defaultText.size() >= 2 && p.defaultText.front() == '"' &&
                                p.defaultText.back() == '"')
                        << Where(*itf, m) << " " << p.name;
                } else {
                    char* end = nullptr;
                    std::strtol(p.defaultText.c_str(), &end, 10);
                    EXPECT_EQ(*end, '\0') << Where(*itf, m) << " " << p.name;
                    EXPECT_TRUE(vt == VT_I4 || vt == VT_BOOL) << Where(*itf, m) << " " << p.name;
                }
            }
        }
    }
}

// Enumeration and interface names in signatures refer to types of the libraries.
TEST(TypeLibTables, TypeNamesReferToDeclaredTypes) {
    std::set<std::string> enums;
    for (size_t i = 0; i < VelkSnmpLibrary().enumCount; ++i)
        enums.insert(VelkSnmpLibrary().enums[i]->name);
    std::map<std::string, const IID*> interfaces;
    for (const InterfaceDef* itf : AllInterfaces()) interfaces[itf->name] = itf->iid;

    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            for (uint8_t k = 0; k < m.binding.count; ++k) {
                const CppParam& p = m.binding.params[k];
                VARTYPE vt = p.vt & ~VT_BYREF;
                if (vt == VT_I4 && p.typeName) {
                    EXPECT_TRUE(enums.count(p.typeName)) << Where(*itf, m) << " " << p.typeName;
                } else if (vt == VT_DISPATCH) {
                    ASSERT_NE(p.typeName, nullptr) << Where(*itf, m);
                    ASSERT_TRUE(interfaces.count(p.typeName))
                        << Where(*itf, m) << " " << p.typeName;
                    ASSERT_NE(p.iid, nullptr) << Where(*itf, m);
                    EXPECT_TRUE(*p.iid == *interfaces[p.typeName]) << Where(*itf, m);
                }
            }
        }
    }
}

// Members whose enumeration type a host sees by name.
TEST(TypeLibTables, EnumerationTypedMembersCarryTheEnumerationName) {
    struct Case {
        const char* itf;
        const char* member;
        const char* type;
    } cases[] = {
        {"ISnmpVariable", "Access", "AccessConstants"},
        {"ISnmpVariable", "Exception", "VariableExceptionConstants"},
        {"ISnmpVariable", "Status", "StatusConstants"},
        {"ISnmpVariable", "Type", "VariableTypeConstants"},
        {"ISnmpTrap", "Status", "StatusConstants"},
        {"ISnmpMessage", "Exception", "ExceptionConstants"},
        {"ISnmpMessage", "Type", "TypeConstants"},
        {"ISnmpMessage", "GenericTrap", "TrapConstants"},
    };
    for (const Case& c : cases) {
        const MemberDef* get = Find(Interface(c.itf), c.member, MemberKind::PropGet);
        ASSERT_NE(get, nullptr) << c.itf << "." << c.member;
        const CppParam& r = get->binding.params[get->binding.count - 1];
        ASSERT_NE(r.typeName, nullptr) << c.itf << "." << c.member;
        EXPECT_STREQ(r.typeName, c.type) << c.itf << "." << c.member;
    }
    for (const char* events : {"_IAgentEvents", "_IManagerEvents"}) {
        const MemberDef* error = Find(Interface(events), "Error", MemberKind::Method);
        ASSERT_NE(error, nullptr);
        ASSERT_EQ(error->binding.count, 2);
        EXPECT_STREQ(error->binding.params[0].typeName, "ErrorConstants");
        EXPECT_EQ(error->binding.params[1].vt, VT_BSTR);
    }
}

// Collections: Count is DISPID 1, Item the default member, _NewEnum hidden at -4 returning
// an IUnknown; nothing else is hidden.
TEST(TypeLibTables, CollectionsShareOneShape) {
    for (const char* name :
         {"ISnmpVariables", "ISnmpTraps", "ISnmpTable", "ISnmpTableRow", "IVelkStrings"}) {
        const InterfaceDef& itf = Interface(name);
        const MemberDef* count = Find(itf, "Count", MemberKind::PropGet);
        ASSERT_NE(count, nullptr) << name;
        EXPECT_EQ(count->dispid, 1) << name;
        const MemberDef* item = Find(itf, "Item", MemberKind::Method);
        if (!item) item = Find(itf, "Item", MemberKind::PropGet);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->dispid, DISPID_VALUE) << name;
        const MemberDef* en = Find(itf, "_NewEnum", MemberKind::PropGet);
        ASSERT_NE(en, nullptr) << name;
        EXPECT_EQ(en->dispid, DISPID_NEWENUM) << name;
        EXPECT_EQ(en->binding.params[0].vt, VT_UNKNOWN) << name;
    }
    for (const InterfaceDef* itf : AllInterfaces())
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            bool isEnum = std::strcmp(m.name, "_NewEnum") == 0;
            EXPECT_EQ(m.flags, isEnum ? velk::rt::kMemberHidden : 0) << Where(*itf, m);
        }
}

// Facts hosts depend on: member positions, DISPIDs, help strings and optional arguments.
TEST(TypeLibTables, KnownMembersKeepTheirPlaceDispidAndHelp) {
    struct Case {
        const char* itf;
        size_t index;
        const char* name;
        MemberKind kind;
        DISPID dispid;
        const char* help;  // null: no help string
        const char* params;
    } cases[] = {
        {"ISnmpVariable", 18, "Syntax", MemberKind::PropGet, 11, nullptr, "pVal"},
        {"ISnmpVariable", 20, "ValueEx", MemberKind::PropGet, 10, "property ValueEx", "pVal"},
        {"ISnmpVariable", 26, "BaseSyntax", MemberKind::PropGet, 15,
         "The syntax as defined in the mib.", "pVal"},
        {"ISnmpVariables", 7, "GetOIDFromName", MemberKind::Method, 6,
         "Gets the next item in Lexigraphical order.", "Name,Oid"},
        {"ISnmpVariables", 10, "GetIndex", MemberKind::Method, 9,
         "Gets the numerical index of this ", "Oid,pVal"},
        {"ISnmpVariables", 12, "Sorted", MemberKind::PropPut, 89,
         "Decides whether the Variables are sorted or not.", "newVal"},
        {"ISnmpTrap", 9, "Status", MemberKind::PropGet, 7,
         "Current status of the trap. Only used when part of a SnmpMib Object.", "pVal"},
        {"ISnmpTraps", 4, "Remove", MemberKind::Method, 91, "Removes a Trap from the Collection",
         "Index"},
        {"ISnmpMib", 4, "Name", MemberKind::PropGet, 4,
         "Given an OID this property will return a human readable name.", "Oid,pVal"},
        {"ISnmpMessage", 23, "Decode", MemberKind::Method, 30,
         "Decode a message into the SnmpMessage Object.", "Message"},
        {"ISnmpMessage", 27, "AgentAddress", MemberKind::PropPut, 12, nullptr, "newVal"},
        {"IAgent", 6, "Message", MemberKind::PropPutRef, 3, "Current message.", "newVal"},
        {"IAgent", 21, "Open", MemberKind::Method, 41,
         "Open the UDP socket and enable communications.", "LocalPort=0,LocalAddress=\"\""},
        {"IAgent", 25, "AgentUptime", MemberKind::PropGet, 45,
         "Time the agent has been up in hundredths of seconds.", "pVal"},
        {"IManager", 10, "AgentVariable", MemberKind::PropPut, 5,
         "Parameterized property used to Get/Set a single agent variable.", "Oid,newVal"},
        {"IManager", 20, "Trace", MemberKind::Method, 35,
         "Store communication data for monitoring or debugging purposes.",
         "Result?,Send=0,Receive=0,SendPrompt=\"\",ReceivePrompt=\"\""},
        {"IManager", 23, "Mib", MemberKind::PropPutRef, 6, "SnmpMib Object containing the MIB.",
         "newVal"},
        {"ISnmpTable", 0, "TableOID", MemberKind::PropGet, 4,
         "The OID corresponding to this table.", "pVal"},
        {"ISnmpTableRow", 0, "RowIndex", MemberKind::PropGet, 2, "The Row OID", "pVal"},
        {"_IManagerEvents", 3, "Send", MemberKind::Method, 4, "method Send", ""},
        {"_IAgentEvents", 0, "Response", MemberKind::Method, 1,
         "Fires before a response or trap is sent.", ""},
        {"_IUdpEvents", 0, "SocketError", MemberKind::Method, 1,
         "Fires when a socket error occurs.", "Number,Description"},
        {"IVelkHostInfo", 1, "Addresses", MemberKind::PropGet, 2,
         "Local IPv4 addresses in dotted decimal.", "pVal"},
    };
    for (const Case& c : cases) {
        const InterfaceDef& itf = Interface(c.itf);
        ASSERT_LT(c.index, itf.count) << c.itf;
        const MemberDef& m = itf.members[c.index];
        EXPECT_STREQ(m.name, c.name) << c.itf << " member " << c.index;
        EXPECT_EQ(m.kind, c.kind) << Where(itf, m);
        EXPECT_EQ(m.dispid, c.dispid) << Where(itf, m);
        if (c.help) {
            EXPECT_STREQ(m.help, c.help) << Where(itf, m);
        } else {
            EXPECT_EQ(m.help, nullptr) << Where(itf, m);
        }
        EXPECT_STREQ(m.params, c.params) << Where(itf, m);
    }
}

TEST(TypeLibTables, MemberCountsOfEveryInterface) {
    // Vtable members after IDispatch: each get, put and putref counts once.
    std::pair<const char*, size_t> counts[] = {
        {"ISnmpVariable", 28},  {"ISnmpVariables", 13}, {"ISnmpTrap", 13},    {"ISnmpTraps", 6},
        {"ISnmpMib", 9},        {"ISnmpMessage", 28},   {"IAgent", 26},       {"IManager", 24},
        {"ISnmpTableRow", 5},   {"ISnmpTable", 6},      {"IVelkStrings", 11}, {"_IAgentEvents", 3},
        {"_IManagerEvents", 4}, {"IUdpSocket", 11},     {"_IUdpEvents", 3},   {"IVelkHostInfo", 2},
    };
    for (auto [name, n] : counts) EXPECT_EQ(Interface(name).count, n) << name;
    EXPECT_EQ(AllInterfaces().size(), std::size(counts));
}

void ExpectInLibrary(const InterfaceDef& t, const IID& iid, const LibraryDef& lib) {
    EXPECT_TRUE(*t.iid == iid) << t.name;
    ASSERT_NE(t.library, nullptr) << t.name;
    EXPECT_EQ(t.library(), &lib) << t.name;
    bool listed = false;
    for (size_t i = 0; i < lib.interfaceCount; ++i) listed |= lib.interfaces[i] == &t;
    EXPECT_TRUE(listed) << t.name;
}

// The table Dual<I> finds carries I's name and IID and belongs to its library.
template <class I>
void ExpectDescribed(const LibraryDef& lib) {
    const InterfaceDef& t = DescribeInterface(static_cast<const I*>(nullptr));
    EXPECT_STREQ(t.name, velk::InterfaceTraits<I>::name);
    ExpectInLibrary(t, velk::IidOf<I>(), lib);
}

TEST(TypeLibTables, DualInterfacesResolveToTheLibraryTables) {
    const LibraryDef& snmp = VelkSnmpLibrary();
    ExpectDescribed<ISnmpVariable>(snmp);
    ExpectDescribed<ISnmpVariables>(snmp);
    ExpectDescribed<ISnmpTrap>(snmp);
    ExpectDescribed<ISnmpTraps>(snmp);
    ExpectDescribed<ISnmpMib>(snmp);
    ExpectDescribed<ISnmpMessage>(snmp);
    ExpectDescribed<IAgent>(snmp);
    ExpectDescribed<IManager>(snmp);
    ExpectDescribed<ISnmpTableRow>(snmp);
    ExpectDescribed<ISnmpTable>(snmp);
    ExpectDescribed<IVelkStrings>(snmp);
    ExpectInLibrary(AgentEventsInterface(), DIID__IAgentEvents, snmp);
    ExpectInLibrary(ManagerEventsInterface(), DIID__IManagerEvents, snmp);
    const LibraryDef& sock = VelkSockLibrary();
    ExpectDescribed<IUdpSocket>(sock);
    ExpectDescribed<IVelkHostInfo>(sock);
    ExpectInLibrary(UdpEventsInterface(), DIID__IUdpEvents, sock);
}

// The runtime reads the parameter lists as written: names, optional flags, retval.
TEST(TypeLibTables, RuntimeResolvesEveryParameterList) {
    for (const InterfaceDef* itf : AllInterfaces()) {
        for (size_t i = 0; i < itf->count; ++i) {
            const MemberDef& m = itf->members[i];
            const velk::rt::ResolvedMember& r = velk::rt::Resolve(*itf, i);
            auto params = ParseParams(m.params);
            ASSERT_EQ(params.size(), m.binding.count) << Where(*itf, m);
            EXPECT_EQ(r.dispatchParams, m.binding.count - (m.binding.retval ? 1u : 0u))
                << Where(*itf, m);
            for (size_t k = 0; k < params.size(); ++k) {
                EXPECT_EQ(params[k].name, r.params[k].name) << Where(*itf, m);
                EXPECT_EQ(params[k].optional, (r.params[k].flags & PARAMFLAG_FOPT) != 0)
                    << Where(*itf, m);
                bool retval = m.binding.retval && k + 1 == params.size();
                EXPECT_EQ(retval, (r.params[k].flags & PARAMFLAG_FRETVAL) != 0) << Where(*itf, m);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Enumerations

TEST(TypeLibEnums, CountsNamesAndOrder) {
    struct Case {
        const EnumDef* def;
        const char* cppName;  // kEnumName of the C++ type
        size_t count;
        bool contiguousFromZero;
        bool constantsHaveHelp;
    } cases[] = {
        {&VariableTypeConstantsEnum(), velk::kEnumName<VariableTypeConstants>, 12, true, true},
        {&VariableExceptionConstantsEnum(), velk::kEnumName<VariableExceptionConstants>, 4, true,
         true},
        {&AccessConstantsEnum(), velk::kEnumName<AccessConstants>, 7, true, false},
        {&StatusConstantsEnum(), velk::kEnumName<StatusConstants>, 5, true, false},
        {&TypeConstantsEnum(), velk::kEnumName<TypeConstants>, 14, false, true},
        {&ExceptionConstantsEnum(), velk::kEnumName<ExceptionConstants>, 19, true, true},
        {&TrapConstantsEnum(), velk::kEnumName<TrapConstants>, 7, true, true},
        {&ErrorConstantsEnum(), velk::kEnumName<ErrorConstants>, 57, false, true},
    };
    ASSERT_EQ(VelkSnmpLibrary().enumCount, std::size(cases));
    std::set<std::string> allConstants;
    for (const Case& c : cases) {
        const EnumDef& e = *c.def;
        ASSERT_NE(c.cppName, nullptr) << e.name;
        EXPECT_STREQ(e.name, c.cppName);
        EXPECT_EQ(e.count, c.count) << e.name;
        for (size_t i = 0; i < e.count; ++i) {
            const auto& k = e.constants[i];
            EXPECT_TRUE(allConstants.insert(k.name).second) << e.name << " " << k.name;
            if (c.contiguousFromZero) {
                EXPECT_EQ(k.value, static_cast<LONG>(i)) << e.name << " " << k.name;
            }
            EXPECT_EQ(k.help != nullptr, c.constantsHaveHelp) << e.name << " " << k.name;
        }
    }
    // Error numbers stand in ascending order.
    const EnumDef& errors = ErrorConstantsEnum();
    for (size_t i = 1; i < errors.count; ++i)
        EXPECT_LT(errors.constants[i - 1].value, errors.constants[i].value)
            << errors.constants[i].name;
}

TEST(TypeLibEnums, KnownValuesAndHelp) {
    struct Case {
        const EnumDef* def;
        const char* name;
        LONG value;
        const char* help;
    } cases[] = {
        {&VariableTypeConstantsEnum(), "snmpCounter64", 11,
         "The data type of the variable is a unsigned 64 bit integer."},
        {&VariableExceptionConstantsEnum(), "snmpNoSuchObject", 1,
         "The variable did not have an Object identifier prefix  that exactly matched a accessible "
         "variables prefix on the agent."},
        {&TypeConstantsEnum(), "snmp1", 32,
         "Message was or will be encoded as a version 1 message (use this as a mask)."},
        {&TypeConstantsEnum(), "snmpTrap2", 71,
         "Message was or will be encoded as a Trap version 2 message."},
        {&TypeConstantsEnum(), "snmpGetBulk2", 69,
         "Message was or will be encoded as a GetBulkRequest version 2 message."},
        {&ExceptionConstantsEnum(), "snmpIncosistentValue", 12,
         "The value can not be set to the variable under the current circumstances. Possibly could "
         "be "
         "set under other circumstances."},
        {&TrapConstantsEnum(), "snmpEnterpriseSpecific", 6,
         "SpecificTrap Property contains information on the trap."},
        {&ErrorConstantsEnum(), "ulInvalidParam1", 12001, "Parameter #1 is invalid"},
        {&ErrorConstantsEnum(), "ulFormatError", 12015,
         "The server was unable to interpret the query"},
        {&ErrorConstantsEnum(), "ulBlocked", 12011, "User thread is blocking in another method"},
        {&ErrorConstantsEnum(), "ulTimeout", 10060, "Timeout occurred for requested operation"},
        {&ErrorConstantsEnum(), "ulAbort", 11103, "Blocking operation cancelled by user"},
        {&ErrorConstantsEnum(), "zipError", 14001, "An error occurred during a zip operation"},
    };
    for (const Case& c : cases) {
        const velk::rt::EnumConstantDef* found = nullptr;
        for (size_t i = 0; i < c.def->count; ++i)
            if (std::strcmp(c.def->constants[i].name, c.name) == 0) found = &c.def->constants[i];
        ASSERT_NE(found, nullptr) << c.name;
        EXPECT_EQ(found->value, c.value) << c.name;
        EXPECT_STREQ(found->help, c.help) << c.name;
    }
    EXPECT_STREQ(ErrorConstantsEnum().help, "Communication Error Constants");
    EXPECT_STREQ(VariableTypeConstantsEnum().help, "SNMP Variable Type Constants");
    EXPECT_EQ(AccessConstantsEnum().help, nullptr);
}

// ---------------------------------------------------------------------------------------
// Classes and libraries

TEST(TypeLibClasses, IdentitiesAreUniqueAndComplete) {
    struct Case {
        const char* name;
        const char* progId;
        const CLSID* clsid;
        const char* defaultInterface;
        const char* events;  // null: none
        bool control;
    } cases[] = {
        {"SnmpVariable", "Velk.SnmpVariable", &CLSID_SnmpVariable, "ISnmpVariable", nullptr, false},
        {"SnmpVariables", "Velk.SnmpVariables", &CLSID_SnmpVariables, "ISnmpVariables", nullptr,
         false},
        {"SnmpTrap", "Velk.SnmpTrap", &CLSID_SnmpTrap, "ISnmpTrap", nullptr, false},
        {"SnmpTraps", "Velk.SnmpTraps", &CLSID_SnmpTraps, "ISnmpTraps", nullptr, false},
        {"SnmpMib", "Velk.SnmpMib", &CLSID_SnmpMib, "ISnmpMib", nullptr, false},
        {"SnmpMessage", "Velk.SnmpMessage", &CLSID_SnmpMessage, "ISnmpMessage", nullptr, false},
        {"Agent", "Velk.Agent", &CLSID_Agent, "IAgent", "_IAgentEvents", true},
        {"Manager", "Velk.Manager", &CLSID_Manager, "IManager", "_IManagerEvents", true},
        {"SnmpTableRow", "Velk.SnmpTableRow", &CLSID_SnmpTableRow, "ISnmpTableRow", nullptr, false},
        {"SnmpTable", "Velk.SnmpTable", &CLSID_SnmpTable, "ISnmpTable", nullptr, false},
        {"UdpSocketComponent", "Velk.UdpSocket", &CLSID_UdpSocketComponent, "IUdpSocket",
         "_IUdpEvents", false},
        {"VelkHostInfo", "Velk.HostInfo", &CLSID_VelkHostInfo, "IVelkHostInfo", nullptr, false},
        {"VelkStrings", "Velk.Strings", &CLSID_VelkStrings, "IVelkStrings", nullptr, false},
    };
    EXPECT_EQ(VelkSnmpLibrary().classCount, 10u);
    EXPECT_EQ(VelkSockLibrary().classCount, 3u);
    ASSERT_EQ(AllClasses().size(), std::size(cases));
    std::set<std::string> progIds;
    for (const ClassDef* c : AllClasses())
        EXPECT_TRUE(progIds.insert(c->progId).second) << c->progId;
    for (const Case& c : cases) {
        const ClassDef* def = FindClassDef(*c.clsid);
        ASSERT_NE(def, nullptr) << c.name;
        EXPECT_STREQ(def->name, c.name);
        EXPECT_STREQ(def->progId, c.progId) << c.name;
        EXPECT_NE(def->help, nullptr) << c.name;
        ASSERT_NE(def->defaultInterface, nullptr) << c.name;
        EXPECT_STREQ(def->defaultInterface->name, c.defaultInterface) << c.name;
        EXPECT_FALSE(def->defaultInterface->dispinterface) << c.name;
        if (c.events) {
            ASSERT_NE(def->eventInterface, nullptr) << c.name;
            EXPECT_STREQ(def->eventInterface->name, c.events) << c.name;
            EXPECT_TRUE(def->eventInterface->dispinterface) << c.name;
        } else {
            EXPECT_EQ(def->eventInterface, nullptr) << c.name;
        }
        EXPECT_EQ(def->control, c.control) << c.name;
    }
    EXPECT_EQ(FindClassDef(IID_ISnmpVariable), nullptr);
}

TEST(TypeLibClasses, EveryIdentifierIsDistinct) {
    std::vector<std::pair<std::string, const GUID*>> ids = {
        {"LIBID_VelkSnmp", &LIBID_VelkSnmp},
        {"LIBID_VelkSock", &LIBID_VelkSock},
        {"IID_IDispatch", &IID_IDispatch},
        {"IID_IUnknown", &IID_IUnknown},
    };
    for (const InterfaceDef* itf : AllInterfaces()) ids.push_back({itf->name, itf->iid});
    for (const ClassDef* c : AllClasses()) ids.push_back({c->name, c->clsid});
    EXPECT_EQ(ids.size(), 4u + 16u + 13u);
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_FALSE(*ids[i].second == GUID_NULL) << ids[i].first;
        for (size_t j = i + 1; j < ids.size(); ++j)
            EXPECT_FALSE(*ids[i].second == *ids[j].second) << ids[i].first << " = " << ids[j].first;
    }
}

TEST(TypeLibClasses, LibraryAttributes) {
    const LibraryDef& snmp = VelkSnmpLibrary();
    EXPECT_STREQ(snmp.name, "VelkSnmp");
    EXPECT_STREQ(snmp.help, "Velk Snmp Controls and Objects (Version 2.0)");
    EXPECT_STREQ(snmp.helpFile, "AxUlvaneSNMP.chm");
    EXPECT_TRUE(*snmp.guid == LIBID_VelkSnmp);
    EXPECT_EQ(snmp.major, 1);
    EXPECT_EQ(snmp.minor, 0);
    const LibraryDef& sock = VelkSockLibrary();
    EXPECT_STREQ(sock.name, "VelkSock");
    EXPECT_TRUE(*sock.guid == LIBID_VelkSock);
    EXPECT_EQ(sock.enumCount, 0u);
}

}  // namespace
