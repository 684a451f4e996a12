// DA 3.0 paging over names that do not resolve back to their node: a name holding '.' and two
// siblings of the same name. Every entry is handed out once, in order, and the browse ends.
#include "addrspace/address_space.h"
#include "addrspace/opc_browse.h"
#include "tests/support/in_process_runtime.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using rtimage::AnalogPoint;
using rtimage::Station;

TEST(AddressSpaceBrowse, PagingHandsOutEveryEntryOnceWhateverTheNames) {
    Station s1{"S1", true, {}, {}};
    for (const char* name : {"A", "Dup", "x.y", "Dup", "B"}) s1.analogs.push_back(AnalogPoint{name, "", 0, 0, false, 0});
    InProcessRuntime runtime(std::vector<Station>{s1});
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    ASSERT_TRUE(access.AttachDatabase());
    COPCAddressSpaceMgt space;
    ASSERT_TRUE(space.BuildAddressSpace(access));

    for (const DWORD pageSize : {1u, 2u, 3u}) {
        browse::BrowseRequest request;
        request.itemId = L"S1.analog";
        request.maxElements = pageSize;
        std::vector<std::wstring> names;
        for (int call = 0; call < 10; ++call) {
            browse::BrowseResult result;
            ASSERT_EQ(browse::Browse(space, request, result), S_OK) << "page size " << pageSize << " call " << call;
            for (const OPCBROWSEELEMENT& e : result.elements.items()) names.emplace_back(e.szName);
            if (result.continuationPoint.empty()) break;
            request.continuationPoint = result.continuationPoint;
        }
        EXPECT_EQ(names, (std::vector<std::wstring>{L"A", L"Dup", L"x.y", L"Dup", L"B"})) << "page size " << pageSize;
    }
}

}  // namespace
