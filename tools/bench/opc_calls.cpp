#include "opc_calls.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <stdexcept>

namespace bench {

void Check(HRESULT hr, const char* call) {
    if (hr == S_OK) return;
    char text[120];
    std::snprintf(text, sizeof text, "%s returned 0x%08lX", call, static_cast<unsigned long>(hr));
    throw std::runtime_error(text);
}

std::vector<OPCITEMDEF> ItemDefinitions(std::vector<std::wstring>& ids) {
    std::vector<OPCITEMDEF> definitions(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        definitions[i] = OPCITEMDEF{};
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = ids[i].data();
        definitions[i].bActive = TRUE;
        definitions[i].hClient = static_cast<OPCHANDLE>(i);
    }
    return definitions;
}

std::vector<OPCHANDLE> AddItems(IOPCItemMgt* group, std::vector<OPCITEMDEF>& definitions) {
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = group->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(), &results, &errors);
    std::vector<OPCHANDLE> handles;
    if (hr == S_OK) {
        handles.reserve(definitions.size());
        for (std::size_t i = 0; i < definitions.size(); ++i) {
            handles.push_back(results[i].hServer);
            CoTaskMemFree(results[i].pBlob);
        }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    Check(hr, "AddItems");
    return handles;
}

void RemoveItems(IOPCItemMgt* group, std::vector<OPCHANDLE>& handles) {
    HRESULT* errors = nullptr;
    const HRESULT hr = group->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors);
    CoTaskMemFree(errors);
    Check(hr, "RemoveItems");
}

void ReadItems(IOPCSyncIO* io, OPCDATASOURCE source, std::vector<OPCHANDLE>& handles) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
    if (states)
        for (std::size_t i = 0; i < handles.size(); ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    Check(hr, source == OPC_DS_CACHE ? "Read (cache)" : "Read (device)");
}

Subscription::Subscription(IUnknown* group, IUnknown* sink) {
    auto container = Query<IConnectionPointContainer>(group);
    Check(container->FindConnectionPoint(IID_IOPCDataCallback, point_.ReleaseAndGetAddressOf()), "FindConnectionPoint");
    Check(point_->Advise(sink, &cookie_), "Advise");
}

Subscription::~Subscription() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
}

}  // namespace bench
