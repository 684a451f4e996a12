#include "tools/opcclient/value_text.h"

#include "com/string_convert.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace opcclient {

namespace {

constexpr LCID kInvariantNumbers = 0x0409;  // '.' as the decimal point, whatever the user's locale

struct TypeInfo {
    VARTYPE type;
    const char* name;
};
constexpr std::array kTypes{
    TypeInfo{VT_EMPTY, "VT_EMPTY (empty)"},     TypeInfo{VT_BOOL, "VT_BOOL (boolean)"},
    TypeInfo{VT_R4, "VT_R4 (float)"},           TypeInfo{VT_R8, "VT_R8 (double)"},
    TypeInfo{VT_I1, "VT_I1 (8-bit integer)"},   TypeInfo{VT_UI1, "VT_UI1 (8-bit unsigned)"},
    TypeInfo{VT_I2, "VT_I2 (16-bit integer)"},  TypeInfo{VT_UI2, "VT_UI2 (16-bit unsigned)"},
    TypeInfo{VT_I4, "VT_I4 (32-bit integer)"},  TypeInfo{VT_UI4, "VT_UI4 (32-bit unsigned)"},
    TypeInfo{VT_INT, "VT_INT (32-bit integer)"}, TypeInfo{VT_UINT, "VT_UINT (32-bit unsigned)"},
    TypeInfo{VT_I8, "VT_I8 (64-bit integer)"},  TypeInfo{VT_UI8, "VT_UI8 (64-bit unsigned)"},
    TypeInfo{VT_BSTR, "VT_BSTR (text)"},        TypeInfo{VT_DATE, "VT_DATE (date)"},
    TypeInfo{VT_CY, "VT_CY (currency)"},
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

ParsedValue refused(std::string_view text, VARTYPE type, std::string_view why) {
    return {false, "\"" + std::string(text) + "\" " + std::string(why) + " (the item's type is " + typeName(type) + ")"};
}

template <class Number>
bool parseWhole(std::string_view text, Number& out) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, out);
    return error == std::errc() && stop == end;
}

ParsedValue parseInteger(std::string_view text, VARTYPE type, VARIANT& out) {
    // Range of each integer type; parsed through the widest type of its signedness.
    const bool isSigned = type == VT_I1 || type == VT_I2 || type == VT_I4 || type == VT_INT || type == VT_I8;
    if (isSigned) {
        std::int64_t value = 0;
        if (!parseWhole(text, value)) return refused(text, type, "is not a whole number");
        const auto [low, high] = type == VT_I1   ? std::pair<std::int64_t, std::int64_t>{INT8_MIN, INT8_MAX}
                                 : type == VT_I2 ? std::pair<std::int64_t, std::int64_t>{INT16_MIN, INT16_MAX}
                                 : type == VT_I8 ? std::pair<std::int64_t, std::int64_t>{INT64_MIN, INT64_MAX}
                                                 : std::pair<std::int64_t, std::int64_t>{INT32_MIN, INT32_MAX};
        if (value < low || value > high) return refused(text, type, "is out of range");
        V_VT(&out) = type;
        switch (type) {
        case VT_I1: V_I1(&out) = static_cast<CHAR>(value); break;
        case VT_I2: V_I2(&out) = static_cast<SHORT>(value); break;
        case VT_I8: V_I8(&out) = value; break;
        case VT_INT: V_INT(&out) = static_cast<INT>(value); break;
        default: V_I4(&out) = static_cast<LONG>(value); break;
        }
        return {true, {}};
    }
    std::uint64_t value = 0;
    if (text.starts_with('-') || !parseWhole(text, value)) return refused(text, type, "is not a whole number of 0 or more");
    const std::uint64_t high = type == VT_UI1 ? UINT8_MAX : type == VT_UI2 ? UINT16_MAX : type == VT_UI8 ? UINT64_MAX : UINT32_MAX;
    if (value > high) return refused(text, type, "is out of range");
    V_VT(&out) = type;
    switch (type) {
    case VT_UI1: V_UI1(&out) = static_cast<BYTE>(value); break;
    case VT_UI2: V_UI2(&out) = static_cast<USHORT>(value); break;
    case VT_UI8: V_UI8(&out) = value; break;
    case VT_UINT: V_UINT(&out) = static_cast<UINT>(value); break;
    default: V_UI4(&out) = static_cast<ULONG>(value); break;
    }
    return {true, {}};
}

