// get, getnext, getbulk, set, walk and table: requests to one agent.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "commands.h"

namespace vs {

namespace {

// What every request command sets up: target, output, MIB, session.
struct Client {
    explicit Client(const Args& args, size_t minPositional, const char* what) {
        if (args.positional.size() < minPositional) Usage(std::string("missing ") + what);
        target = ParseTarget(args);
        output = ParseOutput(args);
        endpoint = ParseEndpoint(args.positional[0], 161);
        mib.Load(ParseMib(args));
        printer = std::make_unique<Printer>(mib, output);
    }
    void Open() { session = std::make_unique<Session>(endpoint, target); }

    TargetOptions target;
    OutputOptions output;
    Endpoint endpoint;
    MibSet& mib = KeptMibSet();
    std::unique_ptr<Printer> printer;
    std::unique_ptr<Session> session;
};

ComPtr<ISnmpVariables> VariablesOf(ISnmpMessage* m) {
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    return list;
}

LONG CountOf(ISnmpVariables* list) {
    LONG n = 0;
    list->get_Count(&n);
    return n;
}

// Variable at a 1-based position in message order (a message's collection is not sorted).
ComPtr<ISnmpVariable> At(ISnmpVariables* list, LONG i) {
    ComPtr<ISnmpVariable> v;
    Variant index(i);
    list->Item(index, v.Put());
    return v;
}

std::string OidOf(ISnmpVariable* v) {
    BSTR o = nullptr;
    v->get_Oid(&o);
    return A(o);
}

// Throws Failure for a response with an error status, naming the failing variable.
void CheckStatus(ISnmpMessage* response, const Client& c, const std::vector<std::string>& requested) {
    ExceptionConstants status = snmpOk;
    LONG index = 0;
    response->get_Exception(&status);
    response->get_ExceptionIndex(&index);
    if (status == snmpOk) return;
    std::string message = "agent " + c.endpoint.Text() + " answered " + ErrorStatusName(status);
    if (index >= 1 && static_cast<size_t>(index) <= requested.size())
        message += " for " + c.printer->Name(requested[static_cast<size_t>(index) - 1]) + " (variable " +
                   std::to_string(index) + ")";
    Fail(message);
}

void PrintVariables(const Client& c, ISnmpVariables* list, std::vector<std::string>* json) {
    std::string text;
    for (const ComPtr<ISnmpVariable>& v : Members<ISnmpVariable>(list)) {
        if (json)
            json->push_back(c.printer->Json(v.Get()));
        else
            text += c.printer->Line(v.Get()) + "\n";
    }
    Out(text);
}

std::vector<std::string> ResolveAll(const Client& c, const std::vector<std::string>& names, size_t first) {
    std::vector<std::string> oids;
    for (size_t i = first; i < names.size(); ++i) oids.push_back(c.mib.Resolve(names[i]));
    return oids;
}

int SimpleRequest(const Args& args, TypeConstants v2Type) {
    Client c(args, 2, "HOST and OID");
    const std::vector<std::string> oids = ResolveAll(c, args.positional, 1);
    c.Open();
    ISnmpMessage* response = c.session->Request([&](ISnmpMessage* m) {
        m->put_Type(RequestType(c.target.v1, v2Type));
        for (const std::string& oid : oids) AddVariable(m, oid);
    });
    CheckStatus(response, c, oids);
    std::vector<std::string> json;
    PrintVariables(c, VariablesOf(response).Get(), c.output.json ? &json : nullptr);
    if (c.output.json) Out(JsonArray(json) + "\n");
    return kExitOk;
}

// Bulk settings from -Cn N, -Cr N, -Cc.
struct BulkOptions {
    long nonRepeaters = 0;
    long maxRepetitions = 10;
    bool noIncreaseCheck = false;
};

BulkOptions ParseBulk(const Args& args) {
    BulkOptions b;
    for (const std::string& flags : args.All("C")) {
        if (flags.empty()) Usage("option -C needs a letter (see --help)");
        const char letter = flags[0];
        const std::string rest = flags.substr(1);
        switch (letter) {
            case 'n': b.nonRepeaters = static_cast<long>(IntValue("-Cn", rest, 0, 1000)); break;
            case 'r': b.maxRepetitions = static_cast<long>(IntValue("-Cr", rest, 1, 10000)); break;
            case 'c':
                if (!rest.empty()) Usage("-Cc takes no value");
                b.noIncreaseCheck = true;
                break;
            default: Usage(std::string("unknown option -C") + letter + " (see --help)");
        }
    }
    if (args.Has("max-repetitions"))
        b.maxRepetitions = static_cast<long>(IntValue("--max-repetitions", args.Get("max-repetitions"), 1, 10000));
    if (args.Has("non-repeaters"))
        b.nonRepeaters = static_cast<long>(IntValue("--non-repeaters", args.Get("non-repeaters"), 0, 1000));
    return b;
}

// Walks the subtree under `root`, handing every variable to `each` (which returns false to
// stop). GetBulk on v2c unless `useNext`; halves max-repetitions on tooBig; an OID that does
// not increase ends the walk with an error unless `limit` allows going on.
class Walker {
public:
    Walker(Client& c, const BulkOptions& bulk, bool useNext, long limit)
        : c_(c), bulk_(bulk), useNext_(useNext || c.target.v1), limit_(limit) {}

