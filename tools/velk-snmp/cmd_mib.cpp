// compile, translate, mib-image and decode: the MIB tools and the message decoder.
#include <velk/mib_image.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "commands.h"

// The image writer may be missing from an older library; the command then says so.
extern "C++" HRESULT VelkWriteMibImage(ISnmpMib* mib, LPCOLESTR fileName) __attribute__((weak));

namespace vs {

namespace {

const char* AccessName(long a) {
    switch (a) {
        case snmpVariableNotAccessible: return "not-accessible";
        case snmpVariableReadOnly: return "read-only";
        case snmpVariableWriteOnly: return "write-only";
        case snmpVariableReadWrite: return "read-write";
        case snmpVariableReadCreate: return "read-create";
        case snmpVariableAccessibleForNotify: return "accessible-for-notify";
        default: return "-";
    }
}

const char* StatusName(long s) {
    switch (s) {
        case snmpMandatory: return "mandatory";
        case snmpObsolete: return "obsolete";
        case snmpOptional: return "optional";
        case snmpDeprecated: return "deprecated";
        case snmpCurrent: return "current";
        default: return "-";
    }
}

std::string Get(ISnmpVariable* v, HRESULT (ISnmpVariable::*getter)(BSTR*)) {
    BSTR s = nullptr;
    (v->*getter)(&s);
    return A(s);
}

void PrintColumns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> width;
    for (const auto& r : rows) {
        if (width.size() < r.size()) width.resize(r.size(), 0);
        for (size_t k = 0; k < r.size(); ++k) width[k] = std::max(width[k], r[k].size());
    }
    std::string out;
    for (const auto& r : rows) {
        std::string line;
        for (size_t k = 0; k < r.size(); ++k) {
            line += r[k];
            if (k + 1 < r.size()) line += std::string(width[k] - r[k].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    Out(out);
}

std::string OneLine(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

}  // namespace

int CmdCompile(const Args& args) {
    const MibOptions options = ParseMib(args);
    if (!options.image.empty()) Usage("compile reads MIB modules, not images");
    std::vector<std::string> names = args.positional;
    MibOptions load = options;
    if (names.empty()) {
        if (!options.modulesGiven) Usage("missing MODULE or FILE (see velk-snmp compile --help)");
        names = Split(options.modules, ':');
        load.modulesGiven = false;
        load.modules.clear();
    }
    MibSet& mib = KeptMibSet();
    const std::vector<std::string> named = mib.LoadNamed(load, names);
    const std::set<std::string> wanted(named.begin(), named.end());
    const bool all = args.Has("all");
    const OutputOptions output = ParseOutput(args);

    struct Row {
        std::string oid, module, name, kind, syntax, type, access, status;
    };
    std::vector<Row> rows;
    ComPtr<ISnmpVariables> vars;
    mib.Mib()->get_Variables(vars.Put());
    for (const ComPtr<ISnmpVariable>& v : Members<ISnmpVariable>(vars.Get())) {
        Row r;
        r.name = Get(v.Get(), &ISnmpVariable::get_Name);
        r.module = mib.ModuleOf(r.name);
        if (!all && !wanted.count(r.module)) continue;
        r.oid = Get(v.Get(), &ISnmpVariable::get_Oid);
        r.kind = "object";
        r.syntax = OneLine(Get(v.Get(), &ISnmpVariable::get_Syntax));
        const int type = mib.ObjectType(v.Get());
        r.type = type < 0 ? "-" : TypeName(type);
        AccessConstants access = snmpVariableAccessNotUsed;
        StatusConstants status = snmpMandatory;
        v->get_Access(&access);
        v->get_Status(&status);
        r.access = AccessName(access);
        r.status = StatusName(status);
        rows.push_back(std::move(r));
    }
    ComPtr<ISnmpTraps> traps;
    mib.Mib()->get_Traps(traps.Put());
    std::vector<Row> notes;
    for (const ComPtr<ISnmpTrap>& t : Members<ISnmpTrap>(traps.Get())) {
        Row r;
        BSTR name = nullptr, enterprise = nullptr;
        t->get_Name(&name);
        t->get_Enterprise(&enterprise);
        LONG specific = 0;
        t->get_SpecificTrap(&specific);
        StatusConstants status = snmpMandatory;
        t->get_Status(&status);
        r.name = A(name);
        const std::string ent = A(enterprise);
        r.module = mib.ModuleOf(r.name);
        if (!all && !wanted.count(r.module)) continue;
        r.oid = specific < 0 ? ent : ent + ".0." + std::to_string(specific);
        r.kind = specific < 0 ? "notification" : "trap";
        r.syntax = specific < 0 ? "NOTIFICATION-TYPE" : "TRAP-TYPE";
        r.type = r.kind;
        r.access = "-";
        r.status = StatusName(status);
        notes.push_back(std::move(r));
    }
    auto byOid = [](const Row& a, const Row& b) {
        const int c = CompareOid(a.oid, b.oid);
        return c != 0 ? c < 0 : a.module < b.module;
    };
    std::stable_sort(rows.begin(), rows.end(), byOid);
    std::stable_sort(notes.begin(), notes.end(), byOid);
    if (output.json) {
        std::vector<std::string> items;
        for (const auto* list : {&rows, &notes})
            for (const Row& r : *list) {
                JsonObject j;
                j.Str("module", r.module).Str("name", r.name).Str("oid", r.oid).Str("kind", r.kind);
                j.Str("syntax", r.syntax).Str("type", r.type).Str("access", r.access).Str("status", r.status);
                items.push_back(j.Text());
            }
        Out(JsonArray(items) + "\n");
        return kExitOk;
    }
    // The syntax last: enumerations make it long.
    std::vector<std::vector<std::string>> table{{"NAME", "OID", "TYPE", "ACCESS", "STATUS", "SYNTAX"}};
    for (const auto* list : {&rows, &notes})
        for (const Row& r : *list)
            table.push_back({(output.noModule || r.module.empty() ? "" : r.module + "::") + r.name,
                             output.numeric ? "." + r.oid : r.oid, r.type, r.access, r.status, r.syntax});
    PrintColumns(table);
    std::string modules;
    for (const std::string& n : named) modules += (modules.empty() ? "" : ", ") + n;
    std::fprintf(stderr, "%s: %zu objects, %zu notifications\n", modules.c_str(), rows.size(), notes.size());
    return kExitOk;
}

int CmdTranslate(const Args& args) {
    if (args.positional.empty()) Usage("missing NAME or OID (see velk-snmp translate --help)");
    const OutputOptions output = ParseOutput(args);
    MibSet& mib = KeptMibSet();
    mib.Load(ParseMib(args));
    const bool details = args.Has("details");
    std::vector<std::string> json;
    std::string text;
    for (const std::string& input : args.positional) {
        const std::string oid = mib.Resolve(input);
        const bool fromName = !(input[0] == '.' || (input[0] >= '0' && input[0] <= '9'));
        if (!output.json && !details && (output.numeric || fromName)) {
            // A name to its OID: no lookups beyond the one that resolved it.
            text += "." + oid + "\n";
            continue;
        }
        const std::string name = mib.Format(oid, !output.noModule);
        const std::string result = output.numeric || fromName ? "." + oid : name;
        if (output.json) {
            JsonObject j;
            j.Str("input", input).Str("oid", oid);
            if (name[0] != '.') j.Str("name", name);
            if (details) {
                std::string objectOid;
                if (ComPtr<ISnmpVariable> def = mib.DefinitionOf(oid, &objectOid); def && objectOid == oid) {
                    AccessConstants access = snmpVariableAccessNotUsed;
                    StatusConstants status = snmpMandatory;
                    def->get_Access(&access);
                    def->get_Status(&status);
                    j.Str("syntax", OneLine(Get(def.Get(), &ISnmpVariable::get_Syntax)));
                    j.Str("access", AccessName(access)).Str("status", StatusName(status));
                    j.Str("description", OneLine(Get(def.Get(), &ISnmpVariable::get_Description)));
                }
            }
            json.push_back(j.Text());
            continue;
        }
        if (!details) {
            text += result + "\n";
            continue;
        }
        text += (name[0] == '.' ? oid : name) + "\n";
        text += "  oid          ." + oid + "\n";
        std::string objectOid;
        ComPtr<ISnmpVariable> def = mib.DefinitionOf(oid, &objectOid);
        if (def && objectOid == oid) {
            AccessConstants access = snmpVariableAccessNotUsed;
            StatusConstants status = snmpMandatory;
            def->get_Access(&access);
            def->get_Status(&status);
            const int type = mib.ObjectType(def.Get());
            text += "  syntax       " + OneLine(Get(def.Get(), &ISnmpVariable::get_Syntax)) + "\n";
            if (type >= 0) text += "  type         " + TypeName(type) + "\n";
            if (const std::string units = mib.Units(def.Get()); !units.empty()) text += "  units        " + units + "\n";
            text += std::string("  access       ") + AccessName(access) + "\n";
            text += std::string("  status       ") + StatusName(status) + "\n";
            ComPtr<IVelkStrings> index;
            def->get_Index(index.Put());
            std::string indexText;
            for (const std::string& i : Texts(index.Get())) indexText += (indexText.empty() ? "" : ", ") + i;
            if (!indexText.empty()) text += "  index        " + indexText + "\n";
            const std::string description = OneLine(Get(def.Get(), &ISnmpVariable::get_Description));
            if (!description.empty()) text += "  description  " + description + "\n";
        } else if (const MibSet::Notification* n = mib.NotificationByOid(oid)) {
            text += "  notification\n";
            for (const std::string& o : n->objects) text += "  object       " + mib.Format(o, !output.noModule) + "\n";
        }
    }
    Out(output.json ? JsonArray(json) + "\n" : text);
    return kExitOk;
}

int CmdMibImage(const Args& args) {
    if (args.positional.size() != 1) Usage("mib-image takes one FILE (see velk-snmp mib-image --help)");
    const std::string file = args.positional[0];
    if (file.find(".bin") == std::string::npos)
        Usage("the image file name must contain \".bin\" (that is how a MIB store knows an image): " + file);
    MibOptions options = ParseMib(args);
    if (!options.image.empty()) Usage("mib-image writes an image; --image reads one");
    if (!VelkWriteMibImage) Fail("mib-image is not available: this build of the library has no MIB image writer");
    options.oneCall = true;
    MibSet& mib = KeptMibSet();
    mib.Load(options);
    if (mib.Empty()) Fail("no MIB modules were loaded (see -M and -m)");
    const HRESULT hr = VelkWriteMibImage(mib.Mib(), B(file).Get());
    Check(hr, "cannot write " + file);
    // Beside the image: every named node with its module, which an image does not hold.
    std::string names;
    for (const auto& [oid, name, module] : mib.NamedNodes()) names += oid + " " + name + " " + module + "\n";
    ComPtr<ISnmpTraps> traps;
    mib.Mib()->get_Traps(traps.Put());
    for (const ComPtr<ISnmpTrap>& t : Members<ISnmpTrap>(traps.Get())) {
        BSTR enterprise = nullptr, name = nullptr;
        LONG specific = 0;
        t->get_Enterprise(&enterprise);
        t->get_Name(&name);
        t->get_SpecificTrap(&specific);
        const std::string n = A(name), ent = A(enterprise);
        if (n.empty() || !IsNumericOid(ent)) continue;
        std::string line = (specific < 0 ? ent : ent + ".0." + std::to_string(specific)) + " " + n + " " +
                           (mib.ModuleOf(n).empty() ? "-" : mib.ModuleOf(n)) + " notification";
        ComPtr<IVelkStrings> oids;
        t->get_Oids(oids.Put());
        for (const std::string& o : Texts(oids.Get())) line += " " + o;
        names += line + "\n";
    }
    const std::string sidecar = MibSet::SidecarPath(file);
    FILE* f = std::fopen(sidecar.c_str(), "wb");
    if (!f || std::fwrite(names.data(), 1, names.size(), f) != names.size()) {
        if (f) std::fclose(f);
        Fail("cannot write " + sidecar);
    }
    std::fclose(f);
    return kExitOk;
}

namespace {

std::string HexToBytes(const std::string& text, bool* ok) {
    std::string digits;
    *ok = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':' || c == ',') continue;
        if ((c == 'x' || c == 'X') && !digits.empty() && digits.back() == '0' && digits.size() % 2 == 1) {
            digits.pop_back();
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            *ok = false;
            return {};
        }
        digits += c;
    }
    if (digits.size() % 2) {
        *ok = false;
        return {};
    }
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

const char* PduName(long type) {
    switch (type) {
        case snmpGet1: case snmpGet2: return "GetRequest";
        case snmpGetNext1: case snmpGetNext2: return "GetNextRequest";
        case snmpResponse1: case snmpResponse2: return "Response";
        case snmpSet1: case snmpSet2: return "SetRequest";
        case snmpTrap1: return "Trap";
        case snmpGetBulk2: return "GetBulkRequest";
        case snmpInform2: return "InformRequest";
        case snmpTrap2: return "SNMPv2-Trap";
        default: return "unknown PDU";
    }
}

}  // namespace

int CmdDecode(const Args& args) {
    std::string bytes;
    if (args.Has("file")) {
        if (!args.positional.empty()) Usage("give the message either as HEX or with -f FILE, not both");
        std::string content;
        const std::string path = args.Get("file");
        if (path == "-") {
            char buffer[65536];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0 && content.size() < (16u << 20))
                content.append(buffer, n);
        } else if (!ReadFile(path, &content, 16u << 20)) {
            Usage("cannot read " + path);
        }
        // A file holds either the message's bytes or their hex text.
        bool ok = false;
        bytes = HexToBytes(content, &ok);
        if (!ok || bytes.empty()) bytes = content;
    } else {
        if (args.positional.empty()) Usage("missing HEX or -f FILE (see velk-snmp decode --help)");
        std::string text;
        for (const std::string& p : args.positional) text += p + " ";
        bool ok = false;
        bytes = HexToBytes(text, &ok);
        if (!ok) Usage("invalid hex text (hex digits, optionally separated by blanks or colons)");
    }
    if (bytes.empty()) Usage("the message is empty");
    const OutputOptions output = ParseOutput(args);
    MibSet& mib = KeptMibSet();
    mib.Load(ParseMib(args));
    Printer printer(mib, output);

    ComPtr<ISnmpMessage> m = Create<ISnmpMessage>(CLSID_SnmpMessage);
    Variant data;
    data.vt = VT_ARRAY | VT_UI1;
    data.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* p = nullptr;
    if (!data.parray || FAILED(SafeArrayAccessData(data.parray, &p))) Fail("out of memory");
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(p));
    SafeArrayUnaccessData(data.parray);
    const HRESULT hr = m->Decode(data);
    if (FAILED(hr)) Fail("not a valid SNMP v1/v2c message (" + std::to_string(bytes.size()) + " bytes): " + ErrorText(hr));

