// Every input a fuzzer broke an invariant with, kept in tests/data/fuzz/
// <target>/, replayed through the same target and its invariants in this
// Windows build (with the real code-page and file calls behind the seams).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "check.h"
#include "golden.h"

// fuzz_targets.inc: one QK_FUZZ_TARGET(name) per target of fuzz/targets.cmake.
#define QK_FUZZ_TARGET(name) extern "C" int fuzz_target_##name(const uint8_t* data, size_t size);
#include "fuzz_targets.inc"
#undef QK_FUZZ_TARGET

namespace {

using Target = int (*)(const uint8_t*, size_t);

const std::map<std::string, Target>& targets() {
    static const std::map<std::string, Target> all{
#define QK_FUZZ_TARGET(name) {#name, fuzz_target_##name},
#include "fuzz_targets.inc"
#undef QK_FUZZ_TARGET
    };
    return all;
}

struct Broken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throw_broken(const char* what, const char* file, int line) {
    throw Broken(std::string(what) + " (" + file + ":" + std::to_string(line) + ")");
}

TEST(FuzzCases, EveryKeptFindingHoldsItsTargetsInvariants) {
    fuzz::failure_handler() = throw_broken;
    const std::string root = qk_golden::data_path("fuzz");
    const auto folders = qk_golden::list_folder(root);
    ASSERT_FALSE(folders.empty()) << root;
    size_t cases = 0;
    const std::set<std::string> native_only = {
#include "fuzz_native_targets.inc"
    };
    for (const std::string& target : folders) {
        if (native_only.count(target)) continue;  // replayed by scripts/fuzz
        const auto it = targets().find(target);
        ASSERT_NE(it, targets().end()) << "cases kept for an unknown target: " << target;
        for (const std::string& name : qk_golden::list_folder(root + "\\" + target)) {
            const std::string input = qk_golden::read_file(root + "\\" + target + "\\" + name);
            try {
                it->second(reinterpret_cast<const uint8_t*>(input.data()), input.size());
            } catch (const Broken& broken) {
                ADD_FAILURE() << target << "/" << name << ": " << broken.what();
            }
            ++cases;
        }
    }
    EXPECT_GT(cases, 0u);
    fuzz::failure_handler() = nullptr;
}

}  // namespace
