// Adding, validating, removing and changing a group's items, and enumerating them, with exact
// per-item codes; in process and across processes over the sample plant.
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"

#include "opcerror.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

struct ItemRequest {
    const wchar_t* itemId;
    VARTYPE requestedType = VT_EMPTY;
    BOOL active = TRUE;
};

struct ItemResults {
    HRESULT hr = E_UNEXPECTED;
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
};

class ItemManagement : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override {
        OPCHANDLE handle;
        DWORD revised;
        ASSERT_HR(server_->AddGroup(L"Items", TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                                    reinterpret_cast<LPUNKNOWN*>(items_.ReleaseAndGetAddressOf())),
                  S_OK);
    }

    ItemResults Call(const std::vector<ItemRequest>& requests, bool validate) {
        std::vector<OPCITEMDEF> definitions;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            OPCITEMDEF d{};
            d.szAccessPath = const_cast<LPWSTR>(L"");
            d.szItemID = const_cast<LPWSTR>(requests[i].itemId);
            d.bActive = requests[i].active;
            d.hClient = static_cast<OPCHANDLE>(100 + i);
            d.vtRequestedDataType = requests[i].requestedType;
            definitions.push_back(d);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ItemResults out;
        const DWORD count = static_cast<DWORD>(definitions.size());
        out.hr = validate ? items_->ValidateItems(count, definitions.data(), FALSE, &results, &errors)
                          : items_->AddItems(count, definitions.data(), &results, &errors);
        if (results) out.results.assign(results, results + count);
        if (errors) out.errors.assign(errors, errors + count);
        for (DWORD i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return out;
    }

    std::vector<HRESULT> Remove(std::vector<OPCHANDLE> handles, HRESULT expected) {
        HRESULT* errors = nullptr;
        EXPECT_HR(items_->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors), expected);
        std::vector<HRESULT> result(errors, errors + (errors ? handles.size() : 0));
        CoTaskMemFree(errors);
        return result;
    }

    std::vector<OPCITEMATTRIBUTES> Enumerate() {
        ComPtr<IEnumOPCItemAttributes> enumerator;
        std::vector<OPCITEMATTRIBUTES> all;
        const HRESULT hr = items_->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                                    reinterpret_cast<LPUNKNOWN*>(enumerator.ReleaseAndGetAddressOf()));
        if (hr != S_OK) return all;
        OPCITEMATTRIBUTES* batch = nullptr;
        ULONG fetched = 0;
        while (SUCCEEDED(enumerator->Next(10, &batch, &fetched)) && fetched > 0) {
            all.insert(all.end(), batch, batch + fetched);
            CoTaskMemFree(batch);
            batch = nullptr;
        }
        return all;
    }

    static void Free(std::vector<OPCITEMATTRIBUTES>& attributes) {
        for (OPCITEMATTRIBUTES& a : attributes) {
            CoTaskMemFree(a.szAccessPath);
            CoTaskMemFree(a.szItemID);
            VariantClear(&a.vEUInfo);
        }
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCItemMgt> items_;
};

