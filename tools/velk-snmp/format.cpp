#include "format.h"

#include <cstdio>

namespace vs {

namespace {

const char* const kInvalidEnum = "Invalid Enumeration Value";

std::string ExceptionText(int exception) {
    switch (exception) {
        case snmpNoSuchObject: return "No Such Object available on this agent at this OID";
        case snmpNoSuchInstance: return "No Such Instance currently exists at this OID";
        case snmpEndOfMibView: return "No more variables left in this MIB View (It is past the end of the MIB tree)";
        default: return "exception " + std::to_string(exception);
    }
}

std::string ExceptionName(int exception) {
    switch (exception) {
        case snmpNoSuchObject: return "noSuchObject";
        case snmpNoSuchInstance: return "noSuchInstance";
        case snmpEndOfMibView: return "endOfMibView";
        default: return std::to_string(exception);
    }
}

std::string Label(int type) {
    switch (type) {
        case snmpNull: return "NULL";
        case snmpInteger: return "INTEGER";
        case snmpOctetString: return "STRING";
        case snmpObjectID: return "OID";
        case snmpIpAddress: return "IpAddress";
        case snmpCounter32: return "Counter32";
        case snmpGuage32: return "Gauge32";
        case snmpTimeTicks: return "Timeticks";
        case snmpOpaque: return "Opaque";
        case snmpNSAPAddress: return "NsapAddress";
        case snmpUInteger32: return "UInteger32";
        case snmpCounter64: return "Counter64";
        default: return "type" + std::to_string(type);
    }
}

bool IsAddressSyntax(const std::string& syntax) {
    return syntax == "PhysAddress" || syntax == "MacAddress";
}

}  // namespace

std::string TypeName(int type) {
    switch (type) {
        case snmpNull: return "NULL";
        case snmpInteger: return "INTEGER";
        case snmpOctetString: return "OCTET STRING";
        case snmpObjectID: return "OBJECT IDENTIFIER";
        case snmpIpAddress: return "IpAddress";
        case snmpCounter32: return "Counter32";
        case snmpGuage32: return "Gauge32";
        case snmpTimeTicks: return "TimeTicks";
        case snmpOpaque: return "Opaque";
        case snmpNSAPAddress: return "NsapAddress";
        case snmpUInteger32: return "UInteger32";
        case snmpCounter64: return "Counter64";
        default: return "type " + std::to_string(type);
    }
}

std::string ErrorStatusName(long status) {
    static const char* const kNames[] = {
        "noError",   "tooBig",     "noSuchName", "badValue",          "readOnly",
        "genErr",    "noAccess",   "wrongType",  "wrongLength",       "wrongEncoding",
        "wrongValue", "noCreation", "inconsistentValue", "resourceUnavailable", "commitFailed",
        "undoFailed", "authorizationError", "notWritable", "inconsistentName"};
    if (status >= 0 && status < static_cast<long>(sizeof kNames / sizeof kNames[0])) return kNames[status];
    return "error status " + std::to_string(status);
}

bool IsPrintable(const std::string& b) {
    size_t i = 0;
    size_t n = b.size();
    while (n > 0 && b[n - 1] == '\0') --n;  // C strings with their terminator
    if (n == 0) return b.empty();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(b[i]);
        if (c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F)) {
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence.
        const int extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= n) return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(b[i + k]) & 0xC0) != 0x80) return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

std::string HexBytes(const std::string& bytes, char separator, bool upper) {
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i && separator) out += separator;
        std::snprintf(buffer, sizeof buffer, upper ? "%02X" : "%02x", static_cast<unsigned char>(bytes[i]));
        out += buffer;
    }
    return out;
}

std::string TimeTicksText(uint32_t ticks) {
    const uint32_t days = ticks / 8640000;
    uint32_t rest = ticks % 8640000;
    const uint32_t hours = rest / 360000;
    rest %= 360000;
    const uint32_t minutes = rest / 6000;
    rest %= 6000;
    char buffer[96];
    if (days)
        std::snprintf(buffer, sizeof buffer, "(%u) %u day%s, %u:%02u:%02u.%02u", ticks, days, days == 1 ? "" : "s",
                      hours, minutes, rest / 100, rest % 100);
    else
        std::snprintf(buffer, sizeof buffer, "(%u) %u:%02u:%02u.%02u", ticks, hours, minutes, rest / 100, rest % 100);
    return buffer;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& items) {
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i) out += "  " + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
    return out + "]";
}

void JsonObject::Key(const std::string& key) {
    if (!body_.empty()) body_ += ", ";
    body_ += JsonString(key) + ": ";
}
JsonObject& JsonObject::Str(const std::string& key, const std::string& value) {
    Key(key);
    body_ += JsonString(value);
    return *this;
}
JsonObject& JsonObject::Num(const std::string& key, const std::string& digits) {
    Key(key);
    body_ += digits.empty() ? "0" : digits;
    return *this;
}
JsonObject& JsonObject::Int(const std::string& key, long long value) { return Num(key, std::to_string(value)); }
JsonObject& JsonObject::Bool(const std::string& key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}
JsonObject& JsonObject::Null(const std::string& key) {
    Key(key);
    body_ += "null";
    return *this;
}
JsonObject& JsonObject::Raw(const std::string& key, const std::string& json) {
    Key(key);
    body_ += json;
    return *this;
}

std::string Printer::Name(const std::string& oid) const {
    if (options_.numeric) return "." + oid;
    return mib_.Format(oid, !options_.noModule);
}

