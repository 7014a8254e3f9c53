// Our news client (RFC 3977, RFC 4643, RFC 2980 XOVER): see news_client.h.
#include "quillnet/engine/news_client.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "quillnet/engine/news_pool.h"
#include "frame/ascii.h"
#include "frame/parse.h"

namespace quillnet::engine {
namespace {

using frame::ascii::is_digit;
using frame::ascii::trim;
using frame::ascii::starts_with_nocase;
using frame::ascii::hex_value;

// Servers may count past 2^31; the figures we report are 32-bit.
int32_t clamp32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < 0) return 0;
    return static_cast<int32_t>(v);
}

// A newsgroup name is one token of printable characters (RFC 3977 4.1).
bool valid_group_name(std::string_view s) {
    if (s.empty() || s.size() > 497) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7f;
    });
}

// "N", "N-" or "N-M" (RFC 3977 range syntax).
bool valid_range(std::string_view s) {
    const size_t dash = s.find('-');
    const std::string_view low = s.substr(0, dash);
    int64_t n = 0;
    if (!frame::parse_decimal(low, n) || low.size() > 10) return false;
    if (dash == std::string_view::npos) return true;
    const std::string_view high = s.substr(dash + 1);
    return high.empty() || (high.size() <= 10 && frame::parse_decimal(high, n));
}

// What HEAD and BODY may name: an article number (RFC 3977 6.2: 1 or more)
// or a message-id, "<" and ">" around printable characters (RFC 3977 3.6).
bool valid_article(std::string_view s) {
    int64_t n = 0;
    if (frame::parse_decimal(s, n)) return n >= 1;
    if (s.size() < 3 || s.size() > 250 || s.front() != '<' || s.back() != '>') return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f;
    });
}

void split_words(std::string_view s, std::string_view* words, size_t max, size_t& count) {
    count = 0;
    size_t i = 0;
    while (i < s.size() && count < max) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i >= s.size()) break;
        const size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
        words[count++] = s.substr(start, i - start);
    }
}

const char* describe(const IoResult& io) {
    switch (io.status) {
        case IoStatus::timeout: return "Timed out waiting for the news server";
        case IoStatus::closed: return "The news server closed the connection";
        case IoStatus::too_long: return "The news server sent a line longer than 1 MB";
        case IoStatus::bad_reply: return "The news server sent an answer that is not NNTP";
        default: return "Network error talking to the news server";
    }
}

constexpr ServerScheme kNewsSchemes[] = {
    {"nntp", 119, false},
    {"news", 119, false},
    {"nntps", 563, true},
    {"snews", 563, true},
    {"nntp+starttls", 119, false, StartTls::required},
    {"nntp+plain", 119, false, StartTls::never},
};
constexpr TlsErrorNumbers kNewsTlsErrors{kNewsTlsFailed, kNewsCertExpired, kNewsCertUntrusted, kNewsCertWrongHost,
                                         kNewsCertRefused};
constexpr ServerSyntax kNewsSyntax{kNewsSchemes, 119};
// NNTP status lines are single lines (RFC 3977 3.2).
constexpr ConversationRules kNewsRules{
    false, WSAECONNREFUSED, WSAECONNRESET, kNewsTlsErrors,
    kNewsTlsNotOffered, "The news server does not offer STARTTLS, which nntp+starttls:// requires",
    kNewsCredentialsInClear,
    "The news server offers no TLS, so the password would travel in clear; nntp+plain:// allows that",
    describe};

}  // namespace

int ParseNewsServer(std::string_view text, ServerAddress& out) {
    ServerAddress parsed;
    if (!parse_server_address(text, kNewsSyntax, parsed)) return kNewsBadServer;
    out = std::move(parsed);
    return 0;
}

// Indexed by Step; the order must follow the enumeration.
const NewsClient::Handler NewsClient::kHandlers[] = {
    &NewsClient::on_greeting,     &NewsClient::on_capabilities, &NewsClient::on_start_tls,
    &NewsClient::on_mode_reader,  &NewsClient::on_auth_user,    &NewsClient::on_auth_pass,
    &NewsClient::on_group,        &NewsClient::on_list_active,  &NewsClient::on_list_plain,
    &NewsClient::on_over,         &NewsClient::on_xover,        &NewsClient::on_head,
    &NewsClient::on_body,         &NewsClient::on_post,         &NewsClient::on_post_article,
};

