// Reads and writes through a group: IOPCSyncIO(2), the refused DA 1.0 IOPCAsyncIO, IOPCAsyncIO2
// and IOPCAsyncIO3.
#include "tools/hostile/session.h"
#include "tools/hostile/with_group.h"

#include "opcerror.h"

#include <algorithm>

namespace hostile {

namespace {

std::string N(unsigned long long value) { return std::to_string(value); }

const Codes kReadItemCodes = {S_OK,           S_FALSE,    OPC_E_INVALIDHANDLE, OPC_E_UNKNOWNITEMID, OPC_E_BADRIGHTS,
                              E_FAIL,         DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE};
const Codes kWriteItemCodes = {S_OK,   OPC_S_CLAMP, OPC_E_INVALIDHANDLE, OPC_E_UNKNOWNITEMID, OPC_E_BADRIGHTS,
                               E_FAIL, OPC_E_BADTYPE, OPC_E_RANGE};
// What the checks of a queued request give an item.
const Codes kQueueItemCodes = {S_OK, OPC_E_INVALIDHANDLE, OPC_E_UNKNOWNITEMID, OPC_E_BADRIGHTS, OPC_E_BADTYPE};
// A queued request: some items failed (S_FALSE), all did (E_FAIL, nothing queued), or the group's
// queue is full (E_OUTOFMEMORY).
const Codes kQueued = {S_OK, S_FALSE, E_FAIL, E_OUTOFMEMORY};

}  // namespace


void Session::SyncRead() {
    WITH_GROUP(IOPCSyncIO, IID_IOPCSyncIO, "IOPCSyncIO")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    const DWORD source = random_.enumValue(OPC_DS_CACHE, 2);
    const bool knownSource = source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
    Codes normal = ItemArrayCodes(count);
    if (!knownSource) normal.push_back(E_INVALIDARG);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles, source " + N(source);
    const HRESULT hr = log_.call("IOPCSyncIO::Read", Gate(*group, normal), args, [&] {
        return object->Read(static_cast<OPCDATASOURCE>(source), count, handles.data(), &states, &errors);
    });
    log_.checkItems("IOPCSyncIO::Read", hr, errors, count, kReadItemCodes, args);
    for (DWORD i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
}

void Session::SyncReadMaxAge() {
    WITH_GROUP(IOPCSyncIO2, IID_IOPCSyncIO2, "IOPCSyncIO2")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<DWORD> ages(count > 0 ? count : 1);
    for (DWORD& age : ages) age = random_.maxAge();
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCSyncIO2::ReadMaxAge",
                                 Gate(*group, ItemArrayCodes(count)), args, [&] {
                                     return object->ReadMaxAge(count, handles.data(), ages.data(), &values, &qualities,
                                                               &times, &errors);
                                 });
    log_.checkItems("IOPCSyncIO2::ReadMaxAge", hr, errors, count, kReadItemCodes, args);
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(times);
    CoTaskMemFree(errors);
}

namespace {

// Handles for a write: a huge write names no item, so that it does not wait for the runtime
// 100,000 times.
std::vector<OPCHANDLE> WriteHandles(std::vector<OPCHANDLE> handles, RandomArguments& random) {
    if (handles.size() > 1000)
        for (OPCHANDLE& handle : handles) handle = 0xFFFF0000u + random.between(0, 0xFFFF);
    return handles;
}

}  // namespace

void Session::SyncWrite() {
    WITH_GROUP(IOPCSyncIO, IID_IOPCSyncIO, "IOPCSyncIO")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = WriteHandles(Handles(*group, count), random_);
    std::vector<VARIANT> values(count > 0 ? count : 1);
    for (DWORD i = 0; i < count; ++i) values[i] = random_.value();
    if (count == 0) VariantInit(&values[0]);
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles, first value type " + N(values[0].vt);
    const HRESULT hr = log_.call("IOPCSyncIO::Write", Gate(*group, ItemArrayCodes(count)),
                                 args, [&] { return object->Write(count, handles.data(), values.data(), &errors); });
    log_.checkItems("IOPCSyncIO::Write", hr, errors, count, kWriteItemCodes, args);
    for (VARIANT& value : values) VariantClear(&value);
    CoTaskMemFree(errors);
}

void Session::SyncWriteVQT() {
    WITH_GROUP(IOPCSyncIO2, IID_IOPCSyncIO2, "IOPCSyncIO2")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = WriteHandles(Handles(*group, count), random_);
    std::vector<OPCITEMVQT> vqts(count > 0 ? count : 1, OPCITEMVQT{});
    for (DWORD i = 0; i < count; ++i) vqts[i] = random_.vqt();
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCSyncIO2::WriteVQT",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->WriteVQT(count, handles.data(), vqts.data(), &errors); });
    log_.checkItems("IOPCSyncIO2::WriteVQT", hr, errors, count, kWriteItemCodes, args);
    for (OPCITEMVQT& vqt : vqts) VariantClear(&vqt.vDataValue);
    CoTaskMemFree(errors);
}

void Session::AsyncIO1() {
    WITH_GROUP(IOPCAsyncIO, IID_IOPCAsyncIO, "IOPCAsyncIO")
    // The DA 1.0 asynchronous calls are refused, whatever they are given.
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<VARIANT> values(count > 0 ? count : 1);
    for (VARIANT& value : values) VariantInit(&value);
    Codes refused = Gate(*group, {E_NOTIMPL});
    if (group->life == GroupRecord::Life::removePending) refused.push_back(E_NOTIMPL);
    if (count == 0 && group->life == GroupRecord::Life::live) refused.push_back(E_INVALIDARG);
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    const DWORD connection = random_.any32();
    const auto source = static_cast<OPCDATASOURCE>(random_.enumValue(OPC_DS_CACHE, 2));
    switch (random_.between(0, 3)) {
    case 0:
        log_.call("IOPCAsyncIO::Read", refused, N(count) + " handles", [&] {
            return object->Read(connection, source, count, handles.data(), &transaction, &errors);
        });
        break;
    case 1:
        log_.call("IOPCAsyncIO::Write", refused, N(count) + " handles", [&] {
            return object->Write(connection, count, handles.data(), values.data(), &transaction, &errors);
        });
        break;
    case 2:
        log_.call("IOPCAsyncIO::Refresh", refused, "",
                  [&] { return object->Refresh(connection, source, &transaction); });
        break;
    default:
        log_.call("IOPCAsyncIO::Cancel", refused, "", [&] { return object->Cancel(random_.any32()); });
        break;
    }
    CoTaskMemFree(errors);
}

void Session::AsyncRead() {
    WITH_GROUP(IOPCAsyncIO2, IID_IOPCAsyncIO2, "IOPCAsyncIO2")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCAsyncIO2::Read", Gate(*group, count == 0 ? Codes{E_INVALIDARG} : kQueued), args,
                                 [&] { return object->Read(count, handles.data(), random_.any32(), &cancelId, &errors); });
    log_.checkItems("IOPCAsyncIO2::Read", hr, errors, count, kQueueItemCodes, args);
    if (SUCCEEDED(hr) && cancelIds_.size() < 100) cancelIds_.push_back(cancelId);
    CoTaskMemFree(errors);
}

