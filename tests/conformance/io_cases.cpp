// Cases of the group's IO: synchronous reads and writes of every VARIANT kind the canned space
// holds, DA 1.0 asynchronous calls, and DA 2.0/3.0 asynchronous calls answered through the
// client's IOPCDataCallback from a server thread.
#include "cases.h"

#include "canned_space.h"
#include "conformance_protocol.h"

#include <span>

namespace conformance::client {

namespace {

const std::wstring kLong = longText();
constexpr OPCHANDLE kBad = 0xBAD0;
constexpr OPCHANDLE kGroupClientHandle = 0x6001;

// A group with every item of the canned space, client handles 0x100 + index.
struct IoGroup {
    Session::Group group;
    std::vector<std::wstring> ids;
    std::vector<OPCHANDLE> handles;

    explicit IoGroup(Session& s)
        : group(s.addGroup(kAscii, kGroupClientHandle)), ids(cannedItemIds()), handles(s.addItems(group, ids)) {}

    std::size_t index(const std::wstring& id) const {
        return static_cast<std::size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
    }
    OPCHANDLE handle(const std::wstring& id) const { return handles.at(index(id)); }
    OPCHANDLE clientHandle(const std::wstring& id) const { return static_cast<OPCHANDLE>(0x100 + index(id)); }
    // All handles, then one the group does not know.
    std::vector<OPCHANDLE> withBadHandle() const {
        std::vector<OPCHANDLE> all = handles;
        all.push_back(kBad);
        return all;
    }
};

std::vector<Hr> hrs(const HRESULT* codes, std::size_t count) {
    std::vector<Hr> all;
    for (std::size_t i = 0; i < count; ++i) all.push_back(Hr{codes[i]});
    return all;
}

std::vector<Hr> hrs(std::vector<HRESULT> codes) { return hrs(codes.data(), codes.size()); }

std::vector<Hr> okThenInvalid(std::size_t ok) {
    std::vector<HRESULT> codes(ok, S_OK);
    codes.push_back(OPC_E_INVALIDHANDLE);
    return hrs(codes);
}

// One value as a sync read gives it back.
struct ReadBack {
    Variant value;
    WORD quality;
    FILETIME timestamp;
};

ReadBack readBack(const IoGroup& io, OPCHANDLE handle) {
    Received<OPCITEMSTATE, FreeItemState> states(1);
    ReceivedErrors errors(1);
    require(io.group.as<IOPCSyncIO>()->Read(OPC_DS_CACHE, 1, &handle, states.put(), errors.put()), "Read");
    require(errors[0], "Read item");
    ReadBack back{Variant(), states[0].wQuality, states[0].ftTimeStamp};
    require(back.value.copyFrom(states[0].vDataValue), "copy");
    return back;
}

std::vector<VARIANT> raw(const std::vector<Variant>& values) {
    std::vector<VARIANT> all;
    for (const Variant& v : values) all.push_back(v.get());
    return all;
}

// What a value callback must hold for `items` of `io`, with these timestamps.
void expectValues(const DataCallback& call, DataCallback::Kind kind, DWORD transactionId, const IoGroup& io,
                  const std::vector<std::wstring>& items, const std::vector<FILETIME>& timestamps,
                  HRESULT masterQuality = S_OK) {
    SCOPED_TRACE(kindName(kind));
    EXPECT_EQ(call.kind, kind) << "got " << kindName(call.kind);
    EXPECT_EQ(call.transactionId, transactionId);
    EXPECT_EQ(call.group, kGroupClientHandle);
    EXPECT_EQ(Hr{call.masterQuality}, Hr{masterQuality});
    EXPECT_EQ(Hr{call.masterError}, Hr{S_OK});
    std::vector<OPCHANDLE> clientHandles;
    for (const std::wstring& id : items) clientHandles.push_back(io.clientHandle(id));
    EXPECT_EQ(call.clientHandles, clientHandles);
    EXPECT_EQ(call.timestamps, timestamps);
    EXPECT_EQ(call.errors, std::vector<HRESULT>(items.size(), S_OK));
    ASSERT_EQ(call.values.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        EXPECT_TRUE(sameVariant(call.values[i].get(), canned(items[i]).get())) << utf8(items[i]);
}

std::vector<FILETIME> repeated(FILETIME time, std::size_t count) { return std::vector<FILETIME>(count, time); }

FILETIME maxAgeStamp(DWORD maxAge) { return {maxAge, kCannedTimestamp.dwHighDateTime}; }

}  // namespace

// IOPCSyncIO, IOPCSyncIO2 --------------------------------------------------------------------------

void syncRead(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCSyncIO> sync = io.group.as<IOPCSyncIO>();
    std::vector<OPCHANDLE> handles = io.withBadHandle();
    const auto count = static_cast<DWORD>(handles.size());
    for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        SCOPED_TRACE(source == OPC_DS_CACHE ? "from the cache" : "from the device");
        Received<OPCITEMSTATE, FreeItemState> states(count);
        ReceivedErrors errors(count);
        ASSERT_EQ(Hr{sync->Read(source, count, handles.data(), states.put(), errors.put())}, Hr{S_FALSE});
        EXPECT_EQ(hrs(errors.get(), count), okThenInvalid(io.ids.size()));
        for (std::size_t i = 0; i < io.ids.size(); ++i) {
            SCOPED_TRACE(utf8(io.ids[i]));
            EXPECT_EQ(states[i].hClient, 0x100 + i);
            EXPECT_EQ(states[i].ftTimeStamp, source == OPC_DS_DEVICE ? kDeviceTimestamp : kCannedTimestamp);
            EXPECT_EQ(states[i].wQuality, kCannedQuality);
            EXPECT_TRUE(sameVariant(states[i].vDataValue, canned(io.ids[i]).get()));
        }
        EXPECT_EQ(V_VT(&states[io.ids.size()].vDataValue), VT_EMPTY) << "the unknown handle";
    }
    Received<OPCITEMSTATE, FreeItemState> states(count);
    ReceivedErrors errors(count);
    EXPECT_EQ(Hr{sync->Read(static_cast<OPCDATASOURCE>(7), count, handles.data(), states.put(), errors.put())},
              Hr{E_INVALIDARG});
    EXPECT_EQ(states.get(), nullptr);
    EXPECT_EQ(errors.get(), nullptr);
}

namespace {

struct WriteCase {
    std::wstring id;  // empty: a handle the group does not know
    Variant value;
    HRESULT expected;
};

std::vector<WriteCase> writeCases() {
    std::vector<WriteCase> cases;
    cases.push_back({L"Values.I4", i4(42), S_OK});
    cases.push_back({L"Values.Text", bstr(kChinese), S_OK});
    cases.push_back({L"Values.Texts", bstrArray({kChinese, L"", kLong}), S_OK});
    cases.push_back({L"Values.Numbers", r8Array({-1.5, 0.0, 6.02e23}), S_OK});
    cases.push_back({L"Values.R8", bstr(L""), S_OK});
    cases.push_back({L"Values.LongText", bstr(kAscii), S_OK});
    cases.push_back({L"Values.Empty", Variant(), OPC_E_BADTYPE});
    cases.push_back({L"", i4(1), OPC_E_INVALIDHANDLE});
    return cases;
}

}  // namespace

void syncWrite(Session& s) {
    const IoGroup io(s);
    const std::vector<WriteCase> cases = writeCases();
    std::vector<OPCHANDLE> handles;
    std::vector<Variant> values;
    for (const WriteCase& c : cases) {
        handles.push_back(c.id.empty() ? kBad : io.handle(c.id));
        values.emplace_back().copyFrom(c.value.get());
    }
    std::vector<VARIANT> sent = raw(values);
    const auto count = static_cast<DWORD>(cases.size());
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{io.group.as<IOPCSyncIO>()->Write(count, handles.data(), sent.data(), errors.put())}, Hr{S_FALSE});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const WriteCase& c = cases[i];
        SCOPED_TRACE(c.id.empty() ? std::string("unknown handle") : utf8(c.id));
        EXPECT_EQ(Hr{errors[i]}, Hr{c.expected});
        if (c.id.empty()) continue;
        EXPECT_TRUE(sameVariant(readBack(io, handles[i]).value.get(),
                                SUCCEEDED(c.expected) ? c.value.get() : canned(c.id).get()));
    }
}

