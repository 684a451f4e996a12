#include "client_support.h"

#include "canned_space.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <sstream>

namespace conformance::client {

void PrintTo(const Hr& hr, std::ostream* os) { *os << hex(hr.value); }

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

void require(HRESULT hr, const std::string& step) {
    if (FAILED(hr)) throw std::runtime_error(step + " failed: " + hex(hr));
}

void PrintTo(const Text& text, std::ostream* os) {
    if (!text.value) {
        *os << "(null)";
        return;
    }
    const std::wstring& value = *text.value;
    *os << '"' << utf8(std::wstring_view(value).substr(0, 60)) << (value.size() > 60 ? "...\"" : "\"");
    if (value.size() > 60) *os << " (" << value.size() << " characters)";
}

Text text(const wchar_t* received) { return Text(received); }

std::vector<Text> texts(const std::vector<std::wstring>& strings) {
    return std::vector<Text>(strings.begin(), strings.end());
}

// VARIANTs ----------------------------------------------------------------------------------------

namespace {

Variant make(VARTYPE type, auto set) {
    Variant v;
    V_VT(v.put()) = type;
    set(v.get());
    return v;
}

SAFEARRAY* vector(VARTYPE type, std::size_t count) {
    SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(count));
    if (!array) throw std::runtime_error("SafeArrayCreateVector failed");
    return array;
}

std::string quoted(BSTR text) {
    const std::wstring_view view(text ? text : L"", SysStringLen(text));
    std::string shown = "\"" + utf8(view.substr(0, 40)) + (view.size() > 40 ? "..." : "") + "\"";
    if (view.size() > 40) shown += " (" + std::to_string(view.size()) + " characters)";
    return shown;
}

bool sameBstr(BSTR a, BSTR b) {
    const UINT length = SysStringLen(a);
    return length == SysStringLen(b) && (length == 0 || std::wmemcmp(a, b, length) == 0);
}

}  // namespace

