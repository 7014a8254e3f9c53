// Creators of the classes in KestleDLL's class table.
#pragma once

#include <windows.h>

namespace kestle {
HRESULT create_kestle(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_kestle_image(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_kestle_capture(IUnknown* outer, REFIID riid, void** out) noexcept;
HRESULT create_kestle_chat(IUnknown* outer, REFIID riid, void** out) noexcept;
}  // namespace kestle
