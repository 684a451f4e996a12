// The system's enumerator interfaces over our Enumerator: strings (IEnumString), interface
// pointers (IEnumUnknown, IEnumConnectionPoints), connections (IEnumConnections) and GUIDs
// (IEnumGUID; GuidItems also serves any enumerator of the same shape).
//
//     ComPtr<StringEnumerator> names = make<StringEnumerator>(std::move(wideNames));
//     if (!names) return E_OUTOFMEMORY;
//     return names->QueryInterface(riid, ppUnk);
#pragma once

#include "com/com_ptr.h"
#include "com/enumerator.h"
#include "com/task_memory.h"

#include <comcat.h>
#include <objidl.h>
#include <ocidl.h>

#include <string>

namespace korvex::com {

// Hands out task-allocated copies, which the client frees.
struct StringItems {
    using Item = std::wstring;
    using Out = LPOLESTR;

    static HRESULT copy(const std::wstring& item, LPOLESTR& out) noexcept {
        out = taskStringCopy(item).release();
        return out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    static void destroy(LPOLESTR& out) noexcept {
        CoTaskMemFree(out);
        out = nullptr;
    }
};

// The snapshot holds a reference on each object; Next hands out new ones.
template <class I>
struct InterfaceItems {
    using Item = ComPtr<I>;
    using Out = I*;

    static HRESULT copy(const ComPtr<I>& item, I*& out) noexcept { return item.CopyTo(&out); }

    static void destroy(I*& out) noexcept {
        if (out != nullptr) {
            out->Release();
            out = nullptr;
        }
    }
};

struct Connection {
    ComPtr<IUnknown> sink;
    DWORD cookie = 0;
};

struct ConnectionItems {
    using Item = Connection;
    using Out = CONNECTDATA;

    static HRESULT copy(const Connection& item, CONNECTDATA& out) noexcept {
        out.dwCookie = item.cookie;
        return item.sink.CopyTo(&out.pUnk);
    }

    static void destroy(CONNECTDATA& out) noexcept { InterfaceItems<IUnknown>::destroy(out.pUnk); }
};

struct GuidItems {
    using Item = GUID;
    using Out = GUID;

    static HRESULT copy(const GUID& item, GUID& out) noexcept {
        out = item;
        return S_OK;
    }

    static void destroy(GUID&) noexcept {}
};

using StringEnumerator = Enumerator<IEnumString, StringItems>;
using UnknownEnumerator = Enumerator<IEnumUnknown, InterfaceItems<IUnknown>>;
using ConnectionEnumerator = Enumerator<IEnumConnections, ConnectionItems>;
using ConnectionPointEnumerator = Enumerator<IEnumConnectionPoints, InterfaceItems<IConnectionPoint>>;
using GuidEnumerator = Enumerator<IEnumGUID, GuidItems>;

} // namespace korvex::com
