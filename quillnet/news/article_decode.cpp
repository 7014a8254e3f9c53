// Cutting attachments out of an article body.
//
// A body is MIME multipart when its first 80 characters, in capitals, hold
// "MIME", "MULTI" and "PART". Its delimiter is its first line that begins
// with "--". Each stretch from one occurrence of the delimiter to the next
// (the next may lie anywhere in a line) is handed to the MIME part decoder
// together with the rest of the line that holds the next occurrence; a part
// that decodes completely and has a file name is written as a file and the
// stretch up to the next occurrence becomes one marker line. Uuencoded blocks
// ("begin " in any case at the start of a line, through the first line that
// begins with "end", or failing that "END", or failing that "End") and
// single-part yEnc blocks ("=ybegin " through its "=yend" line) are then
// looked for, in a MIME body only from the last delimiter occurrence on.
// After a block is replaced, the line that follows its marker is passed over.
// The text left is written as the stored copy, named by the article number.
//
// Beyond that:
// - A part or block stays in the text, as it was, unless its decoder
//   finished (a uuencoded block may lack its end line), took the block up to
//   its last line, left a usable file name, and the file was written: nothing
//   of the text is lost to a bad decode, a dangerous name or a full disk.
// - Lengths are counted, not taken from the terminating NUL, so zero bytes in
//   a body do not cut off the rest of it.
// - The edits are made in one pass through the buffer: a write position
//   trails the read position and the text between attachments moves up
//   once. The buffer grows (geometrically) only when a marker line is longer
//   than all the room freed so far. Every search resumes where the last one
//   stopped. So any number of attachments costs time linear in the body.
#include "quillnet/news/article_decode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/scan.h"
#include "quillnet/engine/uudecode.h"
#include "quillnet/engine/yenc.h"
#include "quillnet/news/article_text.h"
#include "quillnet/news/file_names.h"
#include "frame/ascii.h"

namespace quillnet {
namespace {

using frame::ascii::starts_with_nocase;
using frame::ascii::upper;

using engine::ByteBuffer;
using engine::Verdict;

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kMarker = kAttachmentMarker;

using TextEditor = ArticleRecord::Editor;

// Successive occurrences of a needle, overlapping ones included, each search
// going on from where the last one stopped (Knuth-Morris-Pratt, scanning
// ahead for the needle's first character while nothing is matched). A
// delimiter of dashes in a text of dashes stays linear.
class Occurrences {
  public:
    Occurrences(std::string_view needle, size_t from) : needle_(needle), position_(from) {
        prefix_.assign(needle_.size() + 1, 0);
        size_t k = 0;
        for (size_t i = 1; i < needle_.size(); ++i) {
            while (k > 0 && needle_[i] != needle_[k]) k = prefix_[k];
            if (needle_[i] == needle_[k]) ++k;
            prefix_[i + 1] = static_cast<uint32_t>(k);
        }
    }

    // The start of the next occurrence in `text` (the current view of the
    // same text), or npos.
    size_t next(std::string_view text) {
        const size_t m = needle_.size();
        if (m == 0) return npos;
        while (position_ < text.size()) {
            if (matched_ == 0) {
                position_ = engine::find_byte(text, needle_[0], position_);
                if (position_ == npos) {
                    position_ = text.size();
                    return npos;
                }
            }
            const char c = text[position_++];
            while (matched_ > 0 && c != needle_[matched_]) matched_ = prefix_[matched_];
            if (c == needle_[matched_]) ++matched_;
            if (matched_ == m) {
                matched_ = prefix_[m];
                return position_ - m;
            }
        }
        return npos;
    }

  private:
    std::string needle_;
    std::vector<uint32_t> prefix_;
    size_t position_;
    size_t matched_ = 0;
};

// A search that remembers its last answer: asked again from a later
// position, it answers at once while that answer still lies ahead, and so
// scans each stretch of the text at most once.
class Search {
  public:
    explicit Search(std::string_view needle) : needle_(needle) {}
    size_t find(std::string_view text, size_t from) {
        if (!(asked_ && from >= from_ && (found_ == npos || found_ >= from))) {
            found_ = engine::find_text(text, needle_, from);
            from_ = from;
            asked_ = true;
        }
        return found_;
    }

