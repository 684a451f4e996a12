// servers: the machine's OPC DA servers (1.0, 2.0 or 3.0) as the OPC server list names them,
// IOPCServerList2 of CLSID_OpcServerList.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/status_names.h"

#include "com/com_ptr.h"
#include "com/string_convert.h"

namespace opcclient {

namespace {

std::string failure(std::string_view call, HRESULT code) {
    const std::string_view name = statusName(code);
    const std::string text = systemMessage(code);
    return std::string(call) + ": " + hexCode(code) + (name.empty() ? "" : " " + std::string(name)) +
           (text.empty() ? "" : ": " + text);
}

std::string takeUtf8(LPOLESTR text) {
    const std::string copy = korvex::com::toUtf8(text ? text : L"");
    CoTaskMemFree(text);
    return copy;
}

}  // namespace

int runServers(const Options& options, Output& out) {
    korvex::com::ComPtr<IOPCServerList2> list;
    HRESULT hr = CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServerList2,
                                  reinterpret_cast<void**>(list.ReleaseAndGetAddressOf()));
    if (FAILED(hr))
        throw ClientError("no OPC server list (" + failure("CoCreateInstance", hr) +
                              "); KorvexServerList.exe /RegServer registers one",
                          kExitNoServer);
    CATID categories[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
    korvex::com::ComPtr<IOPCEnumGUID> classes;
    hr = list->EnumClassesOfCategories(3, categories, 0, nullptr, classes.ReleaseAndGetAddressOf());
    if (FAILED(hr)) throw ClientError(failure("EnumClassesOfCategories", hr), kExitFailed);
    int exitCode = kExitOk;
    GUID batch[16];
    ULONG fetched = 0;
    do {
        hr = classes->Next(16, batch, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            wchar_t clsidText[40] = {};
            StringFromGUID2(batch[i], clsidText, 40);
            const std::string clsid = korvex::com::toUtf8(clsidText);
            LPOLESTR progId = nullptr, name = nullptr, independent = nullptr;
            const HRESULT details = list->GetClassDetails(batch[i], &progId, &name, &independent);
            CoTaskMemFree(independent);
            if (FAILED(details)) {
                out.error(clsid + ": " + failure("GetClassDetails", details));
                exitCode = kExitFailed;
                continue;
            }
            const std::string progIdText = takeUtf8(progId), nameText = takeUtf8(name);
            if (options.json) {
                out.object({{"progId", progIdText}, {"clsid", clsid}, {"name", nameText}});
            } else {
                out.line(progIdText + " " + clsid + " " + nameText);
            }
        }
    } while (hr == S_OK);
    if (FAILED(hr)) throw ClientError(failure("IOPCEnumGUID::Next", hr), kExitFailed);
    return exitCode;
}

}  // namespace opcclient
