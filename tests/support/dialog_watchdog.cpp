#include "dialog_watchdog.h"

#include "com/string_convert.h"

#include <algorithm>

namespace korvex::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSweepPeriod = std::chrono::milliseconds(100);
constexpr auto kPressAgainAfter = std::chrono::seconds(1);

// WM_GETTEXT reaches windows of other processes too; a hung owner costs at most 500 ms.
std::string windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 500, &length) || length == 0)
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 500, &copied))
        return {};
    text.resize(std::min<std::size_t>(copied, length));
    return com::toUtf8(text);
}

bool isDialogClass(HWND window) {
    wchar_t name[16];
    return GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == L"#32770";
}

// Window enumeration callbacks are named functions: a lambda has no stdcall conversion on i686.
BOOL CALLBACK appendStaticText(HWND child, LPARAM param) {
    wchar_t name[16];
    if (GetClassNameW(child, name, 16) > 0 && _wcsicmp(name, L"Static") == 0) {
        const std::string text = windowText(child);
        auto& all = *reinterpret_cast<std::string*>(param);
        if (!text.empty()) all += (all.empty() ? "" : "\n") + text;
    }
    return TRUE;
}

BOOL CALLBACK collectVisibleDialog(HWND window, LPARAM param) {
    if (IsWindowVisible(window) && isDialogClass(window)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::string staticTexts(HWND dialog) {
    std::string texts;
    EnumChildWindows(dialog, appendStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

}  // namespace

DialogWatchdog& DialogWatchdog::instance() {
    static DialogWatchdog watchdog;
    return watchdog;
}

DialogWatchdog::DialogWatchdog() : thread_([this] { run(); }) {}

DialogWatchdog::~DialogWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void DialogWatchdog::answer(DialogButton button) {
    std::lock_guard lock(mutex_);
    answer_ = button;
}

void DialogWatchdog::reset() {
    std::lock_guard lock(mutex_);
    seen_.clear();
    answer_ = DialogButton::ok;
}

std::vector<SeenDialog> DialogWatchdog::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

std::optional<SeenDialog> DialogWatchdog::waitFor(std::string_view part, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::optional<SeenDialog> found;
    changed_.wait_for(lock, timeout, [&] {
        const auto match = std::find_if(seen_.begin(), seen_.end(), [&](const SeenDialog& dialog) {
            return dialog.caption.find(part) != std::string::npos || dialog.text.find(part) != std::string::npos;
        });
        if (match != seen_.end()) found = *match;
        return found.has_value();
    });
    return found;
}

void DialogWatchdog::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        sweep();
        lock.lock();
        changed_.wait_for(lock, kSweepPeriod, [&] { return stopping_; });
    }
}

void DialogWatchdog::sweep() {
    std::vector<HWND> dialogs;
    EnumWindows(collectVisibleDialog, reinterpret_cast<LPARAM>(&dialogs));
    {
        std::lock_guard lock(mutex_);
        std::erase_if(pressed_, [](const auto& entry) { return !IsWindow(entry.first); });
    }
    for (HWND dialog : dialogs) dismiss(dialog);
}

void DialogWatchdog::dismiss(HWND dialog) {
    const auto now = Clock::now();
    DialogButton wanted;
    bool seenBefore = false;
    {
        std::lock_guard lock(mutex_);
        const auto entry = std::find_if(pressed_.begin(), pressed_.end(), [&](auto& e) { return e.first == dialog; });
        if (entry != pressed_.end()) {
            if (now - entry->second < kPressAgainAfter) return;
            entry->second = now;
            seenBefore = true;
        }
        wanted = answer_;
    }

    // Read before pressing: the texts go with the window.
    SeenDialog seen;
    if (!seenBefore) {
        GetWindowThreadProcessId(dialog, &seen.processId);
        seen.caption = windowText(dialog);
        seen.text = staticTexts(dialog);
    }
    for (int id : {static_cast<int>(wanted), IDOK, IDCANCEL, IDNO, IDYES}) {
        if (HWND button = GetDlgItem(dialog, id)) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            seen.pressed = id;
            break;
        }
    }
    if (seen.pressed == 0) PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (seenBefore) return;

    {
        std::lock_guard lock(mutex_);
        pressed_.emplace_back(dialog, now);
        seen_.push_back(std::move(seen));
    }
    changed_.notify_all();
}

}  // namespace korvex::test
