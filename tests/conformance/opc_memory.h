// Freeing what OPC calls hand out: the structures with strings, blobs, VARIANTs or nested
// arrays inside. Each functor frees what one element owns and zeroes it, so it also serves as
// the cleanup of a korvex::com::TaskArray on the server side.
#pragma once

#include "opcda.h"

#include <objbase.h>
#include <oleauto.h>

namespace conformance {

struct FreeItemResult {
    void operator()(OPCITEMRESULT& result) const noexcept {
        CoTaskMemFree(result.pBlob);
        result = OPCITEMRESULT{};
    }
};

struct FreeItemState {
    void operator()(OPCITEMSTATE& state) const noexcept {
        VariantClear(&state.vDataValue);
        state = OPCITEMSTATE{};
    }
};

struct FreeItemAttributes {
    void operator()(OPCITEMATTRIBUTES& a) const noexcept {
        CoTaskMemFree(a.szAccessPath);
        CoTaskMemFree(a.szItemID);
        CoTaskMemFree(a.pBlob);
        VariantClear(&a.vEUInfo);
        a = OPCITEMATTRIBUTES{};
    }
};

struct FreeItemProperties {
    void operator()(OPCITEMPROPERTIES& properties) const noexcept {
        for (DWORD i = 0; i < properties.dwNumProperties; ++i) {
            OPCITEMPROPERTY& property = properties.pItemProperties[i];
            CoTaskMemFree(property.szItemID);
            CoTaskMemFree(property.szDescription);
            VariantClear(&property.vValue);
        }
        CoTaskMemFree(properties.pItemProperties);
        properties = OPCITEMPROPERTIES{};
    }
};

struct FreeBrowseElement {
    void operator()(OPCBROWSEELEMENT& element) const noexcept {
        CoTaskMemFree(element.szName);
        CoTaskMemFree(element.szItemID);
        FreeItemProperties{}(element.ItemProperties);
        element = OPCBROWSEELEMENT{};
    }
};

}  // namespace conformance
