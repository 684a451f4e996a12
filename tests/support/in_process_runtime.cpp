#include "in_process_runtime.h"

#include "rtdb/rt_library.h"

#include <cstring>
#include <stdexcept>

namespace {

HANDLE CreateMapping(const char* name, std::size_t size) {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), name);
    if (!mapping) throw std::runtime_error("cannot create the shared memory");
    return mapping;
}

std::byte* Map(HANDLE mapping, std::size_t size) {
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!view) throw std::runtime_error("cannot map the shared memory");
    return static_cast<std::byte*>(view);
}

}  // namespace

InProcessRuntime::InProcessRuntime(std::span<const rtimage::Station> plant) {
    const std::vector<std::byte> image = rtimage::buildImage(plant);
    databaseSize_ = image.size();
    window_ = CreateWindowExA(0, "STATIC", "in-process runtime", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              nullptr, nullptr);
    if (!window_) throw std::runtime_error("cannot create the runtime window");

    databaseMapping_ = CreateMapping(rt::kDatabaseName, databaseSize_);
    database_ = Map(databaseMapping_, databaseSize_);
    std::memcpy(database_, image.data(), image.size());

    mailboxMapping_ = CreateMapping(rt::mailbox::kName, rt::mailbox::kMappedSize);
    mailbox_ = Map(mailboxMapping_, rt::mailbox::kMappedSize);
    std::memset(mailbox_, 0, rt::mailbox::kMappedSize);
    const auto windowHandle = static_cast<LONG64>(reinterpret_cast<LONG_PTR>(window_) & 0xFFFFFFFF);
    std::memcpy(mailbox_ + rt::mailbox::kScadaWindow, &windowHandle, sizeof windowHandle);
    const auto descriptor = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(databaseSize_));
    std::memcpy(mailbox_ + rt::mailbox::kSystemBlock + rt::mailbox::kMemoryDescriptor, descriptor.data(),
                descriptor.size());
}

InProcessRuntime::~InProcessRuntime() {
    CloseWindow();
    if (mailbox_) UnmapViewOfFile(mailbox_);
    if (database_) UnmapViewOfFile(database_);
    if (mailboxMapping_) CloseHandle(mailboxMapping_);
    if (databaseMapping_) CloseHandle(databaseMapping_);
}

rtimage::ImageView InProcessRuntime::view() const {
    return *rtimage::ImageView::open(database_, databaseSize_);
}

void InProcessRuntime::CloseWindow() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
}