Printer::Rendered Printer::Render(ISnmpVariable* v, const std::string& oid) const {
    Rendered r;
    VariableExceptionConstants exception = snmpNoException;
    v->get_Exception(&exception);
    if (exception != snmpNoException) {
        r.text = ExceptionText(exception);
        return r;
    }
    VariableTypeConstants type = snmpNull;
    v->get_Type(&type);
    r.label = Label(type);
    BSTR value = nullptr;
    switch (type) {
        case snmpNull: r.label.clear(); r.text = "NULL"; return r;
        case snmpOctetString: {
            const std::string bytes = ValueBytes(v);
            std::string syntax;
            if (!bytes.empty()) syntax = mib_.InfoOf(oid).syntaxName;
            if (IsAddressSyntax(syntax)) {
                r.text = HexBytes(bytes, ':', false);
            } else if (IsPrintable(bytes)) {
                std::string text = bytes;
                while (!text.empty() && text.back() == '\0') text.pop_back();
                r.text = "\"" + text + "\"";
            } else {
                r.label = "Hex-STRING";
                r.text = HexBytes(bytes);
            }
            return r;
        }
        case snmpOpaque:
        case snmpNSAPAddress: r.text = HexBytes(ValueBytes(v)); return r;
        default: break;
    }
    v->get_Value(&value);
    r.text = A(value);
    if (type == snmpInteger && !options_.numericEnums) {
        const std::string& syntax = mib_.InfoOf(oid).enumSyntax;
        if (!syntax.empty()) {
            // The library's ValueName reads the labels from BaseSyntax.
            BSTR saved = nullptr;
            v->get_BaseSyntax(&saved);
            Bstr keep = Bstr::Adopt(saved);
            v->put_BaseSyntax(B(syntax).Get());
            BSTR label = nullptr;
            if (SUCCEEDED(v->get_ValueName(&label))) {
                const std::string l = A(label);
                if (!l.empty() && l != kInvalidEnum) r.text = Trim(l) + "(" + r.text + ")";
            }
            v->put_BaseSyntax(keep.Get());
        }
    }
    const bool number = type == snmpInteger || type == snmpCounter32 || type == snmpGuage32 ||
                        type == snmpUInteger32 || type == snmpCounter64;
    if (number && r.text.find('(') == std::string::npos) {
        const std::string& units = mib_.InfoOf(oid).units;
        if (!units.empty()) r.text += " " + units;
    }
    if (type == snmpTimeTicks) {
        uint64_t ticks = 0;
        ParseUnsigned64(r.text, &ticks);
        r.text = TimeTicksText(static_cast<uint32_t>(ticks));
    } else if (type == snmpObjectID && IsNumericOid(r.text)) {
        r.text = Name(r.text);
    }
    return r;
}

std::string Printer::Value(ISnmpVariable* v) const {
    BSTR o = nullptr;
    v->get_Oid(&o);
    const Rendered r = Render(v, A(o));
    if (r.label.empty() || options_.quick) return r.text;
    return r.label + ": " + r.text;
}

std::string Printer::Line(ISnmpVariable* v) const {
    BSTR o = nullptr;
    v->get_Oid(&o);
    const std::string oid = A(o);
    const Rendered r = Render(v, oid);
    std::string value = r.label.empty() || options_.quick ? r.text : r.label + ": " + r.text;
    if (options_.valueOnly) return value;
    return Name(oid) + (options_.quick ? " " : " = ") + value;
}

std::string Printer::Json(ISnmpVariable* v) const {
    BSTR o = nullptr;
    v->get_Oid(&o);
    const std::string oid = A(o);
    JsonObject j;
    j.Str("oid", oid);
    if (!options_.numeric) {
        const std::string name = mib_.Format(oid, !options_.noModule);
        if (name[0] != '.') j.Str("name", name);
    }
    VariableExceptionConstants exception = snmpNoException;
    v->get_Exception(&exception);
    if (exception != snmpNoException) {
        j.Str("exception", ExceptionName(exception)).Null("value");
        return j.Text();
    }
    VariableTypeConstants type = snmpNull;
    v->get_Type(&type);
    j.Str("type", TypeName(type));
    BSTR value = nullptr;
    switch (type) {
        case snmpNull: j.Null("value"); break;
        case snmpOctetString:
        case snmpOpaque:
        case snmpNSAPAddress: {
            std::string bytes = ValueBytes(v);
            if (type == snmpOctetString && IsPrintable(bytes)) {
                while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
                j.Str("value", bytes);
            } else {
                j.Str("hex", HexBytes(bytes, 0, false));
            }
            break;
        }
        case snmpInteger:
        case snmpCounter32:
        case snmpGuage32:
        case snmpTimeTicks:
        case snmpUInteger32:
        case snmpCounter64: {
            v->get_Value(&value);
            std::string digits = A(value);
            if (digits.empty()) digits.push_back('0');
            j.Num("value", digits);
            const Rendered r = Render(v, oid);
            if (type == snmpInteger && r.text.find('(') != std::string::npos)
                j.Str("label", r.text.substr(0, r.text.find('(')));
            if (type == snmpTimeTicks) j.Str("text", r.text.substr(r.text.find(')') + 2));
            break;
        }
        case snmpObjectID: {
            v->get_Value(&value);
            const std::string target = A(value);
            j.Str("value", target);
            if (!options_.numeric && IsNumericOid(target)) {
                const std::string name = mib_.Format(target, !options_.noModule);
                if (name[0] != '.') j.Str("valueName", name);
            }
            break;
        }
        default:
            v->get_Value(&value);
            j.Str("value", A(value));
    }
    return j.Text();
}

}  // namespace vs
