// A named shared memory section that this process creates and keeps mapped for its lifetime.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace sim {

class SharedMemory {
public:
    // Throws std::runtime_error when the section exists already (another runtime is up) or cannot
    // be created or mapped. The memory starts zeroed.
    SharedMemory(const std::string& name, std::size_t size);
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    std::byte* data() const { return view_; }
    std::size_t size() const { return size_; }

private:
    void* mapping_ = nullptr;
    std::byte* view_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace sim
