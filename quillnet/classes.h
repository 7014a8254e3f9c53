// Creators of the classes in Quillnet's class table.
#pragma once

#include <windows.h>

namespace quillnet {
HRESULT create_my_nntp(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_article_manager(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_my_smtp(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_my_http(IUnknown* outer, REFIID riid, void** out) noexcept;
}  // namespace quillnet