TEST_F(ItemManagement, AddAndValidateCodes) {
    const std::vector<ItemRequest> requests = {
        {L"NorthSubstation.analog.Setpoint"},
        {L"NorthSubstation.3.BusbarVoltage"},
        {L"NorthSubstation.4.Breaker1"},
        {L"NorthSubstation.analog.Set\tpoint"},  // a control character
        {L"NorthSubstation.analog.Nothing"},
        {L"NorthSubstation"},                     // a station folder
        {L"NorthSubstation.analog"},              // a kind folder
        {L""},
        {L"NorthSubstation.analog.Setpoint", VT_BSTR},
        {L"NorthSubstation.analog.Setpoint", VT_ARRAY | VT_R4},
        {L"NorthSubstation.switch.Breaker1", VT_I2},
        {L"northsubstation.analog.Setpoint"},
        {L"NorthSubstation.analog.\u0E01"},      // Thai: not in the runtime's code page
        {L"PumpStation.analog.PumpSpeed"},
        {L"PumpStation.analog.Flow Rate"},       // a space
        {L"PumpStation.analog.出水温度"},           // the runtime's names are Chinese on many plants
        {L"NorthSubstation.analog.出水"},
        {L"Reservoir.analog"},                    // a kind folder without points
        {L"NorthSubstation.analog.Setpoint\uFF10"},  // fullwidth digit: no best-fit '0'
    };
    const HRESULT expected[] = {S_OK,   S_OK,   S_OK,   OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID,
                                E_FAIL, E_FAIL, OPC_E_INVALIDITEMID, S_OK, OPC_E_BADTYPE,
                                S_OK,   OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, S_OK,
                                S_OK,   S_OK,   OPC_E_UNKNOWNITEMID, E_FAIL, OPC_E_UNKNOWNITEMID};
    for (const bool validate : {true, false}) {
        const ItemResults r = Call(requests, validate);
        EXPECT_HR(r.hr, S_FALSE) << (validate ? "ValidateItems" : "AddItems");
        ASSERT_EQ(r.errors.size(), requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_HR(r.errors[i], expected[i]) << (validate ? "ValidateItems " : "AddItems ") << i;
            const OPCITEMRESULT& result = r.results[i];
            EXPECT_EQ(result.dwBlobSize, 0u);
            if (FAILED(expected[i])) {
                EXPECT_EQ(result.hServer, 0u) << i;
                EXPECT_EQ(result.vtCanonicalDataType, VT_EMPTY) << "a failed entry keeps a zeroed result " << i;
            } else if (validate) {
                EXPECT_EQ(result.hServer, 0u) << "validation hands out no handle " << i;
            } else {
                EXPECT_NE(result.hServer, 0u) << i;
            }
        }
        if (!validate) {
            EXPECT_EQ(r.results[0].vtCanonicalDataType, VT_R4);
            EXPECT_EQ(r.results[0].dwAccessRights, 3u) << "a writable point with the setting on";
            EXPECT_EQ(r.results[1].dwAccessRights, 1u);
            EXPECT_EQ(r.results[2].vtCanonicalDataType, VT_BOOL);
            EXPECT_EQ(r.results[8].hServer, r.results[0].hServer) << "the same point, the same handle";
        }
    }
    std::vector<OPCITEMATTRIBUTES> attributes = Enumerate();
    ASSERT_EQ(attributes.size(), 8u) << "only the valid entries were added";
    EXPECT_EQ(std::wstring(attributes[7].szItemID), L"PumpStation.analog.出水温度") << "the ID as the client gave it";
    EXPECT_EQ(std::wstring(attributes[1].szItemID), L"NorthSubstation.analog.BusbarVoltage") << "the alias resolved";
    EXPECT_EQ(std::wstring(attributes[1].szAccessPath), L"");
    EXPECT_EQ(attributes[1].hClient, 101u);
    EXPECT_EQ(attributes[3].vtRequestedDataType, VT_BSTR);
    for (const OPCITEMATTRIBUTES& a : attributes) {
        EXPECT_EQ(a.dwEUType, OPC_NOENUM) << "also for analog points with limits";
        EXPECT_EQ(a.vEUInfo.vt, VT_EMPTY);
        EXPECT_EQ(a.bActive, TRUE);
    }
    Free(attributes);
}

