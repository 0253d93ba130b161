// MIB image files: writing the variables and traps of an SnmpMib in the form that
// SnmpMib.Load reads back from a file whose name contains ".bin".
#pragma once

#include "velk/snmp.h"

// Writes every member of the Variables collection and then of the Traps collection of `mib`
// (an SnmpMib object of this library), in collection order, as an image to the file
// `fileName`. The image goes to a new file that replaces `fileName` only once all of it is
// written, so a failure leaves an earlier file as it was. Texts are stored in the ANSI code
// page (ISO-8859-1): other characters, and U+00A0, are stored as "?". `mib` is not changed.
//
// Returns:
// - S_OK;
// - E_INVALIDARG for a null `mib` or an object that is not this library's SnmpMib, E_POINTER
//   for a null `fileName`, without error information;
// - ulFile (0x800A2B5E) with error information (source Velk.SnmpMib.1): "\"%s\" cannot be
//   stored in a MIB image." naming what the format cannot carry (more than 16,777,215
//   variables or traps, a number outside -8,388,608..8,388,607, an Index or Oids entry that
//   is empty or holds ","), or "%s cannot be written." naming the file;
// - the failure of a getter of a host object among the members, passed on; E_OUTOFMEMORY.
VELKAPI HRESULT VelkWriteMibImage(ISnmpMib* mib, LPCOLESTR fileName);
