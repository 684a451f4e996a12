#include "transport_baseline.h"

#include "bench_items.h"
#include "bench_timing.h"
#include "change_recorder.h"
#include "figure_log.h"
#include "opc_calls.h"

#include "com/com_object.h"
#include "tests/support/wine_process.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace bench {
namespace {

using korvex::com::ComObject;

constexpr DWORD kCallItems = 10000;
constexpr int kCallRepeats = 7;
constexpr int kEmptyCalls = 2000;

// --- marshaled interfaces as text, to pass on a command line or a line of output ---

std::string MarshalToHex(IUnknown* object, REFIID iid) {
    ComPtr<IStream> stream;
    Check(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf()), "CreateStreamOnHGlobal");
    Check(CoMarshalInterface(stream.Get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL), "CoMarshalInterface");
    HGLOBAL memory = nullptr;
    Check(GetHGlobalFromStream(stream.Get(), &memory), "GetHGlobalFromStream");
    ULARGE_INTEGER size{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &size);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
    std::string hex;
    for (ULONGLONG i = 0; i < size.QuadPart; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    GlobalUnlock(memory);
    return hex;
}

template <class Interface>
ComPtr<Interface> UnmarshalFromHex(const std::string& hex) {
    ComPtr<IStream> stream;
    Check(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf()), "CreateStreamOnHGlobal");
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const auto byte = static_cast<unsigned char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
        stream->Write(&byte, 1, nullptr);
    }
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ComPtr<Interface> object;
    Check(CoUnmarshalInterface(stream.Get(), __uuidof(Interface), reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())),
          "CoUnmarshalInterface");
    return object;
}

template <class T>
T* TaskArrayOf(std::size_t count) {
    auto* array = static_cast<T*>(CoTaskMemAlloc(std::max<std::size_t>(count, 1) * sizeof(T)));
    if (array) std::fill_n(array, count, T{});
    return array;
}

// --- the canned server's group ---

// Answers with arrays of the real server's shape and does nothing else: what remains of a call's
// time is the transport's.
class CannedGroup final : public ComObject<CannedGroup, IOPCItemMgt, IOPCSyncIO, IOPCCommon, korvex::com::no_module_lock> {
public:
    explicit CannedGroup(HANDLE released) : released_(released) {}

    HRESULT STDMETHODCALLTYPE AddItems(DWORD count, OPCITEMDEF*, OPCITEMRESULT** results, HRESULT** errors) override {
        *results = TaskArrayOf<OPCITEMRESULT>(count);
        *errors = TaskArrayOf<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            (*results)[i].hServer = i + 1;
            (*results)[i].vtCanonicalDataType = VT_R4;
            (*results)[i].dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD count, OPCHANDLE*, HRESULT** errors) override {
        *errors = TaskArrayOf<HRESULT>(count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE, DWORD count, OPCHANDLE* handles, OPCITEMSTATE** states,
                                   HRESULT** errors) override {
        FILETIME now;
        CoFileTimeNow(&now);
        *states = TaskArrayOf<OPCITEMSTATE>(count);
        *errors = TaskArrayOf<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            OPCITEMSTATE& state = (*states)[i];
            state.hClient = handles[i];
            state.ftTimeStamp = now;
            state.wQuality = OPC_QUALITY_GOOD;
            state.vDataValue.vt = VT_R4;
            state.vDataValue.fltVal = static_cast<float>(i);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, OPCHANDLE*, VARIANT*, HRESULT**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override {
        *locale = LOCALE_SYSTEM_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR) override { return S_OK; }

protected:
    void finalRelease() noexcept override { SetEvent(released_); }

private:
    HANDLE released_;
};

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}

template <class Work>
double MedianMs(int repeats, Work&& work) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) times.push_back(Measure(work).wallSeconds * 1e3);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The value of "NAME value" in a helper's output.
double OutputValue(const std::string& output, const std::string& name) {
    const auto at = output.find(name + " ");
    if (at == std::string::npos) throw std::runtime_error("the helper printed no " + name + ": " + output);
    return std::strtod(output.c_str() + at + name.size() + 1, nullptr);
}

}  // namespace

