// Our news client: a reader's conversation with an NNTP server.
//   RFC 3977  Network News Transfer Protocol (greeting, CAPABILITIES,
//             MODE READER, GROUP, LIST ACTIVE, OVER, HEAD, BODY, QUIT)
//   RFC 5322  header fields: folded lines are unfolded before they are
//             reported
//   RFC 4643  NNTP authentication (AUTHINFO USER / AUTHINFO PASS, and the
//             480 answer that asks for it)
//   RFC 2980  common NNTP extensions (XOVER, for servers that predate OVER)
//   RFC 4642  TLS with NNTP (STARTTLS, and CAPABILITIES asked again after it);
//             nntps:// speaks TLS from the first byte (port 563)
//   RFC 3977  POST (340, the article, 240; 440 and 441 passed on); the
//             article itself is built by news_article.h
// Credentials go out only over TLS, unless the server text opts out of it.
// Every operation is synchronous: the events an action causes reach the sink
// on the calling thread before the action returns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "quillnet/engine/conversation.h"
#include "quillnet/engine/limits.h"
#include "quillnet/engine/server_address.h"

namespace quillnet::engine {

// Error numbers of our own. Everything else reported is an NNTP reply code
// (400-599) or a Winsock error code (10000 and up).
enum NewsError : int {
    kNewsBadServer = 1001,       // empty or unparseable server text
    kNewsTlsFailed = 1002,       // the TLS handshake failed, or the server spoke no TLS
    kNewsNotConnected = 1003,    // an action that needs a connection without one
    kNewsBadArgument = 1004,     // a group name, range or article that cannot be sent
    kNewsUnknownAction = 1005,   // an action number this client does not perform
    kNewsBadReply = 1006,        // a reply that is not "ddd text"
    kNewsNetworkDisabled = 1007, // connect while the network is switched off
    kNewsCertExpired = 1008,     // the server's certificate is out of its dates
    kNewsCertUntrusted = 1009,   // self-signed, or not from a root the machine trusts
    kNewsCertWrongHost = 1010,   // the certificate is for other host names
    kNewsCertRefused = 1011,     // the certificate chain was refused for another reason
    kNewsTlsNotOffered = 1012,   // nntp+starttls://, and the server does not offer STARTTLS
    kNewsCredentialsInClear = 1013, // credentials, no TLS, and no nntp+plain:// to allow it
    // An article refused before anything is sent (news_article.h).
    kNewsHeaderLineBreak = 1014,  // CR, LF or another control byte in a header text
    kNewsBadNewsgroups = 1015,    // not a comma-separated list of group names
    kNewsEmptyFrom = 1016,
    kNewsEmptySubject = 1017,
    kNewsBodyLineTooLong = 1018,  // a body line over 998 bytes
    kNewsBadReferences = 1019,    // References that are not message-ids
    kNewsNoArticle = 1020,        // post without an article set
    kNewsHeaderTooLong = 1021,    // a header line over 998 bytes with no blank to fold at
    kNewsBodyZeroByte = 1022,     // a zero byte in the body
};

// The actions of SetAction.
enum NewsAction : int {
    kNewsConnect = 1,
    kNewsDisconnect = 2,
    kNewsGroupList = 3,
    kNewsOverview = 5,
    kNewsHeaders = 7,  // HEAD of the current article: Header events
    kNewsBody = 8,     // BODY of the current article: Transfer events
    kNewsPost = 9,     // POST of the article set by SetPostArticle
};

// One line of an overview answer, split into its fields (RFC 3977 8.3).
struct OverviewLine {
    int32_t number = 0;
    std::string_view subject;
    std::string_view from;
    std::string_view date;
    std::string_view messageId;
    std::string_view references;
    int32_t size = -1;  // -1 when the server gave no byte count
    int32_t lines = 0;
    std::string_view otherHeaders;  // the rest of the line (Xref and more)
};

// What the client reports while an action runs. Values are valid only for
// the call; a sink that keeps them copies them.
class NewsEvents {
  public:
    virtual ~NewsEvents() = default;
    // code: NNTP reply code, Winsock error code or a NewsError.
    virtual void Error(int code, std::string_view description) {}
    // One group of LIST ACTIVE; count is the estimate from its marks.
    virtual void GroupList(std::string_view group, int32_t first, int32_t last, int32_t count) {}
    virtual void GroupOverview(const OverviewLine& line) {}
    // One header of the current article (HEAD), unfolded; the name is what
    // stands before the first colon, the value what follows it without the
    // blanks that separate the two.
    virtual void Header(std::string_view name, std::string_view value) {}
    // One line of the current article's body (BODY), without its line end;
    // bytes counts what has arrived of the body so far.
    virtual void Transfer(int64_t bytes, std::string_view line, bool endOfLine) {}
};

// The operations the news session drives. NewsClient speaks them to a
// server; tests put a scripted engine in its place.
class NewsEngine {
  public:
    virtual ~NewsEngine() = default;
    virtual int SetNewsServer(std::string_view server) = 0;
    virtual int SelectGroup(std::string_view group) = 0;
    virtual int SetCurrentArticle(std::string_view number) = 0;
    virtual int SetOverviewRange(std::string_view range) = 0;
    virtual int32_t GroupFirstArticle() = 0;
    virtual int32_t GroupLastArticle() = 0;
    virtual int32_t GroupArticleCount() = 0;
    virtual int SetNetworkEnabled(int enabled) = 0;
    virtual int SetAction(int action) = 0;
    // Seconds a connection may wait in the process's pool (news_pool.h) for
    // the next session with the same server text, once this one is done
    // with it; 0 (the default) closes it with QUIT as before.
    virtual void SetConnectionReuse(int seconds) {}
    // The article action 9 posts: header, empty line and body, CRLF lines
    // not yet dot-stuffed. An engine that cannot post refuses it.
    virtual int SetPostArticle(std::string_view article) { return kNewsUnknownAction; }
};

// A server text of server_address.h with the news schemes: nntp:// and
// news:// (port 119, also for a text without a scheme: STARTTLS when the
// server offers it), nntp+starttls:// (STARTTLS or nothing), nntp+plain://
// (never TLS; credentials in clear), nntps:// and snews:// (port 563, TLS
// from the start). A path names a group, which SetGroup chooses, and is
// ignored here. 0 or kNewsBadServer; `out` is written only on 0.
int ParseNewsServer(std::string_view text, ServerAddress& out);

class NewsClient final : public NewsEngine {
  public:
    explicit NewsClient(NewsEvents& events);
    ~NewsClient() override;
    NewsClient(const NewsClient&) = delete;
    NewsClient& operator=(const NewsClient&) = delete;

