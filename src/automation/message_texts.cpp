// Message texts of the companion library.
#include "automation/message_texts.h"

#include <atomic>
#include <cstring>

namespace velk::automation {
namespace {

std::atomic<bool> g_missing{false};

struct MessageText {
    UINT id;
    const char* text;
};

constexpr MessageText kTexts[] = {
    // Messages of the MIB compiler, loaders and store.
    {102, "Unexpected end of file. %s"},
    {103, "\"%s\" expected."},
    {104, "\"%s\" is an unknown identifier."},
    {105, "\"%s\" is an unknown status type."},
    {106, "\"%s\" is an unknown access type."},
    {107, "A MIB file is currently being loaded."},
    {108, "%s does not exist."},
    {109, "An error occured while compiling a mib:\r\n%s(%lu) - "},
    {112, "Unexpected end of file found."},
    {113, "\"%s\" has an OID of more than 128 sub-identifiers."},
    {116, "Illegal Serialized File."},
    {117, "%s cannot be written."},
    {118, "\"%s\" cannot be stored in a MIB image."},
    // Messages of the companion library.
    {124, "The server refused to perform the specified operation."},
    {125, "The server does not support the request type of query."},
    {126, "The name referred to in the query does not exist."},
    {127, "There was a failure on the server."},
    {128, "The server was unable to interpret the query."},
    {512, "User thread is blocking in another method."},
    {513, "The specified address is already in use."},
    {514, "The remote address is not a valid address."},
    {515, "The network subsystem has failed."},
    {516, "The network is unreachable."},
    {517, "The connection has been broken due to keep-alive activity detecting a failure."},
    {518, "The connection was aborted due to a time-out or other failure."},
    {519, "The connection was reset by the remote side."},
    {520, "No buffer space is available."},
    {521, "The socket is not connected."},
    {522, "A time-out occurred for the requested operation."},
    {523, "The connection was refused."},
    {524, "The network interface could not be initialized."},
    {525, "The host name could not be resolved (authoritative answer)."},
    {526, "The host name could not be resolved (non-authoritative answer); try again."},
    {527, "The name is valid but has no data record of the requested type."},
    {528, "An unexpected error occurred."},
    {529, "Parameter #1 is invalid."},
    {530, "Parameter #2 is invalid."},
    {531, "Parameter #3 is invalid."},
    {532, "A non-recoverable error occurred."},
    {533, "The blocking operation was cancelled."},
    {534, "An error occurred in the protocol."},
    {535, "An error occurred while performing a file operation."},
    {536, "The specified socket option is not supported."},
    {537, "An invalid user name or password was specified."},
    {540, "Velk Socket Component"},
    {541, "Parameter #4 is invalid."},
    {542, "There was an error in creating credentials."},
    {543, "The socket component could not be created."},
    {549, "Invalid property assignment."},
    {550, "A connection already exists."},
    {552, "The user does not have the proper permissions."},
    {553, "The host is unreachable."},
    {554, "The e-mail address specified was not valid."},
    {555, "Secure communications are not available on this machine."},
    {556, "The SOCKS5 server will not accept any of the requested methods."},
    {557, "The SOCKS5 server reported a general failure."},
    {558, "The SOCKS5 server reported that the connection was not allowed by the rule set."},
    {559, "The SOCKS5 server reported that the network was unreachable."},
    {560, "The SOCKS5 server reported that the host was unreachable."},
    {561, "The SOCKS5 server reported that the host connection was refused."},
    {562, "The SOCKS5 server reported that the TTL has expired."},
    {563, "The SOCKS5 server reported that the command is not supported."},
    {564, "The SOCKS5 server reported that the address type is not supported."},
    {565, "The SOCKS5 server rejected the connection because authorization failed."},
    {566, "The SOCKS4 server rejected the connection."},
    {567, "The SOCKS4 server could not reach identd on the client."},
    {568, "The SOCKS4 server found that the client and identd report different user ids."},
};

}  // namespace

BSTR LoadMessageText(UINT id) {
    if (g_missing.load(std::memory_order_relaxed)) return nullptr;
    for (const MessageText& m : kTexts) {
        if (m.id != id) continue;
        size_t n = std::strlen(m.text);
        BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
        if (b)
            for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(m.text[i]);
        return b;
    }
    return nullptr;
}

void SetMessageTextsMissingForTesting(bool missing) {
    g_missing.store(missing, std::memory_order_relaxed);
}

}  // namespace velk::automation
