// Applying registry scripts (frame/registry_script.h has their grammar and
// reader) to the registry, in register and unregister mode.
#pragma once

#include <windows.h>

#include "frame/registry_script.h"

namespace frame::registrar {

// Register mode: stops at the first failure and returns its code.
HRESULT apply_register(const Script& script) noexcept;
// Unregister mode: removes what register mode created, except NoRemove keys;
// failures are passed over.
HRESULT apply_unregister(const Script& script) noexcept;

// Loads a REGISTRY text resource of the module, parses and applies it.
HRESULT run_resource(HINSTANCE module, int script_id, bool register_mode,
                     const Replacements& replacements) noexcept;

}  // namespace frame::registrar
