// The module: the class table of a component DLL, its lock count, its
// class factories and its type library. Each DLL supplies its own table by
// defining frame::module_info(); everything else here is shared.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <span>
#include <string>

namespace frame {

// Creates a new object of one class: standalone (outer null) or aggregated.
using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** out);

struct ClassRow {
    const CLSID* clsid;
    int script;        // REGISTRY resource number of the row's registrar script
    Creator create;
    const IID* iid;    // the dual interface objects of this row implement
};

struct ModuleInfo {
    const GUID* libid;
    std::span<const ClassRow> rows;
};

// Defined once per DLL.
const ModuleInfo& module_info();

HINSTANCE module_instance() noexcept;
std::wstring module_path();

// Live objects and caller locks keep the module loaded.
void lock_module() noexcept;
void unlock_module() noexcept;
LONG module_lock_count() noexcept;

struct DirectCalls;

// The type description of one of this module's interfaces, loaded from the
// embedded type library on first use and kept for the module's life, with
// the methods that Invoke calls directly (frame/dispatch.h).
HRESULT type_info_for(REFIID iid, ITypeInfo** out, const DirectCalls** direct = nullptr) noexcept;

// Module start and stop, called from DllMain.
void module_start(HINSTANCE instance) noexcept;
void module_stop(bool process_terminating) noexcept;

// Entered at every method boundary: marks this module as the one whose
// resources and state the call uses, and restores the caller's on return.
class ModuleContext {
  public:
    ModuleContext() noexcept;
    ~ModuleContext();
    ModuleContext(const ModuleContext&) = delete;
    ModuleContext& operator=(const ModuleContext&) = delete;
    static HINSTANCE current() noexcept;

  private:
    HINSTANCE saved_;
};

}  // namespace frame