void syncReadMaxAge(Session& s) {
    const IoGroup io(s);
    std::vector<OPCHANDLE> handles = io.withBadHandle();
    const auto count = static_cast<DWORD>(handles.size());
    std::vector<DWORD> maxAges;
    for (DWORD i = 0; i < count; ++i) maxAges.push_back(i == 0 ? 0xFFFFFFFF : i * 1000 + 7);
    ReceivedVariants values(count);
    Received<WORD> qualities(count);
    Received<FILETIME> timestamps(count);
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{io.group.as<IOPCSyncIO2>()->ReadMaxAge(count, handles.data(), maxAges.data(), values.put(),
                                                       qualities.put(), timestamps.put(), errors.put())},
              Hr{S_FALSE});
    EXPECT_EQ(hrs(errors.get(), count), okThenInvalid(io.ids.size()));
    for (std::size_t i = 0; i < count; ++i) {
        const bool known = i < io.ids.size();
        SCOPED_TRACE(known ? utf8(io.ids[i]) : std::string("unknown handle"));
        EXPECT_TRUE(sameVariant(values[i], known ? canned(io.ids[i]).get() : Variant().get()));
        EXPECT_EQ(qualities[i], known ? kCannedQuality : 0);
        EXPECT_EQ(timestamps[i], known ? maxAgeStamp(maxAges[i]) : FILETIME{});
    }
}