  private:
    std::string_view needle_;
    bool asked_ = false;
    size_t from_ = 0;
    size_t found_ = npos;
};

class Extraction {
  public:
    Extraction(ArticleRecord& record, const std::string& webRoot, const std::string& groupFolder, FileSink& sink)
        : record_(record), editor_(record), webRoot_(webRoot), groupFolder_(groupFolder), sink_(sink) {}

    void run() {
        size_t scan = 0;
        if (is_mime()) scan = mime_pass();
        block_pass(scan);
        editor_.close();
    }

  private:
    bool is_mime() const {
        const std::string_view t = editor_.view();
        std::string head(t.substr(0, 80));
        for (char& c : head) c = upper(c);
        return head.find("MIME") != npos && head.find("MULTI") != npos && head.find("PART") != npos;
    }

    // Returns where the block pass starts: the last delimiter occurrence, or
    // the end of the text when there is no delimiter line.
    size_t mime_pass() {
        std::string_view t = editor_.view();
        size_t p = t.substr(0, 2) == "--" ? 0 : engine::find_text(t, "\n--");
        if (p == npos) return editor_.end();
        if (t[p] == '\n') ++p;
        const size_t eol = engine::find_byte(t, '\n', p);
        Occurrences delimiter(t.substr(p, eol == npos ? npos : eol - p), p);
        delimiter.next(t);  // the delimiter line itself
        for (;;) {
            t = editor_.view();
            const size_t n = delimiter.next(t);
            if (n == npos) return p;
            const size_t line_end = newline_.find(t, n);
            const size_t part_end = line_end == npos ? t.size() : line_end;
            // A stretch within one line has no header and no body: the part
            // decoder would refuse it, so it is not worth handing over.
            if (engine::find_byte(t.data() + p, t.data() + n, '\n') != t.data() + n) {
                try_part(p, n, t.substr(p, part_end - p));
            }
            p = n;
        }
    }

    void try_part(size_t from, size_t to, std::string_view part_text) {
        engine::MimeMessage message;
        message.parse(part_text);
        if (message.part_count() == 0) return;
        std::string name = message.part_filename(0);
        if (name.empty()) name = message.part_name(0);
        name = safe_file_name(name);
        if (name.empty()) return;
        engine::ContentDecoder decoder = message.part_decoder(0);
        const bool closed = message.part_closed(0);
        if (extract(decoder, message.body(0), name,
                    [&](Verdict v) { return v == Verdict::finished && closed; }))
            replace(from, to, name);
    }

    void block_pass(size_t p) {
        while (p < editor_.end()) {
            const std::string_view t = editor_.view();
            const std::string_view line = t.substr(p);
            size_t tail = npos;
            if (starts_with_nocase(line, "begin ")) tail = uu_block(p);
            else if (line.substr(0, 8) == "=ybegin ") tail = yenc_block(p);
            if (tail != npos) p = tail;
            if (p >= editor_.end()) break;
            // After a replacement this passes over the line after the marker.
            const std::string_view now = editor_.view();
            const size_t nl = engine::find_byte(now, '\n', p);
            if (nl == npos) break;
            p = nl + 1;
        }
    }

    // Where the text after a block starts: behind the line end of the line
    // at `line`, or the end of the text.
    size_t after_line(size_t line) const {
        const size_t nl = engine::find_byte(editor_.view(), '\n', line);
        return nl == npos ? editor_.end() : nl + 1;
    }

