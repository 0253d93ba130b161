// Temporary stand-ins for the image reader and the single-file loader, so that the store
// links before they exist. Both fail with ulFile (11102). Delete this file when the real
// readers (mib/image_reader.cpp, mib/single_file_loader.cpp) are added.
#include "mib/loaders.h"

#include "mib/mib_errors.h"
#include "velk/snmp.h"

namespace velk::mib {

HRESULT LoadMibImage(MibStore&, BSTR) {
    return ReportMibError(ulFile, u"MIB image files cannot be read yet.");
}

HRESULT LoadSingleMibFile(MibStore&, MibSource&) {
    return ReportMibError(ulFile, u"MIB source files cannot be loaded yet.");
}

}  // namespace velk::mib
