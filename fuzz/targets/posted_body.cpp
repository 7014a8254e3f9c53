// The walk through a posted multipart/form-data body: every content span
// lies inside the body, in body order; only the last file part may be
// incomplete, and an incomplete one has no content; every posted name comes
// out of the body and is made a plain name or refused.
#include <span>

#include "check.h"
#include "kestle/posted_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kestle::PostedWalk walk = kestle::walk_posted_body(std::span<const uint8_t>(data, size));
    size_t last_end = 0;
    for (size_t i = 0; i < walk.files.size(); ++i) {
        const kestle::PostedFilePart& part = walk.files[i];
        FUZZ_CHECK(part.name.size() <= size);
        if (!part.complete) {
            FUZZ_CHECK(i + 1 == walk.files.size());
            FUZZ_CHECK(walk.end == kestle::WalkEnd::incomplete_file);
            FUZZ_CHECK(part.content_begin == part.content_end);
            continue;
        }
        FUZZ_CHECK(part.content_begin <= part.content_end && part.content_end <= size);
        FUZZ_CHECK(part.content_begin >= last_end);
        last_end = part.content_end;
        const std::string safe = kestle::safe_posted_name(part.name);
        FUZZ_CHECK(safe.empty() || fuzz::plain_name(safe));
    }
    return 0;
}
