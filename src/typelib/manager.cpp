// Tables of IManager and its event dispinterface _IManagerEvents.
#include "typelib/controls.h"
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr const char* kAgentVariableHelp =
    "Parameterized property used to Get/Set a single agent variable.";

constexpr MemberDef kManagerMembers[] = {
    VELK_TL_PROPERTY(IManager, AgentName, 1, "Remote name of an agent."),
    VELK_TL_PROPERTY(IManager, AgentPort, 2, "Remote port of an agent."),
    VELK_TL_OBJECT_PROPERTY(IManager, Message, 3, "Current message."),
    VELK_TL_PROPERTY(IManager, Timeout, 4, "Controls blocking use."),
    VELK_PROPGET(IManager, AgentVariable, 5, kAgentVariableHelp, "Oid,pVal"),
    VELK_PROPPUT(IManager, AgentVariable, 5, kAgentVariableHelp, "Oid,newVal"),
    VELK_TL_GET(IManager, Blocked, 20, "True while currently executing a method."),
    VELK_TL_GET(IManager, LocalAddress, 21, "Address the datagram socket is using."),
    VELK_TL_GET(IManager, LocalPort, 22, "Port number the datagram socket is using."),
    VELK_TL_GET(IManager, SendDatagramCount, 23,
                "Number of datagrams that are presently queued to the system buffers for sending."),
    VELK_METHOD(IManager, Close, 30, "Close the UDP socket and disable communications.", ""),
    VELK_METHOD(IManager, Open, 31, "Open the UDP socket and enable communications.", kOpenParams),
    VELK_METHOD(IManager, Send, 32, "Encode the Message and send it to an agent or manager.", ""),
    VELK_METHOD(IManager, About, 33, "Display control information in a dialog box.", ""),
    VELK_METHOD(IManager, Abort, 34,
                "Release all buffers, close the socket, and abort any blocking method.", ""),
    VELK_METHOD(IManager, Trace, 35, kTraceHelp, kTraceParams),
    VELK_TL_OBJECT_PROPERTY(IManager, Mib, 6, "SnmpMib Object containing the MIB."),
};

constexpr InterfaceDef kManager =
    DualTable("IManager", IID_IManager, "Manager Interface", kManagerMembers, &SnmpLibrary);

constexpr MemberDef kManagerEventMembers[] = {
    VELK_EVENT(Response, DISPID_ManagerEvents_Response,
               "Fires when a response is received from an agent.", ""),
    VELK_EVENT(Trap, DISPID_ManagerEvents_Trap, "Fires when a trap is received from an Agent.", ""),
    VELK_EVENT(Error, DISPID_ManagerEvents_Error, kErrorEventHelp, "Number,Description",
               ErrorConstants, BSTR),
    VELK_EVENT(Send, DISPID_ManagerEvents_Send, "method Send", ""),
};

constexpr InterfaceDef kManagerEvents = EventTable(
    "_IManagerEvents", DIID__IManagerEvents, "Manager Events", kManagerEventMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const IManager*) { return kManager; }
const InterfaceDef& ManagerEventsInterface() { return kManagerEvents; }