NewsClient::NewsClient(NewsEvents& events)
    : events_(events), conv_(kNewsRules, [this](int code, std::string_view text) { events_.Error(code, text); }) {}

NewsClient::~NewsClient() { drop_connection(); }

int NewsClient::report(int code, std::string_view text) {
    events_.Error(code, text);
    return code;
}

void NewsClient::SetConnectionReuse(int seconds) { reuseSeconds_ = seconds > 0 ? seconds : 0; }

bool NewsClient::resume_idle_connection() {
    if (reuseSeconds_ == 0) return false;
    NewsConnectionPool& pool = news_connection_pool();
    while (auto idle = pool.take(serverText_)) {
        conv_.attach(std::move(idle->transport), idle->facts.tlsActive);
        overKnown_ = idle->facts.overKnown;
        useXover_ = idle->facts.useXover;
        modeReaderNeeded_ = idle->facts.modeReaderNeeded;
        authenticated_ = idle->facts.authenticated;
        // The server may have timed the connection out meanwhile: it must
        // still answer before a page's command is trusted to it (RFC 3977
        // DATE, harmless in any state).
        Reply reply;
        if (conv_.line().send_line("DATE").ok() && conv_.line().read_status(reply).ok() && reply.code == 111) return true;
        drop_connection();
    }
    return false;
}

bool NewsClient::park_connection() {
    if (reuseSeconds_ == 0 || !conv_.connected()) return false;
    IdleNewsConnection idle;
    idle.facts = NewsConnectionFacts{overKnown_, useXover_, modeReaderNeeded_, authenticated_, conv_.tls_active()};
    idle.transport = conv_.release_idle();
    if (!idle.transport) return false;
    authenticated_ = false;
    if (news_connection_pool().park(serverText_, std::move(idle), std::chrono::seconds(reuseSeconds_)))
        start_news_pool_watcher();
    return true;
}

void NewsClient::drop_connection() noexcept {
    conv_.close();
    authenticated_ = false;
}

int NewsClient::SetNewsServer(std::string_view server) {
    ServerAddress parsed;
    const int rc = ParseNewsServer(server, parsed);
    if (rc != 0) {
        serverSet_ = false;
        return report(rc, "The news server text is empty or not understood");
    }
    server_ = std::move(parsed);
    serverSet_ = true;
    serverText_.assign(server);
    return 0;
}