    long Walk(const std::string& root, const std::function<void(ISnmpVariable*)>& each) {
        std::string current = root;
        long count = 0;
        long maxRep = bulk_.maxRepetitions;
        bool nextOnce = false;  // one GetNext after an empty bulk reply
        for (;;) {
            const bool bulk = !useNext_ && !nextOnce;
            ISnmpMessage* r = c_.session->Request([&](ISnmpMessage* m) {
                if (bulk) {
                    m->put_Type(snmpGetBulk2);
                    m->put_MaxRepetition(maxRep);
                    ComPtr<ISnmpVariable> v = AddVariable(m, current);
                    v->put_Repeat(VARIANT_TRUE);
                } else {
                    m->put_Type(RequestType(c_.target.v1, snmpGetNext2));
                    AddVariable(m, current);
                }
            });
            ExceptionConstants status = snmpOk;
            r->get_Exception(&status);
            if (status == snmpTooBig && bulk && maxRep > 1) {
                maxRep = std::max(1L, maxRep / 2);
                continue;
            }
            if (status == snmpNoSuchName) break;  // version 1: the end of the MIB
            if (status != snmpOk) CheckStatus(r, c_, {current});
            ComPtr<ISnmpVariables> list = VariablesOf(r);
            const std::vector<ComPtr<ISnmpVariable>> answer = Members<ISnmpVariable>(list.Get());
            if (answer.empty()) {
                if (bulk) {
                    nextOnce = true;
                    continue;
                }
                break;
            }
            nextOnce = false;
            bool done = false;
            for (const ComPtr<ISnmpVariable>& v : answer) {
                VariableExceptionConstants exception = snmpNoException;
                v->get_Exception(&exception);
                const std::string oid = OidOf(v.Get());
                if (exception != snmpNoException || !OidUnder(oid, root) || oid == root) {
                    done = true;
                    break;
                }
                if (CompareOid(oid, current) <= 0) {
                    if (!allowNonIncreasing()) {
                        Fail("agent " + c_.endpoint.Text() + " returned " + c_.printer->Name(oid) + " after " +
                             c_.printer->Name(current) + ": OID not increasing (-Cc goes on, with --limit as a bound)");
                    }
                }
                each(v.Get());
                current = oid;
                if (++count >= limit_) {
                    done = true;
                    break;
                }
            }
            if (done) break;
        }
        return count;
    }

private:
    bool allowNonIncreasing() const { return bulk_.noIncreaseCheck; }

