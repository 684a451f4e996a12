// korvex-soak.exe: clients that connect, work and leave again and again, for `make soak`. Each client
// thread repeats one cycle until the time is up: connect, add a group, add ITEMS items, subscribe,
// read them from the device, write 20 of them, remove everything, disconnect. It prints the cycles
// and the failed calls at the end; the server's memory over time is sampled by the script.
//
//   korvex-soak.exe SECONDS CLIENTS ITEMS ITEM-ID-FILE   (the items cycle through the file's lines)
#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/string_convert.h"

#include "opcda.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvex::com::ComPtr;

class CountingSink final : public korvex::com::ComObject<CountingSink, IOPCDataCallback, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT*,
                                           WORD*, FILETIME*, HRESULT*) override {
        changes_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                             FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    static inline std::atomic<unsigned long long> changes_{0};
};

struct Totals {
    std::atomic<unsigned> cycles{0};
    std::atomic<unsigned> failures{0};
};

template <class Interface>
ComPtr<Interface> As(IUnknown* object, REFIID iid) {
    ComPtr<Interface> result;
    object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
    return result;
}

// One cycle; false when a call failed (counted, and the cycle ends there).
bool Cycle(const CLSID& clsid, const std::vector<std::wstring>& itemIds, DWORD itemCount, Totals& totals) {
    const auto failed = [&totals](HRESULT hr) {
        if (SUCCEEDED(hr)) return false;
        if (totals.failures++ < 10) std::fprintf(stderr, "korvex-soak: a call failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return true;
    };
    ComPtr<IOPCServer> server;
    if (failed(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(server.ReleaseAndGetAddressOf()))))
        return false;
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    if (failed(server->AddGroup(L"", TRUE, 200, 1, nullptr, nullptr, 0, &groupHandle, &revised, IID_IOPCItemMgt,
                                reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf()))))
        return false;

    std::vector<OPCITEMDEF> definitions(itemCount);
    for (DWORD i = 0; i < itemCount; ++i) {
        definitions[i] = OPCITEMDEF{};
        definitions[i].szItemID = const_cast<LPWSTR>(itemIds[i % itemIds.size()].c_str());
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].bActive = TRUE;
        definitions[i].hClient = i;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    bool ok = !failed(items->AddItems(itemCount, definitions.data(), &results, &errors));
    std::vector<OPCHANDLE> handles;
    for (DWORD i = 0; ok && i < itemCount; ++i)
        if (SUCCEEDED(errors[i])) handles.push_back(results[i].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    const DWORD count = static_cast<DWORD>(handles.size());

    ComPtr<CountingSink> sink = korvex::com::make<CountingSink>();
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (ok) {
        auto container = As<IConnectionPointContainer>(items.Get(), IID_IConnectionPointContainer);
        ok = container && !failed(container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf())) &&
             !failed(point->Advise(sink->identity(), &cookie));
    }
    auto io = As<IOPCSyncIO>(items.Get(), IID_IOPCSyncIO);
    if (ok && io && count > 0) {
        OPCITEMSTATE* states = nullptr;
        ok = !failed(io->Read(OPC_DS_DEVICE, count, handles.data(), &states, &errors));
        for (DWORD i = 0; ok && i < count; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    }
    if (ok && io && count > 0) {
        // Values the points already hold, so that the plant does not move under other clients.
        const DWORD writes = std::min<DWORD>(20, count);
        std::vector<VARIANT> values(writes);
        for (VARIANT& value : values) {
            VariantInit(&value);
            value.vt = VT_R4;
            value.fltVal = 1.0f;
        }
        errors = nullptr;
        const HRESULT hr = io->Write(writes, handles.data(), values.data(), &errors);
        ok = !failed(FAILED(hr) ? hr : S_OK);
        CoTaskMemFree(errors);
    }
    if (point && cookie != 0) point->Unadvise(cookie);
    if (count > 0) {
        errors = nullptr;
        failed(items->RemoveItems(count, handles.data(), &errors) == S_OK ? S_OK : E_FAIL);
        CoTaskMemFree(errors);
    }
    items.Reset();
    failed(server->RemoveGroup(groupHandle, FALSE));
    if (ok) ++totals.cycles;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: korvex-soak SECONDS CLIENTS ITEMS ITEM-ID-FILE\n");
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    const int clients = std::atoi(argv[2]);
    const DWORD itemCount = static_cast<DWORD>(std::atoi(argv[3]));
    std::vector<std::wstring> itemIds;
    std::ifstream file(argv[4]);
    for (std::string line; std::getline(file, line);)
        if (!line.empty()) itemIds.push_back(korvex::com::fromUtf8(line));
    if (itemIds.empty()) {
        std::fprintf(stderr, "korvex-soak: no item IDs in %s\n", argv[4]);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"Korvex.OPCServer.2", &clsid))) {
        std::fprintf(stderr, "korvex-soak: the server is not registered\n");
        return 3;
    }
    Totals totals;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            while (std::chrono::steady_clock::now() < end) Cycle(clsid, itemIds, itemCount, totals);
            CoUninitialize();
        });
    }
    for (std::thread& t : threads) t.join();
    std::printf("cycles %u, failed calls %u, data changes %llu\n", totals.cycles.load(), totals.failures.load(),
                CountingSink::changes_.load());
    CoUninitialize();
    return totals.failures.load() == 0 ? 0 : 1;
}
