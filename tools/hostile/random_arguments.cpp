#include "tools/hostile/random_arguments.h"

#include "com/string_convert.h"
#include "opcda.h"
#include "opcerror.h"

#include <ocidl.h>

#include <cmath>
#include <limits>

namespace hostile {

namespace {

// Characters item IDs and names must survive: wildcards, separators, a control character,
// Chinese, a fullwidth letter a best-fit mapping would turn into P, an unpaired surrogate, a
// non-character.
const std::vector<std::wstring> kOddParts = {
    L"*", L"?", L"#", L"[!a-z]", L"[", L"\\", L"/", L".", L"..", L" ", L"\t", L"\x01", L"\x7f",
    L"\u6cf5\u7ad9", L"\uff30", L"\xd800", L"\xdfff", L"\xffff", L"%s%n", L"'\"", L".3.", L".4.",
};

}  // namespace

DWORD RandomArguments::count() {
    lastHuge_ = false;
    if (chance(1.0 / 1500)) {
        lastHuge_ = true;
        return 100000;
    }
    switch (between(0, 9)) {
    case 0: return 0;
    case 1:
    case 2:
    case 3: return 1;
    case 9: return between(100, 600);
    default: return between(2, 20);
    }
}

std::wstring RandomArguments::junk() {
    switch (between(0, 5)) {
    case 0: return L"";
    case 1: {
        // Longer than any ID the address space can hold; now and then far longer.
        const std::size_t length = chance(0.1) ? between(60000, 70000) : between(300, 5000);
        return std::wstring(length, static_cast<wchar_t>(L'A' + between(0, 25)));
    }
    case 2: {
        std::wstring text;
        for (std::uint32_t i = between(1, 6); i > 0; --i) text += pick(kOddParts);
        return text;
    }
    case 3: {
        std::wstring text;
        for (std::uint32_t i = between(1, 40); i > 0; --i) text += static_cast<wchar_t>(between(1, 0xFFFF));
        return text;
    }
    case 4: {
        std::wstring text;
        for (std::uint32_t i = between(1, 30); i > 0; --i) text += static_cast<wchar_t>(between(0x20, 0x7E));
        return text;
    }
    default: return std::wstring(between(1, 50), L'*');
    }
}

std::wstring RandomArguments::itemId(const std::vector<std::wstring>& known) {
    if (known.empty() || chance(0.25)) return junk();
    std::wstring id = pick(known);
    switch (between(0, 7)) {
    case 0: return id.substr(0, between(0, static_cast<std::uint32_t>(id.size())));  // a branch or a prefix
    case 1: return id + pick(kOddParts);
    case 2: {
        for (wchar_t& c : id)
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        return id;
    }
    case 3: return id + L"." + junk();
    case 4: {
        const std::size_t at = between(0, static_cast<std::uint32_t>(id.size()));
        return id.insert(at, pick(kOddParts));
    }
    default: return id;
    }
}

std::wstring RandomArguments::name() {
    if (chance(0.4)) return L"Group" + std::to_wstring(between(0, 12));
    return junk();
}

std::wstring RandomArguments::filter() {
    static const std::vector<std::wstring> filters = {L"", L"*", L"?", L"*a*", L"[A-Z]*", L"[!0-9]*", L"#*", L"*.*",
                                                      L"**********************************a"};
    return chance(0.6) ? pick(filters) : junk();
}

OPCHANDLE RandomArguments::handle(const std::vector<OPCHANDLE>& valid, const std::vector<OPCHANDLE>& foreign,
                                  const std::vector<OPCHANDLE>& stale) {
    const std::uint32_t kind = between(0, 9);
    if (kind < 6 && !valid.empty()) return pick(valid);
    if (kind == 6 && !foreign.empty()) return pick(foreign);
    if (kind == 7 && !stale.empty()) return pick(stale);
    switch (between(0, 3)) {
    case 0: return 0;
    case 1: return 0xFFFFFFFF;
    case 2: return between(1, 5000);
    default: return any32();
    }
}

VARTYPE RandomArguments::varType() {
    static const std::vector<VARTYPE> types = {
        VT_EMPTY, VT_NULL, VT_I2,   VT_I4,   VT_R4,       VT_R8,   VT_CY,          VT_DATE,
        VT_BSTR,  VT_ERROR, VT_BOOL, VT_VARIANT, VT_DECIMAL, VT_I1, VT_UI1,        VT_UI2,
        VT_UI4,   VT_I8,   VT_UI8,  VT_INT,  VT_UINT,     VT_DISPATCH, VT_UNKNOWN, VT_ARRAY | VT_R4,
        VT_BYREF | VT_I4, VT_VECTOR | VT_I2, 0x7FFF, VT_RECORD, VT_LPSTR, VT_FILETIME};
    return chance(0.9) ? pick(types) : static_cast<VARTYPE>(between(0, 0xFFFF));
}

VARIANT RandomArguments::value() {
    VARIANT v;
    VariantInit(&v);
    static const std::vector<float> floats = {0.0f, 1.0f, -1.0f, 50.0f, 62.5f, 1e10f, -1e10f,
                                              std::numeric_limits<float>::max(),
                                              std::numeric_limits<float>::denorm_min(),
                                              std::numeric_limits<float>::quiet_NaN(),
                                              std::numeric_limits<float>::infinity(),
                                              -std::numeric_limits<float>::infinity()};
    switch (between(0, 12)) {
    case 0: break;  // VT_EMPTY
    case 1: v.vt = VT_NULL; break;
    case 2: v.vt = VT_R4; v.fltVal = pick(floats); break;
    case 3: v.vt = VT_R8; v.dblVal = chance(0.5) ? pick(floats) : 1e300; break;
    case 4: v.vt = VT_I4; v.lVal = static_cast<LONG>(any32()); break;
    case 5: v.vt = VT_BOOL; v.boolVal = chance(0.5) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 6: {
        static const std::vector<std::wstring> texts = {L"12.5", L"abc", L"", L"on", L"1e400", L"-0", L"NaN", L"\u6cf5"};
        const std::wstring text = chance(0.8) ? pick(texts) : junk();
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        break;
    }
    case 7: v.vt = VT_I8; v.llVal = static_cast<LONGLONG>(engine_()); break;
    case 8: v.vt = VT_DATE; v.date = 45000.5; break;
    case 9: v.vt = VT_CY; v.cyVal.int64 = static_cast<LONGLONG>(engine_()); break;
    case 10: v.vt = VT_ERROR; v.scode = E_FAIL; break;
    case 11: v.vt = VT_UI1; v.bVal = static_cast<BYTE>(any32()); break;
    default: {
        SAFEARRAY* array = SafeArrayCreateVector(VT_R4, 0, between(0, 5));
        if (array != nullptr) {
            v.vt = VT_ARRAY | VT_R4;
            v.parray = array;
        }
        break;
    }
    }
    return v;
}

OPCITEMVQT RandomArguments::vqt() {
    OPCITEMVQT vqt{};
    vqt.vDataValue = value();
    vqt.bQualitySpecified = chance(0.3);
    vqt.wQuality = static_cast<WORD>(any32());
    vqt.bTimeStampSpecified = chance(0.3);
    vqt.ftTimeStamp = time();
    return vqt;
}

DWORD RandomArguments::updateRate() {
    static const std::vector<DWORD> rates = {0, 1, 99, 100, 199, 200, 201, 299, 300, 1000, 0x7FFFFFFF, 0x80000000,
                                             0xFFFFFF38, 0xFFFFFFFF};
    return chance(0.8) ? pick(rates) : any32();
}

FLOAT RandomArguments::deadband() {
    static const std::vector<float> bands = {0.0f, 0.5f, 1.0f, 50.0f, 100.0f, 100.0001f, -0.0f, -1.0f, 150.0f, 1e30f,
                                             std::numeric_limits<float>::denorm_min(),
                                             std::numeric_limits<float>::quiet_NaN(),
                                             std::numeric_limits<float>::infinity(),
                                             -std::numeric_limits<float>::infinity()};
    return pick(bands);
}

LCID RandomArguments::locale() {
    static const std::vector<LCID> locales = {0, 0x0400, 0x0800, 0x0409, 0x0804, 0x0407, 0x0C00, 0xFFFFFFFF};
    return chance(0.85) ? pick(locales) : any32();
}

DWORD RandomArguments::maxAge() {
    static const std::vector<DWORD> ages = {0, 1, 200, 1000, 0x7FFFFFFF, 0xFFFFFFFF};
    return chance(0.8) ? pick(ages) : any32();
}

DWORD RandomArguments::propertyId() {
    static const std::vector<DWORD> ids = {0, 1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105, 106, 107, 108,
                                           5000, 0x7FFFFFFF, 0xFFFFFFFF};
    return chance(0.85) ? pick(ids) : any32();
}

FILETIME RandomArguments::time() {
    const std::uint64_t ticks = chance(0.3) ? 0 : chance(0.5) ? 0xFFFFFFFFFFFFFFFFull : engine_();
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD RandomArguments::enumValue(DWORD first, DWORD members) {
    if (chance(0.8)) return first + between(0, members - 1);
    static const std::vector<DWORD> outside = {0, 99, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    return pick(outside);
}

IID RandomArguments::iid() {
    static const std::vector<IID> iids = {IID_IUnknown,         IID_IOPCItemMgt,     IID_IOPCGroupStateMgt,
                                          IID_IOPCGroupStateMgt2, IID_IOPCSyncIO,      IID_IOPCSyncIO2,
                                          IID_IOPCAsyncIO2,     IID_IOPCAsyncIO3,    IID_IConnectionPointContainer,
                                          IID_IOPCServer,       IID_IEnumString,     IID_IEnumUnknown,
                                          IID_IDataObject,      IID_IOPCItemDeadbandMgt, IID_IOPCBrowse};
    if (chance(0.9)) return pick(iids);
    IID made{};
    made.Data1 = any32();
    return made;
}

HRESULT RandomArguments::errorCode() {
    static const std::vector<HRESULT> codes = {S_OK,        S_FALSE,     E_FAIL,           E_INVALIDARG,
                                               E_POINTER,   OPC_E_UNKNOWNITEMID, OPC_E_INVALIDHANDLE,
                                               OPC_S_CLAMP, static_cast<HRESULT>(0xC0040404),
                                               static_cast<HRESULT>(0x00040404), OPC_E_RATENOTSET,
                                               static_cast<HRESULT>(0x80070005)};
    return chance(0.8) ? pick(codes) : static_cast<HRESULT>(any32());
}

std::string Describe(const std::wstring& text) {
    std::string start = korvex::com::toUtf8(text.substr(0, 24));
    for (char& c : start)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return "\"" + start + (text.size() > 24 ? "...\" (" + std::to_string(text.size()) + " chars)" : "\"");
}

}  // namespace hostile
