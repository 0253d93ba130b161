// The multi-file MIB compiler: module header, module body, pending definitions and
// their resolution.
#include "mib/compiler.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mib/ansi_text.h"
#include "mib/flat_index.h"
#include "mib/mib_errors.h"
#include "mib/mib_tokenizer.h"
#include "mib/smi_keywords.h"
#include "mib/string_arena.h"
#include "model/merge_sort.h"
#include "model/oid_compare.h"
#include "model/trap.h"
#include "model/variable.h"
#include "sock/velk_strings.h"

namespace velk::mib {

LONG SyntaxTypeOf(std::string_view t) {
    struct Prefix {
        const char* name;
        LONG type;
    };
    static constexpr Prefix kTable[] = {
        {"UInteger32", snmpUInteger32}, {"OCTET", snmpOctetString},
        {"Counter64", snmpCounter64},   {"Integer32", snmpInteger},
        {"DisplayString", snmpOctetString}, {"PhysAddress", snmpOctetString},
        {"NetworkAddress", snmpOctetString}, {"Gauge", snmpGuage32},
        {"Gauge32", snmpGuage32},       {"Unsigned32", snmpGuage32},
        {"Counter", snmpCounter32},     {"Counter32", snmpCounter32},
        {"Opaque", snmpOctetString},    {"TimeTicks", snmpTimeTicks},
        {"TimeStamp", snmpTimeTicks},   {"INTEGER", snmpInteger},
        {"ObjectName", snmpObjectID},   {"OBJECT", snmpObjectID},
        {"IpAddress", snmpIpAddress},
    };
    for (const Prefix& p : kTable)
        if (t.starts_with(p.name)) return p.type;
    return snmpNull;
}

namespace {

using std::string_view;

constexpr uint32_t kNone = UINT32_MAX;
// An OID longer than this (RFC 2578's limit) is refused: chains of definitions would
// otherwise make OID texts grow quadratically with the input.
constexpr size_t kMaxOidArcs = 128;

// Keyword tests. A token matches a keyword when it is a (non-empty) leading part of it:
// the comparison runs over the token's own length.
bool Kw(string_view token, string_view keyword) {
    return !token.empty() && token.size() <= keyword.size() &&
           keyword.compare(0, token.size(), token) == 0;
}
// A token that begins with `prefix` (comparisons over a fixed length).
bool Begins(string_view token, string_view prefix) { return token.starts_with(prefix); }
bool IsAssign(string_view token) { return token == "::="; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where skipping an assignment stops.
bool IsSkipStop(string_view t) {
    return IsAssign(t) || Begins(t, "END") || Begins(t, "OBJECT") || Begins(t, "TRAP-T");
}

struct ImportName {
    string_view name;
    string_view module;  // empty: none named
};

// One recorded definition or reference. Texts live in the call's arena; an empty object
// name or module is absent.
struct Pending {
    string_view parent;
    string_view object;
    string_view suffix;
    string_view module;
    uint32_t line = 0;
    uint32_t file = kNone;        // index into the call's file names
    uint32_t imports = kNone;     // index into the call's import tables
    uint32_t nextSameName = kNone;
    uint32_t lastSameName = kNone;  // on the first record of a name: the last one
    size_t node = NodeIndex::npos;  // the known node made for it
    model::SnmpVariable* variable = nullptr;  // owned reference
    model::SnmpTrap* trap = nullptr;          // owned by the call's trap list
    bool oidList = false;   // a reference: adds the parent's OID to the trap's Oids
    bool publishes = false; // adds the trap to the work traps when processed
    bool resolved = false;
    bool onChain = false;
};

// Where a name was found during resolution.
struct Definition {
    bool found = false;
    bool isNode = false;  // a known node from before the call (else a pending record)
    size_t index = 0;
};

class Compiler {
public:
    explicit Compiler(MibStore& store) : store_(store), tok_(store.Source()) {}
    ~Compiler() {
        for (Pending& p : pending_)
            if (p.variable) p.variable->Release();
    }

    HRESULT Run(IVelkStrings* fileNames);

private:
    // ---- Tokens ----
    string_view T() const { return tok_.View(t_); }
    bool AtEnd() const { return t_.length == 0; }
    void Next() { tok_.Next(t_); }
    void SkipUntil(string_view delimiter) {
        while (!AtEnd() && T() != delimiter) Next();
    }

    // ---- Errors at the current token ----
    HRESULT Error(UINT id, string_view argument) {
        return FormatCompileError(files_[file_], id, t_.line, argument);
    }
    HRESULT Expected(string_view what) { return Error(kMsgExpected, what); }
    HRESULT UnexpectedEnd() {
        return FormatCompileError(files_[file_], kMsgUnexpectedEnd, t_.line,
                                  std::u16string_view(UnexpectedEndArgument()));
    }
    HRESULT ErrorAt(const Pending& p, UINT id, string_view argument) {
        const std::u16string_view file = p.file == kNone ? std::u16string_view() : files_[p.file];
        return FormatCompileError(file, id, p.line, argument);
    }

    // ---- Parsing ----
    HRESULT CompileFile();
    HRESULT Header(bool* noMoreModules);
    HRESULT Imports();
    HRESULT Body();
    HRESULT ReadOidValue(string_view name, bool named, uint32_t* record);
    HRESULT ObjectType(string_view name);
    HRESULT Identity(string_view name);
    HRESULT TypeAssignment(string_view name);
    void RecordIntegerType(string_view name);
    HRESULT TrapType(string_view name);
    HRESULT NotificationType(string_view name);
    HRESULT VariableList(model::SnmpTrap* trap, bool record, uint32_t* last);
    HRESULT QuotedText(std::string_view* text);
    void SkipAssignment();
    void SkipMacro() { SkipUntil("END"); }

    void SetModule(string_view name);
    bool AlreadyLoaded(string_view module);
    bool TrapNameTaken(string_view name);
    uint32_t AddPending(Pending p);
    Pending Record(string_view parent, uint32_t line, model::SnmpTrap* trap) const;

    // ---- Resolution ----
    HRESULT ResolveDefinitions();
    HRESULT CheckDuplicates();
    Definition Lookup(string_view name, const Pending& from) const;
    Definition FindWithModule(string_view name, string_view module) const;
    Definition FindByName(string_view name) const;
    std::string_view OidOf(const Definition& d) const;
    HRESULT ResolveOne(Pending& r, string_view parentOid);

    void Publish();
    void RollBack();

    MibStore& store_;
    MibTokenizer tok_;
    MibToken t_;
    StringArena arena_;
    NodeIndex::Checkpoint checkpoint_;

    std::vector<std::u16string> files_;
    uint32_t file_ = 0;
    string_view module_;
    uint32_t imports_ = kNone;
    std::vector<std::vector<ImportName>> importTables_;

    std::vector<Pending> pending_;
    FlatIndex byObject_;  // first record of each object name
    auto ObjectOf() const {
        return [this](uint32_t i) { return pending_[i].object; };
    }
    uint32_t FindObject(string_view name) const { return byObject_.Find(name, ObjectOf()); }
    uint32_t firstUnnamed_ = kNone;

    std::vector<ComPtr<model::SnmpTrap>> traps_;
    bool trapNamesKnown_ = false;
    std::unordered_set<std::u16string> trapNames_;  // names in Traps when the call began

    std::vector<model::SnmpVariable*> workVariables_;
    std::vector<model::SnmpTrap*> workTraps_;
    std::vector<std::string> workModules_;

    // Scratch buffers reused across definitions.
    std::string text_;
    std::vector<std::pair<string_view, uint32_t>> names_;
    std::vector<MibToken> tokens_;
    std::vector<uint32_t> chain_;
};

// ---------------------------------------------------------------------------------------
// The call

HRESULT Compiler::Run(IVelkStrings* fileNames) {
    checkpoint_ = store_.Nodes().GetCheckpoint();
    HRESULT hr = S_OK;
    try {
        LONG count = 0;
        if (fileNames) {
            hr = fileNames->get_Count(&count);
            if (FAILED(hr)) return hr;
        }
        for (LONG i = 1; i <= count && SUCCEEDED(hr); ++i) {
            Bstr name;
            if (FAILED(fileNames->get_Item(i, name.Put()))) name = Bstr();
            files_.emplace_back(BstrView(name.Get()));
            file_ = static_cast<uint32_t>(files_.size() - 1);
            store_.SetCurrentFileName(files_[file_]);
            if (store_.Source().LoadFile(name.Get()) != 0) {
                RollBack();
                return ReportNoFile(files_[file_]);
            }
            hr = CompileFile();
        }
        if (SUCCEEDED(hr)) hr = ResolveDefinitions();
        if (FAILED(hr)) {
            RollBack();
            return hr;
        }
        Publish();
        return S_OK;
    } catch (const std::bad_alloc&) {
        RollBack();
        return E_OUTOFMEMORY;
    }
}

HRESULT Compiler::CompileFile() {
    t_ = MibToken{};
    bool noMore = false;
    HRESULT hr = Header(&noMore);
    while (SUCCEEDED(hr) && !noMore) {
        if (AlreadyLoaded(module_))
            SetModule({});
        else
            hr = Body();
        if (FAILED(hr)) break;
        if (!module_.empty()) workModules_.emplace_back(module_);
        hr = Header(&noMore);
    }
    return hr;
}

void Compiler::SetModule(string_view name) {
    module_ = arena_.Copy(name);
    store_.SetCurrentModuleName(module_);
}

bool Compiler::AlreadyLoaded(string_view module) {
    for (const std::string& m : workModules_)
        if (m == module) return true;
    const std::u16string wide = Widen(module);
    for (const std::u16string& m : store_.Modules().Entries())
        if (m == wide) return true;
    return false;
}

void Compiler::Publish() {
    // Variables arrive in OID order (resolution order among equal OIDs).
    model::StableMergeSort(workVariables_, [](model::SnmpVariable* a, model::SnmpVariable* b) {
        return model::CompareOids(a->OidView(), b->OidView()) > 0;
    });
    model::SnmpVariables& variables = store_.Variables();
    for (model::SnmpVariable* v : workVariables_) {
        v->AddRef();
        variables.AppendOwned(v);
    }
    model::SnmpTraps& traps = store_.Traps();
    for (model::SnmpTrap* t : workTraps_) {
        t->AddRef();
        traps.AppendOwned(t);
    }
    sock::VelkStrings& modules = store_.Modules();
    for (const std::string& m : workModules_) modules.Append(Widen(m));
}

void Compiler::RollBack() {
    workVariables_.clear();
    workTraps_.clear();
    workModules_.clear();
    store_.Nodes().RollBack(checkpoint_);
}

// ---------------------------------------------------------------------------------------
// Module header

HRESULT Compiler::Header(bool* noMoreModules) {
    *noMoreModules = false;
    // A module without IMPORTS has no import table (not the previous module's).
    imports_ = kNone;
    Next();
    if (AtEnd()) {
        *noMoreModules = true;
        return S_OK;
    }
    SetModule(T());
    Next();
    if (T() == "{") {
        SkipUntil("}");
        Next();
    }
    if (!Kw(T(), "DEFINITIONS")) {
        *noMoreModules = true;  // text after the last module is ignored
        return S_OK;
    }
    Next();
    if (!IsAssign(T())) return Expected("::=");
    Next();
    if (!Kw(T(), "BEGIN")) return Expected("BEGIN");
    Next();
    if (Kw(T(), "EXPORTS")) {
        SkipUntil(";");
        if (AtEnd()) return UnexpectedEnd();
        Next();
    }
    if (Kw(T(), "IMPORTS")) {
        if (HRESULT hr = Imports(); FAILED(hr)) return hr;
        Next();
    }
    return S_OK;
}

HRESULT Compiler::Imports() {
    std::vector<ImportName> names;
    size_t sinceFrom = 0;
    for (;;) {
        Next();
        if (AtEnd()) return UnexpectedEnd();
        const string_view t = T();
        if (t == ";") break;
        if (t.size() < 2) continue;  // commas
        if (Begins(t, "FROM")) {
            Next();
            if (AtEnd()) return UnexpectedEnd();
            const string_view module = arena_.Copy(T());
            for (size_t i = sinceFrom; i < names.size(); ++i) names[i].module = module;
            sinceFrom = names.size();
            continue;
        }
        names.push_back({arena_.Copy(t), {}});
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const ImportName& a, const ImportName& b) { return a.name < b.name; });
    importTables_.push_back(std::move(names));
    imports_ = static_cast<uint32_t>(importTables_.size() - 1);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Module body

HRESULT Compiler::Body() {
    for (;;) {
        if (AtEnd()) return UnexpectedEnd();
        const string_view n = T();
        if (n == "END") return S_OK;
        Next();
        const string_view k = T();
        HRESULT hr = S_OK;
        if (Kw(n, "SMI") || Kw(n, "SYNTAX") || Begins(n, "OBJECT")) {
            SkipAssignment();  // not an assignment
        } else if (Kw(k, "OBJECT")) {
            Next();
            if (Kw(T(), "IDENTIFIER")) {
                Next();
                uint32_t record;
                hr = ReadOidValue(n, true, &record);
            }
        } else if (Kw(k, "MACRO")) {
            SkipMacro();
        } else if (Kw(k, "OBJECT-TYPE")) {
            hr = ObjectType(n);
        } else if (Kw(k, "MODULE-IDENTITY") || Kw(k, "OBJECT-IDENTITY") || Kw(k, "OBJECT-GROUP")) {
            hr = Identity(n);
        } else if (Begins(k, "::=")) {
            hr = TypeAssignment(n);
        } else if (Begins(k, "TRAP-TYPE")) {
            hr = TrapType(n);
        } else if (Begins(k, "NOTIFICATION-TYPE")) {
            hr = NotificationType(n);
        } else {
            SkipAssignment();
        }
        if (FAILED(hr)) return hr;
        Next();
    }
}

// Skips from the current token: the token after it is passed over untested, then tokens
// are read up to a stop token ("::=", or one beginning with END, OBJECT or TRAP-T). The
// token before the stop token is read next, as the next assignment's name; an END stop
// is itself read next.
void Compiler::SkipAssignment() {
    Next();
    if (AtEnd()) return;
    MibToken previous = t_;
    for (;;) {
        Next();
        if (AtEnd()) return;
        if (IsSkipStop(T())) {
            tok_.Rewind(t_, Begins(T(), "END") ? t_ : previous);
            return;
        }
        previous = t_;
    }
}

HRESULT Compiler::QuotedText(std::string_view* text) {
    Next();
    if (T() != "\"") return Expected("\"");
    *text = tok_.QuotedString(t_);
    return S_OK;
}

// The braced OID value after "::=" for the definition `name`. Numbers (digits, or the
// number of a named number such as org(3)) make the suffix; each plain name makes one
// record whose parent it is, and the last record gets the suffix, file, module and import
// table. `named` false gives the last record no object name (a notification's).
HRESULT Compiler::ReadOidValue(string_view name, bool named, uint32_t* record) {
    *record = kNone;
    if (!IsAssign(T())) return Expected("::=");
    Next();
    if (T() != "{") return Expected("{");
    text_.clear();
    names_.clear();
    for (;;) {
        Next();
        if (AtEnd() || T() == "}") break;
        const string_view t = T();
        string_view number;
        if (const size_t open = t.find('('); open != string_view::npos) {
            const size_t close = t.find(')', open + 1);
            if (close == string_view::npos) return Expected(")");
            number = t.substr(open + 1, close - open - 1);
        } else if (IsDigit(t[0])) {
            number = t;
        } else {
            names_.emplace_back(t, t_.line);
            continue;
        }
        if (number.empty()) continue;
        if (!text_.empty()) text_ += '.';
        text_ += number;
    }
    if (names_.empty()) return S_OK;  // numbers only: defines nothing
    const string_view object = arena_.Copy(name);
    for (size_t i = 0; i < names_.size(); ++i) {
        const bool last = i + 1 == names_.size();
        Pending p;
        p.parent = arena_.Copy(names_[i].first);
        p.line = names_[i].second;
        p.object = (named || !last) ? object : string_view();
        p.file = file_;  // for messages
        if (last) {
            p.suffix = arena_.Copy(text_);
            p.module = module_;
            p.imports = imports_;
        }
        *record = AddPending(p);
    }
    return S_OK;
}

uint32_t Compiler::AddPending(Pending p) {
    const uint32_t i = static_cast<uint32_t>(pending_.size());
    pending_.push_back(p);
    if (p.object.empty()) {
        if (firstUnnamed_ == kNone) firstUnnamed_ = i;
    } else {
        const uint32_t first = byObject_.Insert(p.object, i, ObjectOf());
        if (first == i) {
            pending_[i].lastSameName = i;
        } else {
            pending_[pending_[first].lastSameName].nextSameName = i;
            pending_[first].lastSameName = i;
        }
    }
    return i;
}

Pending Compiler::Record(string_view parent, uint32_t line, model::SnmpTrap* trap) const {
    Pending p;
    p.parent = parent;
    p.line = line;
    p.trap = trap;
    p.file = file_;
    p.module = module_;
    p.imports = imports_;
    return p;
}

// ---------------------------------------------------------------------------------------
// OBJECT-TYPE

HRESULT Compiler::ObjectType(string_view name) {
    ComPtr<model::SnmpVariable> v = ComPtr<model::SnmpVariable>::Adopt(model::NewSnmpVariable());
    if (!v) throw std::bad_alloc();
    Next();
    if (Begins(T(), "MACRO")) {  // the macro's own definition
        SkipMacro();
        return S_OK;
    }
    v->SetName(WidenToBstr(name));
    if (!Kw(T(), "SYNTAX")) return Expected("SYNTAX");
    Next();
    v->SetType(SyntaxTypeOf(T()));
    // The syntax text: tokens joined by one blank, braced parts without blanks, no blank
    // before "(", ")", "{", ACCESS or MAX-ACCESS or at the end of the text.
    text_.clear();
    auto stop = [](string_view t) {
        return Begins(t, "ACCESS") || Begins(t, "MAX-ACCESS") || Begins(t, "END");
    };
    while (!AtEnd() && !stop(T())) {
        text_ += T();
        Next();
        if (T() == "{") {
            text_ += '{';
            for (Next(); !AtEnd() && T() != "}"; Next()) text_ += T();
        }
        if (AtEnd()) break;
        const string_view u = T();
        if (!(Begins(u, "(") || Begins(u, ")") || Begins(u, "{") || Begins(u, "ACCESS") ||
              Begins(u, "MAX-ACCESS")))
            text_ += ' ';
    }
    v->SetSyntax(WidenToBstr(text_));
    string_view trimmed(text_);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    string_view base;
    v->SetBaseSyntax(WidenToBstr(store_.Types().Find(trimmed, &base) ? base : string_view(text_)));

    if (!Kw(T(), "MAX-ACCESS") && !Kw(T(), "ACCESS")) return Expected("ACCESS");
    Next();
    const SmiKeyword* access =
        FindKeyword(kAccessKeywords, [&](string_view k) { return Begins(T(), k); });
    if (!access) return Error(kMsgUnknownAccess, T());
    v->SetAccess(access->value);

    Next();
    if (!Kw(T(), "STATUS")) return Expected("STATUS");
    Next();
    const SmiKeyword* status =
        FindKeyword(kStatusKeywords, [&](string_view k) { return Kw(T(), k); });
    if (!status) return Error(kMsgUnknownStatus, T());
    v->SetStatus(status->value);

    Next();
    string_view quoted;
    if (Kw(T(), "DESCRIPTION")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        v->SetDescription(WidenToBstr(quoted));
    }
    if (Kw(T(), "REFERENCE")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        v->SetReference(WidenToBstr(quoted));
    }
    if (Kw(T(), "INDEX") || Kw(T(), "AUGMENTS")) {
        Next();  // the left brace
        ComPtr<IVelkStrings> index;
        v->get_Index(index.Put());
        sock::VelkStrings* names = sock::AsVelkStrings(index.Get());
        if (!names) throw std::bad_alloc();
        for (Next(); !AtEnd() && T() != "}"; Next())
            if (T() != ",") names->Append(Widen(T()));
        Next();
    }
    if (Kw(T(), "DEFVAL")) {
        Next();
        if (T() != "{") return Expected("{");
        size_t braces = 1;
        for (Next(); T() == "{"; Next()) ++braces;
        if (!AtEnd() && T() != "}") {
            // The raw text up to the next right brace, verbatim.
            v->SetValueText(WidenToBstr(tok_.RawUpTo(t_.start, '}')));
            SkipUntil("}");
        }
        for (size_t i = 0; i < braces; ++i) {
            if (i > 0) Next();
            if (T() != "}") return Expected("}");
        }
        Next();
    }
    if (!IsAssign(T())) return S_OK;  // no OID value: defines nothing
    uint32_t record;
    if (HRESULT hr = ReadOidValue(name, true, &record); FAILED(hr)) return hr;
    if (record == kNone) return Expected("OID Expected\r\n");
    pending_[record].variable = v.Detach();
    return S_OK;
}

// MODULE-IDENTITY, OBJECT-IDENTITY, OBJECT-GROUP: clauses are skipped (quoted strings
// whole) up to "::=" or END.
HRESULT Compiler::Identity(string_view name) {
    Next();
    while (!AtEnd() && !IsAssign(T()) && T() != "END") {
        if (T() == "\"")
            tok_.QuotedString(t_);
        else
            Next();
    }
    if (!IsAssign(T())) return Expected("::=");
    uint32_t record;
    return ReadOidValue(name, true, &record);
}

// ---------------------------------------------------------------------------------------
// Type assignments

HRESULT Compiler::TypeAssignment(string_view name) {
    Next();
    const string_view r = T();
    if (Begins(r, "SEQUENCE") || Begins(r, "CHOICE")) {
        SkipUntil("}");
    } else if (Begins(r, "INTEGE")) {
        RecordIntegerType(name);
    } else if (Begins(r, "OBJECT") || Begins(r, "OCTET")) {
        SkipAssignment();
    } else if (Kw(r, "TEXTUAL-CONVENTION")) {
        SkipUntil("\"");
        Next();
        SkipUntil("\"");
        SkipAssignment();
    } else {
        SkipAssignment();
    }
    return S_OK;
}

// Name ::= INTEGER ...: records Name::= and the right side's tokens joined without
// separators, up to a stop token; the token before the stop token (the next assignment's
// name) is left out and read next. Nothing is recorded when the stop token is the third
// of the right side. When the stop token is END, nothing is left out and END is read next.
void Compiler::RecordIntegerType(string_view name) {
    tokens_.clear();
    tokens_.push_back(t_);
    for (;;) {
        Next();
        if (AtEnd()) return;
        if (IsSkipStop(T())) break;
        tokens_.push_back(t_);
    }
    size_t keep = tokens_.size();
    if (Begins(T(), "END")) {
        tok_.Rewind(t_, t_);
        if (keep < 2) return;
    } else {
        tok_.Rewind(t_, tokens_.back());
        if (--keep < 2) return;
    }
    text_.clear();
    for (size_t i = 0; i < keep; ++i) text_ += tok_.View(tokens_[i]);
    store_.Types().Add(name, text_);
}

// ---------------------------------------------------------------------------------------
// TRAP-TYPE and NOTIFICATION-TYPE

bool Compiler::TrapNameTaken(string_view name) {
    if (!trapNamesKnown_) {
        // Traps does not change during a call: its names are taken once.
        trapNamesKnown_ = true;
        ComPtr<IUnknown> unknown;
        ComPtr<IEnumVARIANT> items;
        if (SUCCEEDED(store_.Traps().get__NewEnum(unknown.Put())) && unknown &&
            SUCCEEDED(unknown.As(&items))) {
            Variant item;
            ULONG fetched = 0;
            while (items->Next(1, item.Put(), &fetched) == S_OK && fetched == 1) {
                ComPtr<ISnmpTrap> trap;
                if (item.vt == VT_DISPATCH && item.pdispVal &&
                    SUCCEEDED(item.pdispVal->QueryInterface(IID_ISnmpTrap, trap.PutVoid()))) {
                    Bstr trapName;
                    trap->get_Name(trapName.Put());
                    trapNames_.emplace(trapName.View());
                }
            }
        }
    }
    if (trapNames_.count(Widen(name))) return true;
    // A definition of that name read so far, before the first record without a name.
    const uint32_t first = FindObject(name);
    return first != kNone && first < firstUnnamed_;
}

HRESULT Compiler::VariableList(model::SnmpTrap* trap, bool record, uint32_t* last) {
    Next();
    if (T() != "{") return Error(kMsgUnknownIdentifier, "{");
    for (;;) {
        Next();
        if (AtEnd() || T() == "}") break;
        if (record) {
            Pending p = Record(arena_.Copy(T()), t_.line, trap);
            p.oidList = true;
            *last = AddPending(p);
        }
        Next();
        if (T() == "}") break;
        if (T() != ",") return Expected(",");
    }
    Next();
    return S_OK;
}

HRESULT Compiler::TrapType(string_view name) {
    ComPtr<model::SnmpTrap> trap;
    if (HRESULT hr = model::CreateSnmpTrap(&trap); FAILED(hr)) return hr;
    traps_.push_back(trap);
    const bool discard = TrapNameTaken(name);
    if (!discard) trap->SetName(Bstr::Adopt(WidenToBstr(name)));
    Next();
    if (!Kw(T(), "ENTERPRISE")) return Expected("ENTERPRISE");
    Next();
    uint32_t last = kNone;
    if (T() == "{") {
        SkipUntil("}");  // a braced enterprise: the trap gets none
    } else if (!discard) {
        last = AddPending(Record(arena_.Copy(T()), t_.line, trap.Get()));
    }
    Next();
    if (Begins(T(), "VARIABLES") || Begins(T(), "OBJECTS")) {
        if (HRESULT hr = VariableList(trap.Get(), !discard, &last); FAILED(hr)) return hr;
    }
    string_view quoted;
    if (Begins(T(), "DESCRIPTION")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        trap->SetDescription(Bstr::Adopt(WidenToBstr(quoted)));
    }
    if (Kw(T(), "REFERENCE")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        trap->SetReference(Bstr::Adopt(WidenToBstr(quoted)));
    }
    if (!IsAssign(T())) return Expected("::=");
    Next();
    // The leading decimal number (optional sign); the number token stays current.
    const string_view t = T();
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    int64_t value = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i)
        value = std::min<int64_t>(value * 10 + (t[i] - '0'), int64_t{1} << 32);
    if (negative) value = -value;
    value = std::clamp<int64_t>(value, INT32_MIN, INT32_MAX);
    trap->SetSpecificTrap(static_cast<LONG>(value));
    if (last != kNone) pending_[last].publishes = true;
    return S_OK;
}

HRESULT Compiler::NotificationType(string_view name) {
    ComPtr<model::SnmpTrap> trap;
    if (HRESULT hr = model::CreateSnmpTrap(&trap); FAILED(hr)) return hr;
    traps_.push_back(trap);
    trap->SetName(Bstr::Adopt(WidenToBstr(name)));
    const size_t before = pending_.size();
    Next();
    uint32_t last = kNone;
    if (Begins(T(), "OBJECTS")) {
        if (HRESULT hr = VariableList(trap.Get(), true, &last); FAILED(hr)) return hr;
    }
    if (!Kw(T(), "STATUS")) return Expected("STATUS");
    Next();
    const SmiKeyword* status =
        FindKeyword(kStatusKeywords, [&](string_view k) { return Kw(T(), k); });
    if (!status) return Error(kMsgUnknownStatus, T());
    trap->SetStatus(static_cast<StatusConstants>(status->value));
    Next();
    string_view quoted;
    if (Begins(T(), "DESCRIPTION")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        trap->SetDescription(Bstr::Adopt(WidenToBstr(quoted)));
    }
    if (Kw(T(), "REFERENCE")) {
        if (HRESULT hr = QuotedText(&quoted); FAILED(hr)) return hr;
        trap->SetReference(Bstr::Adopt(WidenToBstr(quoted)));
    }
    uint32_t record;
    if (HRESULT hr = ReadOidValue(name, false, &record); FAILED(hr)) return hr;
    if (record == kNone) {
        // No plain name in the value: the notification defines nothing; its references
        // go with it.
        while (pending_.size() > before) {
            const Pending& p = pending_.back();
            if (p.object.empty() && firstUnnamed_ == pending_.size() - 1) firstUnnamed_ = kNone;
            pending_.pop_back();
        }
        return S_OK;
    }
    pending_[record].trap = trap.Get();
    pending_[record].publishes = true;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Resolution

HRESULT Compiler::CheckDuplicates() {
    // Definitions with a name and a module; equal pairs among them, or with a known node,
    // are duplicates. (Known nodes among themselves never are: every call that added them
    // passed this check, and nodes of Load have no module.)
    std::vector<uint32_t> named;
    for (uint32_t i = 0; i < pending_.size(); ++i)
        if (!pending_[i].object.empty() && !pending_[i].module.empty()) named.push_back(i);
    auto key = [this](uint32_t i) { return std::pair(pending_[i].object, pending_[i].module); };
    std::sort(named.begin(), named.end(),
              [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    std::u16string report;
    const NodeIndex& nodes = store_.Nodes();
    for (size_t i = 0; i < named.size();) {
        size_t j = i + 1;
        while (j < named.size() && key(named[j]) == key(named[i])) ++j;
        const auto [object, module] = key(named[i]);
        size_t count = j - i;
        for (size_t n = nodes.FindName(object); n != NodeIndex::npos && n < checkpoint_.size;
             n = nodes.NextWithSameName(n))
            if (nodes.At(n).module == module) ++count;
        for (size_t d = 1; d < count; ++d) {
            report += u"Duplicate Name: ";
            report += Widen(object);
            report += u" in MIB: ";
            report += Widen(module);
            report += u"\r\n";
        }
        i = j;
    }
    if (report.empty()) return S_OK;
    return ReportMibError(ulError, report);
}

Definition Compiler::FindWithModule(string_view name, string_view module) const {
    const NodeIndex& nodes = store_.Nodes();
    for (size_t n = nodes.FindName(name); n != NodeIndex::npos && n < checkpoint_.size;
         n = nodes.NextWithSameName(n))
        if (nodes.At(n).module == module) return {true, true, n};
    for (uint32_t p = FindObject(name); p != kNone; p = pending_[p].nextSameName)
        if (pending_[p].module == module) return {true, false, p};
    return {};
}

Definition Compiler::FindByName(string_view name) const {
    const size_t n = store_.Nodes().FindName(name);
    if (n != NodeIndex::npos && n < checkpoint_.size) return {true, true, n};
    if (const uint32_t p = FindObject(name); p != kNone) return {true, false, p};
    return {};
}

Definition Compiler::Lookup(string_view name, const Pending& from) const {
    if (from.imports != kNone) {
        const std::vector<ImportName>& table = importTables_[from.imports];
        auto it = std::lower_bound(table.begin(), table.end(), name,
                                   [](const ImportName& e, string_view n) { return e.name < n; });
        const bool imported = it != table.end() && it->name == name;
        const Definition d = FindWithModule(name, imported ? it->module : from.module);
        if (d.found) return d;
    }
    return FindByName(name);
}

std::string_view Compiler::OidOf(const Definition& d) const {
    const size_t node = d.isNode ? d.index : pending_[d.index].node;
    return store_.Nodes().At(node).oid;
}

HRESULT Compiler::ResolveOne(Pending& r, string_view parentOid) {
    if (r.oidList) {
        // A reference: the parent's own OID goes into the trap's Oids.
        if (!parentOid.empty())
            if (sock::VelkStrings* oids = sock::AsVelkStrings(r.trap->Oids()))
                oids->Append(Widen(parentOid));
        r.resolved = true;
        return S_OK;
    }
    text_.assign(parentOid);
    if (!r.suffix.empty()) {
        if (!text_.empty()) text_ += '.';
        text_ += r.suffix;
    }
    if (std::count(text_.begin(), text_.end(), '.') + 1 > static_cast<std::ptrdiff_t>(kMaxOidArcs))
        return ErrorAt(r, kMsgOidTooLong, r.object.empty() ? r.parent : r.object);
    if (r.trap) {
        r.trap->SetEnterprise(Bstr::Adopt(WidenToBstr(text_)));
    } else {
        r.node = store_.Nodes().Append(r.object, text_, r.module);
    }
    r.resolved = true;
    if (r.variable) {
        r.variable->SetOid(WidenToBstr(text_));
        workVariables_.push_back(r.variable);
    }
    return S_OK;
}

HRESULT Compiler::ResolveDefinitions() {
    if (HRESULT hr = CheckDuplicates(); FAILED(hr)) return hr;
    for (uint32_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].resolved) continue;
        if (pending_[i].publishes) workTraps_.push_back(pending_[i].trap);
        // Follow unresolved parents up to one that is resolved or known, then resolve the
        // waiting records newest first, each from the one resolved before it.
        chain_.clear();
        uint32_t current = i;
        for (;;) {
            Pending& c = pending_[current];
            const Definition d = Lookup(c.parent, c);
            if (!d.found) return ErrorAt(c, kMsgUnknownIdentifier, c.parent);
            if (!d.isNode && !pending_[d.index].resolved) {
                if (d.index == current || pending_[d.index].onChain) {
                    for (uint32_t w : chain_) pending_[w].onChain = false;
                    return ErrorAt(c, kMsgUnknownIdentifier, c.parent);  // a cycle
                }
                c.onChain = true;
                chain_.push_back(current);
                current = static_cast<uint32_t>(d.index);
                continue;
            }
            if (HRESULT hr = ResolveOne(c, OidOf(d)); FAILED(hr)) return hr;
            break;
        }
        while (!chain_.empty()) {
            const uint32_t w = chain_.back();
            chain_.pop_back();
            pending_[w].onChain = false;
            const string_view parentOid = store_.Nodes().At(pending_[current].node).oid;
            if (HRESULT hr = ResolveOne(pending_[w], parentOid); FAILED(hr)) return hr;
            current = w;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT CompileMibFiles(MibStore& store, IVelkStrings* fileNames) {
    Compiler compiler(store);
    return compiler.Run(fileNames);
}

}  // namespace velk::mib
