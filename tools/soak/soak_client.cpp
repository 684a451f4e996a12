// korvex-soak.exe: clients that connect, work and leave again and again, for `make soak`. Each client
// thread repeats one cycle until the time is up: connect, add a group, add ITEMS items, subscribe,
// read them from the device, write 20 of them, remove everything, disconnect. It prints the cycles,
// the failed calls and the calls the transport lost at the end; the server's memory over time is
// sampled by the script.
//
//   korvex-soak.exe SECONDS CLIENTS ITEMS ITEM-ID-FILE   (the items cycle through the file's lines)
#include "com/data_callback_sink.h"
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

class CountingSink final : public korvex::com::DataCallbackSink<CountingSink, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT*,
                                           WORD*, FILETIME*, HRESULT*) override {
        changes_ += count;
        return S_OK;
    }

    static inline std::atomic<unsigned long long> changes_{0};
};

struct Totals {
    std::atomic<unsigned> cycles{0};
    std::atomic<unsigned> failures{0};
    // Calls that Wine's transport lost (the call never got its answer from the server). Under load
    // Wine now and then loses one; more than one in a thousand cycles fails the soak all the same.
    std::atomic<unsigned> lostCalls{0};
};

bool IsLostCall(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE);
}

// QueryInterface across the process boundary is a call like any other, and may fail as one.
template <class Interface>
HRESULT As(IUnknown* object, REFIID iid, ComPtr<Interface>& result) {
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
    return SUCCEEDED(hr) && !result ? E_POINTER : hr;
}

// One cycle; false when a call failed (counted, and the cycle ends there).
bool Cycle(const CLSID& clsid, const std::vector<std::wstring>& itemIds, DWORD itemCount, Totals& totals) {
    const auto failed = [&totals](HRESULT hr, const char* call) {
        if (SUCCEEDED(hr)) return false;
        const bool lost = IsLostCall(hr);
        if ((lost ? totals.lostCalls++ : totals.failures++) < 10)
            std::fprintf(stderr, "korvex-soak: %s %s: 0x%08lX\n", call, lost ? "was lost" : "failed",
                         static_cast<unsigned long>(hr));
        return true;
    };
    ComPtr<IOPCServer> server;
    if (failed(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())),
               "CoCreateInstance"))
        return false;
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    if (failed(server->AddGroup(L"", TRUE, 200, 1, nullptr, nullptr, 0, &groupHandle, &revised, IID_IOPCItemMgt,
                                reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf())),
               "AddGroup"))
        return false;
    // A success without the group is a failed call all the same; nothing is called through null.
    if (!items) return !failed(E_POINTER, "AddGroup (no group)");

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
    bool ok = !failed(items->AddItems(itemCount, definitions.data(), &results, &errors), "AddItems");
    if (ok && (!results || !errors)) ok = !failed(E_POINTER, "AddItems (no results)");
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
        ComPtr<IConnectionPointContainer> container;
        ok = !failed(As(items.Get(), IID_IConnectionPointContainer, container), "QueryInterface") &&
             !failed(container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()),
                     "FindConnectionPoint") &&
             !failed(point ? S_OK : E_POINTER, "FindConnectionPoint (no point)") &&
             !failed(point->Advise(sink->identity(), &cookie), "Advise");
    }
    ComPtr<IOPCSyncIO> io;
    if (ok) ok = !failed(As(items.Get(), IID_IOPCSyncIO, io), "QueryInterface");
    if (ok && count > 0) {
        // Every out pointer is reset before its call: after a failed call it may hold anything but
        // what the call returned, and the previous call's array is freed already.
        OPCITEMSTATE* states = nullptr;
        errors = nullptr;
        ok = !failed(io->Read(OPC_DS_DEVICE, count, handles.data(), &states, &errors), "Read");
        for (DWORD i = 0; ok && states && i < count; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    }
    if (ok && count > 0) {
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
        ok = !failed(FAILED(hr) ? hr : S_OK, "Write");
        CoTaskMemFree(errors);
    }
    if (point && cookie != 0) failed(point->Unadvise(cookie), "Unadvise");
    if (count > 0) {
        errors = nullptr;
        const HRESULT hr = items->RemoveItems(count, handles.data(), &errors);
        failed(hr == S_OK ? S_OK : FAILED(hr) ? hr : E_FAIL, "RemoveItems");
        CoTaskMemFree(errors);
    }
    items.Reset();
    failed(server->RemoveGroup(groupHandle, FALSE), "RemoveGroup");
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
    // Every cycle's CoCreateInstance unmarshals the server's class object, and lets it go again.
    // Wine's client side crashed (in unmarshal_object, CoCreateInstance of one thread) while other
    // threads let the same class object go: one reference held for the whole run keeps its proxy
    // from being freed under them.
    ComPtr<IClassFactory> classObject;
    if (FAILED(CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(classObject.ReleaseAndGetAddressOf())))) {
        std::fprintf(stderr, "korvex-soak: the server's class object is not available\n");
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
    const unsigned cycles = totals.cycles.load(), failures = totals.failures.load(), lost = totals.lostCalls.load();
    std::printf("cycles %u, failed calls %u, calls lost by the transport %u, data changes %llu\n", cycles, failures,
                lost, CountingSink::changes_.load());
    classObject.Reset();
    CoUninitialize();
    return failures == 0 && lost * 1000ull <= cycles ? 0 : 1;
}