template <class Number>
std::string shortest(Number value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

std::string typeName(VARTYPE type) {
    for (const TypeInfo& info : kTypes)
        if (info.type == type) return info.name;
    return "VARTYPE " + std::to_string(type);
}

ParsedValue parseValue(std::string_view text, VARTYPE type, VARIANT& out) {
    switch (type) {
    case VT_BOOL: {
        const std::string word = lower(text);
        const bool on = word == "true" || word == "on" || word == "yes" || word == "1";
        const bool off = word == "false" || word == "off" || word == "no" || word == "0";
        if (!on && !off) return refused(text, type, "is not true/false, on/off, yes/no or 1/0");
        V_VT(&out) = VT_BOOL;
        V_BOOL(&out) = on ? VARIANT_TRUE : VARIANT_FALSE;
        return {true, {}};
    }
    case VT_R4:
    case VT_R8: {
        double value = 0;
        // from_chars takes no leading '+'; a user may well type one.
        if (!parseWhole(text.starts_with('+') ? text.substr(1) : text, value))
            return refused(text, type, "is not a number");
        if (type == VT_R4 && std::isfinite(value) && std::abs(value) > std::numeric_limits<float>::max())
            return refused(text, type, "is out of range");
        V_VT(&out) = type;
        if (type == VT_R4)
            V_R4(&out) = static_cast<float>(value);
        else
            V_R8(&out) = value;
        return {true, {}};
    }
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8:
        return parseInteger(text.starts_with('+') ? text.substr(1) : text, type, out);
    case VT_BSTR:
    case VT_EMPTY:  // no canonical type known: the server converts the text
        V_VT(&out) = VT_BSTR;
        V_BSTR(&out) = SysAllocString(korvex::com::fromUtf8(text).c_str());
        return {true, {}};
    default: {
        // Dates, currency, decimals: the system's conversion from text, with '.' as decimal point.
        VARIANT source;
        VariantInit(&source);
        V_VT(&source) = VT_BSTR;
        V_BSTR(&source) = SysAllocString(korvex::com::fromUtf8(text).c_str());
        const HRESULT hr = VariantChangeTypeEx(&out, &source, kInvariantNumbers, 0, type);
        VariantClear(&source);
        if (FAILED(hr)) return refused(text, type, "cannot be converted");
        return {true, {}};
    }
    }
}

std::string formatValue(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_EMPTY: return "(empty)";
    case VT_NULL: return "(null)";
    case VT_BOOL: return V_BOOL(&value) ? "true" : "false";
    case VT_R4: return shortest(V_R4(&value));
    case VT_R8: return shortest(V_R8(&value));
    case VT_I1: return std::to_string(static_cast<int>(V_I1(&value)));
    case VT_UI1: return std::to_string(V_UI1(&value));
    case VT_I2: return std::to_string(V_I2(&value));
    case VT_UI2: return std::to_string(V_UI2(&value));
    case VT_I4: return std::to_string(V_I4(&value));
    case VT_UI4: return std::to_string(V_UI4(&value));
    case VT_INT: return std::to_string(V_INT(&value));
    case VT_UINT: return std::to_string(V_UINT(&value));
    case VT_I8: return std::to_string(V_I8(&value));
    case VT_UI8: return std::to_string(V_UI8(&value));
    case VT_BSTR: return korvex::com::toUtf8(V_BSTR(&value) ? V_BSTR(&value) : L"");
    default: {
        VARIANT text;
        VariantInit(&text);
        if (FAILED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), kInvariantNumbers, VARIANT_ALPHABOOL, VT_BSTR)))
            return "(" + typeName(V_VT(&value)) + ")";
        std::string out = korvex::com::toUtf8(V_BSTR(&text) ? V_BSTR(&text) : L"");
        VariantClear(&text);
        return out;
    }
    }
}

nlohmann::json valueToJson(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_EMPTY:
    case VT_NULL: return nullptr;
    case VT_BOOL: return V_BOOL(&value) != VARIANT_FALSE;
    // A float goes out as the double nearest its shortest text, so that 230.1f prints 230.1 and not
    // 230.10000610351562.
    case VT_R4: {
        double nearest = 0;
        const std::string text = shortest(V_R4(&value));
        std::from_chars(text.data(), text.data() + text.size(), nearest);
        return nearest;
    }
    case VT_R8: return V_R8(&value);
    case VT_I1: return static_cast<int>(V_I1(&value));
    case VT_UI1: return V_UI1(&value);
    case VT_I2: return V_I2(&value);
    case VT_UI2: return V_UI2(&value);
    case VT_I4: return static_cast<std::int32_t>(V_I4(&value));
    case VT_UI4: return static_cast<std::uint32_t>(V_UI4(&value));
    case VT_INT: return V_INT(&value);
    case VT_UINT: return V_UINT(&value);
    case VT_I8: return V_I8(&value);
    case VT_UI8: return V_UI8(&value);
    default: return formatValue(value);
    }
}

}  // namespace opcclient
