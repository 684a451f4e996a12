// korvex-hostile.exe: a hostile client. Through COM activation and the real proxy it calls every
// method of every interface the server object and its groups offer, with boundary and seeded
// random arguments (see session.h), and fails when the server died, a call hung beyond the bound,
// or a call returned a code that method may not return in that situation. Afterwards a fresh
// connection must still read a known item. The seed is printed first: the same seed makes the
// same calls against the same plant.
//
// With --block-in-callback it is instead a client whose data-change sink never returns, for the
// fault tests: it prints "blocked in a callback" once the first data change is stuck in it.
#include "tools/hostile/call_log.h"
#include "tools/hostile/random_arguments.h"
#include "tools/hostile/session.h"

#include "com/data_callback_sink.h"
#include "com/string_convert.h"

#include <CLI/CLI.hpp>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using hostile::CallLog;
using hostile::ComPtr;

constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoServer = 3;
constexpr int kExitServerLost = 4;
constexpr int kExitSessionFailed = 6;

struct Options {
    std::uint64_t calls = 20000;
    std::uint64_t seed = 0;
    double seconds = 0;
    unsigned callTimeoutMs = 30000;
    std::string progId = "Korvex.OPCServer.2";
    std::string item = "NorthSubstation.analog.Setpoint";
    bool blockInCallback = false;
    bool verbose = false;
};

// Every method the hostile run must reach in a run of 10,000 calls or more.
const char* const kEveryMethod[] = {
    "IOPCServer::AddGroup", "IOPCServer::GetErrorString", "IOPCServer::GetGroupByName", "IOPCServer::GetStatus",
    "IOPCServer::RemoveGroup", "IOPCServer::CreateGroupEnumerator", "IOPCCommon::SetLocaleID",
    "IOPCCommon::GetLocaleID", "IOPCCommon::QueryAvailableLocaleIDs", "IOPCCommon::GetErrorString",
    "IOPCCommon::SetClientName", "IOPCServerPublicGroups::GetPublicGroupByName",
    "IOPCServerPublicGroups::RemovePublicGroup", "IOPCBrowseServerAddressSpace::QueryOrganization",
    "IOPCBrowseServerAddressSpace::ChangeBrowsePosition", "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs",
    "IOPCBrowseServerAddressSpace::GetItemID", "IOPCBrowseServerAddressSpace::BrowseAccessPaths",
    "IOPCItemProperties::QueryAvailableProperties", "IOPCItemProperties::GetItemProperties",
    "IOPCItemProperties::LookupItemIDs", "IOPCBrowse::GetProperties", "IOPCBrowse::Browse", "IOPCItemIO::Read",
    "IOPCItemIO::WriteVQT", "IConnectionPointContainer::EnumConnectionPoints",
    "IConnectionPointContainer::FindConnectionPoint", "IConnectionPoint::GetConnectionInterface",
    "IConnectionPoint::GetConnectionPointContainer", "IConnectionPoint::Advise", "IConnectionPoint::Unadvise",
    "IConnectionPoint::EnumConnections", "IOPCGroupStateMgt::GetState", "IOPCGroupStateMgt::SetState",
    "IOPCGroupStateMgt::SetName", "IOPCGroupStateMgt::CloneGroup", "IOPCGroupStateMgt2::SetKeepAlive",
    "IOPCGroupStateMgt2::GetKeepAlive", "IOPCPublicGroupStateMgt::GetState", "IOPCPublicGroupStateMgt::MoveToPublic",
    "IOPCItemMgt::AddItems", "IOPCItemMgt::ValidateItems", "IOPCItemMgt::RemoveItems", "IOPCItemMgt::SetActiveState",
    "IOPCItemMgt::SetClientHandles", "IOPCItemMgt::SetDatatypes", "IOPCItemMgt::CreateEnumerator",
    "IEnumOPCItemAttributes::Next", "IEnumOPCItemAttributes::Skip", "IEnumOPCItemAttributes::Reset",
    "IEnumOPCItemAttributes::Clone", "IEnumString::Next", "IEnumString::Skip", "IEnumString::Reset",
    "IEnumString::Clone", "IEnumUnknown::Next", "IEnumConnectionPoints::Next", "IEnumConnections::Next",
    "IOPCSyncIO::Read", "IOPCSyncIO::Write", "IOPCSyncIO2::ReadMaxAge", "IOPCSyncIO2::WriteVQT", "IOPCAsyncIO::Read",
    "IOPCAsyncIO::Write", "IOPCAsyncIO::Refresh", "IOPCAsyncIO::Cancel", "IOPCAsyncIO2::Read", "IOPCAsyncIO2::Write",
    "IOPCAsyncIO2::Refresh2", "IOPCAsyncIO2::Cancel2", "IOPCAsyncIO2::SetEnable", "IOPCAsyncIO2::GetEnable",
    "IOPCAsyncIO3::ReadMaxAge", "IOPCAsyncIO3::WriteVQT", "IOPCAsyncIO3::RefreshMaxAge",
    "IOPCItemDeadbandMgt::SetItemDeadband", "IOPCItemDeadbandMgt::GetItemDeadband",
    "IOPCItemDeadbandMgt::ClearItemDeadband", "IOPCItemSamplingMgt::SetItemSamplingRate",
    "IOPCItemSamplingMgt::GetItemSamplingRate", "IOPCItemSamplingMgt::ClearItemSamplingRate",
    "IOPCItemSamplingMgt::SetItemBufferEnable", "IOPCItemSamplingMgt::GetItemBufferEnable"};

