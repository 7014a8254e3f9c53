// The news session's reading of a stored copy, handed out in chunks whose
// sizes come from the input (a read error now and then): the article gets
// the same text and attachment list as from reading the copy whole, up to
// the last whole line before an error; and every attachment entry comes from a marker line of the copy.
#include <algorithm>
#include <string>

#include "check.h"
#include "quillnet/news/article_text.h"
#include "quillnet/news/store_files.h"

using namespace quillnet;

namespace {

class Pieces final : public StoredCopy {
  public:
    Pieces(std::string_view text, uint64_t seed, bool fail) : text_(text), seed_(seed | 1), fail_(fail) {}
    bool read(char* into, size_t room, size_t& got) override {
        got = 0;
        if (at_ == text_.size()) {
            failed_ = fail_;
            return !fail_;
        }
        seed_ ^= seed_ << 13;
        seed_ ^= seed_ >> 7;
        seed_ ^= seed_ << 17;
        got = std::min({text_.size() - at_, room, static_cast<size_t>(1 + seed_ % 97)});
        std::copy_n(text_.data() + at_, got, into);
        at_ += got;
        return true;
    }
    bool failed_ = false;

  private:
    std::string_view text_;
    size_t at_ = 0;
    uint64_t seed_;
    bool fail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool fail = data[0] & 1;
    const std::string_view text = fuzz::text_of(data + 1, size - 1);

    ArticleRecord whole;
    // One piece as large as the copy: read_stored_copy's own chunks split it.
    struct Whole final : StoredCopy {
        std::string_view t;
        bool done = false;
        bool read(char* into, size_t room, size_t& got) override {
            got = done ? 0 : std::min(room, t.size());
            std::copy_n(t.data(), got, into);
            t.remove_prefix(got);
            done = t.empty();
            return true;
        }
    } all;
    all.t = text;
    read_stored_copy(all, whole);

    ArticleRecord pieces;
    Pieces copy(text, data[0] * 0x9E3779B97F4A7C15ull + size, fail);
    read_stored_copy(copy, pieces);

    if (!fail) {
        FUZZ_CHECK(pieces.body() == whole.body());
        FUZZ_CHECK(pieces.attachments == whole.attachments && pieces.attachmentCount == whole.attachmentCount);
    } else {
        // Everything up to the last whole line, nothing after it.
        FUZZ_CHECK(whole.body().substr(0, pieces.body().size()) == pieces.body());
        FUZZ_CHECK(pieces.attachmentCount <= whole.attachmentCount);
    }
    size_t markers = 0;
    for (size_t at = 0; (at = text.find(kAttachmentMarker, at)) != std::string_view::npos; at += 1)
        if (at == 0 || text[at - 1] == '\n') ++markers;
    FUZZ_CHECK(static_cast<size_t>(whole.attachmentCount) <= markers);
    return 0;
}
