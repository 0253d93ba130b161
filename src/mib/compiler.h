// The multi-file MIB compiler behind SnmpMib.Compile: a recognizer for SMIv1 and SMIv2
// module text, not a full ASN.1 parser. It reads each module's header and IMPORTS,
// records the assignments that yield OIDs, objects (OBJECT-TYPE), traps (TRAP-TYPE) and
// notifications (NOTIFICATION-TYPE) as pending definitions, and skips everything else.
// Names are resolved into OIDs only after every file of the call has been read, so a
// definition may refer to a name defined later in the same file, in another file of the
// call, or by an earlier call.
#pragma once

#include <string_view>

#include "mib/mib_store.h"
#include "velk/snmp.h"

namespace velk::mib {

// Compiles the files named by `fileNames` (positions 1..Count, in that order; null is an
// empty list) into `store`. The caller has set the busy flag and made sure "iso" is known.
//
// On success the new variables are appended to Variables in OID order, the new traps to
// Traps in the order they were read, the new module names to Modules, and the names
// resolved stay in the known-node list. Modules already in Modules (or read earlier in
// the call), compared exactly, are skipped, as is the rest of the file after them.
//
// On failure nothing is published: Variables, Traps and Modules are unchanged, and the
// nodes this call appended to the known-node list are removed again (type assignments
// recorded before the error stay). Errors, reported through ReportError with SnmpMib as
// source:
// - ulFile (11102), message 108 naming the file, for a file that cannot be read;
// - ulCompile (12013), message 109 with file name and line followed by 102 (unexpected
//   end of the text), 103 (a keyword or delimiter expected), 104 (an unknown identifier,
//   also a cycle among definitions, and "{" missing after VARIABLES or OBJECTS), 105
//   (unknown STATUS value), 106 (unknown ACCESS value) or 113 (an OID of more than 128
//   sub-identifiers);
// - ulError (11100), a report of "Duplicate Name: N in MIB: M\r\n" lines for names
//   defined twice by one module;
// - E_OUTOFMEMORY when memory runs out; a failure of a host's string collection is
//   passed on.
HRESULT CompileMibFiles(MibStore& store, IVelkStrings* fileNames);

// The syntax-prefix table: the VariableTypeConstants value for the first token of a
// SYNTAX value (a token matches a table name that it begins with; 0 when none does).
LONG SyntaxTypeOf(std::string_view firstToken);

}  // namespace velk::mib
