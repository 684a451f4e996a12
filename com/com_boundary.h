// What an exception becomes where a COM method returns to its caller: no exception may cross the
// COM boundary. Every method of the server's COM classes ends in a catch-all clause that returns
// this, as C++/WinRT's to_hresult does.
#pragma once

#include <windows.h>

#include <new>

namespace korvex::com {

// Call only inside a catch clause.
inline HRESULT ExceptionToHResult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace korvex::com