std::vector<std::string> arguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = count - 1; i >= 1; --i) args.push_back(korvex::com::toUtf8(wide[i]));  // CLI11 takes them reversed
    LocalFree(wide);
    return args;
}

ComPtr<IOPCServer> Connect(const CLSID& clsid) {
    ComPtr<IOPCServer> server;
    CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                     reinterpret_cast<void**>(server.ReleaseAndGetAddressOf()));
    return server;
}

// Every item of the address space, from a flat browse.
std::vector<std::wstring> KnownItems(const CLSID& clsid) {
    std::vector<std::wstring> items;
    ComPtr<IOPCServer> server = Connect(clsid);
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    if (server) server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(browse.ReleaseAndGetAddressOf()));
    ComPtr<IEnumString> strings;
    if (!browse || FAILED(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, strings.ReleaseAndGetAddressOf())) || !strings)
        return items;
    LPOLESTR batch[100];
    ULONG fetched = 0;
    while (items.size() < 5000 && SUCCEEDED(strings->Next(100, batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            items.emplace_back(batch[i]);
            CoTaskMemFree(batch[i]);
        }
    }
    return items;
}

// A fresh connection: the server runs and reads `item` from the device with good quality.
bool NormalSession(const CLSID& clsid, const std::wstring& item) {
    ComPtr<IOPCServer> server = Connect(clsid);
    if (!server) return std::fprintf(stderr, "korvex-hostile: a new connection failed\n"), false;
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT statusHr = server->GetStatus(&status);
    const bool running = SUCCEEDED(statusHr) && status && status->dwServerState == OPC_STATUS_RUNNING;
    if (status) CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    if (!running) return std::fprintf(stderr, "korvex-hostile: GetStatus: 0x%08lX, not running\n", statusHr), false;
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    HRESULT hr = server->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0, &groupHandle, &revised, IID_IOPCItemMgt,
                                  reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return std::fprintf(stderr, "korvex-hostile: AddGroup: 0x%08lX\n", hr), false;
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(item.c_str());
    definition.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    hr = items->AddItems(1, &definition, &results, &errors);
    const HRESULT itemHr = errors ? errors[0] : hr;
    const OPCHANDLE handle = results ? results[0].hServer : 0;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (hr != S_OK) return std::fprintf(stderr, "korvex-hostile: AddItems: 0x%08lX / 0x%08lX\n", hr, itemHr), false;
    ComPtr<IOPCSyncIO> io;
    items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(io.ReleaseAndGetAddressOf()));
    OPCITEMSTATE* states = nullptr;
    errors = nullptr;
    hr = io ? io->Read(OPC_DS_DEVICE, 1, const_cast<OPCHANDLE*>(&handle), &states, &errors) : E_NOINTERFACE;
    const bool good = hr == S_OK && states && (states[0].wQuality & 0xC0) == 0xC0;
    VARIANT text;
    VariantInit(&text);
    if (good) VariantChangeType(&text, &states[0].vDataValue, 0, VT_BSTR);
    if (good)
        std::printf("korvex-hostile: a new connection reads %s = %s, quality 0x%02X\n", korvex::com::toUtf8(item).c_str(),
                    text.vt == VT_BSTR ? korvex::com::toUtf8(text.bstrVal).c_str() : "?", states[0].wQuality);
    else
        std::fprintf(stderr, "korvex-hostile: Read of %s: 0x%08lX\n", korvex::com::toUtf8(item).c_str(), hr);
    VariantClear(&text);
    if (states) VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    items.Reset();
    io.Reset();
    server->RemoveGroup(groupHandle, TRUE);
    return good;
}

// Subscribes to `item` with a sink that never returns from its first data change.
class BlockingSink final : public korvex::com::DataCallbackSink<BlockingSink, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        std::printf("blocked in a callback\n");
        std::fflush(stdout);
        Sleep(INFINITE);
        return S_OK;
    }
};

