// UdpSocketComponent over a non-blocking socket watched by the thread's message loop.
//
// Readiness: the loop's watch is one-shot. When it fires, one datagram is fetched into the
// held queue (that read also tells a datagram from an ICMP error report) and
// DatagramArrived is fired; the watch is armed again by the next ReceiveDatagram, which
// also posts an announcement when datagrams are still held. IP_RECVERR is set so that ICMP
// errors for the unconnected socket are reported at all; their reports are always taken
// from the error queue, or the descriptor would keep signalling.
#include "sock/udp_socket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "automation/error_reporting.h"
#include "runtime/message_loop.h"
#include "typelib/typelib.h"

namespace velk::sock {
namespace {

constexpr LONG kNoAccess = 10013;
constexpr LONG kOptionNotSupported = 10042;
constexpr LONG kAddressInUse = 10048;
constexpr LONG kAddressNotAvailable = 10049;
constexpr LONG kNetworkDown = 10050;
constexpr LONG kNetworkUnreachable = 10051;
constexpr LONG kNetworkReset = 10052;
constexpr LONG kConnectionAborted = 10053;
constexpr LONG kConnectionReset = 10054;
constexpr LONG kNoBufferSpace = 10055;
constexpr LONG kNotConnected = 10057;
constexpr LONG kTimeout = 10060;
constexpr LONG kConnectionRefused = 10061;
constexpr LONG kHostUnreachable = 10065;
constexpr LONG kHostNotFound = 11001;
constexpr LONG kTryAgain = 11002;
constexpr LONG kNoRecovery = 11003;
constexpr LONG kNoData = 11004;
constexpr LONG kError = 11100;
constexpr LONG kAbort = 11103;
constexpr LONG kInvalidParam1 = 12001;
constexpr LONG kInvalidParam3 = 12003;
constexpr LONG kInvalidParam4 = 12004;
constexpr LONG kConnected = 12014;

// Larger than any UDP payload (65,535 minus the 8-byte header), so nothing is truncated.
constexpr size_t kBufferSize = 65536;
constexpr size_t kMaxHeld = 1024;
constexpr size_t kMaxHeldBytes = size_t{4} << 20;
constexpr size_t kMaxTraceChars = size_t{1} << 20;
constexpr size_t kMaxHostChars = 1024;
// Error reports taken per call; more stay queued and wake the loop again.
constexpr int kMaxErrorReports = 64;

HRESULT Fail(LONG number) { return automation::ReportError(CLSID_UdpSocketComponent, number); }

LONG ErrnoNumber(int err) {
    switch (err) {
    case EACCES:
    case EPERM: return kNoAccess;
    case ENOPROTOOPT:
    case EOPNOTSUPP: return kOptionNotSupported;
    case EADDRINUSE: return kAddressInUse;
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT: return kAddressNotAvailable;
    case ENETDOWN: return kNetworkDown;
    case ENETUNREACH: return kNetworkUnreachable;
    case ENETRESET: return kNetworkReset;
    case ECONNABORTED: return kConnectionAborted;
    case ECONNRESET: return kConnectionReset;
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case EAGAIN: return kNoBufferSpace;
    case ENOTCONN: return kNotConnected;
    case ETIMEDOUT: return kTimeout;
    case ECONNREFUSED: return kConnectionRefused;
    case EHOSTUNREACH:
    case EHOSTDOWN: return kHostUnreachable;
    case EMSGSIZE: return kInvalidParam1;
    default: return kError;
    }
}

LONG ResolverNumber(int rc, int err) {
    switch (rc) {
    case EAI_NONAME: return kHostNotFound;
    case EAI_AGAIN: return kTryAgain;
    case EAI_FAIL: return kNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA: return kNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kNoData;
#endif
    case EAI_MEMORY: return kNoBufferSpace;
    case EAI_SYSTEM: return ErrnoNumber(err);
    default: return kError;
    }
}

std::u16string Widen(const char* s) {
    std::u16string w;
    for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));
    return w;
}

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// A host text for the resolver: ANSI, without surrounding brackets. False when it cannot
// name a host (an embedded NUL would cut the name short; absurd lengths).
bool HostText(BSTR text, std::string* out) {
    const UINT n = SysStringLen(text);
    if (n > kMaxHostChars) return false;
    out->assign(n, '\0');
    if (n) VelkWideToAnsi(text, static_cast<int>(n), out->data(), static_cast<int>(n));
    if (out->find('\0') != std::string::npos) return false;
    if (out->size() >= 2 && out->front() == '[' && out->back() == ']')
        *out = out->substr(1, out->size() - 2);
    return true;
}