Variant i4(LONG value) {
    return make(VT_I4, [&](VARIANT& v) { V_I4(&v) = value; });
}
Variant r8(double value) {
    return make(VT_R8, [&](VARIANT& v) { V_R8(&v) = value; });
}
Variant r4(float value) {
    return make(VT_R4, [&](VARIANT& v) { V_R4(&v) = value; });
}
Variant boolean(bool value) {
    return make(VT_BOOL, [&](VARIANT& v) { V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
Variant bstr(std::wstring_view value) {
    return make(VT_BSTR, [&](VARIANT& v) {
        V_BSTR(&v) = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    });
}

Variant bstrArray(std::initializer_list<std::wstring_view> values) {
    return make(VT_ARRAY | VT_BSTR, [&](VARIANT& v) {
        V_ARRAY(&v) = vector(VT_BSTR, values.size());
        LONG index = 0;
        for (std::wstring_view value : values) {
            BSTR element = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
            SafeArrayPutElement(V_ARRAY(&v), &index, element);
            SysFreeString(element);
            ++index;
        }
    });
}

Variant r8Array(std::initializer_list<double> values) {
    return make(VT_ARRAY | VT_R8, [&](VARIANT& v) {
        V_ARRAY(&v) = vector(VT_R8, values.size());
        LONG index = 0;
        for (double value : values) {
            SafeArrayPutElement(V_ARRAY(&v), &index, &value);
            ++index;
        }
    });
}

Variant canned(std::wstring_view itemId) {
    Variant value;
    require(cannedValue(itemId, value.put()), "canned value of " + utf8(itemId));
    return value;
}

std::string describe(const VARIANT& value) {
    std::ostringstream out;
    const VARTYPE type = V_VT(&value);
    switch (type) {
    case VT_EMPTY:
        return "VT_EMPTY";
    case VT_I2:
        out << "VT_I2 " << V_I2(&value);
        break;
    case VT_I4:
        out << "VT_I4 " << V_I4(&value);
        break;
    case VT_I8:
        out << "VT_I8 " << V_I8(&value);
        break;
    case VT_R4:
        out << "VT_R4 " << V_R4(&value);
        break;
    case VT_R8:
        out << "VT_R8 " << V_R8(&value);
        break;
    case VT_DATE:
        out << "VT_DATE " << V_DATE(&value);
        break;
    case VT_BOOL:
        out << "VT_BOOL " << V_BOOL(&value);
        break;
    case VT_BSTR:
        out << "VT_BSTR " << quoted(V_BSTR(&value));
        break;
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_R8: {
        SAFEARRAY* array = V_ARRAY(&value);
        out << (type == (VT_ARRAY | VT_BSTR) ? "VT_ARRAY|VT_BSTR [" : "VT_ARRAY|VT_R8 [");
        if (array && SafeArrayGetDim(array) == 1) {
            LONG low = 0, high = -1;
            SafeArrayGetLBound(array, 1, &low);
            SafeArrayGetUBound(array, 1, &high);
            for (LONG i = low; i <= high; ++i) {
                out << (i > low ? ", " : "");
                if (type == (VT_ARRAY | VT_BSTR)) {
                    BSTR element = nullptr;
                    SafeArrayGetElement(array, &i, &element);
                    out << quoted(element);
                    SysFreeString(element);
                } else {
                    double element = 0;
                    SafeArrayGetElement(array, &i, &element);
                    out << element;
                }
            }
        } else {
            out << (array ? "not one dimension" : "null");
        }
        out << "]";
        break;
    }
    default:
        out << "vt 0x" << std::hex << type;
    }
    return out.str();
}

::testing::AssertionResult sameVariant(const VARIANT& actual, const VARIANT& expected) {
    auto differ = [&] {
        return ::testing::AssertionFailure() << "got " << describe(actual) << ", expected " << describe(expected);
    };
    const VARTYPE type = V_VT(&expected);
    if (V_VT(&actual) != type) return differ();
    switch (type) {
    case VT_EMPTY:
        return ::testing::AssertionSuccess();
    case VT_I2:
    case VT_BOOL:
        return V_I2(&actual) == V_I2(&expected) ? ::testing::AssertionSuccess() : differ();
    case VT_I4:
    case VT_R4:
        return V_I4(&actual) == V_I4(&expected) ? ::testing::AssertionSuccess() : differ();
    case VT_I8:
    case VT_R8:
    case VT_DATE:
        return V_I8(&actual) == V_I8(&expected) ? ::testing::AssertionSuccess() : differ();
    case VT_BSTR:
        return sameBstr(V_BSTR(&actual), V_BSTR(&expected)) ? ::testing::AssertionSuccess() : differ();
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_R8: {
        SAFEARRAY* a = V_ARRAY(&actual);
        SAFEARRAY* e = V_ARRAY(&expected);
        if (!a || SafeArrayGetDim(a) != 1) return differ();
        LONG aLow = 0, aHigh = 0, eLow = 0, eHigh = 0;
        SafeArrayGetLBound(a, 1, &aLow);
        SafeArrayGetUBound(a, 1, &aHigh);
        SafeArrayGetLBound(e, 1, &eLow);
        SafeArrayGetUBound(e, 1, &eHigh);
        if (aLow != eLow || aHigh != eHigh) return differ();
        for (LONG i = aLow; i <= aHigh; ++i) {
            if (type == (VT_ARRAY | VT_BSTR)) {
                BSTR x = nullptr, y = nullptr;
                SafeArrayGetElement(a, &i, &x);
                SafeArrayGetElement(e, &i, &y);
                const bool same = sameBstr(x, y);
                SysFreeString(x);
                SysFreeString(y);
                if (!same) return differ();
            } else {
                double x = 0, y = 0;
                SafeArrayGetElement(a, &i, &x);
                SafeArrayGetElement(e, &i, &y);
                if (std::memcmp(&x, &y, sizeof x) != 0) return differ();
            }
        }
        return ::testing::AssertionSuccess();
    }
    default:
        return ::testing::AssertionFailure() << "cannot compare " << describe(expected);
    }
}

bool waitPumping(HANDLE event, std::chrono::milliseconds timeout) {
    DWORD index = 0;
    return CoWaitForMultipleHandles(0, static_cast<DWORD>(timeout.count()), 1, &event, &index) == S_OK;
}

std::vector<Text> readAll(IEnumString* strings) {
    std::vector<Text> all;
    for (;;) {
        LPOLESTR batch[16] = {};
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(16, batch, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            all.emplace_back(batch[i]);
            CoTaskMemFree(batch[i]);
        }
        if (hr != S_OK) return all;
    }
}

GroupStateSeen groupState(IUnknown* group) {
    GroupStateSeen seen;
    ComPtr<IOPCGroupStateMgt> state = require<IOPCGroupStateMgt>(group, "group state");
    LPWSTR name = nullptr;
    seen.hr = state->GetState(&seen.updateRate, &seen.active, &name, &seen.timeBias, &seen.percentDeadband,
                              &seen.lcid, &seen.clientHandle, &seen.serverHandle);
    seen.name = text(name);
    CoTaskMemFree(name);
    return seen;
}

// Sinks -------------------------------------------------------------------------------------------

const char* kindName(DataCallback::Kind kind) {
    switch (kind) {
    case DataCallback::dataChange:
        return "OnDataChange";
    case DataCallback::readComplete:
        return "OnReadComplete";
    case DataCallback::writeComplete:
        return "OnWriteComplete";
    case DataCallback::cancelComplete:
        return "OnCancelComplete";
    }
    return "?";
}

namespace {

template <class T>
std::vector<T> copyOf(const T* items, DWORD count) {
    return items ? std::vector<T>(items, items + count) : std::vector<T>();
}

DataCallback valuesCall(DataCallback::Kind kind, DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error,
                        DWORD count, OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* timestamps,
                        HRESULT* errors) {
    DataCallback call{kind, transid, group, quality, error};
    call.clientHandles = copyOf(handles, count);
    for (DWORD i = 0; values && i < count; ++i) call.values.emplace_back().copyFrom(values[i]);
    call.qualities = copyOf(qualities, count);
    call.timestamps = copyOf(timestamps, count);
    call.errors = copyOf(errors, count);
    return call;
}

}  // namespace

DataCallbackSink::DataCallbackSink() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

DataCallbackSink::~DataCallbackSink() { CloseHandle(arrived_); }

void DataCallbackSink::record(DataCallback call) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    SetEvent(arrived_);
}

std::optional<DataCallback> DataCallbackSink::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!calls_.empty()) {
                DataCallback call = std::move(calls_.front());
                calls_.pop_front();
                return call;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || !waitPumping(arrived_, left)) {
            std::lock_guard lock(mutex_);
            if (calls_.empty()) return std::nullopt;
        }
    }
}