    Client& c_;
    BulkOptions bulk_;
    bool useNext_;
    long limit_;
};

long WalkLimit(const Args& args, const BulkOptions& bulk) {
    if (args.Has("limit")) return static_cast<long>(IntValue("--limit", args.Get("limit"), 1, 100000000));
    // Without the increase check a looping agent would never end the walk.
    return bulk.noIncreaseCheck ? 10000 : 0x7FFFFFFF;
}

}  // namespace

void Out(const std::string& text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

int CmdGet(const Args& args) { return SimpleRequest(args, snmpGet2); }
int CmdGetNext(const Args& args) { return SimpleRequest(args, snmpGetNext2); }

int CmdGetBulk(const Args& args) {
    Client c(args, 2, "HOST and OID");
    if (c.target.v1) Usage("getbulk needs SNMP version 2c (GetBulk does not exist in version 1)");
    const BulkOptions bulk = ParseBulk(args);
    const std::vector<std::string> oids = ResolveAll(c, args.positional, 1);
    c.Open();
    ISnmpMessage* response = c.session->Request([&](ISnmpMessage* m) {
        m->put_Type(snmpGetBulk2);
        m->put_MaxRepetition(bulk.maxRepetitions);
        for (size_t i = 0; i < oids.size(); ++i) {
            ComPtr<ISnmpVariable> v = AddVariable(m, oids[i]);
            v->put_Repeat(static_cast<long>(i) < bulk.nonRepeaters ? VARIANT_FALSE : VARIANT_TRUE);
        }
    });
    CheckStatus(response, c, oids);
    std::vector<std::string> json;
    PrintVariables(c, VariablesOf(response).Get(), c.output.json ? &json : nullptr);
    if (c.output.json) Out(JsonArray(json) + "\n");
    return kExitOk;
}

int CmdWalk(const Args& args) {
    Client c(args, 1, "HOST");
    if (args.positional.size() > 2) Usage("walk takes one OID (see velk-snmp walk --help)");
    const BulkOptions bulk = ParseBulk(args);
    const std::string root = args.positional.size() > 1 ? c.mib.Resolve(args.positional[1]) : "1.3.6.1.2.1";
    c.Open();
    Walker walker(c, bulk, args.Has("next"), WalkLimit(args, bulk));
    std::vector<std::string> json;
    std::string text;
    long count = 0;
    try {
        count = walker.Walk(root, [&](ISnmpVariable* v) {
            if (c.output.json) {
                json.push_back(c.printer->Json(v));
            } else {
                text += c.printer->Line(v);
                text += '\n';
                if (text.size() > 1 << 16) {
                    Out(text);
                    text.clear();
                }
            }
        });
    } catch (const Failure&) {
        // What arrived before the failure is printed.
        Out(c.output.json ? JsonArray(json) + "\n" : text);
        throw;
    }
    if (count == 0) {
        // Nothing below the OID: it may be an instance itself.
        ISnmpMessage* r = c.session->Request([&](ISnmpMessage* m) {
            m->put_Type(RequestType(c.target.v1, snmpGet2));
            AddVariable(m, root);
        });
        ExceptionConstants status = snmpOk;
        r->get_Exception(&status);
        ComPtr<ISnmpVariables> list = VariablesOf(r);
        if (status == snmpOk && CountOf(list.Get()) == 1) {
            ComPtr<ISnmpVariable> v = At(list.Get(), 1);
            VariableExceptionConstants exception = snmpNoException;
            v->get_Exception(&exception);
            if (exception == snmpNoException) {
                if (c.output.json)
                    json.push_back(c.printer->Json(v.Get()));
                else
                    text += c.printer->Line(v.Get()) + "\n";
            }
        }
    }
    if (c.output.json)
        Out(JsonArray(json) + "\n");
    else
        Out(text);
    if (args.Has("count") && !c.output.json)
        std::fprintf(stderr, "Variables found: %ld\n", count);
    return kExitOk;
}

std::vector<std::pair<std::string, long>> EnumLabels(const std::string& syntax) {
    std::vector<std::pair<std::string, long>> out;
    const size_t open = syntax.find('{');
    const size_t close = syntax.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) return out;
    for (const std::string& item : Split(syntax.substr(open + 1, close - open - 1), ',')) {
        const size_t p = item.find('('), q = item.find(')');
        if (p == std::string::npos || q == std::string::npos || q < p) continue;
        long long n = 0;
        if (!ParseInt(Trim(item.substr(p + 1, q - p - 1)), -2147483648LL, 2147483647LL, &n)) continue;
        out.emplace_back(Trim(item.substr(0, p)), static_cast<long>(n));
    }
    return out;
}

namespace {

std::string ParseHex(const std::string& text) {
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == ' ' || ch == ':' || ch == '\t' || ch == '-') continue;
        if ((ch == 'x' || ch == 'X') && !digits.empty() && digits.back() == '0' && digits.size() % 2 == 1) {
            digits.pop_back();  // a 0x prefix
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(ch))) Usage("invalid hex value '" + text + "'");
        digits += ch;
    }
    if (digits.size() % 2) Usage("hex value '" + text + "' has an odd number of digits");
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string ParseDecimalBytes(const std::string& text) {
    std::string bytes;
    std::string t = text;
    std::replace(t.begin(), t.end(), ' ', '.');
    for (const std::string& part : Split(t, '.')) {
        if (part.empty()) continue;
        bytes += static_cast<char>(IntValue("a decimal byte", part, 0, 255));
    }
    return bytes;
}

}  // namespace

