// The test side of the conformance test: what a case works with (a fresh server object), how it
// reports (HRESULTs in hex, VARIANTs described), how it frees what calls hand out, and the
// client's sinks that the server calls back.
#pragma once

#include "opc_memory.h"

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/task_memory.h"
#include "com/variant.h"
#include "opccomn.h"
#include "opcda.h"
#include "opcerror.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace conformance::client {

using korvex::com::ComPtr;
using korvex::com::Variant;
using namespace std::chrono_literals;

// An HRESULT that gtest prints in hex: EXPECT_EQ(Hr{hr}, Hr{S_OK}).
struct Hr {
    HRESULT value;
    bool operator==(const Hr&) const = default;
};
void PrintTo(const Hr& hr, std::ostream* os);
std::string hex(HRESULT hr);
std::string utf8(std::wstring_view text);

// A set-up step the case depends on: throws (failing the case) with the step and the code.
void require(HRESULT hr, const std::string& step);

template <class I>
ComPtr<I> query(IUnknown* object) {
    ComPtr<I> result;
    if (object) object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
    return result;
}

template <class I>
ComPtr<I> require(IUnknown* object, const std::string& what) {
    ComPtr<I> result = query<I>(object);
    if (!result) throw std::runtime_error(what + ": no " + typeid(I).name());
    return result;
}

// Task memory a call handed out: freed at scope end with what its `count` elements own.
template <class T, class Cleanup = korvex::com::NoCleanup>
class Received {
public:
    explicit Received(std::size_t count = 1) : count_(count) {}
    ~Received() { reset(); }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;

    T** put() {
        reset();
        return &data_;
    }
    void setCount(std::size_t count) { count_ = count; }
    T* get() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }

    void reset() {
        if (data_)
            for (std::size_t i = 0; i < count_; ++i) Cleanup{}(data_[i]);
        CoTaskMemFree(data_);
        data_ = nullptr;
    }

private:
    T* data_ = nullptr;
    std::size_t count_;
};

using ReceivedErrors = Received<HRESULT>;
using ReceivedString = Received<wchar_t>;
using ReceivedStrings = Received<LPWSTR, korvex::com::FreeTaskString>;
using ReceivedVariants = Received<VARIANT, korvex::com::ClearVariant>;

// A string out-parameter's value, or none for a null pointer; failure messages show it as
// UTF-8, long ones cut short.
struct Text {
    std::optional<std::wstring> value;
    Text() = default;
    Text(std::nullopt_t) {}
    Text(std::wstring text) : value(std::move(text)) {}
    Text(const wchar_t* text) : value(text ? std::optional<std::wstring>(text) : std::nullopt) {}
    Text(std::optional<std::wstring> text) : value(std::move(text)) {}
    bool operator==(const Text&) const = default;
};
void PrintTo(const Text& text, std::ostream* os);
Text text(const wchar_t* received);
std::vector<Text> texts(const std::vector<std::wstring>& strings);

// VARIANTs to send, and their comparison: same type, same value (BSTRs and SAFEARRAYs by content).
Variant i4(LONG value);
Variant r8(double value);
Variant r4(float value);
Variant boolean(bool value);
Variant bstr(std::wstring_view value);
Variant bstrArray(std::initializer_list<std::wstring_view> values);
Variant r8Array(std::initializer_list<double> values);
Variant canned(std::wstring_view itemId);  // the canned space's value of an item
std::string describe(const VARIANT& value);
::testing::AssertionResult sameVariant(const VARIANT& actual, const VARIANT& expected);

// Every string left in an enumerator (Next in batches until it says S_FALSE).
std::vector<Text> readAll(IEnumString* strings);

// A group's IOPCGroupStateMgt::GetState, field by field.
struct GroupStateSeen {
    HRESULT hr = E_FAIL;
    DWORD updateRate = 0;
    BOOL active = FALSE;
    Text name;
    LONG timeBias = 0;
    FLOAT percentDeadband = 0;
    DWORD lcid = 0;
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
};
GroupStateSeen groupState(IUnknown* group);

// Waits for `event`, pumping messages meanwhile: an STA client receives its callbacks that way.
bool waitPumping(HANDLE event, std::chrono::milliseconds timeout);

// One call the server made on the client's IOPCDataCallback.
struct DataCallback {
    enum Kind { dataChange, readComplete, writeComplete, cancelComplete };
    explicit DataCallback(Kind k, DWORD transaction, OPCHANDLE groupHandle, HRESULT quality = S_OK,
                          HRESULT error = S_OK)
        : kind(k), transactionId(transaction), group(groupHandle), masterQuality(quality), masterError(error) {}
    Kind kind;
    DWORD transactionId = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = 0;
    HRESULT masterError = 0;
    std::vector<OPCHANDLE> clientHandles;
    std::vector<Variant> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
};
const char* kindName(DataCallback::Kind kind);

class DataCallbackSink final : public korvex::com::ComObject<DataCallbackSink, IOPCDataCallback> {
public:
    DataCallbackSink();
    ~DataCallbackSink() override;

    // The oldest call not taken yet, waiting (and pumping) up to `timeout` for one.
    std::optional<DataCallback> next(std::chrono::milliseconds timeout = 5s);

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

private:
    void record(DataCallback call);

    std::mutex mutex_;
    std::deque<DataCallback> calls_;
    HANDLE arrived_;
};

class ShutdownSink final : public korvex::com::ComObject<ShutdownSink, IOPCShutdown> {
public:
    ShutdownSink();
    ~ShutdownSink() override;
    Text next(std::chrono::milliseconds timeout = 5s);
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

private:
    std::mutex mutex_;
    std::deque<std::wstring> reasons_;
    HANDLE arrived_;
};

// A sink advised to a connection point of `container`, unadvised at scope end.
class Advice {
public:
    Advice(IUnknown* container, REFIID iid, IUnknown* sink);
    ~Advice();
    Advice(const Advice&) = delete;
    Advice& operator=(const Advice&) = delete;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// What a case works with: a server object of its own (a new CannedServer), and the usual
// set-up steps, which throw when they fail.
struct Session {
    ComPtr<IOPCServer> server;

    struct Group {
        ComPtr<IUnknown> object;
        OPCHANDLE serverHandle = 0;
        template <class I>
        ComPtr<I> as() const {
            return require<I>(object.Get(), "group");
        }
    };
    // A private, active group at 1000 ms with client handle `clientHandle`.
    Group addGroup(const std::wstring& name, OPCHANDLE clientHandle = 0x6001);
    // Adds the items of the canned space named (active, client handles 0x100 + index, no blob);
    // returns their server handles.
    std::vector<OPCHANDLE> addItems(const Group& group, const std::vector<std::wstring>& itemIds);
};

}  // namespace conformance::client

// FILETIME compared and printed by gtest (found by argument lookup, so in its own namespace).
bool operator==(const FILETIME& a, const FILETIME& b);
void PrintTo(const FILETIME& time, std::ostream* os);
void PrintTo(const GUID& guid, std::ostream* os);
