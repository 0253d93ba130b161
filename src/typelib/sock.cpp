// Tables of the companion library's IUdpSocket with _IUdpEvents, and IVelkHostInfo.
#include "typelib/controls.h"
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kSocketMembers[] = {
    VELK_TL_PROPERTY(
        IUdpSocket, BlockingTimeout, 1,
        "Milliseconds that blocking operations may wait; 0 makes them return at once."),
    VELK_METHOD(IUdpSocket, OpenSocket, 2, "Binds the UDP socket to a local port and address.",
                "LocalPort=0,LocalAddress=\"\""),
    VELK_METHOD(IUdpSocket, CloseSocket, 3, "Closes the UDP socket.", ""),
    VELK_METHOD(IUdpSocket, AbortSocket, 4, "Ends a blocking receive.", ""),
    VELK_METHOD_R(IUdpSocket, SendDatagram, 5, "Sends data as one datagram to a host and port.",
                  "Data,Host,Port,Length=0,Flags=0,pVal"),
    VELK_METHOD_R(IUdpSocket, ReceiveDatagram, 6,
                  "Takes one datagram with the sender's address and port.",
                  "Data,Address,Port,pVal"),
    VELK_TL_GET(IUdpSocket, SocketLocalAddress, 7, "Local address of the socket."),
    VELK_TL_GET(IUdpSocket, SocketLocalPort, 8, "Local port of the socket."),
    VELK_TL_GET(IUdpSocket, QueuedDatagramCount, 9,
                "Number of datagrams queued to the system buffers for sending."),
    VELK_METHOD(IUdpSocket, TraceSocket, 10, kTraceHelp, kTraceParams),
};

constexpr InterfaceDef kSocket =
    DualTable("IUdpSocket", IID_IUdpSocket, "UdpSocket Interface", kSocketMembers, &SockLibrary);

constexpr MemberDef kUdpEventMembers[] = {
    VELK_EVENT(SocketError, DISPID_UdpEvents_SocketError, "Fires when a socket error occurs.",
               "Number,Description", LONG, BSTR),
    VELK_EVENT(DatagramArrived, DISPID_UdpEvents_DatagramArrived,
               "Fires when a datagram can be received.", ""),
    VELK_EVENT(SendNotification, DISPID_UdpEvents_SendNotification,
               "Fires when a datagram has been sent.", ""),
};

constexpr InterfaceDef kUdpEvents =
    EventTable("_IUdpEvents", DIID__IUdpEvents, "UdpSocket Events", kUdpEventMembers, &SockLibrary);

constexpr MemberDef kHostInfoMembers[] = {
    VELK_TL_GET(IVelkHostInfo, HostName, 1, "Name of the local host."),
    VELK_TL_GET(IVelkHostInfo, Addresses, 2, "Local IPv4 addresses in dotted decimal."),
};

constexpr InterfaceDef kHostInfo = DualTable("IVelkHostInfo", IID_IVelkHostInfo,
                                             "HostInfo Interface", kHostInfoMembers, &SockLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const IUdpSocket*) { return kSocket; }
const InterfaceDef& DescribeInterface(const IVelkHostInfo*) { return kHostInfo; }
const InterfaceDef& UdpEventsInterface() { return kUdpEvents; }