void SetTypedValue(ISnmpVariable* v, const std::string& typeLetter, const std::string& value, const MibSet& mib,
                   const std::string& oid) {
    if (typeLetter.size() != 1) Usage("invalid type '" + typeLetter + "' (one of i u c C t a o s x d n b =)");
    char letter = typeLetter[0];
    ComPtr<ISnmpVariable> def = mib.DefinitionOf(oid);
    if (letter == '=') {
        const int type = mib.ObjectType(def.Get());
        switch (type) {
            case snmpInteger: letter = 'i'; break;
            case snmpOctetString: letter = 's'; break;
            case snmpObjectID: letter = 'o'; break;
            case snmpIpAddress: letter = 'a'; break;
            case snmpCounter32: letter = 'c'; break;
            case snmpGuage32: letter = 'u'; break;
            case snmpTimeTicks: letter = 't'; break;
            case snmpCounter64: letter = 'C'; break;
            case snmpUInteger32: letter = 'U'; break;
            case snmpOpaque: letter = 'x'; break;
            default:
                Usage("the MIB gives no type for " + mib.Format(oid) + ": give a type letter instead of '='");
        }
    }
    auto unsignedValue = [&](const char* what) {
        return std::to_string(IntValue(std::string("a ") + what + " value", value, 0, 4294967295LL));
    };
    switch (letter) {
        case 'i': {
            long long n = 0;
            if (!ParseInt(value, -2147483648LL, 2147483647LL, &n)) {
                bool found = false;
                std::string label = value;
                if (const size_t p = label.find('('); p != std::string::npos) label = label.substr(0, p);
                for (const auto& [l, number] : EnumLabels(mib.EnumSyntax(def.Get())))
                    if (l == label) {
                        n = number;
                        found = true;
                    }
                if (!found) Usage("invalid INTEGER value '" + value + "' (a number or a label of the object's enumeration)");
            }
            v->put_Type(snmpInteger);
            v->put_Value(B(std::to_string(n)).Get());
            return;
        }
        case 'u': v->put_Type(snmpGuage32); v->put_Value(B(unsignedValue("Gauge32")).Get()); return;
        case 'U': v->put_Type(snmpUInteger32); v->put_Value(B(unsignedValue("UInteger32")).Get()); return;
        case 'c': v->put_Type(snmpCounter32); v->put_Value(B(unsignedValue("Counter32")).Get()); return;
        case 't': v->put_Type(snmpTimeTicks); v->put_Value(B(unsignedValue("TimeTicks")).Get()); return;
        case 'C': {
            uint64_t n = 0;
            if (!ParseUnsigned64(value, &n)) Usage("invalid Counter64 value '" + value + "'");
            v->put_Type(snmpCounter64);
            v->put_Value(B(std::to_string(n)).Get());
            return;
        }
        case 'a': {
            in_addr a{};
            if (inet_pton(AF_INET, value.c_str(), &a) != 1) Usage("invalid IpAddress '" + value + "'");
            v->put_Type(snmpIpAddress);
            v->put_Value(B(value).Get());
            return;
        }
        case 'o':
            v->put_Type(snmpObjectID);
            v->put_Value(B(mib.Resolve(value)).Get());
            return;
        case 's': v->put_Type(snmpOctetString); v->put_Value(B(value).Get()); return;
        case 'x': v->put_Type(snmpOctetString); v->put_Value(B(ParseHex(value)).Get()); return;
        case 'd': v->put_Type(snmpOctetString); v->put_Value(B(ParseDecimalBytes(value)).Get()); return;
        case 'n': v->put_Type(snmpNull); v->put_Value(B("").Get()); return;
        case 'b': {
            // Named or numbered bits, separated by blanks or commas; bit 0 is the first byte's top bit.
            std::string bytes;
            std::string t = value;
            std::replace(t.begin(), t.end(), ',', ' ');
            const auto labels = EnumLabels(std::string("x ") + [&] {
                BSTR s = nullptr;
                if (def) def->get_Syntax(&s);
                return A(s);
            }());
            for (const std::string& part : Split(t, ' ')) {
                if (part.empty()) continue;
                long long bit = -1;
                if (!ParseInt(part, 0, 65535, &bit)) {
                    for (const auto& [l, number] : labels)
                        if (l == part) bit = number;
                    if (bit < 0) Usage("invalid bit '" + part + "' in '" + value + "'");
                }
                const size_t byte = static_cast<size_t>(bit / 8);
                if (bytes.size() <= byte) bytes.resize(byte + 1, '\0');
                bytes[byte] = static_cast<char>(bytes[byte] | (0x80 >> (bit % 8)));
            }
            v->put_Type(snmpOctetString);
            v->put_Value(B(bytes).Get());
            return;
        }
        default: Usage(std::string("unknown type letter '") + letter + "' (one of i u c C t a o s x d n b =)");
    }
}