// Which addresses a socket can reach.
enum class Reach { V4, V6, Either };

// Resolves `host` to one address of a family that `reach` allows (IPv4 preferred), port 0.
LONG Lookup(const std::string& host, Reach reach, sockaddr_storage* out) {
    *out = {};
    in_addr a4{};
    in6_addr a6{};
    if (inet_pton(AF_INET, host.c_str(), &a4) == 1) {
        if (reach == Reach::V6) return kAddressNotAvailable;
        auto* sin = reinterpret_cast<sockaddr_in*>(out);
        sin->sin_family = AF_INET;
        sin->sin_addr = a4;
        return 0;
    }
    if (inet_pton(AF_INET6, host.c_str(), &a6) == 1) {
        if (reach == Reach::V4) return kAddressNotAvailable;
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(out);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_addr = a6;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) return ResolverNumber(rc, errno);
    const addrinfo* pick = nullptr;
    if (reach != Reach::V6)
        for (const addrinfo* p = list; p && !pick; p = p->ai_next)
            if (p->ai_family == AF_INET) pick = p;
    if (reach != Reach::V4)
        for (const addrinfo* p = list; p && !pick; p = p->ai_next)
            if (p->ai_family == AF_INET6) pick = p;
    LONG number = kAddressNotAvailable;
    if (pick && pick->ai_addrlen <= sizeof(*out)) {
        std::memcpy(out, pick->ai_addr, pick->ai_addrlen);
        number = 0;
    }
    freeaddrinfo(list);
    return number;
}

// `native` with `port`, as the socket addresses it: IPv4 becomes IPv4-mapped on an IPv6
// socket. Returns the address length.
socklen_t Endpoint(const sockaddr_storage& native, uint16_t port, bool v6Socket,
                   sockaddr_storage* out) {
    *out = {};
    if (native.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(native);
        if (!v6Socket) {
            auto* sin = reinterpret_cast<sockaddr_in*>(out);
            *sin = in;
            sin->sin_port = htons(port);
            return sizeof(sockaddr_in);
        }
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(out);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(port);
        sin6->sin6_addr.s6_addr[10] = 0xFF;
        sin6->sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&sin6->sin6_addr.s6_addr[12], &in.sin_addr, 4);
        return sizeof(sockaddr_in6);
    }
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(out);
    *sin6 = reinterpret_cast<const sockaddr_in6&>(native);
    sin6->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
}

bool IsIpv6Text(const sockaddr_storage& ss) {
    return ss.ss_family == AF_INET6 &&
           !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(ss).sin6_addr);
}

// Dotted IPv4 (also for IPv4-mapped IPv6), or IPv6 text with "%scope" when it has one.
// Returns the length written into `text`.
size_t AddressChars(const sockaddr_storage& ss, char (&text)[INET6_ADDRSTRLEN + 16]) {
    text[0] = '\0';
    if (ss.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(ss).sin_addr, text, sizeof(text));
    } else if (ss.ss_family == AF_INET6) {
        const auto& sin6 = reinterpret_cast<const sockaddr_in6&>(ss);
        if (IN6_IS_ADDR_V4MAPPED(&sin6.sin6_addr)) {
            inet_ntop(AF_INET, &sin6.sin6_addr.s6_addr[12], text, sizeof(text));
        } else {
            inet_ntop(AF_INET6, &sin6.sin6_addr, text, sizeof(text));
            if (sin6.sin6_scope_id != 0) {
                const size_t used = std::strlen(text);
                snprintf(text + used, sizeof(text) - used, "%%%u", sin6.sin6_scope_id);
            }
        }
    }
    return std::strlen(text);
}

