// The single-file loader behind Load of a MIB source file: one pass over the line tokens,
// each OID resolved on the spot from names already known, each object and trap published
// as soon as its definition ends.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "mib/ansi_text.h"
#include "mib/loaders.h"
#include "mib/mib_errors.h"
#include "mib/mib_tokenizer.h"
#include "mib/smi_keywords.h"
#include "model/trap.h"
#include "model/variable.h"
#include "sock/velk_strings.h"

namespace velk::mib {
namespace {

using std::string_view;

// Words the main loop passes over.
constexpr string_view kReserved[] = {
    "OBJECT",      "OBJECT-TYPE", "::=",       "TRAP-TYPE", "MACRO",      "IDENTIFIER",
    "BEGIN",       "END",         "ACCESS",    "MAX-ACCESS", "STATUS",    "TYPE",
    "NOTATION",    "VALUE",       "{",         "}",          "(",         ")",
    "DEFINITIONS", ";",           ",",         "\r",         "\n",
};

// The type of the first token of a SYNTAX value, by whole-token equality.
LONG SyntaxNameType(string_view t) {
    static constexpr std::pair<string_view, LONG> kNames[] = {
        {"Unsigned32", snmpUInteger32},     {"OCTET STRING", snmpOctetString},
        {"Counter64", snmpCounter64},       {"Integer32", snmpInteger},
        {"DisplayString", snmpOctetString}, {"PhysAddress", snmpOctetString},
        {"NetworkAddress", snmpOctetString}, {"Gauge", snmpGuage32},
        {"Gauge32", snmpGuage32},           {"Counter", snmpCounter32},
        {"Counter32", snmpCounter32},       {"Opaque", snmpOctetString},
        {"TimeTicks", snmpTimeTicks},       {"TimeStamp", snmpTimeTicks},
        {"INTEGER", snmpInteger},           {"ObjectName", snmpObjectID},
        {"OBJECT", snmpObjectID},           {"IpAddress", snmpIpAddress},
    };
    for (const auto& [name, type] : kNames)
        if (t == name) return type;
    return snmpNull;
}

bool IsReserved(string_view t) {
    return std::find(std::begin(kReserved), std::end(kReserved), t) != std::end(kReserved);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLineBreak(string_view t) { return t == "\r" || t == "\n"; }
// Types whose DEFVAL is a quoted string.
bool HasQuotedDefault(LONG type) {
    return type == snmpOctetString || type == snmpIpAddress || type == snmpOpaque ||
           type == snmpNSAPAddress;
}

class SingleFileLoader {
public:
    SingleFileLoader(MibStore& store, MibSource& source)
        : store_(store), source_(source), tok_(source) {}

    HRESULT Run();

private:
    // ---- Tokens ----
    // Takes the next token; false (and an empty token) at the end of the text.
    bool Next() {
        if (tok_.Next(&t_)) return true;
        t_ = MibLineToken{{}, source_.Line()};
        return false;
    }
    string_view T() const { return t_.text; }
    // Takes tokens up to one equal to `stop`; false at the end of the text.
    bool SkipTo(string_view stop) {
        while (Next())
            if (T() == stop) return true;
        return false;
    }
    // Takes the next token that is not a line break; false at the end of the text.
    bool NextWord() {
        while (Next())
            if (!IsLineBreak(T())) return true;
        return false;
    }

    // ---- Errors, at the line of the current token ----
    HRESULT Error(UINT id, string_view argument) {
        return store_.FormatCompileError(id, t_.line, argument);
    }
    // Message 102; inside an OBJECT-TYPE its argument is message 112.
    HRESULT UnexpectedEnd() {
        return Error(kMsgUnexpectedEnd, inObject_ ? Narrow(UnexpectedEndArgument()) : std::string());
    }

    // ---- Definitions ----
    HRESULT Definition(string_view name);
    HRESULT SkipToAssignThenOid(string_view name);
    HRESULT OidValue(string_view name);
    HRESULT AppendArcs(string_view component, string_view name);
    HRESULT ObjectType(string_view name);
    HRESULT Syntax(model::SnmpVariable* v);
    HRESULT DefaultValue(model::SnmpVariable* v);
    HRESULT Trap(string_view name);
    HRESULT QuotedText(std::string* text, bool stopAtBrace = false, bool* found = nullptr);

    MibStore& store_;
    MibSource& source_;
    MibLineTokenizer tok_;
    MibLineToken t_;
    bool inObject_ = false;
    std::string oid_;     // the OID value being built
    size_t arcs_ = 0;     // its sub-identifiers
    std::string text_;    // syntax and quoted texts
};

HRESULT SingleFileLoader::Run() {
    try {
        for (;;) {
            if (!Next()) return S_OK;
            // Host code may run here (see MibStore): nothing taken from the collections or
            // the known-node list is held across it.
            store_.DispatchPendingMessages();
            const string_view t = T();
            if (t.starts_with("--")) {
                // A comment runs to the end of its line; one on the last line, without a
                // line feed, ends the text like any other line.
                if (!SkipTo("\n")) return S_OK;
            } else if (t == "IMPORTS" || t == "EXPORTS") {
                if (!SkipTo(";")) return UnexpectedEnd();
            } else if (!IsReserved(t)) {
                if (HRESULT hr = Definition(t); FAILED(hr)) return hr;
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The definition of `name`: the keyword after it says what it is. A test that reads further
// tokens leaves the last one read as the keyword for the tests after it.
HRESULT SingleFileLoader::Definition(string_view name) {
    if (!Next()) return S_OK;
    if (T() == "DEFINITIONS") store_.SetCurrentModuleName(name);
    if (T() == "OBJECT-IDENTITY") {
        if (HRESULT hr = SkipToAssignThenOid(name); FAILED(hr)) return hr;
    }
    if (T() == "OBJECT") {
        if (Next() && T() == "IDENTIFIER") {
            if (HRESULT hr = SkipToAssignThenOid(name); FAILED(hr)) return hr;
        }
    }
    if (T() == "::=") {
        if (Next() && T() == "{") {
            if (HRESULT hr = OidValue(name); FAILED(hr)) return hr;
        }
    }
    if (T() == "OBJECT-TYPE") return ObjectType(name);
    if (T() == "TRAP-TYPE" || T() == "NOTIFICATION-TYPE") return Trap(name);
    if (T() == "MODULE-IDENTITY") {
        if (!SkipTo("{")) return UnexpectedEnd();
        return OidValue(name);
    }
    return S_OK;
}

// Skips to "::=" and reads the OID value that follows when it begins with "{".
HRESULT SingleFileLoader::SkipToAssignThenOid(string_view name) {
    if (!SkipTo("::=")) return Error(kMsgExpected, "::=");
    if (Next() && T() == "{") return OidValue(name);
    return S_OK;
}

// Appends a component (dotted text) to the OID being built; an empty one adds nothing.
HRESULT SingleFileLoader::AppendArcs(string_view component, string_view name) {
    if (component.empty()) return S_OK;
    arcs_ += static_cast<size_t>(std::count(component.begin(), component.end(), '.')) + 1;
    if (arcs_ > kMaxOidArcs) return Error(kMsgOidTooLong, name);
    if (!oid_.empty()) oid_ += '.';
    oid_ += component;
    return S_OK;
}

// The OID value of `name`, after its "{", up to "}": numbers, named numbers (each also
// becomes a known node, named by the whole token) and names already known. At "}" `name`
// becomes a known node with the OID built. Every token up to "}" takes part, line breaks
// included, so an OID value must stand on one line.
HRESULT SingleFileLoader::OidValue(string_view name) {
    oid_.clear();
    arcs_ = 0;
    for (;;) {
        if (!Next()) return UnexpectedEnd();
        const string_view t = T();
        if (t == "}") break;
        HRESULT hr = S_OK;
        if (const size_t open = t.find('('); open != string_view::npos) {
            const size_t close = t.find(')', open + 1);
            if (close == string_view::npos) return Error(kMsgExpected, ")");
            hr = AppendArcs(t.substr(open + 1, close - open - 1), name);
            if (SUCCEEDED(hr)) store_.Nodes().Append(t, oid_, {});
        } else if (IsDigit(t[0])) {
            hr = AppendArcs(t, name);
        } else {
            const NodeIndex& nodes = store_.Nodes();
            const size_t node = nodes.FindName(t);
            if (node == NodeIndex::npos) return Error(kMsgUnknownIdentifier, t);
            hr = AppendArcs(nodes.At(node).oid, name);
        }
        if (FAILED(hr)) return hr;
    }
    store_.Nodes().Append(name, oid_, {});
    return S_OK;
}

// An OBJECT-TYPE: its clauses up to "::=", then its OID value; the variable is published
// when the OID is known.
HRESULT SingleFileLoader::ObjectType(string_view name) {
    inObject_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inObject_};

    ComPtr<model::SnmpVariable> v = ComPtr<model::SnmpVariable>::Adopt(model::NewSnmpVariable());
    if (!v) return E_OUTOFMEMORY;
    v->SetName(WidenToBstr(name));
    for (;;) {
        if (!Next()) return UnexpectedEnd();
        const string_view t = T();
        if (t == "::=") break;
        HRESULT hr = S_OK;
        if (t == "SYNTAX") {
            hr = Syntax(v.Get());
        } else if (t == "DESCRIPTION") {
            hr = QuotedText(&text_);
            if (SUCCEEDED(hr)) v->SetDescription(WidenToBstr(text_));
        } else if (t == "ACCESS" || t == "MAX-ACCESS") {
            if (!NextWord()) return UnexpectedEnd();
            const SmiKeyword* access = FindKeywordExact(kAccessKeywords, T());
            if (!access) return Error(kMsgUnknownAccess, T());
            v->SetAccess(access->value);
        } else if (t == "STATUS") {
            if (!NextWord()) return UnexpectedEnd();
            const SmiKeyword* status = FindKeywordExact(kStatusKeywords, T());
            if (!status) return Error(kMsgUnknownStatus, T());
            v->SetStatus(status->value);
        } else if (t == "DEFVAL") {
            hr = DefaultValue(v.Get());
        }
        if (FAILED(hr)) return hr;
    }
    if (!Next() || T() != "{") return Error(kMsgExpected, "{");
    if (HRESULT hr = OidValue(name); FAILED(hr)) return hr;
    v->SetOid(WidenToBstr(oid_));
    store_.Variables().AppendOwned(v.Detach());
    return S_OK;
}

// SYNTAX: Type from the first token, and the syntax text up to the end of the line: tokens
// joined by one blank (none before a token beginning with "(", ")" or "{"), a braced part
// without blanks, and a blank at the end. A value on the next line gives Type 0 and no
// syntax text.
HRESULT SingleFileLoader::Syntax(model::SnmpVariable* v) {
    if (!Next()) return UnexpectedEnd();
    if (IsLineBreak(T())) {
        v->SetType(snmpNull);
        v->SetSyntax(nullptr);
        return S_OK;
    }
    v->SetType(SyntaxNameType(T()));
    text_.clear();
    for (;;) {
        text_ += T();
        if (!Next()) return UnexpectedEnd();
        if (T() == "{") {
            text_ += '{';
            for (;;) {
                if (!Next()) return UnexpectedEnd();
                if (T() == "}") break;
                if (!IsLineBreak(T())) text_ += T();  // a list of values may span lines
            }
        }
        const char c = T()[0];
        if (c != '(' && c != ')' && c != '{') text_ += ' ';
        if (IsLineBreak(T())) break;
    }
    v->SetSyntax(WidenToBstr(text_));
    return S_OK;
}

// DEFVAL, read by the Type known so far. Every search stops at the DEFVAL's own closing
// brace, so a value the type does not expect ('C0A80001'H, ''H) is passed over.
HRESULT SingleFileLoader::DefaultValue(model::SnmpVariable* v) {
    const LONG type = v->TypeValue();
    if (type != snmpNull) {
        if (!SkipTo("{")) return UnexpectedEnd();
        if (HasQuotedDefault(type)) {
            bool found = false;
            if (HRESULT hr = QuotedText(&text_, true, &found); FAILED(hr)) return hr;
            if (!found) return S_OK;  // at the closing brace
            v->SetValueText(WidenToBstr(text_));
        } else if (type != snmpObjectID) {
            if (!NextWord()) return UnexpectedEnd();
            if (T() == "}") return S_OK;
            v->SetValueText(WidenToBstr(T()));
        }
    }
    if (T() == "}") return S_OK;
    if (!SkipTo("}")) return UnexpectedEnd();
    return S_OK;
}

// Quoted text: skips to a double quote, then takes the words up to the next one, line breaks
// dropped, each followed by one blank. With `stopAtBrace`, a "}" before the opening quote
// ends the search with *found false (the current token is then that "}").
HRESULT SingleFileLoader::QuotedText(std::string* text, bool stopAtBrace, bool* found) {
    if (found) *found = false;
    for (;;) {
        if (!Next()) return UnexpectedEnd();
        if (T() == "\"") break;
        if (stopAtBrace && T() == "}") return S_OK;
    }
    text->clear();
    for (;;) {
        if (!Next()) return Error(kMsgExpected, "\"");
        if (T() == "\"") break;
        if (IsLineBreak(T())) continue;
        *text += T();
        *text += ' ';
    }
    if (found) *found = true;
    return S_OK;
}

// TRAP-TYPE or NOTIFICATION-TYPE: ENTERPRISE, DESCRIPTION and VARIABLES / OBJECTS up to
// "::=", then the leading digits of the next token as SpecificTrap; the trap is published
// at once. The rest of that line is left to the main loop.
HRESULT SingleFileLoader::Trap(string_view name) {
    ComPtr<model::SnmpTrap> trap;
    if (HRESULT hr = model::CreateSnmpTrap(&trap); FAILED(hr)) return hr;
    trap->SetName(Bstr::Adopt(WidenToBstr(name)));
    for (;;) {
        if (!Next()) return UnexpectedEnd();
        const string_view t = T();
        if (t == "::=") break;
        if (t == "ENTERPRISE") {
            if (!Next()) return UnexpectedEnd();
            const size_t node = store_.Nodes().FindName(T());
            if (node == NodeIndex::npos) return Error(kMsgUnknownIdentifier, T());
            trap->SetEnterprise(Bstr::Adopt(WidenToBstr(store_.Nodes().At(node).oid)));
        } else if (t == "DESCRIPTION") {
            if (HRESULT hr = QuotedText(&text_); FAILED(hr)) return hr;
            trap->SetDescription(Bstr::Adopt(WidenToBstr(text_)));
        } else if (t == "VARIABLES" || t == "OBJECTS") {
            if (!SkipTo("{")) return UnexpectedEnd();
            sock::VelkStrings* oids = sock::AsVelkStrings(trap->Oids());
            if (!oids) return E_UNEXPECTED;
            for (;;) {
                if (!Next()) return UnexpectedEnd();
                const string_view item = T();
                if (item == "}") break;
                if (IsLineBreak(item) || item == ",") continue;
                const size_t node = store_.Nodes().FindName(item);
                if (node == NodeIndex::npos) return Error(kMsgUnknownIdentifier, item);
                oids->Append(Widen(store_.Nodes().At(node).oid));
            }
        }
    }
    LONG specific = 0;
    if (Next()) {
        int64_t value = 0;
        for (size_t i = 0; i < T().size() && IsDigit(T()[i]); ++i)
            value = std::min<int64_t>(value * 10 + (T()[i] - '0'), INT32_MAX);
        specific = static_cast<LONG>(value);
    }
    trap->SetSpecificTrap(specific);
    return store_.Traps().AppendOwned(trap.Detach());
}

}  // namespace

HRESULT LoadSingleMibFile(MibStore& store, MibSource& source) {
    SingleFileLoader loader(store, source);
    return loader.Run();
}

}  // namespace velk::mib
