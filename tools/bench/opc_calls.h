// The client side of the calls the end-to-end sections time, shared by the canned server and the
// real one: item definitions, AddItems, RemoveItems and Read with the out-arrays freed, and a
// subscription of a sink on a group's connection point. Every failure throws std::runtime_error with
// the call and its code.
#pragma once

#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <ocidl.h>

#include <string>
#include <vector>

namespace bench {

using korvex::com::ComPtr;

void Check(HRESULT hr, const char* call);

// Active items, client handle = position.
std::vector<OPCITEMDEF> ItemDefinitions(std::vector<std::wstring>& ids);

// Server handles of the items added; every item must be added.
std::vector<OPCHANDLE> AddItems(IOPCItemMgt* group, std::vector<OPCITEMDEF>& definitions);
void RemoveItems(IOPCItemMgt* group, std::vector<OPCHANDLE>& handles);
// A synchronous read; every item must be read.
void ReadItems(IOPCSyncIO* io, OPCDATASOURCE source, std::vector<OPCHANDLE>& handles);

template <class Interface>
ComPtr<Interface> Query(IUnknown* object) {
    ComPtr<Interface> result;
    Check(object->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(result.ReleaseAndGetAddressOf())),
          "QueryInterface");
    return result;
}

// Advise of `sink` on the group's IOPCDataCallback connection point; Unadvise when it goes.
class Subscription {
public:
    Subscription(IUnknown* group, IUnknown* sink);
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace bench
