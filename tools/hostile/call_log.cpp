#include "tools/hostile/call_log.h"

#include "opcerror.h"

#include <algorithm>
#include <cstdio>

namespace hostile {

namespace {

long long Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool IsTransportCode(HRESULT hr) {
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case RPC_E_CALL_REJECTED:
        return true;
    default:
        return false;
    }
}

bool IsProxyRefusal(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER) || hr == HRESULT_FROM_WIN32(RPC_X_ENUM_VALUE_OUT_OF_RANGE);
}

const Codes& DisconnectedCodes() {
    // RPC_S_UNKNOWN_IF: an interface of the object that was never used before it was cut off.
    static const Codes codes{RPC_E_DISCONNECTED, CO_E_OBJNOTCONNECTED, HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF)};
    return codes;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

CallLog::CallLog(std::chrono::milliseconds bound, std::uint64_t seed)
    : bound_(bound), seed_(seed), watchdog_([this] { watch(); }) {}

CallLog::~CallLog() {
    stopping_ = true;
    watchdog_.join();
}

void CallLog::begin(const char* method, const std::string& args) {
    {
        std::lock_guard lock(running_);
        method_ = method;
        args_ = args;
        number_ = ++calls_;
    }
    ++perMethod_[method];
    startedAt_ = Now();
}

void CallLog::end() {
    const long long started = startedAt_.exchange(0);
    std::lock_guard lock(running_);
    secondsPerMethod_[method_] += static_cast<double>(Now() - started) / 1000.0;
}

std::vector<std::pair<std::string, double>> CallLog::slowest(std::size_t count) const {
    std::vector<std::pair<std::string, double>> all(secondsPerMethod_.begin(), secondsPerMethod_.end());
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (all.size() > count) all.resize(count);
    return all;
}

void CallLog::watch() {
    while (!stopping_) {
        Sleep(100);
        const long long started = startedAt_;
        if (started == 0 || Now() - started <= bound_.count()) continue;
        std::lock_guard lock(running_);
        std::fprintf(stderr, "korvex-hostile: HUNG: %s did not return within %lld ms; arguments: %s (call %llu, seed %llu)\n",
                     method_, static_cast<long long>(bound_.count()), args_.c_str(), static_cast<unsigned long long>(number_),
                     static_cast<unsigned long long>(seed_));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), kExitHung);
    }
}

void CallLog::check(const char* method, HRESULT hr, const Codes& allowed, const std::string& args) {
    if (std::find(allowed.begin(), allowed.end(), hr) != allowed.end()) return;
    if (IsProxyRefusal(hr)) {
        ++refused_;
        return;
    }
    if (IsTransportCode(hr)) {
        ++lost_;
        transportFailure_ = true;
        std::fprintf(stderr, "korvex-hostile: %s was lost by the transport: %s (call %llu)\n", method, Hex(hr).c_str(),
                     static_cast<unsigned long long>(calls_));
        return;
    }
    ++findings_;
    if (!reported_.insert({method, Hex(hr)}).second) return;
    std::string expected;
    for (HRESULT code : allowed) expected += (expected.empty() ? "" : " ") + Hex(code);
    std::fprintf(stderr, "korvex-hostile: FINDING: %s returned %s, expected one of [%s]; arguments: %s (call %llu)\n",
                 method, Hex(hr).c_str(), expected.c_str(), args.c_str(), static_cast<unsigned long long>(calls_));
}

void CallLog::checkItems(const char* method, HRESULT hr, const HRESULT* errors, DWORD count, const Codes& allowed,
                         const std::string& args) {
    if ((hr != S_OK && hr != S_FALSE) || errors == nullptr) return;
    // S_FALSE when an item did not simply succeed (an item read from the cache of an inactive
    // group succeeds with S_FALSE), S_OK when all did (a clamped write counts as done).
    bool failed = false, notDone = false;
    for (DWORD i = 0; i < count; ++i) {
        failed = failed || FAILED(errors[i]);
        notDone = notDone || (errors[i] != S_OK && errors[i] != OPC_S_CLAMP);
        if (std::find(allowed.begin(), allowed.end(), errors[i]) == allowed.end())
            finding(method, "gave an item " + Hex(errors[i]) + " (item " + std::to_string(i) + "); arguments: " + args);
    }
    if ((failed && hr != S_FALSE) || (hr == S_FALSE && !notDone))
        finding(method, "returned " + Hex(hr) + (failed ? " though an item failed" : " though every item was done") +
                            "; arguments: " + args);
}

void CallLog::finding(const char* method, const std::string& what) {
    ++findings_;
    // One report per method and kind of finding: the text before its details.
    const std::string key = what.substr(0, what.find_first_of("(;"));
    if (!reported_.insert({method, key}).second) return;
    std::fprintf(stderr, "korvex-hostile: FINDING: %s %s (call %llu)\n", method, what.c_str(),
                 static_cast<unsigned long long>(calls_));
}

}  // namespace hostile