std::u16string AddressText(const sockaddr_storage& ss) {
    char text[INET6_ADDRSTRLEN + 16];
    AddressChars(ss, text);
    return Widen(text);
}

// The same as a new BSTR, without an intermediate string.
BSTR AddressBstr(const sockaddr_storage& ss) {
    char text[INET6_ADDRSTRLEN + 16];
    const size_t n = AddressChars(ss, text);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (b) VelkAnsiToWide(text, static_cast<int>(n), b, static_cast<int>(n));
    return b;
}

uint16_t PortOf(const sockaddr_storage& ss) {
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(ss).sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(ss).sin6_port);
    return 0;
}

// Follows VT_BYREF|VT_VARIANT to the VARIANT it refers to.
const VARIANT* Deref(const VARIANT* v) {
    for (int depth = 0; depth < 8 && v && v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal; ++depth)
        v = v->pvarVal;
    return v;
}

VARIANT* Deref(VARIANT* v) {
    return const_cast<VARIANT*>(Deref(static_cast<const VARIANT*>(v)));
}

bool IsMissing(const VARIANT* v) {
    v = Deref(v);
    return !v || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
}

bool ArrayBytes(SAFEARRAY* sa, const uint8_t** bytes, size_t* size) {
    if (!sa || sa->cDims != 1 || sa->cbElements != 1 || !sa->pvData) return false;
    *bytes = static_cast<const uint8_t*>(sa->pvData);
    *size = sa->rgsabound[0].cElements;
    return true;
}

bool TextBytes(BSTR s, std::string* text, const uint8_t** bytes, size_t* size) {
    const int n = static_cast<int>(SysStringLen(s));
    text->assign(static_cast<size_t>(n), '\0');
    if (n) VelkWideToAnsi(s, n, text->data(), n);
    *bytes = reinterpret_cast<const uint8_t*>(text->data());
    *size = text->size();
    return true;
}

// The bytes that a Data argument holds; false when it holds nothing that can be sent.
// `text` keeps converted text alive.
bool DataBytes(const VARIANT* v, std::string* text, const uint8_t** bytes, size_t* size) {
    v = Deref(v);
    if (!v) return false;
    switch (v->vt) {
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1: return ArrayBytes(v->parray, bytes, size);
    case VT_BYREF | VT_ARRAY | VT_UI1:
    case VT_BYREF | VT_ARRAY | VT_I1: return v->pparray && ArrayBytes(*v->pparray, bytes, size);
    case VT_BSTR: return TextBytes(v->bstrVal, text, bytes, size);
    case VT_BYREF | VT_BSTR: return v->pbstrVal && TextBytes(*v->pbstrVal, text, bytes, size);
    case VT_UI1:
        *bytes = &v->bVal;
        *size = 1;
        return true;
    case VT_BYREF | VT_UI1:
        if (!v->pbVal) return false;
        *bytes = v->pbVal;
        *size = 1;
        return true;
    default: return false;
    }
}

// Out-parameter writers: into the referenced storage for by-reference VARIANTs of the same
// type, else replacing the VARIANT's content.
void PutArray(VARIANT* v, SAFEARRAY* sa) {
    v = Deref(v);
    if (v->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && v->pparray) {
        SafeArrayDestroy(*v->pparray);
        *v->pparray = sa;
        return;
    }
    VariantClear(v);
    v->vt = VT_ARRAY | VT_UI1;
    v->parray = sa;
}

void PutText(VARIANT* v, BSTR s) {
    v = Deref(v);
    if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) {
        SysFreeString(*v->pbstrVal);
        *v->pbstrVal = s;
        return;
    }
    VariantClear(v);
    v->vt = VT_BSTR;
    v->bstrVal = s;
}

void PutLong(VARIANT* v, LONG n) {
    v = Deref(v);
    if (v->vt == (VT_BYREF | VT_I4) && v->plVal) {
        *v->plVal = n;
        return;
    }
    VariantClear(v);
    v->vt = VT_I4;
    v->lVal = n;
}

BSTR NewBstr(std::u16string_view s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

}  // namespace

UdpSocket::UdpSocket() : self_(std::make_shared<UdpSocket*>(this)) {
    AddPoint(DIID__IUdpEvents);
}

