// The one safe-name rule, on single-byte text and on a double-byte code page
// (the lead bytes of code page 932): a name it gives is a plain name, and
// comes out the same when made safe again.
#include <string>

#include "check.h"

namespace {

frame::LeadBytes shift_jis_leads() {
    frame::LeadBytes lead{};
    for (unsigned c = 0x81; c <= 0x9F; ++c) lead[c] = true;
    for (unsigned c = 0xE0; c <= 0xFC; ++c) lead[c] = true;
    return lead;
}

void check(std::string_view reported, frame::NameSource source, const frame::LeadBytes* lead) {
    const std::string name = frame::safe_name(reported, source, lead);
    if (name.empty()) return;
    FUZZ_CHECK(fuzz::plain_name(name, lead));
    if (!lead && name.size() <= 255) FUZZ_CHECK(frame::is_safe_name(name));
    FUZZ_CHECK(frame::safe_name(name, source, lead) == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const frame::LeadBytes sjis = shift_jis_leads();
    const std::string_view reported = fuzz::text_of(data, size);
    for (frame::NameSource source : {frame::NameSource::sender_path, frame::NameSource::plain_name}) {
        check(reported, source, nullptr);
        check(reported, source, &sjis);
    }
    return 0;
}
