#include "tools/serverlist/server_list.h"

#include "com/com_boundary.h"
#include "com/standard_enumerators.h"
#include "com/task_memory.h"
#include "tools/serverlist/class_registry.h"

#include <initializer_list>
#include <span>
#include <utility>

namespace serverlist {
namespace {

using korvex::com::TaskString;
using korvex::com::taskStringCopy;

using OpcGuidEnumerator = korvex::com::Enumerator<IOPCEnumGUID, korvex::com::GuidItems>;

// cImplemented 0 means any class; the required categories must all be implemented.
template <class Enumerator, class Interface>
HRESULT ListClasses(ULONG implementedCount, const CATID* implemented, ULONG requiredCount, const CATID* required,
                    Interface** classes) noexcept try {
    if (classes == nullptr) return E_INVALIDARG;
    *classes = nullptr;
    if ((implementedCount != 0 && implemented == nullptr) || (requiredCount != 0 && required == nullptr))
        return E_INVALIDARG;
    korvex::com::ComPtr<Enumerator> found = korvex::com::make<Enumerator>(
        ClassesOfCategories(std::span(implemented, implementedCount), std::span(required, requiredCount)));
    if (!found) return E_OUTOFMEMORY;
    *classes = found.Detach();
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

// A null versionIndependentProgId: IOPCServerList, which does not ask for it.
HRESULT ClassDetailsOf(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType, LPOLESTR* versionIndependentProgId,
                       bool asksVersionIndependent) noexcept try {
    // The stub hands back what the out-parameters hold even when the call fails.
    for (LPOLESTR* out : {progId, userType, versionIndependentProgId})
        if (out != nullptr) *out = nullptr;
    if (progId == nullptr || userType == nullptr || (asksVersionIndependent && versionIndependentProgId == nullptr))
        return E_INVALIDARG;
    const std::optional<ClassDetails> details = FindClassDetails(clsid);
    if (!details) return REGDB_E_CLASSNOTREG;
    TaskString progIdCopy = taskStringCopy(details->progId), userTypeCopy = taskStringCopy(details->userType),
               independentCopy = taskStringCopy(details->versionIndependentProgId);
    if (!progIdCopy || !userTypeCopy || !independentCopy) return E_OUTOFMEMORY;
    *progId = progIdCopy.release();
    *userType = userTypeCopy.release();
    if (asksVersionIndependent) *versionIndependentProgId = independentCopy.release();
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

}  // namespace

HRESULT STDMETHODCALLTYPE CServerList::EnumClassesOfCategories(ULONG implementedCount, CATID implemented[],
                                                               ULONG requiredCount, CATID required[],
                                                               IOPCEnumGUID** classes) noexcept {
    return ListClasses<OpcGuidEnumerator>(implementedCount, implemented, requiredCount, required, classes);
}

HRESULT STDMETHODCALLTYPE CServerList::EnumClassesOfCategories(ULONG implementedCount, CATID implemented[],
                                                               ULONG requiredCount, CATID required[],
                                                               IEnumGUID** classes) noexcept {
    return ListClasses<korvex::com::GuidEnumerator>(implementedCount, implemented, requiredCount, required, classes);
}

HRESULT STDMETHODCALLTYPE CServerList::GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType,
                                                       LPOLESTR* versionIndependentProgId) noexcept {
    return ClassDetailsOf(clsid, progId, userType, versionIndependentProgId, true);
}

HRESULT STDMETHODCALLTYPE CServerList::GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType) noexcept {
    return ClassDetailsOf(clsid, progId, userType, nullptr, false);
}

HRESULT STDMETHODCALLTYPE CServerList::CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) noexcept try {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    *clsid = CLSID_NULL;
    const std::optional<CLSID> found = FindClassOfProgId(progId);
    // What the system's CLSIDFromProgID answers for a name it does not know.
    if (!found) return CO_E_CLASSSTRING;
    *clsid = *found;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

}  // namespace serverlist