TEST_F(ItemManagement, TheSamePointTwice) {
    const ItemResults r = Call({{L"NorthSubstation.analog.Setpoint"}, {L"NorthSubstation.analog.Setpoint"}}, false);
    ASSERT_HR(r.hr, S_OK);
    const OPCHANDLE handle = r.results[0].hServer;
    ASSERT_EQ(r.results[1].hServer, handle);
    EXPECT_EQ(Remove({handle}, S_OK), std::vector<HRESULT>{S_OK});
    std::vector<OPCITEMATTRIBUTES> left = Enumerate();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].hClient, 101u) << "the first in list order went";
    Free(left);
    EXPECT_EQ(Remove({handle}, S_OK), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(Remove({handle, 0, 999999}, S_FALSE),
              (std::vector<HRESULT>{OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
}

TEST_F(ItemManagement, ActiveStateClientHandlesAndDatatypes) {
    const ItemResults r = Call({{L"NorthSubstation.analog.Setpoint"}, {L"NorthSubstation.switch.Breaker1", VT_EMPTY, FALSE}}, false);
    ASSERT_HR(r.hr, S_OK);
    OPCHANDLE handles[] = {r.results[0].hServer, r.results[1].hServer, 4242};
    HRESULT* errors = nullptr;
    EXPECT_HR(items_->SetActiveState(3, handles, FALSE, &errors), S_FALSE);
    EXPECT_HR(errors[0], S_OK);
    EXPECT_HR(errors[1], S_OK) << "deactivating an inactive item changes nothing and succeeds";
    EXPECT_HR(errors[2], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    OPCHANDLE clients[] = {7, 8, 9};
    EXPECT_HR(items_->SetClientHandles(3, handles, clients, &errors), S_FALSE);
    EXPECT_HR(errors[2], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    VARTYPE types[] = {VT_ARRAY | VT_I4, VT_I2, VT_R8};
    EXPECT_HR(items_->SetDatatypes(3, handles, types, &errors), S_FALSE);
    EXPECT_HR(errors[0], OPC_E_BADTYPE);
    EXPECT_HR(errors[1], S_OK);
    EXPECT_HR(errors[2], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    std::vector<OPCITEMATTRIBUTES> attributes = Enumerate();
    ASSERT_EQ(attributes.size(), 2u);
    EXPECT_EQ(attributes[0].bActive, FALSE);
    EXPECT_EQ(attributes[0].hClient, 7u);
    EXPECT_EQ(attributes[0].vtRequestedDataType, VT_EMPTY) << "a refused type leaves the item unchanged";
    EXPECT_EQ(attributes[1].hClient, 8u);
    EXPECT_EQ(attributes[1].vtRequestedDataType, VT_I2);
    Free(attributes);
}

TEST_F(ItemManagement, CallLevelCodes) {
    OPCHANDLE handle = 1;
    HRESULT* errors = nullptr;
    EXPECT_HR(items_->RemoveItems(0, &handle, &errors), E_INVALIDARG);
    EXPECT_HR(items_->SetActiveState(0, &handle, TRUE, &errors), E_INVALIDARG);
    OPCITEMDEF definition{};
    OPCITEMRESULT* results = nullptr;
    EXPECT_HR(items_->AddItems(0, &definition, &results, &errors), E_INVALIDARG);
    ComPtr<IUnknown> enumerator;
    EXPECT_HR(items_->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.ReleaseAndGetAddressOf()), S_FALSE);
    EXPECT_FALSE(enumerator) << "an empty group hands out no enumerator";
    EXPECT_HR(items_->CreateEnumerator(IID_IEnumString, enumerator.ReleaseAndGetAddressOf()), E_INVALIDARG);
}

TEST_F(ItemManagement, EnumeratorCursor) {
    ASSERT_HR(Call({{L"NorthSubstation.analog.Setpoint"}, {L"NorthSubstation.analog.BusbarVoltage"},
                    {L"NorthSubstation.switch.Breaker1"}},
                   false)
                  .hr,
              S_OK);
    ComPtr<IEnumOPCItemAttributes> enumerator;
    ASSERT_HR(items_->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                       reinterpret_cast<LPUNKNOWN*>(enumerator.ReleaseAndGetAddressOf())),
              S_OK);
    const struct {
        ULONG celt;
        HRESULT hr;
        ULONG fetched;
    } steps[] = {{2, S_OK, 2}, {2, S_FALSE, 1}, {2, S_FALSE, 0}};
    for (const auto& step : steps) {
        OPCITEMATTRIBUTES* batch = nullptr;
        ULONG fetched = 99;
        EXPECT_HR(enumerator->Next(step.celt, &batch, &fetched), step.hr);
        EXPECT_EQ(fetched, step.fetched);
        std::vector<OPCITEMATTRIBUTES> records(batch, batch + fetched);
        Free(records);
        CoTaskMemFree(batch);
    }
    EXPECT_HR(enumerator->Reset(), S_OK);
    EXPECT_HR(enumerator->Skip(2), S_OK);
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_HR(enumerator->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_HR(enumerator->Skip(2), S_FALSE);
    OPCITEMATTRIBUTES* batch = nullptr;
    ULONG fetched = 0;
    EXPECT_HR(clone->Next(1, &batch, &fetched), S_OK) << "the clone kept the position";
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(std::wstring(batch[0].szItemID), L"NorthSubstation.switch.Breaker1");
    std::vector<OPCITEMATTRIBUTES> records(batch, batch + 1);
    Free(records);
    CoTaskMemFree(batch);
}

TEST_F(ItemManagement, CloneCopiesItemsWithoutValues) {
    ASSERT_HR(Call({{L"NorthSubstation.analog.Setpoint"}, {L"NorthSubstation.switch.Breaker1", VT_I4, FALSE}}, false).hr,
              S_OK);
    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_HR(items_->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf())),
              S_OK);
    ComPtr<IOPCItemMgt> clone;
    ASSERT_HR(state->CloneGroup(L"Copy", IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(clone.ReleaseAndGetAddressOf())),
              S_OK);
    std::vector<OPCITEMATTRIBUTES> original = Enumerate();
    items_ = clone;
    std::vector<OPCITEMATTRIBUTES> copied = Enumerate();
    ASSERT_EQ(copied.size(), original.size());
    for (std::size_t i = 0; i < copied.size(); ++i) {
        EXPECT_EQ(copied[i].hServer, original[i].hServer);
        EXPECT_EQ(copied[i].hClient, original[i].hClient);
        EXPECT_EQ(copied[i].bActive, original[i].bActive);
        EXPECT_EQ(copied[i].vtRequestedDataType, original[i].vtRequestedDataType);
        EXPECT_EQ(std::wstring(copied[i].szItemID), std::wstring(original[i].szItemID));
    }
    Free(original);
    Free(copied);
}

}  // namespace
}  // namespace korvex::test
