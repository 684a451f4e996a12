// Every GUID and result code our IDL and opcerror.h declare, and the texts and IDs clients see,
// against the published values (copied here by hand, not derived from the IDL). A wrong digit
// would build and run in process, and only fail when a real OPC client asks for it.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdint>
#include <string>

#include "opccomn.h"
#include "opcda.h"
#include "opcerror.h"

namespace {

std::string GuidString(const GUID& guid)
{
    wchar_t text[39] = {};
    if (StringFromGUID2(guid, text, 39) != 39) {
        return "(StringFromGUID2 failed)";
    }
    return std::string(text, text + 38);
}

// The interface's IID as the header declares it for __uuidof, and as the _i.c file defines it.
struct InterfaceCase {
    const char* name;
    const GUID& uuidof;
    const GUID& iid;
    const char* expected;
};

const InterfaceCase kInterfaces[] = {
    {"IOPCServer", __uuidof(IOPCServer), IID_IOPCServer, "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCServerPublicGroups", __uuidof(IOPCServerPublicGroups), IID_IOPCServerPublicGroups,
     "{39C13A4E-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCBrowseServerAddressSpace", __uuidof(IOPCBrowseServerAddressSpace), IID_IOPCBrowseServerAddressSpace,
     "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCGroupStateMgt", __uuidof(IOPCGroupStateMgt), IID_IOPCGroupStateMgt,
     "{39C13A50-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCGroupStateMgt2", __uuidof(IOPCGroupStateMgt2), IID_IOPCGroupStateMgt2,
     "{8E368666-D72E-4F78-87ED-647611C61C9F}"},
    {"IOPCPublicGroupStateMgt", __uuidof(IOPCPublicGroupStateMgt), IID_IOPCPublicGroupStateMgt,
     "{39C13A51-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCSyncIO", __uuidof(IOPCSyncIO), IID_IOPCSyncIO, "{39C13A52-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCSyncIO2", __uuidof(IOPCSyncIO2), IID_IOPCSyncIO2, "{730F5F0F-55B1-4C81-9E18-FF8A0904E1FA}"},
    {"IOPCAsyncIO", __uuidof(IOPCAsyncIO), IID_IOPCAsyncIO, "{39C13A53-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCAsyncIO2", __uuidof(IOPCAsyncIO2), IID_IOPCAsyncIO2, "{39C13A71-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCAsyncIO3", __uuidof(IOPCAsyncIO3), IID_IOPCAsyncIO3, "{0967B97B-36EF-423E-B6F8-6BFF1E40D39D}"},
    {"IOPCItemMgt", __uuidof(IOPCItemMgt), IID_IOPCItemMgt, "{39C13A54-011E-11D0-9675-0020AFD8ADB3}"},
    {"IEnumOPCItemAttributes", __uuidof(IEnumOPCItemAttributes), IID_IEnumOPCItemAttributes,
     "{39C13A55-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCDataCallback", __uuidof(IOPCDataCallback), IID_IOPCDataCallback,
     "{39C13A70-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCItemProperties", __uuidof(IOPCItemProperties), IID_IOPCItemProperties,
     "{39C13A72-011E-11D0-9675-0020AFD8ADB3}"},
    {"IOPCBrowse", __uuidof(IOPCBrowse), IID_IOPCBrowse, "{39227004-A18F-4B57-8B0A-5235670F4468}"},
    {"IOPCItemIO", __uuidof(IOPCItemIO), IID_IOPCItemIO, "{85C0B427-2893-4CBC-BD78-E5FC5146F08F}"},
    {"IOPCItemDeadbandMgt", __uuidof(IOPCItemDeadbandMgt), IID_IOPCItemDeadbandMgt,
     "{5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F}"},
    {"IOPCItemSamplingMgt", __uuidof(IOPCItemSamplingMgt), IID_IOPCItemSamplingMgt,
     "{3E22D313-F08B-41A5-86C8-95E95CB49FFC}"},
    {"IOPCCommon", __uuidof(IOPCCommon), IID_IOPCCommon, "{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"},
    {"IOPCShutdown", __uuidof(IOPCShutdown), IID_IOPCShutdown, "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"},
    {"IOPCServerList", __uuidof(IOPCServerList), IID_IOPCServerList, "{13486D50-4821-11D2-A494-3CB306C10000}"},
    {"IOPCEnumGUID", __uuidof(IOPCEnumGUID), IID_IOPCEnumGUID, "{55C382C8-21C7-4E88-96C1-BECFB1E3F483}"},
    {"IOPCServerList2", __uuidof(IOPCServerList2), IID_IOPCServerList2,
     "{9DD0B56C-AD9E-43EE-8305-487F3188BF7A}"},
};

TEST(IdlGuids, InterfaceIids)
{
    for (const auto& c : kInterfaces) {
        EXPECT_EQ(GuidString(c.uuidof), c.expected) << "__uuidof(" << c.name << ")";
        EXPECT_EQ(GuidString(c.iid), c.expected) << "IID_" << c.name;
    }
}

struct GuidCase {
    const char* name;
    const GUID& guid;
    const char* expected;
};

// Category IDs, the server browser's class, and the type library IDs (DA 3.00, Common, OpcEnum).
const GuidCase kOtherGuids[] = {
    {"CATID_OPCDAServer10", CATID_OPCDAServer10, "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"},
    {"CATID_OPCDAServer20", CATID_OPCDAServer20, "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"},
    {"CATID_OPCDAServer30", CATID_OPCDAServer30, "{CC603642-66D7-48F1-B69A-B625E73652D7}"},
    {"CATID_XMLDAServer10", CATID_XMLDAServer10, "{3098EDA4-A006-48B2-A27F-247453959408}"},
    {"CLSID_OpcServerList", CLSID_OpcServerList, "{13486D51-4821-11D2-A494-3CB306C10000}"},
    {"__uuidof(OpcServerList)", __uuidof(OpcServerList), "{13486D51-4821-11D2-A494-3CB306C10000}"},
    {"LIBID_OPCDA", LIBID_OPCDA, "{3B540B51-0378-4551-ADCC-EA9B104302BF}"},
    {"LIBID_OPCCOMN", LIBID_OPCCOMN, "{B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}"},
    {"LIBID_OpcEnumLib", LIBID_OpcEnumLib, "{13486D43-4821-11D2-A494-3CB306C10000}"},
};

TEST(IdlGuids, CategoriesClassAndLibraries)
{
    for (const auto& c : kOtherGuids) {
        EXPECT_EQ(GuidString(c.guid), c.expected) << c.name;
    }
}

struct ResultCase {
    const char* name;
    HRESULT code;
    std::uint32_t expected;
};

const ResultCase kResults[] = {
    {"OPC_E_INVALIDHANDLE", OPC_E_INVALIDHANDLE, 0xC0040001},
    {"OPC_E_BADTYPE", OPC_E_BADTYPE, 0xC0040004},
    {"OPC_E_PUBLIC", OPC_E_PUBLIC, 0xC0040005},
    {"OPC_E_BADRIGHTS", OPC_E_BADRIGHTS, 0xC0040006},
    {"OPC_E_UNKNOWNITEMID", OPC_E_UNKNOWNITEMID, 0xC0040007},
    {"OPC_E_INVALIDITEMID", OPC_E_INVALIDITEMID, 0xC0040008},
    {"OPC_E_INVALIDFILTER", OPC_E_INVALIDFILTER, 0xC0040009},
    {"OPC_E_UNKNOWNPATH", OPC_E_UNKNOWNPATH, 0xC004000A},
    {"OPC_E_RANGE", OPC_E_RANGE, 0xC004000B},
    {"OPC_E_DUPLICATENAME", OPC_E_DUPLICATENAME, 0xC004000C},
    {"OPC_S_UNSUPPORTEDRATE", OPC_S_UNSUPPORTEDRATE, 0x0004000D},
    {"OPC_S_CLAMP", OPC_S_CLAMP, 0x0004000E},
    {"OPC_S_INUSE", OPC_S_INUSE, 0x0004000F},
    {"OPC_E_INVALIDCONFIGFILE", OPC_E_INVALIDCONFIGFILE, 0xC0040010},
    {"OPC_E_NOTFOUND", OPC_E_NOTFOUND, 0xC0040011},
    {"OPC_E_INVALID_PID", OPC_E_INVALID_PID, 0xC0040203},
    {"OPC_E_DEADBANDNOTSET", OPC_E_DEADBANDNOTSET, 0xC0040400},
    {"OPC_E_DEADBANDNOTSUPPORTED", OPC_E_DEADBANDNOTSUPPORTED, 0xC0040401},
    {"OPC_E_NOBUFFERING", OPC_E_NOBUFFERING, 0xC0040402},
    {"OPC_E_INVALIDCONTINUATIONPOINT", OPC_E_INVALIDCONTINUATIONPOINT, 0xC0040403},
    {"OPC_S_DATAQUEUEOVERFLOW", OPC_S_DATAQUEUEOVERFLOW, 0x00040404},
    {"OPC_E_RATENOTSET", OPC_E_RATENOTSET, 0xC0040405},
    {"OPC_E_NOTSUPPORTED", OPC_E_NOTSUPPORTED, 0xC0040406},
    {"OPCCPX_E_TYPE_CHANGED", OPCCPX_E_TYPE_CHANGED, 0xC0040407},
    {"OPCCPX_E_FILTER_DUPLICATE", OPCCPX_E_FILTER_DUPLICATE, 0xC0040408},
    {"OPCCPX_E_FILTER_INVALID", OPCCPX_E_FILTER_INVALID, 0xC0040409},
    {"OPCCPX_E_FILTER_ERROR", OPCCPX_E_FILTER_ERROR, 0xC004040A},
    {"OPCCPX_S_FILTER_NO_DATA", OPCCPX_S_FILTER_NO_DATA, 0x0004040B},
};

TEST(IdlGuids, ResultCodes)
{
    for (const auto& c : kResults) {
        EXPECT_EQ(static_cast<std::uint32_t>(c.code), c.expected)
            << c.name << ": got 0x" << std::hex << static_cast<std::uint32_t>(c.code);
    }
}

// Texts that end up in the registry.
// Wide on purpose: a narrow literal here would not compile against std::wstring.
struct TextCase {
    const char* name;
    std::wstring text;
    const wchar_t* expected;
};

const TextCase kCategoryDescriptions[] = {
    {"DA10", OPC_CATEGORY_DESCRIPTION_DA10, L"OPC Data Access Servers Version 1.0"},
    {"DA20", OPC_CATEGORY_DESCRIPTION_DA20, L"OPC Data Access Servers Version 2.0"},
    {"DA30", OPC_CATEGORY_DESCRIPTION_DA30, L"OPC Data Access Servers Version 3.0"},
    {"XMLDA10", OPC_CATEGORY_DESCRIPTION_XMLDA10, L"OPC XML Data Access Servers Version 1.0"},
};

TEST(IdlConstants, CategoryDescriptions)
{
    for (const auto& c : kCategoryDescriptions) {
        EXPECT_EQ(c.text, c.expected) << c.name;
    }
}

// Structures the server allocates for clients: a size taken from a table instead of sizeof
// corrupts the heap on the other architecture.
#if defined(_WIN64)
static_assert(sizeof(OPCITEMSTATE) == 40);
static_assert(sizeof(OPCSERVERSTATUS) == 56);
static_assert(sizeof(OPCITEMVQT) == 48);
#else
static_assert(sizeof(void*) == 4);
static_assert(sizeof(OPCITEMSTATE) == 32);
static_assert(sizeof(OPCSERVERSTATUS) == 48);
static_assert(sizeof(OPCITEMVQT) == 40);
#endif

} // namespace