HRESULT DataCallbackSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                       VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                       HRESULT* pErrors) {
    record(valuesCall(DataCallback::dataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                      phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
    return S_OK;
}

HRESULT DataCallbackSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) {
    record(valuesCall(DataCallback::readComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                      phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
    return S_OK;
}

HRESULT DataCallbackSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                          OPCHANDLE* pClienthandles, HRESULT* pErrors) {
    DataCallback call{DataCallback::writeComplete, dwTransid, hGroup, S_OK, hrMastererr};
    call.clientHandles = copyOf(pClienthandles, dwCount);
    call.errors = copyOf(pErrors, dwCount);
    record(std::move(call));
    return S_OK;
}

HRESULT DataCallbackSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    record(DataCallback{DataCallback::cancelComplete, dwTransid, hGroup});
    return S_OK;
}

ShutdownSink::ShutdownSink() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ShutdownSink::~ShutdownSink() { CloseHandle(arrived_); }

HRESULT ShutdownSink::ShutdownRequest(LPCWSTR szReason) {
    {
        std::lock_guard lock(mutex_);
        reasons_.emplace_back(szReason ? szReason : L"(null)");
    }
    SetEvent(arrived_);
    return S_OK;
}

Text ShutdownSink::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!reasons_.empty()) {
                std::wstring reason = std::move(reasons_.front());
                reasons_.pop_front();
                return reason;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || !waitPumping(arrived_, left)) {
            std::lock_guard lock(mutex_);
            if (reasons_.empty()) return std::nullopt;
        }
    }
}

Advice::Advice(IUnknown* container, REFIID iid, IUnknown* sink) {
    ComPtr<IConnectionPointContainer> points = require<IConnectionPointContainer>(container, "advise");
    require(points->FindConnectionPoint(iid, point_.ReleaseAndGetAddressOf()), "FindConnectionPoint");
    require(point_->Advise(sink, &cookie_), "IConnectionPoint::Advise");
}

Advice::~Advice() {
    if (point_) point_->Unadvise(cookie_);
}

// Session -----------------------------------------------------------------------------------------

Session::Group Session::addGroup(const std::wstring& name, OPCHANDLE clientHandle) {
    Group group;
    DWORD revised = 0;
    require(server->AddGroup(name.c_str(), TRUE, 1000, clientHandle, nullptr, nullptr, 0x409, &group.serverHandle,
                             &revised, IID_IUnknown, group.object.ReleaseAndGetAddressOf()),
            "AddGroup " + utf8(name));
    return group;
}

std::vector<OPCHANDLE> Session::addItems(const Group& group, const std::vector<std::wstring>& itemIds) {
    std::vector<OPCITEMDEF> definitions(itemIds.size());
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = const_cast<LPWSTR>(itemIds[i].c_str());
        definitions[i].bActive = TRUE;
        definitions[i].hClient = static_cast<OPCHANDLE>(0x100 + i);
    }
    const auto count = static_cast<DWORD>(itemIds.size());
    Received<OPCITEMRESULT, FreeItemResult> results(count);
    ReceivedErrors errors(count);
    require(group.as<IOPCItemMgt>()->AddItems(count, definitions.data(), results.put(), errors.put()), "AddItems");
    std::vector<OPCHANDLE> handles;
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        require(errors[i], "AddItems " + utf8(itemIds[i]));
        handles.push_back(results[i].hServer);
    }
    return handles;
}

}  // namespace conformance::client

bool operator==(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void PrintTo(const FILETIME& time, std::ostream* os) {
    char text[32];
    std::snprintf(text, sizeof text, "{0x%08lX, 0x%08lX}", static_cast<unsigned long>(time.dwLowDateTime),
                  static_cast<unsigned long>(time.dwHighDateTime));
    *os << text;
}

void PrintTo(const GUID& guid, std::ostream* os) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    *os << conformance::client::utf8(text);
}