namespace {

struct VqtCase {
    std::wstring id;  // empty: unknown (a handle, or an item ID)
    Variant value;
    std::optional<WORD> quality;
    std::optional<FILETIME> timestamp;
    HRESULT expected;
};

std::vector<VqtCase> vqtCases() {
    std::vector<VqtCase> cases;
    cases.push_back({L"Values.I4", i4(7), WORD{0x40}, FILETIME{1, 2}, S_OK});
    cases.push_back({L"Values.Text", bstr(kChinese), std::nullopt, std::nullopt, S_OK});
    cases.push_back({L"Values.Numbers", r8Array({0.25, -0.0}), WORD{0x1C}, std::nullopt, S_OK});
    cases.push_back({L"Values.Texts", bstrArray({L""}), std::nullopt, FILETIME{0xFFFFFFFF, 0x7FFFFFFF}, S_OK});
    cases.push_back({L"Values.Empty", Variant(), WORD{0x40}, std::nullopt, OPC_E_BADTYPE});
    cases.push_back({L"", i4(0), std::nullopt, std::nullopt, OPC_E_INVALIDHANDLE});
    return cases;
}

std::vector<OPCITEMVQT> vqts(const std::vector<VqtCase>& cases) {
    std::vector<OPCITEMVQT> all;
    for (const VqtCase& c : cases) {
        OPCITEMVQT vqt{};
        vqt.vDataValue = c.value.get();
        vqt.bQualitySpecified = c.quality.has_value();
        vqt.wQuality = c.quality.value_or(0xFFFF);  // ignored when not specified
        vqt.bTimeStampSpecified = c.timestamp.has_value();
        vqt.ftTimeStamp = c.timestamp.value_or(FILETIME{0xFFFF, 0xFFFF});
        all.push_back(vqt);
    }
    return all;
}

// After a VQT write: the value, and the quality and timestamp when they were given.
void expectWritten(const IoGroup& io, const VqtCase& c) {
    const ReadBack back = readBack(io, io.handle(c.id));
    const bool written = SUCCEEDED(c.expected);
    EXPECT_TRUE(sameVariant(back.value.get(), written ? c.value.get() : canned(c.id).get()));
    EXPECT_EQ(back.quality, written ? c.quality.value_or(kCannedQuality) : kCannedQuality);
    EXPECT_EQ(back.timestamp, written ? c.timestamp.value_or(kCannedTimestamp) : kCannedTimestamp);
}

}  // namespace

