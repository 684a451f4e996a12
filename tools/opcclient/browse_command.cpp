// browse: IOPCBrowseServerAddressSpace, one level below a branch or every item below it.
#include "tools/opcclient/commands.h"

#include "com/string_convert.h"

#include <string>
#include <vector>

namespace opcclient {

namespace {

std::vector<std::wstring> browseNames(const Connection& connection, IOPCBrowseServerAddressSpace* browser,
                                      OPCBROWSETYPE type, const std::wstring& filter) {
    korvex::com::ComPtr<IEnumString> names;
    connection.check(browser->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, names.ReleaseAndGetAddressOf()),
                     "BrowseOPCItemIDs");
    std::vector<std::wstring> result;
    if (!names) return result;
    LPOLESTR batch[64];
    ULONG fetched = 0;
    HRESULT hr;
    do {
        hr = names->Next(64, batch, &fetched);
        connection.check(hr, "IEnumString::Next");
        for (ULONG i = 0; i < fetched; ++i) {
            result.emplace_back(batch[i] ? batch[i] : L"");
            CoTaskMemFree(batch[i]);
        }
    } while (hr == S_OK && fetched > 0);
    return result;
}

}  // namespace

int runBrowse(const Connection& connection, const Options& options, Output& out) {
    const auto browser = connection.require<IOPCBrowseServerAddressSpace>("IOPCBrowseServerAddressSpace", "browsing");
    const std::string position = options.operands.empty() ? "" : options.operands[0];
    if (!position.empty()) {
        connection.check(browser->ChangeBrowsePosition(OPC_BROWSE_TO, korvex::com::fromUtf8(position).c_str()),
                         "ChangeBrowsePosition to " + position);
    }
    const std::wstring filter = korvex::com::fromUtf8(options.filter);

    if (options.flat) {
        for (const std::wstring& id : browseNames(connection, browser.Get(), OPC_FLAT, filter)) {
            const std::string itemId = korvex::com::toUtf8(id);
            if (options.json)
                out.object({{"item", itemId}});
            else
                out.line(itemId);
        }
        return kExitOk;
    }
    for (const OPCBROWSETYPE type : {OPC_BRANCH, OPC_LEAF}) {
        for (const std::wstring& name : browseNames(connection, browser.Get(), type, filter)) {
            LPWSTR fullId = nullptr;
            connection.check(browser->GetItemID(const_cast<LPWSTR>(name.c_str()), &fullId),
                             "GetItemID(" + korvex::com::toUtf8(name) + ")");
            const std::string itemId = korvex::com::toUtf8(fullId ? fullId : L"");
            CoTaskMemFree(fullId);
            const bool branch = type == OPC_BRANCH;
            if (options.json)
                out.object({{"name", korvex::com::toUtf8(name)}, {"item", itemId}, {"branch", branch}});
            else
                out.line((branch ? "branch  " : "leaf    ") + itemId);
        }
    }
    return kExitOk;
}

}  // namespace opcclient
