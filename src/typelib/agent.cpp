// Tables of IAgent and its event dispinterface _IAgentEvents.
#include "typelib/controls.h"
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kAgentMembers[] = {
    VELK_TL_PROPERTY(IAgent, Auto, 1,
                     "Enables automatic processing of Get/Set requests received from managers."),
    VELK_TL_PROPERTY(IAgent, Community, 2, "Community of the agent."),
    VELK_TL_OBJECT_PROPERTY(IAgent, Message, 3, "Current message."),
    VELK_TL_OBJECT_PROPERTY(IAgent, Mib, 4, "SnmpMib Object containing the MIB."),
    VELK_TL_PROPERTY(IAgent, ManagerName, 5, "Name or address of the manager in use."),
    VELK_TL_PROPERTY(IAgent, ManagerPort, 6, "Port of the manager in use."),
    VELK_TL_OBJECT_PROPERTY(IAgent, TrapManagers, 7,
                            "Collection of remote managers for sending trap messages."),
    VELK_TL_GET(IAgent, LocalAddress, 20, "Address of the UDP socket in use."),
    VELK_TL_GET(IAgent, LocalPort, 21, "Port number of the UDP socket in use."),
    VELK_TL_GET(IAgent, SendDatagramCount, 22,
                "Number of datagrams that are presently queued to the system buffers for sending."),
    VELK_METHOD(IAgent, Close, 40, "Close the UDP socket and disable communications.", ""),
    VELK_METHOD(IAgent, Open, 41, "Open the UDP socket and enable communications.", kOpenParams),
    VELK_METHOD(IAgent, Send, 42, "Encode the Message and send it to a manager.", ""),
    VELK_METHOD(IAgent, About, 43, "Display control information in a dialog box.", ""),
    VELK_METHOD(IAgent, Trace, 44, kTraceHelp, kTraceParams),
    VELK_TL_GET(IAgent, AgentUptime, 45, "Time the agent has been up in hundredths of seconds."),
};

constexpr InterfaceDef kAgent =
    DualTable("IAgent", IID_IAgent, "Agent Interface", kAgentMembers, &SnmpLibrary);

constexpr MemberDef kAgentEventMembers[] = {
    VELK_EVENT(Response, DISPID_AgentEvents_Response, "Fires before a response or trap is sent.",
               ""),
    VELK_EVENT(Request, DISPID_AgentEvents_Request, "Fires when a request is received.", ""),
    VELK_EVENT(Error, DISPID_AgentEvents_Error, kErrorEventHelp, "Number,Description",
               ErrorConstants, BSTR),
};

constexpr InterfaceDef kAgentEvents = EventTable("_IAgentEvents", DIID__IAgentEvents,
                                                 "Agent Events", kAgentEventMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const IAgent*) { return kAgent; }
const InterfaceDef& AgentEventsInterface() { return kAgentEvents; }
