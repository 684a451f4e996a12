#include "tools/simulator/shared_memory.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>

namespace sim {

SharedMemory::SharedMemory(const std::string& name, std::size_t size) : size_(size) {
    const auto size64 = static_cast<std::uint64_t>(size);
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size64 >> 32),
                                  static_cast<DWORD>(size64), name.c_str());
    const DWORD error = GetLastError();
    if (!mapping_)
        throw std::runtime_error("cannot create the shared memory \"" + name + "\" (error " +
                                 std::to_string(error) + ")");
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping_);
        throw std::runtime_error("the shared memory \"" + name + "\" exists already: is another runtime running?");
    }
    view_ = static_cast<std::byte*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (!view_) {
        const DWORD mapError = GetLastError();
        CloseHandle(mapping_);
        throw std::runtime_error("cannot map the shared memory \"" + name + "\" (error " +
                                 std::to_string(mapError) + ")");
    }
}

SharedMemory::~SharedMemory() {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
}

}  // namespace sim