UdpSocket::~UdpSocket() {
    *self_ = nullptr;
    CloseInternal();
}

HRESULT UdpSocket::CreateInstance(REFIID iid, void** out) {
    return rt::CreateInstanceOf<UdpSocket>(iid, out);
}

HRESULT UdpSocket::get_BlockingTimeout(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = blockingTimeout_;
    return S_OK;
}

HRESULT UdpSocket::put_BlockingTimeout(LONG newVal) {
    blockingTimeout_ = newVal;
    return S_OK;
}

HRESULT UdpSocket::OpenSocket(LONG LocalPort, BSTR LocalAddress) {
    if (fd_ >= 0) return Fail(kConnected);
    if (LocalPort < 0 || LocalPort > 65535) return Fail(kInvalidParam1);
    std::string host;
    if (!HostText(LocalAddress, &host)) return Fail(kHostNotFound);

    sockaddr_storage native{};
    bool dual = host.empty();
    int family = AF_INET6;
    if (!dual) {
        if (LONG n = Lookup(host, Reach::Either, &native)) return Fail(n);
        family = native.ss_family;
    }
    int fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && dual && errno == EAFNOSUPPORT) {
        // No IPv6 on this system: the wildcard socket is plain IPv4.
        dual = false;
        family = AF_INET;
        fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) return Fail(ErrnoNumber(errno));
    if (host.empty()) native.ss_family = static_cast<sa_family_t>(family);  // the wildcard

    const int on = 1;
    const int v6only = dual ? 0 : 1;
    bool ok = true;
    if (family == AF_INET6) {
        ok = setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only)) == 0 &&
             setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof(on)) == 0;
        // IPv4-mapped traffic reports its ICMP errors through the IPv4 option.
        if (ok && dual) ok = setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) == 0;
    } else {
        ok = setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) == 0;
    }
    sockaddr_storage local{};
    const socklen_t len = Endpoint(native, static_cast<uint16_t>(LocalPort), family == AF_INET6, &local);
    if (ok) ok = bind(fd, reinterpret_cast<const sockaddr*>(&local), len) == 0;
    if (!ok) {
        const int err = errno;
        close(fd);
        return Fail(ErrnoNumber(err));
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBufferSize]);
    const int watch = buffer ? rt::WatchFd(fd, [this] { OnReadable(); }) : -1;
    if (watch < 0) {
        close(fd);
        return Fail(buffer ? kError : kNoBufferSpace);
    }
    fd_ = fd;
    watch_ = watch;
    family_ = family;
    dualStack_ = dual;
    buffer_ = std::move(buffer);
    owed_ = true;  // the new watch is armed
    return S_OK;
}

HRESULT UdpSocket::CloseSocket() {
    CloseInternal();
    return S_OK;
}

void UdpSocket::CloseInternal() {
    if (fd_ < 0) return;
    rt::UnwatchFd(watch_);
    close(fd_);
    fd_ = -1;
    watch_ = -1;
    family_ = 0;
    dualStack_ = false;
    ClearHeld();
    buffer_.reset();
    owed_ = false;
    announcing_ = false;
    waitError_ = 0;
    ++openGen_;
    if (waiters_ > 0) rt::Wake();
}

void UdpSocket::ClearHeld() {
    for (size_t i = heldHead_; i < held_.size(); ++i) SafeArrayDestroy(held_[i].data);
    held_.clear();
    heldHead_ = 0;
    heldBytes_ = 0;
}

UdpSocket::Held UdpSocket::PopHeld() {
    Held h = held_[heldHead_++];
    heldBytes_ -= h.data->rgsabound[0].cElements;
    if (heldHead_ == held_.size()) {
        held_.clear();  // keeps the capacity: no allocation in the steady state
        heldHead_ = 0;
    } else if (heldHead_ >= 64 && heldHead_ * 2 >= held_.size()) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldHead_));
        heldHead_ = 0;
    }
    return h;
}

HRESULT UdpSocket::AbortSocket() {
    if (waiters_ > 0) {
        ++abortGen_;
        rt::Wake();
    }
    return S_OK;
}

