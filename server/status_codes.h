// The status codes the server returns that have a message text, and the text of each.
#pragma once

#include <windows.h>

namespace server {

// The string-table id of a code's text; 0 when the code has none.
UINT StatusTextId(HRESULT code);

// GetErrorString: the code's text as a task-allocated wide string, in English for an English
// locale (0x0409 and its kin) and in Chinese for any other. E_INVALIDARG for a code without text,
// E_FAIL when the text cannot be loaded, E_OUTOFMEMORY.
HRESULT GetErrorText(HRESULT code, LCID locale, LPWSTR* text);

}  // namespace server
