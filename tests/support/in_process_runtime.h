// A SCADA runtime inside the test process: publishes a plant's database image and the mailbox
// under their real names, with a live window of this process as the runtime's main window, so
// that the server's data side can be tested without the simulator process.
#pragma once

#include "rtdb/standin/rt_image.h"

#include <windows.h>

#include <cstddef>
#include <span>

class InProcessRuntime {
public:
    explicit InProcessRuntime(std::span<const rtimage::Station> plant);
    ~InProcessRuntime();
    InProcessRuntime(const InProcessRuntime&) = delete;
    InProcessRuntime& operator=(const InProcessRuntime&) = delete;

    HWND window() const { return window_; }
    std::byte* mailbox() const { return mailbox_; }
    // The live records: a test changes values here as the runtime would.
    std::byte* database() const { return database_; }
    rtimage::ImageView view() const;

    // The runtime stops: its main window goes away, the shared memory stays.
    void CloseWindow();

private:
    HWND window_ = nullptr;
    HANDLE mailboxMapping_ = nullptr;
    HANDLE databaseMapping_ = nullptr;
    std::byte* mailbox_ = nullptr;
    std::byte* database_ = nullptr;
    std::size_t databaseSize_ = 0;
};
