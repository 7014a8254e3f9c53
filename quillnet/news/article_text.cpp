#include "quillnet/news/article_text.h"

#include "frame/ascii.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/scan.h"
#include "quillnet/engine/utf8_text.h"

namespace quillnet {
namespace {

using frame::ascii::starts_with_nocase;
using frame::ascii::trim_space;

constexpr size_t npos = std::string_view::npos;
// A part's Content-Type is a line or two; a longer one only costs time.
constexpr size_t kMaxField = 4096;

// The body line by line, each stretch between two special lines converted
// whole, so the platform converter runs a few times per article, not per
// line.
class Converter {
  public:
    explicit Converter(std::string_view body) : body_(body) { out_.reserve(body.size() + body.size() / 8); }

    // Converts the text from the last cut up to `to` in `charset`, then
    // passes [to, next) on as ANSI text.
    void cut(size_t to, size_t next, std::string_view charset) {
        engine::declared_to_utf8(charset, body_.substr(from_, to - from_), out_);
        engine::ansi_to_utf8(body_.substr(to, next - to), out_);
        from_ = next;
    }
    std::string finish(std::string_view charset) {
        cut(body_.size(), body_.size(), charset);
        return std::move(out_);
    }

  private:
    std::string_view body_;
    std::string out_;
    size_t from_ = 0;
};

}  // namespace

std::string article_text_to_utf8(std::string_view body, std::string_view contentType) {
    const bool multipart = starts_with_nocase(trim_space(contentType), "multipart/");
    const std::string boundary = multipart ? engine::header_parameter(contentType, "boundary") : std::string();
    const std::string delimiter = boundary.empty() ? std::string() : "--" + boundary;
    // A single-part body is in the article's charset; in a multipart body
    // the preamble and each part's headers have none, and a part's body is
    // in the charset of its own Content-Type.
    std::string charset = delimiter.empty() ? engine::header_parameter(contentType, "charset") : std::string();
    Converter conv(body);
    bool inHeaders = false;
    bool inType = false;
    std::string partType;  // the Content-Type field being read, with its folded lines
    size_t at = 0;
    while (at < body.size()) {
        const size_t nl = engine::find_byte(body, '\n', at);
        const size_t next = nl == npos ? body.size() : nl + 1;
        const std::string_view line = body.substr(at, next - at);
        if (line.substr(0, kAttachmentMarker.size()) == kAttachmentMarker) {
            conv.cut(at, next, charset);
            // The marker replaced a whole part; what follows is a delimiter.
            if (!delimiter.empty()) charset.clear();
        } else if (!delimiter.empty() && line.substr(0, delimiter.size()) == delimiter) {
            conv.cut(at, next, charset);
            charset.clear();
            partType.clear();
            inHeaders = true;
        } else if (inHeaders) {
            if (trim_space(line).empty()) {
                inHeaders = false;
                charset = engine::header_parameter(partType, "charset");
                conv.cut(next, next, {});
            } else if (line[0] == ' ' || line[0] == '\t') {
                if (inType && partType.size() < kMaxField) partType.append(trim_space(line)).push_back(' ');
            } else {
                inType = starts_with_nocase(line, "Content-Type:");
                if (inType) partType.assign(trim_space(line.substr(13)));
            }
        }
        at = next;
    }
    return conv.finish(charset);
}

}  // namespace quillnet
