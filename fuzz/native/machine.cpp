// Native stand-ins for the machine's side of message composition
// (quillnet/engine/machine.cpp): fixed answers, so a finding replays with
// the same message, and a token that still differs from message to message.
#include <string>

#include "quillnet/engine/machine.h"

namespace quillnet::engine {

unsigned ansi_code_page() { return 1252; }

std::string local_domain() { return "fuzz.example.org"; }

UtcTime utc_now() { return {2026, 12, 9, 3, 4, 5, 6}; }

std::string unique_token() {
    static unsigned counter = 0;
    return "fuzz." + std::to_string(++counter);
}

}  // namespace quillnet::engine