int UdpSocket::Fetch() {
    if (HeldCount() >= kMaxHeld || heldBytes_ >= kMaxHeldBytes) return -1;
    Held h{};
    iovec iov{buffer_.get(), kBufferSize};
    msghdr msg{};
    msg.msg_name = &h.from;
    msg.msg_namelen = sizeof(h.from);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = recvmsg(fd_, &msg, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN) return -1;
        // The error was the pending one of an earlier datagram; its report goes too.
        TakeErrorReports(nullptr, 0, nullptr);
        return err;
    }
    h.data = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n));
    if (!h.data) return ENOMEM;  // the datagram is lost
    if (n > 0) std::memcpy(h.data->pvData, buffer_.get(), static_cast<size_t>(n));
    held_.push_back(h);
    heldBytes_ += static_cast<size_t>(n);
    return 0;
}

int UdpSocket::TakeErrorReports(int* seen, int seenMax, int* seenCount) {
    int first = 0;
    for (int i = 0; i < kMaxErrorReports; ++i) {
        alignas(cmsghdr) char control[512];
        char payload[1];
        iovec iov{payload, sizeof(payload)};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        if (recvmsg(fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            const bool report = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                                (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
            if (!report || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
            sock_extended_err ee;
            std::memcpy(&ee, CMSG_DATA(c), sizeof(ee));
            if (ee.ee_origin != SO_EE_ORIGIN_ICMP && ee.ee_origin != SO_EE_ORIGIN_ICMP6) continue;
            const int err = static_cast<int>(ee.ee_errno);
            if (first == 0) first = err;
            if (seen && *seenCount < seenMax &&
                std::find(seen, seen + *seenCount, err) == seen + *seenCount)
                seen[(*seenCount)++] = err;
        }
    }
    return first;
}

void UdpSocket::OnReadable() {
    if (fd_ < 0) return;
    ComPtr<UdpSocket> keep(this);
    const uint64_t gen = openGen_;
    int error = 0;
    if (HeldCount() == 0) {
        int r = Fetch();
        if (r > 0) {
            error = r;
            r = Fetch();  // a datagram may wait behind the error
        }
        // Nothing readable: a report that set no pending error may be what woke the loop.
        if (r < 0 && error == 0) error = TakeErrorReports(nullptr, 0, nullptr);
    }
    if (waiters_ > 0) {
        // A blocking receive is waiting: it takes the datagram or fails with the error, and
        // arms the watch again itself.
        if (error) waitError_ = error;
        ++readyGen_;
        return;
    }
    if (error) {
        FireSocketError(ErrnoNumber(error));
        if (openGen_ != gen) return;  // a handler closed the socket
    }
    if (HeldCount() == 0) {
        rt::RearmFd(watch_);
        return;
    }
    if (!owed_) return;
    owed_ = false;
    Fire(DIID__IUdpEvents, DISPID_UdpEvents_DatagramArrived);
}

void UdpSocket::Arm() {
    if (fd_ < 0) return;
    owed_ = true;
    // The watch is armed even while datagrams are held (the announcement serves those): it
    // then stays armed across the next announcement, and re-arming an armed watch is free.
    rt::RearmFd(watch_);
    if (HeldCount() > 0) PostAnnouncement();
}

void UdpSocket::PostAnnouncement() {
    if (announcing_) return;
    announcing_ = true;
    VelkPostTask([weak = self_, gen = openGen_] {
        UdpSocket* s = *weak;
        if (!s || s->openGen_ != gen) return;
        s->announcing_ = false;
        s->OnReadable();
    });
}

void UdpSocket::FireSocketError(LONG number) {
    Bstr description = Bstr::Adopt(automation::LoadErrorText(number));
    FireError(DIID__IUdpEvents, DISPID_UdpEvents_SocketError, number, description.Get());
}

void UdpSocket::PostSocketError(LONG number) {
    VelkPostTask([weak = self_, number] {
        if (UdpSocket* s = *weak) {
            ComPtr<UdpSocket> keep(s);
            s->FireSocketError(number);
        }
    });
}

void UdpSocket::PostSendNotification() {
    if (pendingSends_++ > 0) return;  // the posted task fires for this send too
    VelkPostTask([weak = self_] {
        UdpSocket* s = *weak;
        if (!s) return;
        ComPtr<UdpSocket> keep(s);
        // Sends made by the handlers post a new task, so this one ends.
        const LONG n = std::exchange(s->pendingSends_, 0);
        for (LONG i = 0; i < n; ++i) s->Fire(DIID__IUdpEvents, DISPID_UdpEvents_SendNotification);
    });
}

HRESULT UdpSocket::SendDatagram(VARIANT* Data, BSTR Host, LONG Port, LONG Length, LONG /*Flags*/,
                                LONG* pVal) {
    if (pVal) *pVal = 0;
    if (fd_ < 0) return Fail(kNotConnected);
    std::string text;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (!DataBytes(Data, &text, &bytes, &size)) return Fail(kInvalidParam1);
    if (Port < 1 || Port > 65535) return Fail(kInvalidParam3);
    if (Length < 0) return Fail(kInvalidParam4);
    if (Length > 0 && static_cast<size_t>(Length) < size) size = static_cast<size_t>(Length);
    std::string host;
    if (!HostText(Host, &host)) return Fail(kHostNotFound);
    if (host.empty()) return Fail(kAddressNotAvailable);

    const Reach reach = dualStack_ ? Reach::Either : family_ == AF_INET6 ? Reach::V6 : Reach::V4;
    sockaddr_storage native{};
    if (LONG n = Lookup(host, reach, &native)) return Fail(n);
    sockaddr_storage peer{};
    const socklen_t len = Endpoint(native, static_cast<uint16_t>(Port), family_ == AF_INET6, &peer);
    auto send = [&] {
        ssize_t n;
        do {
            n = sendto(fd_, bytes, size, 0, reinterpret_cast<const sockaddr*>(&peer), len);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    ssize_t sent = send();
    if (sent < 0) {
        int err = errno;
        // A pending ICMP error of an earlier datagram fails the next send. It belongs to
        // that datagram: report it as an event and send this one anyway.
        int seen[8];
        int seenCount = 0;
        const int earlier = TakeErrorReports(seen, 8, &seenCount);
        if (earlier) PostSocketError(ErrnoNumber(earlier));
        if (std::find(seen, seen + seenCount, err) != seen + seenCount) {
            sent = send();
            if (sent < 0) err = errno;
        }
        if (sent < 0) return Fail(ErrnoNumber(err));
    }
    Trace(true, peer, bytes, static_cast<size_t>(sent));
    if (pVal) *pVal = static_cast<LONG>(sent);
    PostSendNotification();
    return S_OK;
}

HRESULT UdpSocket::ReceiveDatagram(VARIANT* Data, VARIANT* Address, VARIANT* Port, LONG* pVal) {
    if (!Data || !pVal) return E_POINTER;
    *pVal = 0;
    if (fd_ < 0) return Fail(kNotConnected);
    ComPtr<UdpSocket> keep(this);  // handlers that run while waiting may release the object

    using Clock = std::chrono::steady_clock;
    const DWORD timeout = static_cast<DWORD>(blockingTimeout_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    LONG number = 0;
    bool taken = false;
    for (;;) {
        if (HeldCount() == 0) {
            const int r = Fetch();
            if (r > 0) {
                number = ErrnoNumber(r);
                break;
            }
        }
        if (HeldCount() > 0) {
            taken = true;
            break;
        }
        if (timeout == 0) break;
        DWORD remaining = rt::kInfinite;
        if (timeout != rt::kInfinite) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                number = kTimeout;
                break;
            }
            remaining = static_cast<DWORD>(left.count());
        }
        const WaitMarks marks = Marks();
        ++waiters_;
        rt::RearmFd(watch_);
        const bool woken = rt::WaitUntil(
            [&] {
                return openGen_ != marks.open || abortGen_ != marks.abort ||
                       readyGen_ != marks.ready;
            },
            remaining);
        --waiters_;
        if (openGen_ != marks.open) return Fail(kNotConnected);  // closed meanwhile
        if (waitError_ && abortGen_ == marks.abort) {
            number = ErrnoNumber(std::exchange(waitError_, 0));
            break;
        }
        if (abortGen_ != marks.abort)
            number = kAbort;
        else if (!woken)
            number = kTimeout;
        if (number) {
            // An error that came with the abort is not lost when no other wait takes it.
            if (waiters_ == 0 && waitError_) PostSocketError(ErrnoNumber(std::exchange(waitError_, 0)));
            break;
        }
    }
    if (taken) {
        Held h = PopHeld();
        const auto count = static_cast<LONG>(h.data->rgsabound[0].cElements);
        Trace(false, h.from, static_cast<const uint8_t*>(h.data->pvData), static_cast<size_t>(count));
        PutArray(Data, h.data);
        if (Address) PutText(Address, AddressBstr(h.from));
        if (Port) PutLong(Port, PortOf(h.from));
        *pVal = count;
    }
    Arm();
    return number ? Fail(number) : S_OK;
}

HRESULT UdpSocket::get_SocketLocalAddress(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    if (fd_ < 0) return S_OK;
    if (dualStack_) {
        *pVal = NewBstr(u"0.0.0.0");
        return S_OK;
    }
    sockaddr_storage local{};
    socklen_t len = sizeof(local);
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) == 0)
        *pVal = NewBstr(AddressText(local));
    return S_OK;
}

HRESULT UdpSocket::get_SocketLocalPort(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = 0;
    if (fd_ < 0) return S_OK;
    sockaddr_storage local{};
    socklen_t len = sizeof(local);
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) == 0) *pVal = PortOf(local);
    return S_OK;
}

