// Registrar for the brace-grammar scripts that describe a class's registry
// entries:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {guid} = s 'Some Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Keys may be prefixed NoRemove (kept on unregistration), ForceRemove (deleted
// with everything below it and recreated on registration) or Delete (removed
// on registration). Values are 's' strings or 'd' numbers; %NAME% tokens inside
// quoted strings are replaced from a caller-supplied table.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace frame::registrar {

enum class KeyFlag { none, no_remove, force_remove, remove };

struct Value {
    std::wstring name;  // empty: the key's default value
    bool is_number = false;
    std::wstring text;
    DWORD number = 0;
};

struct Key {
    std::wstring name;
    KeyFlag flag = KeyFlag::none;
    bool has_default = false;
    Value default_value;
    std::vector<Value> values;
    std::vector<Key> children;
};

struct Root {
    HKEY hive;
    std::vector<Key> keys;
};

struct Script {
    std::vector<Root> roots;
};

using Replacements = std::map<std::wstring, std::wstring>;

// Parses a script; throws std::runtime_error with a message on bad syntax or
// an unknown replacement token.
Script parse(std::wstring_view text, const Replacements& replacements);

// Register mode: stops at the first failure and returns its code.
HRESULT apply_register(const Script& script) noexcept;
// Unregister mode: removes what register mode created, except NoRemove keys;
// failures are passed over.
HRESULT apply_unregister(const Script& script) noexcept;

// Loads a REGISTRY text resource of the module, parses and applies it.
HRESULT run_resource(HINSTANCE module, int script_id, bool register_mode,
                     const Replacements& replacements) noexcept;

}  // namespace frame::registrar
