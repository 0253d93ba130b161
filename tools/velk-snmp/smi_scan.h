// A light reader of MIB module text: it finds the modules a file defines, the modules they
// import, the names they define and the syntax of their textual conventions. The library
// compiles the modules; this reader only tells the tool which files to hand it and which
// module each name belongs to.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vs {

enum class DefKind {
    Object,        // OBJECT-TYPE
    Node,          // OBJECT IDENTIFIER, MODULE-IDENTITY, OBJECT-IDENTITY
    Notification,  // NOTIFICATION-TYPE, TRAP-TYPE
    Group,         // OBJECT-GROUP, NOTIFICATION-GROUP, MODULE-COMPLIANCE, AGENT-CAPABILITIES
};

// The syntax of a type: its base type name (INTEGER, OCTET STRING, a textual convention...)
// and the enumeration or named bits in braces, if any ("{up(1),down(2)}").
struct SmiSyntax {
    std::string base;
    std::string named;
    std::string units;  // the UNITS clause of an object, without quotes
};

struct SmiModule {
    std::string name;
    std::string file;
    std::vector<std::string> imports;  // module names, in order
    std::vector<std::pair<std::string, DefKind>> definitions;
    std::unordered_map<std::string, SmiSyntax> types;    // textual conventions and types
    std::unordered_map<std::string, SmiSyntax> objects;  // SYNTAX of each OBJECT-TYPE
    bool smiV2 = false;  // imports from SNMPv2-SMI
};

// The name of the first module defined in `text` (read only as far as its header), or "".
std::string FirstModuleName(std::string_view text);

// Every module defined in `text`.
std::vector<SmiModule> ScanModules(std::string_view text, const std::string& file);

// Every module defined in `text` with its name, file, imports and smiV2 only: the bodies
// are left unread (unless the file holds more than one module).
std::vector<SmiModule> ScanModuleHeaders(std::string_view text, const std::string& file);

// Whether `text` may define a trap with TRAP-TYPE: the word is followed by ENTERPRISE
// (comments and quoted text are not told apart, so the answer may be a false yes).
bool InvokesTrapType(std::string_view text);

}  // namespace vs
