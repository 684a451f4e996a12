// The identity of the server class: the host registers it, the client tool and the tests create it.
#pragma once

#include <guiddef.h>

namespace app {

// {B445967B-4C3E-4E38-9C91-6A8DDD94430C}
inline constexpr CLSID CLSID_KorvexOPCServer = {
    0xb445967b, 0x4c3e, 0x4e38, {0x9c, 0x91, 0x6a, 0x8d, 0xdd, 0x94, 0x43, 0x0c}};

inline constexpr const wchar_t* kServerProgId = L"Korvex.OPCServer.2";

}  // namespace app
