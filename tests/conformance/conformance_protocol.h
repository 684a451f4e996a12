// What the conformance server and its test agree on: the server's class, the texts that every
// string-carrying case sends through, and the echo that lets a call without outputs show what
// arrived. Each server method's canned behaviour is described where it is implemented
// (canned_server.cpp, canned_group.cpp); the test states the expected results itself.
#pragma once

#include "opcerror.h"

#include <objbase.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace conformance {

// The test server's class, registered by the test for its own run:
// {A9EE0DF8-2E9F-413A-8BE9-675B981BFABF}
inline constexpr CLSID kServerClsid = {0xa9ee0df8, 0x2e9f, 0x413a, {0x8b, 0xe9, 0x67, 0x5b, 0x98, 0x1b, 0xfa, 0xbf}};
inline constexpr wchar_t kServerExe[] = L"conformance_server.exe";
// What IOPCServerList(2)::GetClassDetails says of it.
inline constexpr wchar_t kProgId[] = L"Korvex.Conformance.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"Korvex.Conformance";
inline constexpr wchar_t kUserType[] = L"Korvex \u4e00\u81f4\u6027\u6d4b\u8bd5";  // 一致性测试

// GetStatus: the vendor info is this, followed by "; <client name>" once the client named itself.
inline constexpr wchar_t kVendorInfo[] = L"Korvex \u670d\u52a1\u5668";  // 服务器
inline constexpr FILETIME kStartTime = {0x11111111, 0x01DA0001};
inline constexpr FILETIME kCurrentTime = {0x22222222, 0x01DA0002};
// Time bias of a group added without one (the server's own time zone).
inline constexpr LONG kServerTimeBias = -480;

// Texts of every kind a string parameter must carry intact: empty, ASCII, Chinese (surrogate
// pair included), and long enough to need more than one buffer fragment.
inline const std::wstring kAscii = L"Plant.Feeder1.Current";
inline const std::wstring kChinese = L"\u6cf5\u7ad9.\u51fa\u6c34\u6e29\u5ea6 \U00020000";  // 泵站.出水温度 𠀀
inline std::wstring longText() {
    std::wstring text;
    for (int i = 0; text.size() < 6000; ++i) text += L"\u6bb5" + std::to_wstring(i) + L" segment ";
    return text;
}

inline constexpr LCID kEnglish = 0x409;
inline constexpr LCID kChineseLocale = 0x804;

// What both GetErrorString methods answer, in the two locales the server knows.
inline std::optional<std::wstring> errorText(HRESULT code, LCID locale) {
    if (locale != kEnglish && locale != kChineseLocale) return std::nullopt;
    const bool chinese = locale == kChineseLocale;
    switch (code) {
    case S_OK:
        return L"";
    case E_FAIL:
        return chinese ? L"\u672a\u6307\u5b9a\u7684\u9519\u8bef" : L"Unspecified error";  // 未指定的错误
    case OPC_E_UNKNOWNITEMID:
        // 项目 ID 未定义。
        return chinese ? L"\u9879\u76ee ID \u672a\u5b9a\u4e49\u3002" : L"The item ID is not defined.";
    case OPC_S_UNSUPPORTEDRATE:
        return longText();
    default:
        return std::nullopt;
    }
}

// A hash of the values a call received, for inputs that no output of the call carries (what
// RemoveGroup was told, say). Both sides feed the same values in the same order; a null string
// differs from an empty one.
class Echo {
public:
    template <std::integral T>
    Echo& operator<<(T value) {
        return bytes(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
    }
    Echo& operator<<(float value) { return bytes(value); }
    Echo& operator<<(const GUID& value) { return bytes(value); }
    Echo& operator<<(const wchar_t* text) {
        if (text == nullptr) return *this << 0xFFFFFFFFu;
        return *this << std::wstring_view(text);
    }
    Echo& operator<<(std::wstring_view text) {
        *this << text.size();
        for (wchar_t c : text) *this << static_cast<unsigned>(c);
        return *this;
    }
    template <class T>
    Echo& operator<<(std::span<const T> values) {
        *this << values.size();
        for (const T& value : values) *this << value;
        return *this;
    }

    std::uint32_t value() const { return hash_; }
    // A success code no OPC call returns on its own: 0x00048000 to 0x0004FFFF.
    HRESULT code() const { return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x8000 | (hash_ & 0x7FFF)); }

private:
    template <class T>
    Echo& bytes(const T& value) {
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof raw);
        for (unsigned char b : raw) hash_ = (hash_ ^ b) * 16777619u;  // FNV-1a
        return *this;
    }

    std::uint32_t hash_ = 2166136261u;
};

}  // namespace conformance
