// Output of variables: "SNMPv2-MIB::sysDescr.0 = STRING: text" lines with values rendered by
// type (strings printable or hex, TimeTicks with days and hours, enumerations with their
// labels), numeric OIDs with -On, and JSON objects for scripts.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "common.h"
#include "mibs.h"

namespace vs {

// A JSON text builder for one object at a time.
class JsonObject {
public:
    JsonObject& Str(const std::string& key, const std::string& value);
    JsonObject& Num(const std::string& key, const std::string& digits);  // digits unquoted
    JsonObject& Int(const std::string& key, long long value);
    JsonObject& Bool(const std::string& key, bool value);
    JsonObject& Null(const std::string& key);
    JsonObject& Raw(const std::string& key, const std::string& json);
    std::string Text() const { return "{" + body_ + "}"; }

private:
    void Key(const std::string& key);
    std::string body_;
};
std::string JsonString(const std::string& s);
std::string JsonArray(const std::vector<std::string>& items);

// Printable text (ASCII and UTF-8, with tabs and line breaks): a string worth showing as text.
bool IsPrintable(const std::string& bytes);
// "00 1A 2B" (net-snmp's Hex-STRING form) or with another separator.
std::string HexBytes(const std::string& bytes, char separator = ' ', bool upper = true);
// "(12345) 0:02:03.45", "(8640000) 1 day, 0:00:00.00".
std::string TimeTicksText(uint32_t ticks);
// SNMP names of the error statuses (noError, tooBig, noSuchName...).
std::string ErrorStatusName(long status);
// Type names: SMI ("OCTET STRING") and output labels ("STRING").
std::string TypeName(int type);

class Printer {
public:
    Printer(const MibSet& mib, OutputOptions options) : mib_(mib), options_(options) {}

    // One line for a variable (without the line break).
    std::string Line(ISnmpVariable* v) const;
    // The variable as a JSON object.
    std::string Json(ISnmpVariable* v) const;
    // The name of an OID as the output options want it.
    std::string Name(const std::string& oid) const;
    // Only the value ("STRING: text"), as the output options want it.
    std::string Value(ISnmpVariable* v) const;

    const OutputOptions& Options() const { return options_; }
    const MibSet& Mib() const { return mib_; }

private:
    struct Rendered {
        std::string label;  // "STRING", "INTEGER"... (empty for exceptions)
        std::string text;
    };
    Rendered Render(ISnmpVariable* v, const std::string& oid) const;

    const MibSet& mib_;
    OutputOptions options_;
};

}  // namespace vs
