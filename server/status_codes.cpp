#include "status_codes.h"

#include "com/task_memory.h"
#include "opcerror.h"
#include "server/status_text_ids.h"

#include <olectl.h>

#include <algorithm>
#include <array>
#include <utility>

namespace server {
namespace {

// Codes and text ids; the ids are not an offset of the codes (0xC0040404 has no text while
// 0xC0040405 has).
constexpr std::array<std::pair<HRESULT, UINT>, 30> kTexts{{
    {OPC_S_UNSUPPORTEDRATE, IDS_OPC_S_UNSUPPORTEDRATE},
    {OPC_S_CLAMP, IDS_OPC_S_CLAMP},
    {OPC_S_INUSE, IDS_OPC_S_INUSE},
    {OPC_S_DATAQUEUEOVERFLOW, IDS_OPC_S_DATAQUEUEOVERFLOW},
    {E_NOTIMPL, IDS_E_NOTIMPL},
    {E_NOINTERFACE, IDS_E_NOINTERFACE},
    {E_FAIL, IDS_E_FAIL},
    {OLE_E_NOCONNECTION, IDS_OLE_E_NOCONNECTION},
    {CONNECT_E_ADVISELIMIT, IDS_CONNECT_E_ADVISELIMIT},
    {E_OUTOFMEMORY, IDS_E_OUTOFMEMORY},
    {E_INVALIDARG, IDS_E_INVALIDARG},
    {OPC_E_INVALIDHANDLE, IDS_OPC_E_INVALIDHANDLE},
    {OPC_E_BADTYPE, IDS_OPC_E_BADTYPE},
    {OPC_E_PUBLIC, IDS_OPC_E_PUBLIC},
    {OPC_E_BADRIGHTS, IDS_OPC_E_BADRIGHTS},
    {OPC_E_UNKNOWNITEMID, IDS_OPC_E_UNKNOWNITEMID},
    {OPC_E_INVALIDITEMID, IDS_OPC_E_INVALIDITEMID},
    {OPC_E_INVALIDFILTER, IDS_OPC_E_INVALIDFILTER},
    {OPC_E_UNKNOWNPATH, IDS_OPC_E_UNKNOWNPATH},
    {OPC_E_RANGE, IDS_OPC_E_RANGE},
    {OPC_E_DUPLICATENAME, IDS_OPC_E_DUPLICATENAME},
    {OPC_E_INVALIDCONFIGFILE, IDS_OPC_E_INVALIDCONFIGFILE},
    {OPC_E_NOTFOUND, IDS_OPC_E_NOTFOUND},
    {OPC_E_INVALID_PID, IDS_OPC_E_INVALID_PID},
    {OPC_E_DEADBANDNOTSET, IDS_OPC_E_DEADBANDNOTSET},
    {OPC_E_DEADBANDNOTSUPPORTED, IDS_OPC_E_DEADBANDNOTSUPPORTED},
    {OPC_E_NOBUFFERING, IDS_OPC_E_NOBUFFERING},
    {OPC_E_INVALIDCONTINUATIONPOINT, IDS_OPC_E_INVALIDCONTINUATIONPOINT},
    {OPC_E_RATENOTSET, IDS_OPC_E_RATENOTSET},
    {OPC_E_NOTSUPPORTED, IDS_OPC_E_NOTSUPPORTED},
}};

}  // namespace

UINT StatusTextId(HRESULT code) {
    const auto found = std::find_if(kTexts.begin(), kTexts.end(), [code](const auto& e) { return e.first == code; });
    return found == kTexts.end() ? 0 : found->second;
}

HRESULT GetErrorText(HRESULT code, LCID locale, LPWSTR* text) {
    if (text == nullptr) return E_POINTER;
    const UINT id = StatusTextId(code);
    if (id == 0) return E_INVALIDARG;
    // The table of the client's language, not of the thread's: LoadString would pick the latter.
    const LANGID language = PRIMARYLANGID(LANGIDFROMLCID(locale)) == LANG_ENGLISH
                                ? MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)
                                : MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    const HMODULE module = GetModuleHandleW(nullptr);
    // A string table block holds 16 strings, each a length followed by that many UTF-16 units.
    const HRSRC block = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1), language);
    const HGLOBAL loaded = block ? LoadResource(module, block) : nullptr;
    const auto* entry = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (entry == nullptr) return E_FAIL;
    for (UINT i = 0; i < id % 16; ++i) entry += 1 + *entry;
    if (*entry == 0) return E_FAIL;
    return korvex::com::taskStringCopy(std::wstring_view(entry + 1, *entry), text);
}

}  // namespace server