    // Replaces the uuencoded block at p; returns where the text after it
    // starts, or npos when the block stays.
    size_t uu_block(size_t p) {
        const std::string_view t = editor_.view();
        size_t e = end_lower_.find(t, p);
        if (e == npos) e = end_upper_.find(t, p);
        if (e == npos) e = end_title_.find(t, p);
        const size_t block_end = e == npos ? editor_.end() : after_line(e + 1);
        const std::string_view block = t.substr(p, block_end - p);
        engine::UuDecoder decoder;
        // The begin line first, for the name the file is made under.
        const size_t first = after_line(p) - p;
        decoder.feed(block.substr(0, first), buffer_);
        const std::string name = safe_file_name(decoder.filename());
        if (name.empty()) return npos;
        // Decoding must run to the block's last line: were the decoder's end
        // line an earlier one, the lines between would be lost. A block with
        // no end line in the rest of the text takes that rest in, text after
        // its data included (a signature below a post whose end line was
        // lost), once the zero-length line has closed the data.
        const bool to_text_end = e == npos;
        if (!extract(decoder, block.substr(first), name, [&](Verdict v) {
                return v == Verdict::incomplete || (v == Verdict::finished && decoder.consumed() == block.size()) ||
                       (v == Verdict::bad_data && to_text_end && decoder.data_closed_by_text());
            }))
            return npos;
        replace(p, block_end, name);
        return block_end;
    }

    size_t yenc_block(size_t p) {
        const std::string_view t = editor_.view();
        const size_t e = yend_.find(t, p);
        if (e == npos) return npos;
        const size_t block_end = after_line(e + 1);
        const std::string_view block = t.substr(p, block_end - p);
        engine::YencDecoder decoder;
        const size_t first = after_line(p) - p;
        decoder.feed(block.substr(0, first), buffer_);
        const std::string name = safe_file_name(decoder.filename());
        if (name.empty()) return npos;
        if (!extract(decoder, block.substr(first), name, [&](Verdict v) {
                return v == Verdict::finished && !decoder.multipart() && decoder.consumed() == block.size();
            }))
            return npos;
        replace(p, block_end, name);
        return block_end;
    }

    // Decodes `input` into a new file `name`, a piece at a time so no copy
    // of a large attachment is held in memory; true when `accepted` takes
    // the decoder's verdict and the file is in place.
    template <class Decoder, class Accept>
    bool extract(Decoder& decoder, std::string_view input, const std::string& name, Accept accepted) {
        buffer_.clear();
        std::unique_ptr<NewFile> file = sink_.create(webRoot_ + groupFolder_ + name);
        if (!file) return false;
        for (size_t at = 0; at < input.size(); at += kPiece) {
            decoder.feed(input.substr(at, kPiece), buffer_);
            if (!buffer_.empty() && !file->write(buffer_.data(), buffer_.size())) return false;
            buffer_.clear();
        }
        const Verdict v = decoder.finish(buffer_);
        if (!buffer_.empty() && !file->write(buffer_.data(), buffer_.size())) return false;
        buffer_.clear();
        return accepted(v) && file->commit();
    }

    // Replaces [from, to) by the marker line of the file `name` and lists
    // the attachment.
    void replace(size_t from, size_t to, const std::string& name) {
        std::string entry;
        entry.reserve(1 + groupFolder_.size() + name.size());
        entry.append("\\").append(groupFolder_).append(name);
        std::string marker;
        marker.reserve(kMarker.size() + entry.size() + 1);
        marker.append(kMarker).append(entry).push_back('\n');
        record_.attachments.reserve(record_.attachments.size() + entry.size() + 1);
        editor_.replace(from, to, marker);
        record_.AddAttachment(entry);
    }

    static constexpr size_t kPiece = 64 * 1024;  // decoded output stays in the cache

    ArticleRecord& record_;
    TextEditor editor_;
    const std::string& webRoot_;
    const std::string& groupFolder_;
    FileSink& sink_;
    ByteBuffer buffer_;  // decoded bytes on their way to a file
    Search end_lower_{"\nend"};
    Search end_upper_{"\nEND"};
    Search end_title_{"\nEnd"};
    Search yend_{"\n=yend"};
    Search newline_{"\n"};
};

}  // namespace

int32_t decode_attachments(ArticleRecord& record, const std::string& webRoot, const std::string& groupFolder,
                           FileSink& sink) {
    if (record.length() <= 0 || !record.text()) return -1;
    Extraction(record, webRoot, groupFolder, sink).run();
    if (std::unique_ptr<NewFile> stored = sink.create(webRoot + groupFolder + std::to_string(record.number)))
        if (stored->write(record.text(), static_cast<size_t>(record.length()))) stored->commit();
    return 0;
}

}  // namespace quillnet
