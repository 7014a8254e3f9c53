// The line engine over a scripted server: replies, status lines and
// dot-terminated blocks read from the input give the same results whether
// the bytes arrive as they fit or in random pieces; no line holds a line end
// or passes the line cap; a failed read leaves the engine disconnected
// (except a line that is no status line, after which the stream is still in
// step). And a block sent with send_block reads back, line for line, as the
// text it was made from.
#include <string>
#include <vector>

#include "check.h"
#include "quillnet/engine/line_engine.h"
#include "scripted_server.h"

using namespace quillnet::engine;

namespace {

// Everything the reads gave, for comparing two deliveries of one script.
std::string conversation(const std::string& script, bool whole_reads) {
    fuzz::ScriptedServer server;
    server.script = script;
    server.whole_reads = whole_reads;
    LineEngine engine(std::make_unique<fuzz::ScriptedTransport>(server));
    std::string log;
    auto line_ok = [](std::string_view line) {
        FUZZ_CHECK(line.find('\n') == std::string_view::npos && line.size() <= kMaxLineLength);
    };
    for (int step = 0; engine.connected(); ++step) {
        Reply reply;
        IoResult r;
        switch (step % 4) {
            case 0: r = engine.read_reply(reply); break;
            case 1: r = engine.read_status(reply); break;
            case 2:
                r = engine.read_block([&](std::string_view line) {
                    line_ok(line);
                    log.append("B").append(line).push_back('\n');
                });
                break;
            default: {
                std::string line;
                r = engine.read_line(line);
                if (r.ok()) line_ok(line);
                log.append("L").append(line).push_back('\n');
            }
        }
        if (step % 4 < 2) {
            FUZZ_CHECK(reply.code >= 0 && reply.code <= 999);
            if (r.ok()) FUZZ_CHECK(!reply.lines.empty() && reply.code >= 0);
            for (const std::string& l : reply.lines) line_ok(l);
            log.append("R").append(std::to_string(reply.code)).append(reply.text).push_back('\n');
        }
        log.append("=").append(std::to_string(static_cast<int>(r.status))).push_back('\n');
        if (!r.ok() && r.status != IoStatus::bad_reply) FUZZ_CHECK(!engine.connected());
    }
    return log;
}

// The lines of a text as send_block cuts them: CR LF, CR or LF ends a line;
// a last line without an end counts too.
std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(text[i]);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void round_trip(std::string_view text) {
    fuzz::ScriptedServer out;
    LineEngine sender(std::make_unique<fuzz::ScriptedTransport>(out));
    FUZZ_CHECK(sender.send_block(text).ok());
    fuzz::ScriptedServer back;
    back.script = out.sent;
    LineEngine reader(std::make_unique<fuzz::ScriptedTransport>(back));
    std::vector<std::string> got;
    const IoResult r = reader.read_block([&](std::string_view line) { got.emplace_back(line); });
    const std::vector<std::string> want = lines_of(text);
    bool overlong = false;
    for (const std::string& l : want) overlong = overlong || l.size() + (l.starts_with('.') ? 1 : 0) > kMaxLineLength;
    if (overlong) {
        FUZZ_CHECK(r.status == IoStatus::too_long);
        return;
    }
    FUZZ_CHECK(r.ok());
    FUZZ_CHECK(got == want);
    FUZZ_CHECK(back.at == back.script.size());  // the terminating line is the last thing sent
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script = fuzz::expand_script(fuzz::text_of(data, size));
    FUZZ_CHECK(conversation(script, true) == conversation(script, false));
    round_trip(script);
    return 0;
}