    TypeConstants type = snmpGet1;
    m->get_Type(&type);
    BSTR communityText = nullptr;
    m->get_Community(&communityText);
    const std::string community = A(communityText);
    LONG id = 0, index = 0, maxRep = 0;
    ExceptionConstants status = snmpOk;
    m->get_Id(&id);
    m->get_ExceptionIndex(&index);
    m->get_Exception(&status);
    m->get_MaxRepetition(&maxRep);
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    const auto vars = Members<ISnmpVariable>(list.Get());
    const bool v1 = (type & snmp1) != 0;
    long nonRepeaters = 0;
    for (const auto& v : vars) {
        VARIANT_BOOL repeat = VARIANT_FALSE;
        v->get_Repeat(&repeat);
        if (!repeat) ++nonRepeaters;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    fields.emplace_back("length", std::to_string(bytes.size()) + " bytes");
    fields.emplace_back("version", v1 ? "1" : "2c");
    fields.emplace_back("community", "\"" + community + "\"");
    fields.emplace_back("pdu", std::string(PduName(type)) + " (type " + std::to_string(type) + ")");
    JsonObject j;
    j.Int("length", static_cast<long long>(bytes.size())).Str("version", v1 ? "1" : "2c");
    j.Str("community", community).Str("pdu", PduName(type));
    if (type == snmpTrap1) {
        BSTR enterprise = nullptr, agentAddressText = nullptr;
        TrapConstants generic = snmpColdStart;
        LONG specific = 0, uptime = 0;
        m->get_Enterprise(&enterprise);
        m->get_AgentAddress(&agentAddressText);
        m->get_GenericTrap(&generic);
        m->get_SpecificTrap(&specific);
        m->get_UpTime(&uptime);
        const std::string agentAddress = A(agentAddressText);
        static const char* const kGeneric[] = {"coldStart", "warmStart", "linkDown", "linkUp",
                                               "authenticationFailure", "egpNeighborLoss", "enterpriseSpecific"};
        const std::string ent = A(enterprise);
        fields.emplace_back("enterprise", IsNumericOid(ent) ? printer.Name(ent) : ent);
        fields.emplace_back("agent-address", agentAddress);
        fields.emplace_back("generic-trap", std::string(generic >= 0 && generic < 7 ? kGeneric[generic] : "?") + " (" +
                                                std::to_string(generic) + ")");
        fields.emplace_back("specific-trap", std::to_string(specific));
        fields.emplace_back("time-stamp", TimeTicksText(static_cast<uint32_t>(uptime)));
        j.Str("enterprise", ent).Str("agentAddress", agentAddress).Int("genericTrap", generic);
        j.Int("specificTrap", specific).Num("timeStamp", std::to_string(static_cast<uint32_t>(uptime)));
    } else {
        fields.emplace_back("request-id", std::to_string(id));
        j.Int("requestId", id);
        if (type == snmpGetBulk2) {
            fields.emplace_back("non-repeaters", std::to_string(nonRepeaters));
            fields.emplace_back("max-repetitions", std::to_string(maxRep));
            j.Int("nonRepeaters", nonRepeaters).Int("maxRepetitions", maxRep);
        } else {
            fields.emplace_back("error-status", ErrorStatusName(status) + " (" + std::to_string(status) + ")");
            fields.emplace_back("error-index", std::to_string(index));
            j.Str("errorStatus", ErrorStatusName(status)).Int("errorIndex", index);
        }
    }
    fields.emplace_back("variables", std::to_string(vars.size()));
    if (output.json) {
        std::string arr = "[";
        for (size_t i = 0; i < vars.size(); ++i) arr += (i ? ", " : "") + printer.Json(vars[i].Get());
        j.Raw("variables", arr + "]");
        Out(j.Text() + "\n");
        return kExitOk;
    }
    std::string text;
    for (const auto& [key, value] : fields) text += key + std::string(16 - std::min<size_t>(15, key.size()), ' ') + value + "\n";
    for (const auto& v : vars) text += "  " + printer.Line(v.Get()) + "\n";
    Out(text);
    return kExitOk;
}

}  // namespace vs
