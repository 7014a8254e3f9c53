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
//
// The reading of a script is plain C++ (registry_script.cpp), so the native
// fuzz build links it; applying it to the registry is in registrar.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace frame::registrar {

enum class KeyFlag { none, no_remove, force_remove, remove };

struct Value {
    std::wstring name;  // empty: the key's default value
    bool is_number = false;
    std::wstring text;
    uint32_t number = 0;
};

struct Key {
    std::wstring name;
    KeyFlag flag = KeyFlag::none;
    bool has_default = false;
    Value default_value;
    std::vector<Value> values;
    std::vector<Key> children;
};

// The registry roots a script may name. The values are those of the
// predefined HKEY handles (HKEY_CLASSES_ROOT and so on) in 32 bits, so the
// registrar turns them into handles the way Windows defines those.
enum class Hive : uint32_t {
    classes_root = 0x80000000,
    current_user = 0x80000001,
    local_machine = 0x80000002,
};

struct Root {
    Hive hive;
    std::vector<Key> keys;
};

struct Script {
    std::vector<Root> roots;
};

using Replacements = std::map<std::wstring, std::wstring>;

// Parses a script; throws std::runtime_error with a message on bad syntax or
// an unknown replacement token.
Script parse(std::wstring_view text, const Replacements& replacements);

}  // namespace frame::registrar