void Session::AsyncReadMaxAge() {
    WITH_GROUP(IOPCAsyncIO3, IID_IOPCAsyncIO3, "IOPCAsyncIO3")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<DWORD> ages(count > 0 ? count : 1);
    for (DWORD& age : ages) age = random_.maxAge();
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCAsyncIO3::ReadMaxAge", Gate(*group, count == 0 ? Codes{E_INVALIDARG} : kQueued),
                                 args, [&] {
                                     return object->ReadMaxAge(count, handles.data(), ages.data(), random_.any32(),
                                                               &cancelId, &errors);
                                 });
    log_.checkItems("IOPCAsyncIO3::ReadMaxAge", hr, errors, count, kQueueItemCodes, args);
    if (SUCCEEDED(hr) && cancelIds_.size() < 100) cancelIds_.push_back(cancelId);
    CoTaskMemFree(errors);
}

void Session::AsyncWrite() {
    WITH_GROUP(IOPCAsyncIO2, IID_IOPCAsyncIO2, "IOPCAsyncIO2")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = WriteHandles(Handles(*group, count), random_);
    std::vector<VARIANT> values(count > 0 ? count : 1);
    for (DWORD i = 0; i < count; ++i) values[i] = random_.value();
    if (count == 0) VariantInit(&values[0]);
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCAsyncIO2::Write", Gate(*group, count == 0 ? Codes{E_INVALIDARG} : kQueued), args,
                                 [&] {
                                     return object->Write(count, handles.data(), values.data(), random_.any32(),
                                                          &cancelId, &errors);
                                 });
    log_.checkItems("IOPCAsyncIO2::Write", hr, errors, count, kQueueItemCodes, args);
    if (SUCCEEDED(hr) && cancelIds_.size() < 100) cancelIds_.push_back(cancelId);
    for (VARIANT& value : values) VariantClear(&value);
    CoTaskMemFree(errors);
}

