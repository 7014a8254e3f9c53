// Picture format guess and header size probe: a format number from the
// table (never one without a public signature) and a name for it; a probe
// of the first part of a file never claims more than one of the whole file
// (more bytes may only reveal a larger first frame), and finds none where
// the whole file has none.
#include <algorithm>
#include <span>

#include "check.h"
#include "kestle/image/picture_format.h"

using namespace kestle::image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    const std::span<const uint8_t> tail = file.subspan(size - std::min<size_t>(size, 26));
    const int format = guess_format(file, tail, size);
    FUZZ_CHECK(format >= format_unknown && format <= format_tga);
    FUZZ_CHECK(format != format_pax && format != format_tla_encrypted && format != format_tla_plain);
    FUZZ_CHECK(format == format_unknown || (!format_name(format).empty() && format_name(format) != "Unknown"));

    const auto claimed = probe_size(file);
    const auto shorter = probe_size(file.first(size / 2));
    if (shorter) FUZZ_CHECK(claimed && shorter->width <= claimed->width && shorter->height <= claimed->height);
    return 0;
}