int BlockInCallback(const CLSID& clsid, const std::wstring& item) {
    ComPtr<IOPCServer> server = Connect(clsid);
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    if (!server || FAILED(server->AddGroup(L"", TRUE, 200, 1, nullptr, nullptr, 0, &groupHandle, &revised,
                                           IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf()))))
        return kExitNoServer;
    auto sink = korvex::com::make<BlockingSink>();
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
    if (!container || FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf())) ||
        FAILED(point->Advise(sink->identity(), &cookie)))
        return kExitNoServer;
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(item.c_str());
    definition.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = items->AddItems(1, &definition, &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (hr != S_OK) return kExitNoServer;
    std::printf("subscribed\n");
    std::fflush(stdout);
    Sleep(INFINITE);  // until it is killed
    return 0;
}

}  // namespace

int main() {
    Options options;
    CLI::App app("A hostile client: every method of the server's interfaces with boundary and random arguments.",
                 "korvex-hostile");
    app.allow_windows_style_options(false);
    app.add_option("--calls", options.calls, "calls to make (default 20000)");
    app.add_option("--seed", options.seed, "seed of the arguments (default: from the clock; printed)");
    app.add_option("--seconds", options.seconds, "stop after this long even before --calls (0: no bound)");
    app.add_option("--call-timeout", options.callTimeoutMs, "ms one call may take before it counts as hung");
    app.add_option("--server", options.progId, "the server's ProgID");
    app.add_option("--item", options.item, "an item a normal session reads afterwards");
    app.add_flag("--verbose", options.verbose, "the methods that took longest, at the end");
    app.add_flag("--block-in-callback", options.blockInCallback,
                 "subscribe to --item with a sink that never returns, and wait to be killed");
    try {
        app.parse(arguments());
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kExitUsage;
    }
    if (options.seed == 0)
        options.seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(korvex::com::fromUtf8(options.progId).c_str(), &clsid))) {
        std::fprintf(stderr, "korvex-hostile: %s is not registered\n", options.progId.c_str());
        return kExitNoServer;
    }
    const std::wstring item = korvex::com::fromUtf8(options.item);
    if (options.blockInCallback) return BlockInCallback(clsid, item);

    std::printf("korvex-hostile: seed %llu, %llu calls\n", static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.calls));
    std::fflush(stdout);
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::wstring> known = KnownItems(clsid);
    if (known.empty()) {
        std::fprintf(stderr, "korvex-hostile: the server listed no items\n");
        return kExitNoServer;
    }
    int exitCode = 0;
    std::uint64_t calls = 0, lost = 0, refused = 0;
    std::size_t findings = 0, methods = 0;
    {
        CallLog log(std::chrono::milliseconds(options.callTimeoutMs), options.seed);
        hostile::RandomArguments random(options.seed);
        hostile::Session session(log, random, clsid, known);
        if (!session.Open()) {
            std::fprintf(stderr, "korvex-hostile: cannot connect\n");
            return kExitNoServer;
        }
        const auto deadline = started + std::chrono::duration<double>(options.seconds > 0 ? options.seconds : 1e9);
        while (log.calls() < options.calls && std::chrono::steady_clock::now() < deadline) {
            session.Step();
            if (log.takeTransportFailure() && !Connect(clsid)) {
                std::fprintf(stderr, "korvex-hostile: the server died or stopped answering (call %llu, seed %llu)\n",
                             static_cast<unsigned long long>(log.calls()), static_cast<unsigned long long>(options.seed));
                return kExitServerLost;
            }
        }
        session.Close();
        calls = log.calls();
        lost = log.lostCalls();
        refused = log.refusedByProxy();
        for (const auto& [method, seconds] : log.slowest(options.verbose ? 15 : 0))
            std::printf("  %-50s %8llu calls %8.2f s\n", method.c_str(),
                        static_cast<unsigned long long>(log.perMethod().at(method)), seconds);
        findings = log.findings();
        methods = log.perMethod().size();
        if (calls >= 10000) {
            for (const char* method : kEveryMethod) {
                if (log.perMethod().count(method) == 0) {
                    std::fprintf(stderr, "korvex-hostile: %s was never called\n", method);
                    exitCode = kExitFindings;
                }
            }
        }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("korvex-hostile: %llu calls of %zu methods in %.1f s (seed %llu): %zu findings, %llu calls lost by "
                "the transport, %llu refused by the proxy\n",
                static_cast<unsigned long long>(calls), methods, elapsed, static_cast<unsigned long long>(options.seed),
                findings, static_cast<unsigned long long>(lost), static_cast<unsigned long long>(refused));
    if (findings > 0) exitCode = kExitFindings;
    // Under load Wine now and then loses a call; more than one in a thousand is not the transport's.
    if (lost * 1000 > calls) {
        std::fprintf(stderr, "korvex-hostile: too many calls lost\n");
        exitCode = kExitServerLost;
    }
    if (!NormalSession(clsid, item)) exitCode = kExitSessionFailed;
    CoUninitialize();
    return exitCode;
}