HRESULT UdpSocket::get_QueuedDatagramCount(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = 0;
    if (fd_ < 0) return S_OK;
    for (size_t i = 0; i < kMaxHeld + 8; ++i) {
        const int r = Fetch();
        if (r < 0) break;
        if (r > 0) PostSocketError(ErrnoNumber(r));  // an ICMP report: nobody's call saw it
    }
    // The datagrams moved into the queue no longer make the descriptor readable.
    if (owed_ && HeldCount() > 0) PostAnnouncement();
    *pVal = static_cast<LONG>(HeldCount());
    return S_OK;
}

void UdpSocket::Trace(bool send, const sockaddr_storage& peer, const uint8_t* bytes, size_t count) {
    if (send ? !traceSend_ : !traceReceive_) return;
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string line = send ? sendPrompt_ : receivePrompt_;
    const bool v6 = IsIpv6Text(peer);
    if (v6) line += u'[';
    line += AddressText(peer);
    if (v6) line += u']';
    line += u':';
    line += Widen(std::to_string(PortOf(peer)).c_str());
    line += u" (";
    line += Widen(std::to_string(count).c_str());
    line += u" bytes)";
    line.reserve(line.size() + count * 3 + 1);
    for (size_t i = 0; i < count; ++i) {
        line += u' ';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0xF];
    }
    line += u'\n';
    traceChars_ += line.size();
    trace_.push_back(std::move(line));
    while (traceChars_ > kMaxTraceChars && trace_.size() > 1) {
        traceChars_ -= trace_.front().size();
        trace_.pop_front();
    }
}

HRESULT UdpSocket::TraceSocket(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive,
                               BSTR SendPrompt, BSTR ReceivePrompt) {
    if (!IsMissing(Result)) {
        std::u16string all;
        all.reserve(traceChars_);
        for (const std::u16string& line : trace_) all += line;
        BSTR text = NewBstr(all);
        if (!text) return E_OUTOFMEMORY;
        PutText(Result, text);
        trace_.clear();
        traceChars_ = 0;
    }
    traceSend_ = Send != VARIANT_FALSE;
    traceReceive_ = Receive != VARIANT_FALSE;
    sendPrompt_.assign(View(SendPrompt));
    receivePrompt_.assign(View(ReceivePrompt));
    return S_OK;
}

HRESULT CreateUdpSocket(IUdpSocket** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_UdpSocketComponent); FAILED(hr)) return hr;
    auto s = rt::MakeObject<UdpSocket>();
    if (!s) return E_OUTOFMEMORY;
    *out = s.Detach();
    return S_OK;
}

}  // namespace velk::sock