void syncWriteVqt(Session& s) {
    const IoGroup io(s);
    const std::vector<VqtCase> cases = vqtCases();
    std::vector<OPCHANDLE> handles;
    for (const VqtCase& c : cases) handles.push_back(c.id.empty() ? kBad : io.handle(c.id));
    std::vector<OPCITEMVQT> sent = vqts(cases);
    const auto count = static_cast<DWORD>(cases.size());
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{io.group.as<IOPCSyncIO2>()->WriteVQT(count, handles.data(), sent.data(), errors.put())},
              Hr{S_FALSE});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].id.empty() ? std::string("unknown handle") : utf8(cases[i].id));
        EXPECT_EQ(Hr{errors[i]}, Hr{cases[i].expected});
        if (!cases[i].id.empty()) expectWritten(io, cases[i]);
    }
}

// IOPCAsyncIO (DA 1.0) -----------------------------------------------------------------------------

void async1Read(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCAsyncIO> async = io.group.as<IOPCAsyncIO>();
    OPCHANDLE handles[] = {io.handles[0], kBad, io.handles[5]};
    const std::span<const OPCHANDLE> sent(handles);
    for (OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        SCOPED_TRACE(source == OPC_DS_CACHE ? "from the cache" : "from the device");
        DWORD transactionId = 0;
        ReceivedErrors errors(3);
        EXPECT_EQ(Hr{async->Read(0x77, source, 3, handles, &transactionId, errors.put())}, Hr{S_FALSE});
        EXPECT_EQ(transactionId, (Echo{} << DWORD{0x77} << static_cast<int>(source) << sent).value());
        EXPECT_EQ(hrs(errors.get(), 3), hrs({S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    }
    DWORD transactionId = 0xBAD;
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{async->Read(1, static_cast<OPCDATASOURCE>(9), 3, handles, &transactionId, errors.put())},
              Hr{E_INVALIDARG});
    EXPECT_EQ(transactionId, 0u);
    EXPECT_EQ(errors.get(), nullptr);
}

void async1Write(Session& s) {
    const IoGroup io(s);
    OPCHANDLE handles[] = {io.handle(L"Values.I4"), io.handle(L"Values.Texts")};
    const Variant written[] = {i4(9), bstrArray({kLong, kChinese})};
    std::vector<VARIANT> sent = {written[0].get(), written[1].get()};
    DWORD transactionId = 0;
    ReceivedErrors errors(2);
    EXPECT_EQ(Hr{io.group.as<IOPCAsyncIO>()->Write(3, 2, handles, sent.data(), &transactionId, errors.put())},
              Hr{S_OK});
    EXPECT_EQ(transactionId, (Echo{} << DWORD{3} << std::span<const OPCHANDLE>(handles)).value());
    EXPECT_EQ(hrs(errors.get(), 2), hrs({S_OK, S_OK}));
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(sameVariant(readBack(io, handles[i]).value.get(), written[i].get()));
}

void async1Refresh(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCAsyncIO> async = io.group.as<IOPCAsyncIO>();
    DWORD transactionId = 0;
    EXPECT_EQ(Hr{async->Refresh(5, OPC_DS_DEVICE, &transactionId)}, Hr{S_OK});
    EXPECT_EQ(transactionId, (Echo{} << DWORD{5} << static_cast<int>(OPC_DS_DEVICE)).value());
    EXPECT_EQ(Hr{async->Refresh(0xFFFFFFFF, OPC_DS_CACHE, &transactionId)}, Hr{S_OK});
    EXPECT_EQ(transactionId, (Echo{} << DWORD{0xFFFFFFFF} << static_cast<int>(OPC_DS_CACHE)).value());
    EXPECT_EQ(Hr{async->Refresh(5, static_cast<OPCDATASOURCE>(9), &transactionId)}, Hr{E_INVALIDARG});
    EXPECT_EQ(transactionId, 0u);
}

void async1Cancel(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCAsyncIO> async = io.group.as<IOPCAsyncIO>();
    for (DWORD transactionId : {DWORD{0x12345678}, DWORD{0}, DWORD{0xFFFFFFFF}}) {
        EXPECT_EQ(Hr{async->Cancel(transactionId)}, Hr{(Echo{} << transactionId).code()}) << transactionId;
    }
}

// IOPCAsyncIO2, IOPCAsyncIO3, IOPCDataCallback ----------------------------------------------------------

void async2Read(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCAsyncIO2> async = io.group.as<IOPCAsyncIO2>();
    std::vector<OPCHANDLE> handles = io.withBadHandle();
    const auto count = static_cast<DWORD>(handles.size());
    DWORD cancelId = 0xBAD;
    ReceivedErrors errors(count);
    EXPECT_EQ(Hr{async->Read(count, handles.data(), 0xA1, &cancelId, errors.put())}, Hr{CONNECT_E_NOCONNECTION})
        << "no callback connected";
    EXPECT_EQ(cancelId, 0u);
    EXPECT_EQ(errors.get(), nullptr);

    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    EXPECT_EQ(Hr{async->Read(count, handles.data(), 0xA1, &cancelId, errors.put())}, Hr{S_FALSE});
    EXPECT_NE(cancelId, 0u);
    EXPECT_EQ(hrs(errors.get(), count), okThenInvalid(io.ids.size()));
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnReadComplete";
    expectValues(*call, DataCallback::readComplete, 0xA1, io, io.ids, repeated(kCannedTimestamp, io.ids.size()));
    EXPECT_FALSE(sink->next(200ms)) << "one call only";
}

void async2Write(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    OPCHANDLE handles[] = {io.handle(L"Values.I4"), io.handle(L"Values.Texts"), io.handle(L"Values.Empty"), kBad};
    const Variant written[] = {i4(5), bstrArray({kLong, kChinese}), Variant(), i4(0)};
    std::vector<VARIANT> sent = {written[0].get(), written[1].get(), written[2].get(), written[3].get()};
    DWORD cancelId = 0;
    ReceivedErrors errors(4);
    EXPECT_EQ(Hr{io.group.as<IOPCAsyncIO2>()->Write(4, handles, sent.data(), 0xB2, &cancelId, errors.put())},
              Hr{S_FALSE});
    EXPECT_NE(cancelId, 0u);
    EXPECT_EQ(hrs(errors.get(), 4), hrs({S_OK, S_OK, S_OK, OPC_E_INVALIDHANDLE}));
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnWriteComplete";
    EXPECT_EQ(call->kind, DataCallback::writeComplete) << "got " << kindName(call->kind);
    EXPECT_EQ(call->transactionId, 0xB2u);
    EXPECT_EQ(call->group, kGroupClientHandle);
    EXPECT_EQ(Hr{call->masterError}, Hr{S_FALSE});
    EXPECT_EQ(call->clientHandles, (std::vector<OPCHANDLE>{io.clientHandle(L"Values.I4"),
                                                           io.clientHandle(L"Values.Texts"),
                                                           io.clientHandle(L"Values.Empty")}));
    EXPECT_EQ(hrs(call->errors), hrs({S_OK, S_OK, OPC_E_BADTYPE}));
    EXPECT_TRUE(sameVariant(readBack(io, handles[1]).value.get(), written[1].get()));
}

void async2Refresh(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    ComPtr<IOPCAsyncIO2> async = io.group.as<IOPCAsyncIO2>();
    // Only the active items are refreshed.
    const std::vector<std::wstring> active = {L"Values.I4", L"Values.LongText", L"Values.Texts"};
    std::vector<OPCHANDLE> inactive;
    for (const std::wstring& id : io.ids)
        if (std::find(active.begin(), active.end(), id) == active.end()) inactive.push_back(io.handle(id));
    ReceivedErrors errors(inactive.size());
    require(io.group.as<IOPCItemMgt>()->SetActiveState(static_cast<DWORD>(inactive.size()), inactive.data(), FALSE,
                                                      errors.put()),
            "SetActiveState");

    DWORD cancelId = 0;
    EXPECT_EQ(Hr{async->Refresh2(OPC_DS_DEVICE, 0xC3, &cancelId)}, Hr{S_OK});
    EXPECT_NE(cancelId, 0u);
    auto call = sink->next();
    ASSERT_TRUE(call) << "no OnDataChange";
    expectValues(*call, DataCallback::dataChange, 0xC3, io, active, repeated(kDeviceTimestamp, active.size()));

    // A bad quality shows in hrMasterquality.
    OPCITEMVQT vqt{};
    vqt.vDataValue = canned(L"Values.I4").get();
    vqt.bQualitySpecified = TRUE;
    vqt.wQuality = 0x04;  // bad, configuration error
    OPCHANDLE first = io.handle(L"Values.I4");
    require(io.group.as<IOPCSyncIO2>()->WriteVQT(1, &first, &vqt, errors.put()), "WriteVQT");
    EXPECT_EQ(Hr{async->Refresh2(OPC_DS_CACHE, 0xC4, &cancelId)}, Hr{S_OK});
    call = sink->next();
    ASSERT_TRUE(call) << "no OnDataChange";
    expectValues(*call, DataCallback::dataChange, 0xC4, io, active, repeated(kCannedTimestamp, active.size()),
                 S_FALSE);
    EXPECT_EQ(call->qualities, (std::vector<WORD>{0x04, kCannedQuality, kCannedQuality}));

    EXPECT_EQ(Hr{async->Refresh2(static_cast<OPCDATASOURCE>(9), 0xC5, &cancelId)}, Hr{E_INVALIDARG});
    BOOL inactiveGroup = FALSE;
    DWORD revised = 0;
    require(io.group.as<IOPCGroupStateMgt>()->SetState(nullptr, &revised, &inactiveGroup, nullptr, nullptr, nullptr,
                                                       nullptr),
            "SetState");
    EXPECT_EQ(Hr{async->Refresh2(OPC_DS_CACHE, 0xC6, &cancelId)}, Hr{E_FAIL}) << "inactive group";
    EXPECT_FALSE(sink->next(200ms)) << "no call for the refused refreshes";
}

void async2Cancel(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    ComPtr<IOPCAsyncIO2> async = io.group.as<IOPCAsyncIO2>();
    OPCHANDLE handle = io.handles[0];
    DWORD cancelId = 0;
    ReceivedErrors errors(1);
    require(async->Read(1, &handle, 0xD4, &cancelId, errors.put()), "Read");
    ASSERT_TRUE(sink->next()) << "the read's OnReadComplete";

    EXPECT_EQ(Hr{async->Cancel2(cancelId)}, Hr{S_OK});
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnCancelComplete";
    EXPECT_EQ(call->kind, DataCallback::cancelComplete) << "got " << kindName(call->kind);
    EXPECT_EQ(call->transactionId, 0xD4u);
    EXPECT_EQ(call->group, kGroupClientHandle);
    EXPECT_EQ(Hr{async->Cancel2(cancelId)}, Hr{E_FAIL}) << "cancelled already";
    EXPECT_EQ(Hr{async->Cancel2(0xFFFF)}, Hr{E_FAIL}) << "unknown cancel ID";
}

void async2Enable(Session& s) {
    const IoGroup io(s);
    ComPtr<IOPCAsyncIO2> async = io.group.as<IOPCAsyncIO2>();
    BOOL enabled = FALSE;
    EXPECT_EQ(Hr{async->GetEnable(&enabled)}, Hr{S_OK});
    EXPECT_TRUE(enabled) << "enabled at first";
    for (BOOL set : {FALSE, TRUE, FALSE}) {
        EXPECT_EQ(Hr{async->SetEnable(set)}, Hr{S_OK});
        EXPECT_EQ(Hr{async->GetEnable(&enabled)}, Hr{S_OK});
        EXPECT_EQ(enabled, set);
    }
}

void async3ReadMaxAge(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    const std::vector<std::wstring> items = {L"Values.Texts", L"Values.Numbers", L"Values.LongText"};
    std::vector<OPCHANDLE> handles;
    for (const std::wstring& id : items) handles.push_back(io.handle(id));
    handles.push_back(kBad);
    DWORD maxAges[] = {0, 1, 0xFFFFFFFF, 5};
    DWORD cancelId = 0;
    ReceivedErrors errors(4);
    EXPECT_EQ(Hr{io.group.as<IOPCAsyncIO3>()->ReadMaxAge(4, handles.data(), maxAges, 0xE5, &cancelId, errors.put())},
              Hr{S_FALSE});
    EXPECT_NE(cancelId, 0u);
    EXPECT_EQ(hrs(errors.get(), 4), okThenInvalid(3));
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnReadComplete";
    expectValues(*call, DataCallback::readComplete, 0xE5, io, items,
                 {maxAgeStamp(0), maxAgeStamp(1), maxAgeStamp(0xFFFFFFFF)});
}

void async3WriteVqt(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    const std::vector<VqtCase> cases = vqtCases();
    std::vector<OPCHANDLE> handles;
    std::vector<OPCHANDLE> clientHandles;
    std::vector<HRESULT> callbackErrors;
    for (const VqtCase& c : cases) {
        handles.push_back(c.id.empty() ? kBad : io.handle(c.id));
        if (c.id.empty()) continue;
        clientHandles.push_back(io.clientHandle(c.id));
        callbackErrors.push_back(c.expected);
    }
    std::vector<OPCITEMVQT> sent = vqts(cases);
    const auto count = static_cast<DWORD>(cases.size());
    DWORD cancelId = 0;
    ReceivedErrors errors(count);
    EXPECT_EQ(Hr{io.group.as<IOPCAsyncIO3>()->WriteVQT(count, handles.data(), sent.data(), 0xF6, &cancelId,
                                                       errors.put())},
              Hr{S_FALSE});
    EXPECT_EQ(hrs(errors.get(), count), okThenInvalid(count - 1)) << "item errors come with the callback";
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnWriteComplete";
    EXPECT_EQ(call->kind, DataCallback::writeComplete) << "got " << kindName(call->kind);
    EXPECT_EQ(call->transactionId, 0xF6u);
    EXPECT_EQ(Hr{call->masterError}, Hr{S_FALSE});
    EXPECT_EQ(call->clientHandles, clientHandles);
    EXPECT_EQ(hrs(call->errors), hrs(callbackErrors));
    for (const VqtCase& c : cases) {
        SCOPED_TRACE(utf8(c.id));
        if (!c.id.empty()) expectWritten(io, c);
    }
}

void async3RefreshMaxAge(Session& s) {
    const IoGroup io(s);
    ComPtr<DataCallbackSink> sink = korvex::com::make<DataCallbackSink>();
    const Advice advice(io.group.object.Get(), IID_IOPCDataCallback, sink->identity());
    DWORD cancelId = 0;
    EXPECT_EQ(Hr{io.group.as<IOPCAsyncIO3>()->RefreshMaxAge(1234, 0x107, &cancelId)}, Hr{S_OK});
    EXPECT_NE(cancelId, 0u);
    const auto call = sink->next();
    ASSERT_TRUE(call) << "no OnDataChange";
    expectValues(*call, DataCallback::dataChange, 0x107, io, io.ids, repeated(maxAgeStamp(1234), io.ids.size()));
}

}  // namespace conformance::client
