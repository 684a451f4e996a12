// The process fixture against a real child: output that would fill a pipe, lines waited for,
// input, exit codes, message boxes dismissed and recorded, and children killed by their owner
// whatever way the test ends.
#include "tests/support/dialog_watchdog.h"
#include "tests/support/wine_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace {

using korvex::test::ChildProcess;
using korvex::test::DialogButton;
using korvex::test::DialogWatchdog;
using korvex::test::ProcessOptions;
using namespace std::chrono_literals;

constexpr const char* kChild = "process_fixture_child.exe";

std::string pattern(std::size_t bytes) {
    std::string text(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

bool processEnded(DWORD id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) return true;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST(ChildProcess, OutputBeyondThePipeBufferDoesNotBlockTheChild) {
    const std::size_t bytes = 100 * 1024;  // on each stream; a pipe buffers 64 KB
    ProcessOptions separate;
    separate.separateErrors = true;
    ChildProcess child(kChild, {"print", std::to_string(bytes)}, separate);
    ASSERT_EQ(child.waitForExit(10s), std::optional<DWORD>(0));
    EXPECT_EQ(child.output(), pattern(bytes) + "done\n");
    EXPECT_EQ(child.errors(), pattern(bytes));

    ChildProcess merged(kChild, {"print", std::to_string(bytes)});
    ASSERT_EQ(merged.waitForExit(10s), std::optional<DWORD>(0));
    EXPECT_EQ(merged.output().size(), 2 * bytes + 5);
    EXPECT_TRUE(merged.errors().empty());
}

TEST(ChildProcess, WaitForLineSeesLaterLinesAndGivesUpWhenTheOutputEnds) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* line;
        bool expected;
        std::chrono::milliseconds timeout;
        std::chrono::milliseconds atMost;
    };
    const Case cases[] = {
        {"line printed 300 ms later", {"lines"}, "ready", true, 10s, 5s},
        {"an earlier line", {"lines"}, "starting", true, 10s, 5s},
        {"part of a line is not the line", {"lines"}, "read", false, 1s, 5s},
        {"last line without a line end", {"exit", "0"}, "bye", true, 10s, 5s},
        {"output ended without it", {"exit", "0"}, "ready", false, 30s, 5s},
        {"hung child: the timeout", {"hang"}, "ready", false, 500ms, 5s},
    };
    for (const Case& c : cases) {
        ChildProcess child(kChild, c.args);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(child.waitForLine(c.line, c.timeout), c.expected) << c.name << "\n" << child.output();
        EXPECT_LT(std::chrono::steady_clock::now() - start, c.atMost) << c.name;
    }
}

TEST(ChildProcess, ExitCodesInputAndRunningState) {
    ChildProcess exiting(kChild, {"exit", "42"});
    EXPECT_EQ(exiting.waitForExit(), std::optional<DWORD>(42));
    EXPECT_FALSE(exiting.running());
    EXPECT_EQ(exiting.exitCode(), std::optional<DWORD>(42));

    ProcessOptions withInput;
    withInput.inputPipe = true;
    ChildProcess echo(kChild, {"echo"}, withInput);
    EXPECT_TRUE(echo.running());
    EXPECT_EQ(echo.exitCode(), std::nullopt);
    echo.writeInput("first\n\xE6\xB5\x8B\xE8\xAF\x95\n");
    ASSERT_TRUE(echo.waitForLine("echo: first")) << echo.output();
    echo.closeInput();  // end of input ends the child
    EXPECT_EQ(echo.waitForExit(), std::optional<DWORD>(0));
    EXPECT_EQ(echo.output(), "echo: first\necho: \xE6\xB5\x8B\xE8\xAF\x95\n");
}

