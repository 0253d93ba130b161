// Send: the request goes out; the blocking form then waits for its response over the same
// receive path as the event-driven arrival.
#include <chrono>

#include "automation/error_reporting.h"
#include "manager/manager.h"
#include "runtime/message_loop.h"

namespace velk::manager {

HRESULT Manager::Send() {
    ComPtr<Manager> keep(this);  // handlers may release the control while it waits
    const DWORD limit = static_cast<DWORD>(timeout_);
    if (limit == 0) return SendMessage();

    if (blocked_) return automation::ReportError(CLSID_Manager, ulBlocked);
    blocked_ = true;
    HRESULT hr = SendMessage();
    if (SUCCEEDED(hr) && transport::ErrorNumber(hr) == 0) {
        LONG requestId = 0;
        message_->get_Id(&requestId);
        hr = AwaitResponse(requestId, limit);
    }
    blocked_ = false;  // only the Send that set it clears it
    return hr;
}

HRESULT Manager::SendMessage() {
    ComPtr<ISnmpMessage> message = message_;
    Variant bytes;
    bytes.vt = VT_ARRAY | VT_UI1;  // Encode puts a new array of exactly the encoding here
    bytes.parray = nullptr;
    if (HRESULT hr = message->Encode(&bytes); FAILED(hr)) return hr;
    LONG sent = 0;
    return Socket()->SendDatagram(&bytes, agentName_.Get(), agentPort_ == 0 ? 161 : agentPort_,
                                  0, 0, &sent);
}

HRESULT Manager::AwaitResponse(LONG requestId, DWORD limit) {
    using Clock = std::chrono::steady_clock;
    const bool unlimited = limit == rt::kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    IUdpSocket* socket = Socket();
    HRESULT hr = S_OK;
    for (;;) {
        // One deadline for the whole wait: each pass waits only for the time left, so
        // unrelated datagrams arriving steadily cannot hold the thread.
        DWORD left = rt::kInfinite;
        if (!unlimited) {
            const auto ms =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (ms <= 0) {
                hr = automation::ReportError(CLSID_Manager, ulTimeout);
                break;
            }
            left = static_cast<DWORD>(ms);
        }
        socket->put_BlockingTimeout(static_cast<LONG>(left));
        bool taken = false;
        hr = TakeDatagram(&taken);
        if (FAILED(hr) || transport::ErrorNumber(hr) != 0) break;
        if (!taken) continue;  // an empty datagram is no answer
        // A handler may have replaced Message; the current one is compared.
        ComPtr<ISnmpMessage> message = message_;
        TypeConstants type = snmpGet1;
        LONG id = 0;
        message->get_Type(&type);
        message->get_Id(&id);
        if (type != snmpTrap1 && type != snmpTrap2 && id == requestId) {
            hr = S_OK;
            break;
        }
    }
    socket->put_BlockingTimeout(timeout_);
    return hr;
}

}  // namespace velk::manager
