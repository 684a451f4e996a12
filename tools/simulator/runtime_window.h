// The runtime's hidden main window (class "KorvexScadaRuntime", for FindWindow), whose handle the
// mailbox publishes and to which writers send their WM_COPYDATA messages. The thread that creates
// it runs its message loop; the other methods are for the control channel's threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace sim {

class RuntimeWindow {
public:
    static constexpr const char* kClassName = "KorvexScadaRuntime";
    static constexpr const char* kTitle = "Korvex SCADA Runtime";

    // Called on the window thread for each WM_COPYDATA; returns whether the message was applied.
    using CopyDataHandler = std::function<bool(std::uint32_t code, std::span<const std::byte> payload)>;

    explicit RuntimeWindow(CopyDataHandler handler);  // throws std::runtime_error
    ~RuntimeWindow();
    RuntimeWindow(const RuntimeWindow&) = delete;
    RuntimeWindow& operator=(const RuntimeWindow&) = delete;

    HWND handle() const { return window_; }

    // The message loop; returns once requestQuit was called.
    void run();

    // Stops the window thread from pumping messages (SendMessage to the window blocks, and the
    // window reads as hung after a few seconds) until `duration` has passed (none: until resume)
    // or resume is called. False when it is hung already or did not stop within a few seconds.
    bool hang(std::optional<std::chrono::milliseconds> duration);
    void resume();
    bool hung() const { return hung_; }

    // Destroys the window as the runtime stopping would; the process stays. False when the window
    // thread did not do it within a few seconds (e.g. while hung).
    bool close();
    bool alive() const { return alive_; }

    void requestQuit();

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    CopyDataHandler handler_;
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE resume_ = nullptr;       // manual reset
    HANDLE hangEntered_ = nullptr;  // auto reset
    HANDLE destroyed_ = nullptr;    // manual reset
    std::atomic<bool> hung_{false};
    std::atomic<bool> alive_{false};
    std::atomic<bool> quitting_{false};
};

}  // namespace sim