TEST(ChildProcess, TheOwnerKillsAHungChildHoweverTheScopeEnds) {
    DWORD normalEnd = 0, exceptionEnd = 0;
    {
        ChildProcess child(kChild, {"hang"});
        normalEnd = child.id();
        EXPECT_TRUE(child.running());
    }
    EXPECT_TRUE(processEnded(normalEnd));
    try {
        ChildProcess child(kChild, {"hang"});
        exceptionEnd = child.id();
        throw std::runtime_error("a failing test");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(processEnded(exceptionEnd));

    ChildProcess killed(kChild, {"hang"});
    killed.kill();
    EXPECT_EQ(killed.exitCode(), std::optional<DWORD>(ChildProcess::kKilledExitCode));
}

TEST(ChildProcess, AGrandchildHoldingThePipeDoesNotHoldUpTheExit) {
    ChildProcess child(kChild, {"grandchild"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(child.waitForExit(10s), std::optional<DWORD>(0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    const std::string output = child.output();
    ASSERT_TRUE(output.starts_with("grandchild ")) << output;

    // Adopted, the grandchild is killed like a child of the test.
    const DWORD grandchildId = std::stoul(output.substr(11));
    DWORD adoptedId = 0;
    {
        ChildProcess grandchild = ChildProcess::adopt(grandchildId);
        adoptedId = grandchild.id();
        EXPECT_TRUE(grandchild.running());
    }
    EXPECT_EQ(adoptedId, grandchildId);
    EXPECT_TRUE(processEnded(grandchildId));
}

TEST(DialogWatchdog, MessageBoxesOfChildrenAreAnsweredAndRecorded) {
    struct Case {
        const char* name;
        UINT type;
        DialogButton answer;
        DWORD expectedResult;
    };
    const Case cases[] = {
        {"OK box", MB_OK | MB_ICONERROR, DialogButton::ok, IDOK},
        {"yes/no box, yes", MB_YESNO | MB_ICONQUESTION, DialogButton::yes, IDYES},
        {"yes/no box, no", MB_YESNO, DialogButton::no, IDNO},
        {"yes/no box, OK asked: first of Cancel, No, Yes", MB_YESNO, DialogButton::ok, IDNO},
        {"OK/Cancel box, cancel", MB_OKCANCEL, DialogButton::cancel, IDCANCEL},
    };
    DialogWatchdog& watchdog = DialogWatchdog::instance();
    for (const Case& c : cases) {
        watchdog.reset();
        watchdog.answer(c.answer);
        const std::string caption = std::string("\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8 ") + c.name;  // 服务器
        const std::string text = "\xE5\xB7\xB2\xE6\x9C\x89\xE4\xB8\x80\xE4\xB8\xAA\xE5\xAE\x9E\xE4\xBE\x8B "
                                 "(another instance) " + std::to_string(c.type);  // 已有一个实例
        ChildProcess child(kChild, {"message-box", std::to_string(c.type), caption, text});
        EXPECT_EQ(child.waitForExit(10s), std::optional<DWORD>(c.expectedResult)) << c.name;

        const auto seen = watchdog.waitFor("another instance", 1s);
        ASSERT_TRUE(seen.has_value()) << c.name;
        EXPECT_EQ(seen->caption, caption) << c.name;
        EXPECT_EQ(seen->text, text) << c.name;
        EXPECT_EQ(seen->processId, child.id()) << c.name;
        EXPECT_EQ(seen->pressed, static_cast<int>(c.expectedResult)) << c.name;
        EXPECT_EQ(watchdog.seen().size(), 1u) << c.name << ": one box, recorded once";
    }
    watchdog.reset();
}

TEST(DialogWatchdog, AMessageBoxOfTheTestItselfIsAnsweredToo) {
    DialogWatchdog& watchdog = DialogWatchdog::instance();
    watchdog.reset();
    EXPECT_EQ(MessageBoxW(nullptr, L"in process", L"own box", MB_OK), IDOK);
    const auto seen = watchdog.waitFor("in process", 1s);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->processId, GetCurrentProcessId());
}

}  // namespace