std::vector<Binding> ReadBindings(const std::vector<std::string>& args, size_t first, const MibSet& mib) {
    std::vector<Binding> out;
    if ((args.size() - first) % 3 != 0)
        Usage("variables come as OID TYPE VALUE triples (" + std::to_string(args.size() - first) + " arguments given)");
    for (size_t i = first; i + 2 < args.size(); i += 3) out.push_back({mib.Resolve(args[i]), args[i + 1], args[i + 2]});
    return out;
}

int CmdSet(const Args& args) {
    Client c(args, 4, "HOST and OID TYPE VALUE");
    const std::vector<Binding> bindings = ReadBindings(args.positional, 1, c.mib);
    // Check every value before anything is sent.
    std::vector<ComPtr<ISnmpVariable>> prepared;
    std::vector<std::string> oids;
    for (const Binding& b : bindings) {
        ComPtr<ISnmpVariable> v = Create<ISnmpVariable>(CLSID_SnmpVariable);
        v->put_Oid(B(b.oid).Get());
        SetTypedValue(v.Get(), b.type, b.value, c.mib, b.oid);
        prepared.push_back(v);
        oids.push_back(b.oid);
    }
    c.Open();
    ISnmpMessage* response = c.session->Request([&](ISnmpMessage* m) {
        m->put_Type(RequestType(c.target.v1, snmpSet2));
        ComPtr<ISnmpVariables> list = VariablesOf(m);
        for (const ComPtr<ISnmpVariable>& v : prepared) list->Add(v.Get());
    });
    CheckStatus(response, c, oids);
    std::vector<std::string> json;
    PrintVariables(c, VariablesOf(response).Get(), c.output.json ? &json : nullptr);
    if (c.output.json) Out(JsonArray(json) + "\n");
    return kExitOk;
}

