// Dismisses every dialog that appears in the session while a test runs. A message box blocks its
// thread for good under Wine's null display driver (nobody can click it), so without this a
// test that reaches one would hang until ctest's time-out. Every ~100 ms a thread looks for
// visible top-level windows of the dialog class "#32770" (MessageBox uses it) in any process,
// records their caption and text, and presses the button the test asked for. A test can then
// assert that a message was shown.
//
// One watchdog per test program, started by the first ChildProcess or the first instance() call,
// running until the program ends.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace korvex::test {

enum class DialogButton : int {
    ok = IDOK,
    cancel = IDCANCEL,
    abort = IDABORT,
    retry = IDRETRY,
    ignore = IDIGNORE,
    yes = IDYES,
    no = IDNO,
};

struct SeenDialog {
    DWORD processId = 0;
    std::string caption;  // UTF-8
    std::string text;     // the dialog's static texts, UTF-8, one line each
    int pressed = 0;      // the button id pressed, or 0 when it was closed with WM_CLOSE
};

class DialogWatchdog {
public:
    static DialogWatchdog& instance();

    // The button to press from now on (the default is OK). A dialog without that button gets the
    // first of OK, Cancel, No, Yes it has; one without any of them gets WM_CLOSE.
    void answer(DialogButton button);
    // Forgets the dialogs seen and answers OK again.
    void reset();

    std::vector<SeenDialog> seen() const;
    // The first dialog seen (since reset) whose caption or text contains `part` (UTF-8), waiting
    // up to `timeout` for it.
    std::optional<SeenDialog> waitFor(std::string_view part, std::chrono::milliseconds timeout);

    DialogWatchdog(const DialogWatchdog&) = delete;
    DialogWatchdog& operator=(const DialogWatchdog&) = delete;

private:
    DialogWatchdog();
    ~DialogWatchdog();
    void run();
    void sweep();
    void dismiss(HWND dialog);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenDialog> seen_;
    DialogButton answer_ = DialogButton::ok;
    // Dialogs pressed, and when: a press posted before the dialog's loop ran is repeated.
    std::vector<std::pair<HWND, std::chrono::steady_clock::time_point>> pressed_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace korvex::test