void Session::AsyncWriteVQT() {
    WITH_GROUP(IOPCAsyncIO3, IID_IOPCAsyncIO3, "IOPCAsyncIO3")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = WriteHandles(Handles(*group, count), random_);
    std::vector<OPCITEMVQT> vqts(count > 0 ? count : 1, OPCITEMVQT{});
    for (DWORD i = 0; i < count; ++i) vqts[i] = random_.vqt();
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCAsyncIO3::WriteVQT", Gate(*group, count == 0 ? Codes{E_INVALIDARG} : kQueued), args,
                                 [&] {
                                     return object->WriteVQT(count, handles.data(), vqts.data(), random_.any32(),
                                                             &cancelId, &errors);
                                 });
    log_.checkItems("IOPCAsyncIO3::WriteVQT", hr, errors, count, kQueueItemCodes, args);
    if (SUCCEEDED(hr) && cancelIds_.size() < 100) cancelIds_.push_back(cancelId);
    for (OPCITEMVQT& vqt : vqts) VariantClear(&vqt.vDataValue);
    CoTaskMemFree(errors);
}

void Session::Refresh2() {
    WITH_GROUP(IOPCAsyncIO2, IID_IOPCAsyncIO2, "IOPCAsyncIO2")
    const DWORD source = random_.enumValue(OPC_DS_CACHE, 2);
    Codes normal{S_OK, E_FAIL};
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) normal.push_back(E_INVALIDARG);
    DWORD cancelId = 0;
    if (SUCCEEDED(log_.call("IOPCAsyncIO2::Refresh2", Gate(*group, normal), "source " + N(source), [&] {
            return object->Refresh2(static_cast<OPCDATASOURCE>(source), random_.any32(), &cancelId);
        })) &&
        cancelIds_.size() < 100)
        cancelIds_.push_back(cancelId);
}

void Session::RefreshMaxAge() {
    WITH_GROUP(IOPCAsyncIO3, IID_IOPCAsyncIO3, "IOPCAsyncIO3")
    const DWORD age = random_.maxAge();
    DWORD cancelId = 0;
    if (SUCCEEDED(log_.call("IOPCAsyncIO3::RefreshMaxAge", Gate(*group, {S_OK, E_FAIL}), "max age " + N(age),
                            [&] { return object->RefreshMaxAge(age, random_.any32(), &cancelId); })) &&
        cancelIds_.size() < 100)
        cancelIds_.push_back(cancelId);
}

void Session::Cancel2() {
    WITH_GROUP(IOPCAsyncIO2, IID_IOPCAsyncIO2, "IOPCAsyncIO2")
    // A request of this group, of another group, one that is done, or none at all.
    const DWORD cancelId = !cancelIds_.empty() && random_.chance(0.7) ? random_.pick(cancelIds_) : random_.any32();
    log_.call("IOPCAsyncIO2::Cancel2", Gate(*group, {S_OK, E_FAIL}), "cancel id " + N(cancelId),
              [&] { return object->Cancel2(cancelId); });
}

void Session::Enable() {
    WITH_GROUP(IOPCAsyncIO2, IID_IOPCAsyncIO2, "IOPCAsyncIO2")
    if (random_.chance(0.5)) {
        const BOOL enable = random_.chance(0.5) ? TRUE : random_.chance(0.5) ? FALSE : static_cast<BOOL>(random_.any32());
        log_.call("IOPCAsyncIO2::SetEnable", Gate(*group, {S_OK}), "enable " + N(static_cast<DWORD>(enable)),
                  [&] { return object->SetEnable(enable); });
    } else {
        BOOL enabled = FALSE;
        log_.call("IOPCAsyncIO2::GetEnable", Gate(*group, {S_OK}), "", [&] { return object->GetEnable(&enabled); });
    }
}

}  // namespace hostile
