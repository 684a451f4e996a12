// Process-wide lock count of the COM module.
//
// An out-of-process server must stay up while any of its objects lives or a client has called
// IClassFactory::LockServer(TRUE). Every ComObject holds one lock (unless it opts out with
// `no_module_lock`), LockServer adds and removes one, the main window holds one. When the count
// falls to zero the installed callback runs, on the thread that dropped the last lock; the
// application uses it to start its idle shutdown.
#pragma once

namespace korvex::com {

class ModuleLock {
public:
    using ZeroCallback = void (*)() noexcept;

    static void lock() noexcept;
    // Returns the count after the unlock; runs the callback when that is zero.
    static long unlock() noexcept;
    static long count() noexcept;

    // Installs the callback (nullptr removes it); returns the previous one.
    static ZeroCallback onZero(ZeroCallback callback) noexcept;
};

} // namespace korvex::com
