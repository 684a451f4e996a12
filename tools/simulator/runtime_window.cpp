#include "tools/simulator/runtime_window.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace sim {

namespace {
// Thread message (no window) that makes the window thread stop pumping; lParam: milliseconds.
constexpr UINT kHangMessage = WM_APP + 1;
constexpr DWORD kAcknowledgeTimeoutMs = 5000;
}  // namespace

RuntimeWindow::RuntimeWindow(CopyDataHandler handler)
    : handler_(std::move(handler)), threadId_(GetCurrentThreadId()) {
    resume_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hangEntered_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    destroyed_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass))
        throw std::runtime_error("cannot register the window class (error " + std::to_string(GetLastError()) +
                                 ")");
    // Not shown: the runtime window only receives messages.
    window_ = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 200,
                              nullptr, nullptr, windowClass.hInstance, this);
    if (!window_)
        throw std::runtime_error("cannot create the main window (error " + std::to_string(GetLastError()) + ")");
    alive_ = true;
}

RuntimeWindow::~RuntimeWindow() {
    if (alive_) DestroyWindow(window_);
    CloseHandle(resume_);
    CloseHandle(hangEntered_);
    CloseHandle(destroyed_);
}

LRESULT CALLBACK RuntimeWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<RuntimeWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<RuntimeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const std::span payload(static_cast<const std::byte*>(data->lpData), data->lpData ? data->cbData : 0);
        return self->handler_(static_cast<std::uint32_t>(data->dwData), payload) ? TRUE : FALSE;
    }
    if (self && message == WM_CLOSE) {
        // Reported only once the handle is really gone, so that IsWindow already says so.
        DestroyWindow(window);
        self->alive_ = false;
        SetEvent(self->destroyed_);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RuntimeWindow::run() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!message.hwnd && message.message == kHangMessage) {
            // A plain wait, not MsgWait*: sent messages must stay queued, as in a hung program.
            hung_ = true;
            SetEvent(hangEntered_);
            WaitForSingleObject(resume_, static_cast<DWORD>(message.lParam));
            hung_ = false;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool RuntimeWindow::hang(std::optional<std::chrono::milliseconds> duration) {
    if (hung_ || quitting_) return false;
    ResetEvent(resume_);
    const DWORD ms =
        duration ? static_cast<DWORD>(std::min<long long>(duration->count(), INFINITE - 1)) : INFINITE;
    if (!PostThreadMessageA(threadId_, kHangMessage, 0, static_cast<LPARAM>(ms))) return false;
    return WaitForSingleObject(hangEntered_, kAcknowledgeTimeoutMs) == WAIT_OBJECT_0;
}

void RuntimeWindow::resume() { SetEvent(resume_); }

bool RuntimeWindow::close() {
    if (!alive_) return true;
    PostMessageA(window_, WM_CLOSE, 0, 0);
    return WaitForSingleObject(destroyed_, kAcknowledgeTimeoutMs) == WAIT_OBJECT_0;
}

void RuntimeWindow::requestQuit() {
    quitting_ = true;
    SetEvent(resume_);
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
}

}  // namespace sim
