// The news client over a scripted server, through a whole session: connect
// (greeting, capabilities, MODE READER, login), group, overview, headers,
// body, group list, quit. Whatever the server says: every overview line has
// an article number from 1 and its fields hold no tab or line end; headers
// have a name without a colon and a value without leading blanks; body
// lines hold no line end and their byte count only grows; and everything
// reported comes out of what the server sent, so it never adds up to more.
#include <string>

#include "check.h"
#include "quillnet/engine/news_client.h"
#include "scripted_server.h"

using namespace quillnet::engine;

namespace {

bool one_line(std::string_view s) { return s.find('\n') == std::string_view::npos; }
bool one_field(std::string_view s) { return one_line(s) && s.find('\t') == std::string_view::npos; }

class Checks final : public NewsEvents {
  public:
    void Error(int code, std::string_view description) override { FUZZ_CHECK(code != 0); }
    void GroupList(std::string_view group, int32_t first, int32_t last, int32_t count) override {
        FUZZ_CHECK(!group.empty() && one_field(group) && first >= 0 && last >= 0 && count >= 0);
        reported += group.size();
    }
    void GroupOverview(const OverviewLine& line) override {
        FUZZ_CHECK(line.number >= 1 && line.size >= -1 && line.lines >= 0);
        for (std::string_view f : {line.subject, line.from, line.date, line.messageId, line.references}) {
            FUZZ_CHECK(one_field(f));
            reported += f.size();
        }
        FUZZ_CHECK(one_line(line.otherHeaders));
        reported += line.otherHeaders.size();
    }
    void Header(std::string_view name, std::string_view value) override {
        FUZZ_CHECK(!name.empty() && name.find(':') == std::string_view::npos && one_line(name) && one_line(value));
        FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.front() != '\t'));
        reported += name.size() + value.size();
    }
    void Transfer(int64_t bytes, std::string_view line, bool endOfLine) override {
        FUZZ_CHECK(one_line(line) && bytes > last_bytes_);
        last_bytes_ = bytes;
        reported += line.size();
    }
    size_t reported = 0;

  private:
    int64_t last_bytes_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ScriptedServer server;
    server.script = fuzz::expand_script(fuzz::text_of(data, size));
    fuzz::scripted_server() = &server;
    Checks checks;
    {
        NewsClient client(checks);
        FUZZ_CHECK(client.SetNewsServer("news.example.org") == 0);
        client.SetAction(kNewsConnect);
        client.SelectGroup("alt.test");
        client.SetOverviewRange("1-100");
        client.SetAction(kNewsOverview);
        client.SetCurrentArticle("1");
        client.SetAction(kNewsHeaders);
        client.SetCurrentArticle("<a@b>");
        client.SetAction(kNewsBody);
        client.SetAction(kNewsGroupList);
        client.SetAction(kNewsDisconnect);
        // The server may have closed and a new session started: once more.
        client.SetAction(kNewsConnect);
        client.SetAction(kNewsOverview);
    }
    fuzz::scripted_server() = nullptr;
    FUZZ_CHECK(checks.reported <= server.script.size());
    return 0;
}
