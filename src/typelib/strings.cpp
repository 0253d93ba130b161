// Table of IVelkStrings: declared in the VelkSnmp library, implemented by the companion
// library's VelkStrings class.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr const char* kItemHelp = "The text at a 1-based position.";
constexpr const char* kDelimiterHelp =
    "Separator used by Add to split a text and by All to join the texts.";

constexpr MemberDef kStringsMembers[] = {
    VELK_PROPGET(IVelkStrings, Item, DISPID_VALUE, kItemHelp, "Index,pVal"),
    VELK_PROPPUT(IVelkStrings, Item, DISPID_VALUE, kItemHelp, "Index,newVal"),
    VELK_TL_PROPERTY(IVelkStrings, Delimiter, 2, kDelimiterHelp),
    VELK_TL_GET(IVelkStrings, Count, 1, "Number of texts in the collection."),
    VELK_TL_GET(IVelkStrings, All, 3, "All texts joined by the Delimiter."),
    VELK_TL_NEWENUM(IVelkStrings, nullptr),
    VELK_METHOD_R(IVelkStrings, Find, 4,
                  "Returns the first text that begins with the given text, or an empty text.",
                  "Text,pVal"),
    VELK_METHOD(IVelkStrings, Clear, 5, "Removes all texts from the collection.", ""),
    VELK_METHOD_R(IVelkStrings, Remove, 6, "Removes the text at a 1-based position and returns it.",
                  "Index,pVal"),
    VELK_METHOD(
        IVelkStrings, Add, 7,
        "Adds a text at a 1-based position (0 appends), split at the Delimiter when one is set.",
        "Text,Position=0"),
};

constexpr InterfaceDef kStrings = DualTable("IVelkStrings", IID_IVelkStrings,
                                            "VelkStrings Interface", kStringsMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const IVelkStrings*) { return kStrings; }
