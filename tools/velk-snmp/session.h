// A manager session with one agent on the library's Manager control: requests with
// time-outs and retries (the same request id on every try, so a late answer to an earlier
// try completes the request), and notifications sent without waiting.
#pragma once

#include <velk/events.h>

#include <functional>
#include <string>

#include "args.h"
#include "common.h"

namespace vs {

class Session {
public:
    Session(const Endpoint& target, const TargetOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Builds a request with `build` (the message arrives reset, with the community and the
    // version set by the caller's `build`), sends it and waits for the response that
    // carries its id: -t per try, -r further tries. The response stays valid until the next
    // request. Throws Failure("no answer from HOST:PORT after N tries") on time-out.
    ISnmpMessage* Request(const std::function<void(ISnmpMessage*)>& build);
    // Sends the message that `build` makes without waiting for anything.
    void Send(const std::function<void(ISnmpMessage*)>& build);

    const Endpoint& Target() const { return target_; }
    const TargetOptions& Options() const { return options_; }
    LONG NewId() { return ++nextId_ & 0x7FFFFFFF; }

private:
    HRESULT SendCurrent();
    void OnResponse();

    Endpoint target_;
    TargetOptions options_;
    ComPtr<IManager> manager_;
    ComPtr<ISnmpMessage> spare_;     // becomes the manager's message after a response
    ComPtr<ISnmpMessage> response_;  // the last matching response
    velk::EventConnection events_;
    bool waiting_ = false;
    LONG waitingId_ = 0;
    LONG nextId_ = 0;
};

// Message type of a request of this version.
TypeConstants RequestType(bool v1, TypeConstants v2Type);
// Adds a variable with this OID (and optionally type and value) to a message.
ComPtr<ISnmpVariable> AddVariable(ISnmpMessage* message, const std::string& oid);

}  // namespace vs
