// Every call korvex-hostile makes passes through the CallLog: it counts the call, lets the watchdog
// see how long it has been running, and checks what came back against the codes that call may
// return in the situation it was made in. A code outside that set is a finding, printed once per
// method and code with the arguments that produced it. A code of the transport (the call never
// reached the server, or the server went away) is a lost call, told apart from the server's own
// answers.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hostile {

using Codes = std::vector<HRESULT>;

// The codes the transport gives when a call did not reach its object or its server.
bool IsTransportCode(HRESULT hr);
// The codes a proxy gives when it refuses to send a call (an array of 0 elements, an enumeration
// value beyond 16 bits): the server never sees those calls.
bool IsProxyRefusal(HRESULT hr);
// The codes a call through an object a forced RemoveGroup cut off may give.
const Codes& DisconnectedCodes();

class CallLog {
public:
    // The watchdog ends the process (exit code kExitHung) when one call runs longer than `bound`.
    CallLog(std::chrono::milliseconds bound, std::uint64_t seed);
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    static constexpr int kExitHung = 5;

    // Makes the call, timed by the watchdog, and checks its result against `allowed`; `args` says
    // what was passed, for the report. Returns the call's result.
    template <class Call>
    HRESULT call(const char* method, const Codes& allowed, const std::string& args, Call&& makeCall) {
        begin(method, args);
        const HRESULT hr = makeCall();
        end();
        check(method, hr, allowed, args);
        return hr;
    }

    // Checks the per-item codes of a call that succeeded: each must be in `allowed`, and the call's
    // S_OK or S_FALSE must agree with them (S_FALSE when an item failed, S_OK when all were done).
    void checkItems(const char* method, HRESULT hr, const HRESULT* errors, DWORD count, const Codes& allowed,
                    const std::string& args);

    // A finding that is not a code: a result that contradicts what the call was given.
    void finding(const char* method, const std::string& what);

    std::uint64_t calls() const { return calls_; }
    std::uint64_t lostCalls() const { return lost_; }
    std::uint64_t refusedByProxy() const { return refused_; }
    // The methods that took longest in all, slowest first.
    std::vector<std::pair<std::string, double>> slowest(std::size_t count) const;
    std::size_t findings() const { return findings_; }
    // The methods called at least once, with how often.
    const std::map<std::string, std::uint64_t>& perMethod() const { return perMethod_; }
    // True once a transport code came back since the last call of this.
    bool takeTransportFailure() { return std::exchange(transportFailure_, false); }

private:
    void begin(const char* method, const std::string& args);
    void end();
    void check(const char* method, HRESULT hr, const Codes& allowed, const std::string& args);
    void watch();

    const std::chrono::milliseconds bound_;
    const std::uint64_t seed_;
    std::uint64_t calls_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t refused_ = 0;
    std::map<std::string, double> secondsPerMethod_;
    std::size_t findings_ = 0;
    bool transportFailure_ = false;
    std::map<std::string, std::uint64_t> perMethod_;
    std::set<std::pair<std::string, std::string>> reported_;

    // What the watchdog reads: the call running now and since when (0: none).
    std::mutex running_;
    const char* method_ = nullptr;
    std::string args_;
    std::uint64_t number_ = 0;
    std::atomic<long long> startedAt_{0};
    std::atomic<bool> stopping_{false};
    std::thread watchdog_;
};

// "0x80070057" and the like.
std::string Hex(HRESULT hr);

}  // namespace hostile
