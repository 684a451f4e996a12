// The cancel IDs a group hands out for its asynchronous requests: 1, 2, ... 1,000,001, then 1 again.
// They are unique within one group only until they wrap.
#pragma once

#include <windows.h>

class CancelIds {
public:
    static constexpr DWORD kLast = 1000001;

    // The ID the next request gets, without taking it.
    DWORD Peek() const { return last_ >= kLast ? 1 : last_ + 1; }
    DWORD Next() { return last_ = Peek(); }

private:
    DWORD last_ = 0;
};