TransportBaselines MeasureTransport(bool calls, std::initializer_list<DWORD> callbackItems) {
    TransportBaselines baselines;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (calls) {
        const CannedServer canned;
        LCID locale = 0;
        for (int i = 0; i < 100; ++i) canned.common()->GetLocaleID(&locale);  // warm
        baselines.emptyCallMs = Measure([&] {
                                    for (int i = 0; i < kEmptyCalls; ++i)
                                        Check(canned.common()->GetLocaleID(&locale), "GetLocaleID");
                                }).wallSeconds * 1e3 / kEmptyCalls;
        std::vector<std::wstring> ids = BenchItemIds(0, kCallItems);
        std::vector<OPCITEMDEF> definitions = ItemDefinitions(ids);
        std::vector<OPCHANDLE> handles = AddItems(canned.items(), definitions);
        baselines.addItemsMs = MedianMs(kCallRepeats, [&] { AddItems(canned.items(), definitions); });
        baselines.removeItemsMs = MedianMs(kCallRepeats, [&] { RemoveItems(canned.items(), handles); });
        baselines.readMs = MedianMs(kCallRepeats, [&] { ReadItems(canned.io(), OPC_DS_CACHE, handles); });
    }
    for (const DWORD items : callbackItems) {
        auto sink = korvex::com::make<ChangeRecorder>(false);
        const int calls = static_cast<int>(std::clamp<DWORD>(1000000 / items, 5, 100));
        const std::string objref = MarshalToHex(sink->identity(), IID_IOPCDataCallback);
        korvex::test::ChildProcess sender("korvex_bench.exe",
                                          {"--canned-changes", objref, std::to_string(items), std::to_string(calls)});
        const auto code = sender.waitForExit(std::chrono::seconds(120));
        const std::string output = sender.output();
        if (code != std::optional<DWORD>(0)) throw std::runtime_error("the canned sender failed: " + output);
        const double wall = OutputValue(output, "wall"), cpu = OutputValue(output, "cpu");
        const double sent = static_cast<double>(items) * calls;
        if (sink->TotalItems() != static_cast<std::uint64_t>(sent) + items)
            throw std::runtime_error("the canned changes did not all arrive");
        baselines.callbacks.push_back({items, wall * 1e3 / calls, sent / wall, cpu * 1e6 / sent});
        baselines.callbacks.back().emptyCallbackMs = OutputValue(output, "empty") * 1e3 / 1000;
    }
    return baselines;
}

CannedServer::CannedServer() : process_("korvex_bench.exe", {"--canned-server"}) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::string objref;
    for (int i = 0; i < 600 && objref.empty(); ++i) {
        const std::string output = process_.output();
        if (const auto at = output.find("objref "); at != std::string::npos && output.find('\n', at) != std::string::npos)
            objref = output.substr(at + 7, output.find_first_of("\r\n", at) - at - 7);
        else
            Sleep(50);
    }
    if (objref.empty()) throw std::runtime_error("the canned server did not start: " + process_.output());
    group_ = UnmarshalFromHex<IOPCItemMgt>(objref);
    io_ = Query<IOPCSyncIO>(group_.Get());
    common_ = Query<IOPCCommon>(group_.Get());
}

CannedServer::~CannedServer() {
    common_.Reset();
    io_.Reset();
    group_.Reset();
    process_.waitForExit(std::chrono::seconds(10));
}

int RunCannedServer() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        auto group = korvex::com::make<CannedGroup>(released);
        std::printf("objref %s\n", MarshalToHex(group->identity(), IID_IOPCItemMgt).c_str());
        std::fflush(stdout);
    }  // the stub's reference keeps it until the client lets go
    const DWORD waited = WaitForSingleObject(released, 10 * 60 * 1000);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

int RunCannedChanges(const std::vector<std::string>& args) {
    if (args.size() != 3) return 2;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        auto sink = UnmarshalFromHex<IOPCDataCallback>(args[0]);
        const auto items = static_cast<DWORD>(std::stoul(args[1]));
        const int calls = std::stoi(args[2]);
        std::vector<OPCHANDLE> handles(items);
        std::vector<VARIANT> values(items);
        std::vector<WORD> qualities(items, OPC_QUALITY_GOOD);
        std::vector<FILETIME> timestamps(items);
        std::vector<HRESULT> errors(items, S_OK);
        FILETIME now;
        CoFileTimeNow(&now);
        for (DWORD i = 0; i < items; ++i) {
            handles[i] = i;
            VariantInit(&values[i]);
            values[i].vt = VT_R4;
            values[i].fltVal = static_cast<float>(i);
            timestamps[i] = now;
        }
        const auto send = [&] {
            Check(sink->OnDataChange(0, 1, S_OK, S_OK, items, handles.data(), values.data(), qualities.data(),
                                     timestamps.data(), errors.data()),
                  "OnDataChange");
        };
        send();  // warm
        for (int i = 0; i < 100; ++i) sink->OnCancelComplete(0, 0);
        const Timing empty = bench::Measure([&] {
            for (int i = 0; i < 1000; ++i) Check(sink->OnCancelComplete(0, 0), "OnCancelComplete");
        });
        std::printf("empty %.6f\n", empty.wallSeconds);
        const double cpuBefore = ProcessCpuSeconds();
        const Timing timing = bench::Measure([&] {
            for (int i = 0; i < calls; ++i) send();
        });
        std::printf("wall %.6f\ncpu %.6f\n", timing.wallSeconds, ProcessCpuSeconds() - cpuBefore);
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "canned sender: %s\n", e.what());
        return 1;
    }
}

const CallbackCeiling& TransportBaselines::CeilingFor(DWORD items) const {
    const CallbackCeiling* closest = &callbacks.front();
    for (const CallbackCeiling& c : callbacks)
        if (std::abs(static_cast<double>(c.items) - items) < std::abs(static_cast<double>(closest->items) - items))
            closest = &c;
    return *closest;
}


}  // namespace bench