int NewsClient::SelectGroup(std::string_view group) {
    if (!valid_group_name(group)) return report(kNewsBadArgument, "The group name cannot be sent to a news server");
    if (!conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
    pendingGroup_.assign(group);
    return run(Step::group);
}

int NewsClient::SetCurrentArticle(std::string_view number) {
    currentArticle_.clear();
    if (!valid_article(number))
        return report(kNewsBadArgument, "Not an article number: " + std::string(number.substr(0, 40)));
    currentArticle_.assign(number);
    return 0;
}

int NewsClient::SetOverviewRange(std::string_view range) {
    range_.assign(range);
    return 0;
}

int NewsClient::SetNetworkEnabled(int enabled) {
    networkEnabled_ = enabled != 0;
    if (!networkEnabled_) drop_connection();
    return 0;
}

int NewsClient::SetAction(int action) {
    switch (action) {
        case kNewsConnect: {
            if (!serverSet_) return report(kNewsBadServer, "No news server has been set");
            if (!networkEnabled_) return report(kNewsNetworkDisabled, "The network is switched off");
            if (conv_.connected()) conv_.line().send_line("QUIT");  // leaving the old server; its answer does not matter
            drop_connection();
            overKnown_ = useXover_ = modeReaderNeeded_ = false;
            group_.clear();
            first_ = last_ = count_ = 0;
            if (resume_idle_connection()) return 0;
            if (const int rc = conv_.open(server_, timeouts_)) return rc;
            // A login that was refused leaves nothing usable behind.
            const int rc = run(Step::greeting);
            if (rc != 0) drop_connection();
            return rc;
        }
        case kNewsDisconnect:
            if (!conv_.connected()) return 0;
            if (park_connection()) return 0;
            conv_.quit_and_close();
            drop_connection();
            return 0;
        case kNewsGroupList:
            if (!conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
            return run(Step::listActive);
        case kNewsOverview: {
            if (!conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
            if (range_ != "-" && !valid_range(range_))
                return report(kNewsBadArgument, "The overview range is not a range of article numbers");
            return run(useXover_ ? Step::xover : Step::over);
        }
        case kNewsHeaders:
        case kNewsBody:
            if (!conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
            if (currentArticle_.empty()) return report(kNewsBadArgument, "No article has been chosen");
            return run(action == kNewsHeaders ? Step::head : Step::body);
        case kNewsPost:
            if (!conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
            if (postArticle_.empty()) return report(kNewsNoArticle, "No article has been given to post");
            return run(Step::post);
        default:
            return report(kNewsUnknownAction, "Unknown news client action " + std::to_string(action));
    }
}

std::string NewsClient::command_for(Step step) const {
    switch (step) {
        case Step::capabilities: return "CAPABILITIES";
        case Step::modeReader: return "MODE READER";
        case Step::authUser: return "AUTHINFO USER " + server_.user;
        case Step::authPass: return "AUTHINFO PASS " + server_.password;
        case Step::group: return "GROUP " + pendingGroup_;
        case Step::listActive: return "LIST ACTIVE";
        case Step::listPlain: return "LIST";
        case Step::over:
        case Step::xover: {
            // "-" is the whole group: from its first article on (RFC 3977
            // "N-"); an OVER without a range would mean the current article.
            std::string range = range_;
            if (range == "-") range = std::to_string(first_ > 0 ? first_ : 1) + "-";
            return (step == Step::over ? "OVER " : "XOVER ") + range;
        }
        case Step::head: return "HEAD " + currentArticle_;
        case Step::body: return "BODY " + currentArticle_;
        case Step::post: return "POST";
        default: return std::string();
    }
}

int NewsClient::run(Step step) {
    static_assert(sizeof(kHandlers) / sizeof(kHandlers[0]) == static_cast<size_t>(Step::done));
    authRetried_ = false;
    resume_ = Step::done;
    // Every handler that drops the connection ends the run, so only the
    // first step can find none.
    if (step != Step::greeting && !conv_.connected()) return report(kNewsNotConnected, "Not connected to a news server");
    try {
        return conv_.drive(*this, step);
    } catch (...) {
        // A sink that threw left a block half read: the stream cannot be
        // trusted any more.
        drop_connection();
        throw;
    }
}

void NewsClient::ask(Step step) {
    switch (step) {
        case Step::greeting: return;
        case Step::startTls: return;  // said by the conversation layer
        case Step::postArticle: conv_.say_block(postArticle_); return;
        default: conv_.say(command_for(step));
    }
}

NewsClient::Next NewsClient::finish(int result) { return Next::finish(result); }

// A refusal passes the server's error code on. A reply with any other code
// where none of those fit is not understood; passed on, "000" would even
// read as success.
NewsClient::Next NewsClient::refuse(const Reply& r) {
    return finish(report(r.code >= 400 ? r.code : kNewsBadReply, r.text));
}

NewsClient::Next NewsClient::io_failed(const IoResult& io, std::string_view line) {
    drop_connection();
    if (io.status == IoStatus::bad_reply)
        return finish(report(kNewsBadReply, std::string(describe(io)) + ": " + std::string(line)));
    return finish(report(io.error ? io.error : WSAECONNRESET, describe(io)));
}

NewsClient::Next NewsClient::on_greeting(const Reply& r) {
    if (r.code == 200 || r.code == 201) return Step::capabilities;
    return refused(r);
}

// A refusal after which the connection is of no use.
NewsClient::Next NewsClient::refused(const Reply& r) {
    drop_connection();
    return refuse(r);
}

NewsClient::Next NewsClient::on_capabilities(const Reply& r) {
    if (r.code != 101) {
        // A server from before CAPABILITIES: readers there said MODE READER.
        modeReaderNeeded_ = true;
        return conv_.tls_policy(*this, server_, Step::startTls);
    }
    bool reader = false;
    bool modeReader = false;
    const IoResult io = conv_.line().read_block([&](std::string_view line) {
        std::string_view words[1];
        size_t n = 0;
        split_words(line, words, 1, n);
        if (n == 0) return;
        const std::string_view w = words[0];
        if (w == "OVER") overKnown_ = true;
        if (w == "READER") reader = true;
        if (w == "MODE-READER") modeReader = true;
        if (w == "STARTTLS") conv_.offer_starttls();
    });
    if (!io.ok()) return io_failed(io);
    modeReaderNeeded_ = modeReader && !reader;
    return conv_.tls_policy(*this, server_, Step::startTls);
}

NewsClient::Next NewsClient::on_start_tls(const Reply& r) {
    return conv_.answer_starttls(*this, server_, r, r.code == 382);
}

NewsClient::Next NewsClient::on_mode_reader(const Reply& r) {
    if (r.code == 200 || r.code == 201) return after_login();
    if (r.code == 502) return refused(r);
    return after_login();  // a server that does not know the command reads anyway
}

NewsClient::Next NewsClient::after_login() {
    if (server_.has_credentials && !authenticated_) {
        if (const int rc = conv_.credentials_policy(server_)) return finish(rc);
        return Step::authUser;
    }
    return finish(0);
}

NewsClient::Next NewsClient::need_auth(const Reply& r, Step retry) {
    if (!server_.has_credentials || authRetried_) return refuse(r);
    if (const int rc = conv_.credentials_policy(server_)) return finish(rc);
    authRetried_ = true;
    authenticated_ = false;
    resume_ = retry;
    return Step::authUser;
}

NewsClient::Next NewsClient::on_auth_user(const Reply& r) {
    if (r.code == 381) return Step::authPass;
    if (r.code == 281) return on_auth_pass(r);
    return refuse(r);
}

NewsClient::Next NewsClient::on_auth_pass(const Reply& r) {
    if (r.code != 281) return refuse(r);
    authenticated_ = true;
    if (resume_ != Step::done) return std::exchange(resume_, Step::done);
    return finish(0);
}

NewsClient::Next NewsClient::on_group(const Reply& r) {
    if (r.code == 480) return need_auth(r, Step::group);
    if (r.code != 211) {
        group_.clear();
        first_ = last_ = count_ = 0;
        return refuse(r);
    }
    // "211 count first last name"
    std::string_view words[4];
    size_t n = 0;
    split_words(r.text, words, 4, n);
    int64_t count = 0, first = 0, last = 0;
    if (n < 3 || !frame::parse_decimal(words[0], count) || !frame::parse_decimal(words[1], first) || !frame::parse_decimal(words[2], last)) {
        group_.clear();
        first_ = last_ = count_ = 0;
        return finish(report(kNewsBadReply, "The news server's GROUP answer is not understood: " + r.text));
    }
    group_ = pendingGroup_;
    count_ = clamp32(count);
    first_ = clamp32(first);
    last_ = clamp32(last);
    return finish(0);
}

NewsClient::Next NewsClient::read_group_list() {
    const IoResult io = conv_.line().read_block([&](std::string_view line) {
        // "name high low status" (RFC 3977 7.6.3)
        std::string_view words[3];
        size_t n = 0;
        split_words(line, words, 3, n);
        if (n == 0) return;
        int64_t high = 0, low = 0;
        const bool marks = n >= 3 && frame::parse_decimal(words[1], high) && frame::parse_decimal(words[2], low);
        const int32_t first = marks ? clamp32(low) : 0;
        const int32_t last = marks ? clamp32(high) : 0;
        const int32_t count = marks && high >= low ? clamp32(high - low + 1) : 0;
        events_.GroupList(words[0], first, last, count);
    });
    if (!io.ok()) return io_failed(io);
    return finish(0);
}

NewsClient::Next NewsClient::on_list_active(const Reply& r) {
    if (r.code == 215) return read_group_list();
    if (r.code == 480) return need_auth(r, Step::listActive);
    if (r.code == 500 || r.code == 501) return Step::listPlain;  // RFC 977 servers know only LIST
    return refuse(r);
}

NewsClient::Next NewsClient::on_list_plain(const Reply& r) {
    if (r.code == 215) return read_group_list();
    if (r.code == 480) return need_auth(r, Step::listPlain);
    return refuse(r);
}

NewsClient::Next NewsClient::read_overview() {
    const IoResult io = conv_.line().read_block([&](std::string_view text) {
        std::string_view field[9];
        size_t n = 0;
        size_t pos = 0;
        while (n < 8) {
            const size_t tab = text.find('\t', pos);
            if (tab == std::string_view::npos) {
                field[n++] = text.substr(pos);
                pos = text.size() + 1;
                break;
            }
            field[n++] = text.substr(pos, tab - pos);
            pos = tab + 1;
        }
        if (n == 8 && pos <= text.size()) field[8] = text.substr(pos);
        int64_t number = 0;
        if (!frame::parse_decimal(field[0], number) || number < 1) return;  // not an overview line
        OverviewLine line;
        line.number = clamp32(number);
        line.subject = field[1];
        line.from = field[2];
        line.date = field[3];
        line.messageId = field[4];
        line.references = field[5];
        int64_t v = 0;
        line.size = frame::parse_decimal(trim(field[6]), v) ? clamp32(v) : -1;
        line.lines = frame::parse_decimal(trim(field[7]), v) ? clamp32(v) : 0;
        line.otherHeaders = field[8];
        events_.GroupOverview(line);
    });
    if (!io.ok()) return io_failed(io);
    return finish(0);
}

NewsClient::Next NewsClient::on_over(const Reply& r) {
    if (r.code == 224) return read_overview();
    if (r.code == 423) return finish(0);  // no article in the range: an empty answer, not a failure
    if (r.code == 480) return need_auth(r, Step::over);
    if (r.code == 500 && !overKnown_) {
        useXover_ = true;  // a server from before OVER (RFC 2980)
        return Step::xover;
    }
    return refuse(r);
}

NewsClient::Next NewsClient::on_xover(const Reply& r) {
    if (r.code == 224) return read_overview();
    if (r.code == 420 || r.code == 423) return finish(0);  // RFC 2980 says 420 for an empty range
    if (r.code == 480) return need_auth(r, Step::xover);
    return refuse(r);
}

// Header lines up to the blank line (RFC 5322 2.2): a line that starts with
// a blank or tab continues the one before it (2.2.3, unfolding removes only
// the line break), so each header is reported once it is known to be whole.
NewsClient::Next NewsClient::read_headers() {
    std::string pending;
    auto flush = [&] {
        const size_t colon = pending.find(':');
        if (colon != std::string::npos && colon > 0) {
            std::string_view value = std::string_view(pending).substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            events_.Header(std::string_view(pending).substr(0, colon), value);
        }
        pending.clear();
    };
    const IoResult io = conv_.line().read_block([&](std::string_view line) {
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !pending.empty()) {
            if (pending.size() + line.size() > kMaxLineLength) return;  // a runaway header stays bounded
            pending.append(line);
            return;
        }
        if (!pending.empty()) flush();
        pending.assign(line);
    });
    if (!io.ok()) return io_failed(io);
    if (!pending.empty()) flush();
    return finish(0);
}

NewsClient::Next NewsClient::read_body() {
    int64_t bytes = 0;
    const IoResult io = conv_.line().read_block([&](std::string_view line) {
        bytes += static_cast<int64_t>(line.size()) + 2;
        events_.Transfer(bytes, line, true);
    });
    if (!io.ok()) return io_failed(io);
    return finish(0);
}

// 221/222 bring the article; 423 (no such number in the group), 430 (no
// such message-id), 412 (no group selected) and 420 are the server's
// refusals, passed on with its text.
NewsClient::Next NewsClient::on_head(const Reply& r) {
    if (r.code == 221) return read_headers();
    if (r.code == 480) return need_auth(r, Step::head);
    return refuse(r);
}

NewsClient::Next NewsClient::on_body(const Reply& r) {
    if (r.code == 222) return read_body();
    if (r.code == 480) return need_auth(r, Step::body);
    return refuse(r);
}

int NewsClient::SetPostArticle(std::string_view article) {
    postArticle_.assign(article);
    return 0;
}

// 340 asks for the article; 440 (posting not allowed) and a 480 that no
// login can answer are passed on.
NewsClient::Next NewsClient::on_post(const Reply& r) {
    if (r.code == 340) return Step::postArticle;
    if (r.code == 480) return need_auth(r, Step::post);
    return refuse(r);
}

// 240 is the one success. 441 (posting failed) is passed on with the
// server's reason; a connection that drops before the answer is an error
// from the line layer, never a success.
NewsClient::Next NewsClient::on_post_article(const Reply& r) {
    if (r.code == 240) return finish(0);
    return refuse(r);
}

}  // namespace quillnet::engine
