// The two readers behind SnmpMib.Load, each working on a MibStore (see mib/mib_store.h for
// what they may rely on and must respect).
#pragma once

#include "mib/mib_source.h"
#include "mib/mib_store.h"
#include "velk/oleauto.h"

namespace velk::mib {

// Reads the MIB image file `fileName` and appends its variables and traps to
// store.Variables() and store.Traps(). Called by Load for any name whose ANSI form holds
// ".bin", without the busy flag (neither tested nor set) and without touching Modules, the
// known-node list or the current file and module names.
// Returns S_OK, or a failing HRESULT with the error already reported through ReportError
// (SnmpMib as source): ulFile (11102) with message 108 for a file that cannot be read or
// is too short, or message 116 for an image whose header is not valid (nothing added);
// ulCompile (12013) through FormatCompileError for a truncated record (what was added
// before it stays; the message names `fileName`, not the store's current file name).
// It must not use store.Source() nor change the current file or module name: host code
// run by a source Load's message dispatch may call it while that load's text is there.
HRESULT LoadMibImage(MibStore& store, BSTR fileName);

// Reads the MIB source text that Load has just read into `source` (the store's own
// source, position and line reset) with the single-file loader, appending variables and
// traps to the store's collections and nodes to its known-node list as each definition
// ends, and setting the store's current module name from the DEFINITIONS line. Before
// each token of its main loop it calls store.DispatchPendingMessages(). Load has set the
// busy flag and the current file name and added "iso" when the list was empty; it adds
// the current module name to Modules after a success and clears the busy flag.
// Returns S_OK, or the failing HRESULT of the first error, reported through
// store.FormatCompileError (ulCompile, 12013); nothing added before it is rolled back.
HRESULT LoadSingleMibFile(MibStore& store, MibSource& source);

}  // namespace velk::mib