int CmdTable(const Args& args) {
    Client c(args, 2, "HOST and TABLE");
    if (args.positional.size() > 2) Usage("table takes one table name (see velk-snmp table --help)");
    const BulkOptions bulk = ParseBulk(args);
    const std::string given = c.mib.Resolve(args.positional[1]);
    // The conceptual row (entry): a table object's only child, or the entry itself.
    std::string entry = given + ".1";
    if (ComPtr<ISnmpVariable> def = c.mib.Definition(given)) {
        BSTR s = nullptr;
        def->get_Syntax(&s);
        const std::string syntax = A(s);
        ComPtr<IVelkStrings> index;
        def->get_Index(index.Put());
        LONG indexCount = 0;
        if (index) index->get_Count(&indexCount);
        if (indexCount > 0) {
            entry = given;
        } else if (!StartsWith(syntax, "SEQUENCE")) {
            Usage(c.mib.Format(given) + " is not a table");
        }
    }
    c.Open();
    Walker walker(c, bulk, args.Has("next"), WalkLimit(args, bulk));
    // Cells by column number and row index.
    ComPtr<ISnmpVariables> cells = Create<ISnmpVariables>(CLSID_SnmpVariables);
    std::map<unsigned long, std::string> columns;  // number -> column OID
    std::set<std::string> rowSet;
    std::vector<std::string> rowOrder;
    std::set<std::string> present;
    // Only the columns asked for, or the whole entry.
    std::vector<std::string> roots;
    for (const std::string& list : args.All("columns")) {
        for (const std::string& name : Split(list, ',')) {
            if (Trim(name).empty()) continue;
            const std::string column = c.mib.Resolve(Trim(name));
            if (!OidUnder(column, entry) || column.size() <= entry.size() ||
                column.find('.', entry.size() + 1) != std::string::npos)
                Usage(Trim(name) + " is not a column of " + c.printer->Name(given));
            roots.push_back(column);
        }
    }
    if (roots.empty()) roots.push_back(entry);
    for (const std::string& root : roots) {
        walker.Walk(root, [&](ISnmpVariable* v) {
            const std::string oid = OidOf(v);
            const std::string rest = oid.substr(entry.size() + 1);
            const size_t dot = rest.find('.');
            if (dot == std::string::npos) return;
            const unsigned long column = std::stoul(rest.substr(0, dot));
            const std::string index = rest.substr(dot + 1);
            columns.emplace(column, entry + "." + rest.substr(0, dot));
            if (rowSet.insert(index).second) rowOrder.push_back(index);
            present.insert(oid);
            cells->Add(v);
        });
    }
    if (columns.empty()) {
        if (c.output.json)
            Out("[]\n");
        else
            std::fprintf(stderr, "%s has no rows\n", c.printer->Name(given).c_str());
        return kExitOk;
    }
    // Rows in index order; a column without a value in some row gets an empty cell, so every
    // column holds the same rows and the table view lines them up.
    std::sort(rowOrder.begin(), rowOrder.end(), [](const std::string& a, const std::string& b) {
        return CompareOid(a, b) < 0;
    });
    for (const auto& [number, columnOid] : columns) {
        for (const std::string& index : rowOrder) {
            const std::string oid = columnOid + "." + index;
            if (present.count(oid)) continue;
            ComPtr<ISnmpVariable> gap = Create<ISnmpVariable>(CLSID_SnmpVariable);
            gap->put_Oid(B(oid).Get());
            gap->put_Exception(snmpNoSuchInstance);
            cells->Add(gap.Get());
        }
    }
    ComPtr<ISnmpTable> table;
    Check(cells->GetTable(B(entry).Get(), table.Put()), "cannot arrange the table");
    LONG rows = 0, cols = 0;
    table->get_RowCount(&rows);
    table->get_ColumnCount(&cols);

    OutputOptions cellOptions = c.output;
    cellOptions.quick = true;
    Printer cellPrinter(c.mib, cellOptions);
    std::vector<std::string> header{"index"};
    for (const auto& [number, columnOid] : columns) {
        if (c.output.numeric) {
            header.push_back(std::to_string(number));
        } else {
            const OidName d = c.mib.Describe(columnOid);
            header.push_back(d.name.empty() || d.base != columnOid ? std::to_string(number) : d.name);
        }
    }
    std::vector<std::vector<std::string>> grid;
    std::vector<std::string> json;
    for (LONG r = 1; r <= rows; ++r) {
        ComPtr<ISnmpTableRow> row;
        Variant ri(r);
        if (FAILED(table->Item(ri, row.Put())) || !row) continue;
        BSTR first = nullptr;
        row->get_RowIndex(&first);
        const std::string firstOid = A(first);
        const size_t cut = firstOid.find('.', entry.size() + 1);
        const std::string index = cut == std::string::npos ? firstOid : firstOid.substr(cut + 1);
        std::vector<std::string> line{index};
        JsonObject obj;
        obj.Str("index", index);
        LONG n = 0;
        row->get_Count(&n);
        for (LONG k = 1; k <= n && k < static_cast<LONG>(header.size()); ++k) {
            ComPtr<ISnmpVariable> cell;
            Variant ci(k);
            if (FAILED(row->Item(ci, cell.Put())) || !cell) {
                line.push_back("");
                continue;
            }
            VariableExceptionConstants exception = snmpNoException;
            cell->get_Exception(&exception);
            std::string text = exception == snmpNoException ? cellPrinter.Value(cell.Get()) : "";
            if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
            line.push_back(text);
            if (exception == snmpNoException) obj.Raw(header[static_cast<size_t>(k)], c.printer->Json(cell.Get()));
        }
        grid.push_back(line);
        json.push_back(obj.Text());
    }
    if (c.output.json) {
        Out(JsonArray(json) + "\n");
        return kExitOk;
    }
    std::vector<size_t> width(header.size(), 0);
    for (size_t k = 0; k < header.size(); ++k) width[k] = header[k].size();
    for (const auto& line : grid)
        for (size_t k = 0; k < line.size() && k < width.size(); ++k) width[k] = std::max(width[k], line[k].size());
    auto emit = [&](const std::vector<std::string>& line) {
        std::string s;
        for (size_t k = 0; k < line.size(); ++k) {
            s += line[k];
            if (k + 1 < line.size()) s += std::string(width[k] - line[k].size() + 2, ' ');
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        Out(s + "\n");
    };
    if (!c.output.numeric && !c.output.noModule) {
        const OidName d = c.mib.Describe(given);
        if (!d.name.empty()) Out((d.module.empty() ? "" : d.module + "::") + d.name + d.suffix + "\n");
    }
    emit(header);
    for (const auto& line : grid) emit(line);
    return kExitOk;
}

}  // namespace vs
