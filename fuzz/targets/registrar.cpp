// The registrar's script reader: any text either reads as a script or is
// refused with std::runtime_error (anything else escaping is a finding);
// a script read has only the three roots and key names that are single,
// non-empty path elements.
#include <stdexcept>
#include <string>

#include "check.h"
#include "frame/registry_script.h"

using namespace frame::registrar;

namespace {

void check_key(const Key& key, int depth) {
    FUZZ_CHECK(!key.name.empty() && key.name.find(L'\\') == std::wstring::npos);
    for (const Key& child : key.children) check_key(child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Scripts are ASCII resources widened byte by byte; so is the input.
    std::wstring text(size, L'\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<wchar_t>(data[i]);
    const Replacements replacements{{L"MODULE", L"C:\\Program Files\\Quillnet\\Quillnet.dll"},
                                    {L"CLSID", L"{11111111-2222-3333-4444-555555555555}"},
                                    {L"LIBID", L"{66666666-7777-8888-9999-000000000000}"}};
    Script script;
    try {
        script = parse(text, replacements);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const Root& root : script.roots) {
        FUZZ_CHECK(root.hive == Hive::classes_root || root.hive == Hive::current_user ||
                   root.hive == Hive::local_machine);
        for (const Key& key : root.keys) check_key(key, 1);
    }
    return 0;
}
