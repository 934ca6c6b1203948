// Connection points: one outgoing dispatch interface per point, sinks kept in connection order.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "com/object.h"

namespace com {

// A connection point living inside its container object; its references are the container's.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(ObjectRoot& container, IConnectionPointContainer& container_interface, const IID& iid)
        : container_(container), container_interface_(container_interface), iid_(iid) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    const IID& Iid() const { return iid_; }

    // Calls IDispatch::Invoke(id) on every sink in connection order with the given arguments
    // (VT_I4, first argument first); sink results are ignored. Sinks may unadvise meanwhile.
    void Invoke(DISPID id, const LONG* arguments, UINT count);

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    struct Sink {
        DWORD cookie;
        Ptr<IDispatch> dispatch;
    };

    ObjectRoot& container_;
    IConnectionPointContainer& container_interface_;
    const IID& iid_;
    std::vector<Sink> sinks_;
    DWORD next_cookie_ = 1;
};

// IConnectionPointContainer over a fixed set of connection points owned by the object.
class ConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

protected:
    virtual std::span<ConnectionPoint* const> ConnectionPoints() = 0;
};

}  // namespace com
