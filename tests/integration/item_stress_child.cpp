// The second client process of the item stress test: unmarshals the group that the test shares
// with it, runs stress workers on it and prints what they found:
//   item_stress_child <file of the marshaled IOPCItemMgt> <workers> <milliseconds>
// Output: "kept <client handle>" lines, "fault <text>" lines, then "done <operations>". Exit 0 when
// there was no fault.
#include "tests/integration/item_stress_worker.h"

#include "com/com_ptr.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

korvex::com::ComPtr<IOPCItemMgt> UnmarshalGroup(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    korvex::com::ComPtr<IOPCItemMgt> items;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory || bytes.empty()) return items;
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(GlobalLock(memory)));
    GlobalUnlock(memory);
    korvex::com::ComPtr<IStream> stream;
    if (SUCCEEDED(CreateStreamOnHGlobal(memory, TRUE, stream.ReleaseAndGetAddressOf())))
        CoUnmarshalInterface(stream.Get(), IID_IOPCItemMgt, reinterpret_cast<void**>(items.ReleaseAndGetAddressOf()));
    return items;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: item_stress_child <marshaled group> <workers> <milliseconds>\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int rc = 0;
    {
        const auto items = UnmarshalGroup(argv[1]);
        if (!items) {
            std::printf("fault cannot unmarshal the group\n");
            rc = 1;
        } else {
            // The slots after the first process's workers.
            const unsigned workers = static_cast<unsigned>(std::atoi(argv[2]));
            const std::chrono::milliseconds duration(std::atoi(argv[3]));
            std::vector<korvex::test::StressReport> reports(workers);
            std::vector<std::thread> threads;
            for (unsigned w = 0; w < workers; ++w)
                threads.emplace_back([&, w] { reports[w] = korvex::test::RunItemStress(items.Get(), 100 + w, workers + w, duration); });
            for (std::thread& t : threads) t.join();
            long operations = 0;
            for (const auto& report : reports) {
                operations += report.operations + report.reads;
                for (OPCHANDLE h : report.keptHandles) std::printf("kept %lu\n", static_cast<unsigned long>(h));
                for (const std::string& fault : report.faults) std::printf("fault %s\n", fault.c_str());
                if (!report.faults.empty()) rc = 1;
            }
            std::printf("done %ld\n", operations);
        }
    }
    std::fflush(stdout);
    CoUninitialize();
    return rc;
}
