// MIB image files: writing the variables and traps of an SnmpMib in the form that
// SnmpMib.Load reads back from a file whose name contains ".bin".
#pragma once

#include "velk/snmp.h"

// Writes the Variables and Traps of `mib` (an SnmpMib object of this library) to the file
// `fileName`, replacing it once the whole image is written. Returns S_OK; E_INVALIDARG for
// a null `mib` or an object that is not this library's SnmpMib; E_POINTER for a null
// `fileName`; otherwise a failing HRESULT with error information (source Velk.SnmpMib.1):
// ulFile (0x800A2B5E) when the file cannot be written or when the store holds something the
// format cannot carry (more than 16,777,215 variables or traps, a number outside
// -8,388,608..8,388,607, an Index or Oids entry that is empty or holds ","). Characters
// outside the ANSI code page (ISO-8859-1), and U+00A0, are stored as "?".
VELKAPI HRESULT VelkWriteMibImage(ISnmpMib* mib, LPCOLESTR fileName);
