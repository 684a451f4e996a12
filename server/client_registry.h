// The connected clients: one entry per live server object, in the order they connected. Its
// length is the client count the main window shows; every change is posted to the main window.
#pragma once

#include <mutex>
#include <vector>

class COPCServer;

namespace server {

class ClientRegistry {
public:
    static ClientRegistry& Instance();

    // Enters a new server object and posts the client-count notice.
    void Add(COPCServer* server);
    // Takes a server object out and posts the client-count notice, or WM_CLOSE when it was the
    // last one, so that the process ends when its last client leaves.
    void Remove(COPCServer* server);
    std::size_t Count() const;

    // The registry lock: taken before any server's lock. `entries()` is valid only under it.
    std::recursive_mutex& lock() const { return lock_; }
    const std::vector<COPCServer*>& entries() const { return servers_; }

private:
    mutable std::recursive_mutex lock_;
    std::vector<COPCServer*> servers_;
};

}  // namespace server
