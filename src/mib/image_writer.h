// The MIB image writer: stores the variables and traps of a MIB store in the file format
// that Load reads for a ".bin" name (mib/image_format.h). Not part of the automation
// interface; the command-line tool reaches it through VelkWriteMibImage (velk/mib_image.h).
#pragma once

#include <string_view>

#include "mib/mib_store.h"
#include "velk/oleauto.h"

namespace velk::mib {

// Writes every member of store.Variables() and store.Traps(), in insertion order, to the
// file `fileName` (replacing it only once the whole image is written). Texts are stored
// through the ANSI code page: a character that it cannot represent, and U+00A0 (whose
// stored form would end the field), is stored as "?". Host objects among the members are
// read through their interfaces; the store is not changed.
//
// Returns S_OK, or a failing HRESULT with the error reported through ReportError (SnmpMib
// as source), nothing written:
// - ulFile (11102), message 118 naming what cannot be stored: more than 16,777,215
//   variables or traps, a number (Access, Status, Type, SpecificTrap) outside
//   -8,388,608..8,388,607, or an Index or Oids entry that is empty or holds the list
//   separator ",";
// - ulFile (11102), message 117 naming the file, when it cannot be written;
// - the failure of a host object's getter, passed on; E_OUTOFMEMORY.
HRESULT WriteMibImage(MibStore& store, std::u16string_view fileName);

}  // namespace velk::mib