    int SetNewsServer(std::string_view server) override;
    // Sends GROUP at once when connected.
    int SelectGroup(std::string_view group) override;
    // The article that actions 7 and 8 fetch: an article number (1 or more)
    // or a message-id "<...>". Anything else is refused, and then no article
    // is chosen, so a later fetch cannot bring the previous one back.
    int SetCurrentArticle(std::string_view number) override;
    // "-" is the whole selected group; otherwise "N", "N-" or "N-M".
    int SetOverviewRange(std::string_view range) override;
    int32_t GroupFirstArticle() override { return first_; }
    int32_t GroupLastArticle() override { return last_; }
    int32_t GroupArticleCount() override { return count_; }
    // 0 drops the connection at once and refuses to connect until 1.
    int SetNetworkEnabled(int enabled) override;
    int SetAction(int action) override;
    void SetConnectionReuse(int seconds) override;
    int SetPostArticle(std::string_view article) override;

    bool connected() const noexcept { return conv_.connected(); }
    // Tests shorten the limits to see a stalled server end in time.
    void set_timeouts(const Timeouts& timeouts) noexcept { timeouts_ = timeouts; }

  private:
    // The conversation is a state machine on the conversation layer: each
    // step sends one command (the greeting step sends none) and hands the
    // reply to that step's handler, which names the next step.
    enum class Step {
        greeting,
        capabilities,
        startTls,
        modeReader,
        authUser,
        authPass,
        group,
        listActive,
        listPlain,
        over,
        xover,
        head,
        body,
        post,
        postArticle,  // "sends" the article itself as a dot-terminated block
        done,
    };
    using State = Step;
    using Next = Turn<Step>;
    using Handler = Next (NewsClient::*)(const Reply&);
    static const Handler kHandlers[];
    friend class Conversation;

    int run(Step first);
    std::string command_for(Step step) const;
    // What the conversation layer calls (conversation.h).
    void ask(Step step);
    Next on_reply(Step step, const Reply& r) { return (this->*kHandlers[static_cast<int>(step)])(r); }
    Next on_send_failed(Step, const IoResult& io) { return io_failed(io); }
    Next on_read_failed(Step, const IoResult& io, const Reply& r) { return io_failed(io, r.text); }
    Next past_tls() { return modeReaderNeeded_ ? Step::modeReader : after_login(); }
    Next after_upgrade() {
        overKnown_ = modeReaderNeeded_ = false;
        return Step::capabilities;
    }
    Next refused(const Reply& r);
    // Handlers: read the rest of the answer when it is a block, fire events,
    // and return the next step, or the end of the run with its result.
    Next on_greeting(const Reply& r);
    Next on_capabilities(const Reply& r);
    Next on_start_tls(const Reply& r);
    Next on_mode_reader(const Reply& r);
    Next on_auth_user(const Reply& r);
    Next on_auth_pass(const Reply& r);
    Next on_group(const Reply& r);
    Next on_list_active(const Reply& r);
    Next on_list_plain(const Reply& r);
    Next on_over(const Reply& r);
    Next on_xover(const Reply& r);
    Next on_head(const Reply& r);
    Next on_body(const Reply& r);
    Next on_post(const Reply& r);
    Next on_post_article(const Reply& r);

    Next after_login();
    Next need_auth(const Reply& r, Step retry);
    Next finish(int result);
    Next refuse(const Reply& r);
    Next io_failed(const IoResult& io, std::string_view line = {});
    Next read_overview();
    Next read_group_list();
    Next read_headers();
    Next read_body();

    int report(int code, std::string_view text);
    void drop_connection() noexcept;
    // A pooled connection of the same server text, checked with DATE; true
    // when one now stands in for a new connection.
    bool resume_idle_connection();
    // Hands a connection that is between commands to the pool; false when
    // it cannot be kept (reuse off, unread bytes), and it is then still ours.
    bool park_connection();

    NewsEvents& events_;
    Conversation conv_;
    Timeouts timeouts_;
    bool networkEnabled_ = true;

    ServerAddress server_;
    bool serverSet_ = false;
    std::string serverText_;  // as given: the pool's key
    int reuseSeconds_ = 0;
    std::string group_;
    std::string currentArticle_;
    std::string range_;
    std::string postArticle_;
    int32_t first_ = 0;
    int32_t last_ = 0;
    int32_t count_ = 0;

    // Per connection.
    bool overKnown_ = false;  // the server listed OVER among its capabilities
    bool useXover_ = false;   // the server said it does not know OVER
    bool modeReaderNeeded_ = false;
    bool authenticated_ = false;

    // Per run.
    bool authRetried_ = false;
    Step resume_ = Step::done;
    std::string pendingGroup_;
};

}  // namespace quillnet::engine
