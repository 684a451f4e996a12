// Owning VARIANT.
//
// Not _variant_t: its copies and conversions report failure by throwing _com_error, which must
// not cross a COM method, and a failed VariantCopy (a BSTR that cannot be allocated) has to come
// back as an HRESULT. So copying is explicit and returns one; moving never fails.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace korvex::com {

class Variant {
public:
    Variant() noexcept { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }

    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }

    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.value_;
            VariantInit(&other.value_);
        }
        return *this;
    }

    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // Deep copy of `source`; on failure this variant is VT_EMPTY.
    HRESULT copyFrom(const VARIANT& source) noexcept {
        VariantClear(&value_);
        const HRESULT hr = VariantCopy(&value_, const_cast<VARIANT*>(&source));  // mingw's prototype lacks const
        if (FAILED(hr)) {
            VariantInit(&value_);
        }
        return hr;
    }

    // Deep copy into `target`, which must hold a valid VARIANT (a zero-filled one is VT_EMPTY).
    HRESULT copyTo(VARIANT* target) const noexcept {
        return target != nullptr ? VariantCopy(target, const_cast<VARIANT*>(&value_)) : E_POINTER;
    }

    // Takes over `source`'s contents and leaves it VT_EMPTY.
    void attach(VARIANT& source) noexcept {
        VariantClear(&value_);
        value_ = source;
        VariantInit(&source);
    }

    // Hands the contents to the caller and becomes VT_EMPTY.
    [[nodiscard]] VARIANT detach() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

    void clear() noexcept { VariantClear(&value_); }

    // For an [out] VARIANT: the previous value is cleared first.
    VARIANT* put() noexcept {
        VariantClear(&value_);
        return &value_;
    }

    const VARIANT& get() const noexcept { return value_; }
    VARIANT& get() noexcept { return value_; }
    VARTYPE type() const noexcept { return V_VT(&value_); }

private:
    VARIANT value_;
};

} // namespace korvex::com
