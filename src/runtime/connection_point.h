// The one connection-point implementation: a container mixin and the points it owns.
// Events go to every connected sink in connection order; the sinks' results are ignored.
#pragma once

#include <initializer_list>
#include <vector>

#include "runtime/object.h"

namespace velk::rt {

class ConnectionPoint;

// Owns the connection points of one object. The object exposes IConnectionPointContainer by
// listing `ConnectionPoints` among its Object<> bases and calling Add() in its constructor.
class ConnectionPoints : public IConnectionPointContainer {
public:
    using Interface = IConnectionPointContainer;
    ~ConnectionPoints();

    // Adds a point for the event interface `iid` (a dispinterface: sinks are IDispatch).
    void AddPoint(REFIID iid);
    // Fires event `id` on the point of `iid` to a snapshot of its sinks, arguments in
    // natural order. Returns S_OK; failures of sinks are ignored.
    HRESULT Fire(REFIID iid, DISPID id, std::initializer_list<VARIANT> args = {});
    HRESULT Fire(REFIID iid, DISPID id, const VARIANT* args, size_t count);
    // Fires an error event of the form (Number As Long, Description As String);
    // `description` is borrowed for the call.
    HRESULT FireError(REFIID iid, DISPID id, LONG number, BSTR description);
    // Number of sinks connected to the point of `iid`.
    size_t SinkCount(REFIID iid) const;

    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** out) override;
    STDMETHOD(FindConnectionPoint)(REFIID iid, IConnectionPoint** out) override;

private:
    ConnectionPoint* Find(REFIID iid) const;
    std::vector<ConnectionPoint*> points_;  // one reference each
};

}  // namespace velk::rt
