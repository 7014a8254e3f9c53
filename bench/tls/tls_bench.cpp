// News and mail over TLS with our clients, timed the way bench/tls_python.py
// times Python's nntplib.NNTP_SSL and smtplib with starttls():
//   tls_bench news HOST PORT USER PASSWORD ROUNDS   a listing of the newest
//       100 entries of test.big, then the one article of test.huge, per round
//   tls_bench mail HOST PORT USER PASSWORD COUNT    COUNT mails over one
//       STARTTLS session (USER "-": without AUTH)
//   tls_bench noop HOST PORT USER PASSWORD COUNT    COUNT NOOP round trips
//       over one STARTTLS session, straight on the line engine: the floor
//       that four round trips a mail stand on, on this system
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quillnet/engine/line_engine.h"
#include "quillnet/engine/news_client.h"
#include "quillnet/engine/smtp_client.h"

using namespace quillnet::engine;

namespace {

struct Counting : NewsEvents {
    size_t entries = 0;
    int64_t bytes = 0;
    int64_t checksum = 0;
    std::string error;
    void Error(int code, std::string_view text) override { error = std::to_string(code) + " " + std::string(text); }
    void GroupOverview(const OverviewLine& line) override {
        ++entries;
        checksum += static_cast<int64_t>(line.subject.size() + line.from.size() + line.date.size()) + line.size;
    }
    void Transfer(int64_t, std::string_view line, bool) override { bytes += static_cast<int64_t>(line.size()) + 2; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int news(const std::string& server, int rounds) {
    std::vector<double> listing, article;
    Counting events;
    for (int i = 0; i < rounds; ++i) {
        NewsClient client(events);
        auto start = std::chrono::steady_clock::now();
        client.SetNewsServer(server);
        if (client.SetAction(kNewsConnect) || client.SelectGroup("test.big")) {
            std::printf("failed: %s\n", events.error.c_str());
            return 1;
        }
        const int32_t last = client.GroupLastArticle();
        const std::string range = std::to_string(last - 99) + "-" + std::to_string(last);
        client.SetOverviewRange(range);
        events.entries = 0;
        if (client.SetAction(kNewsOverview)) return 1;
        listing.push_back(ms_since(start));
        start = std::chrono::steady_clock::now();
        events.bytes = 0;
        if (client.SelectGroup("test.huge") || client.SetCurrentArticle("1") || client.SetAction(kNewsBody)) {
            std::printf("failed: %s\n", events.error.c_str());
            return 1;
        }
        article.push_back(ms_since(start));
        client.SetAction(kNewsDisconnect);
    }
    std::printf("ours listing rounds=%d entries=%zu median_ms=%.2f\n", rounds, events.entries, median(listing));
    std::printf("ours article rounds=%d bytes=%lld median_ms=%.2f\n", rounds, static_cast<long long>(events.bytes),
                median(article));
    return 0;
}

int mail(const std::string& server, int count) {
    auto client = make_smtp_client();
    const auto start = std::chrono::steady_clock::now();
    if (client->SetMailServer(server) || client->SetAction(kMailConnect)) return 1;
    client->SetMailField1("Bench <bench@example.test>");
    client->SetMailField2("sink@example.test");
    client->SetMailField3("Benchmark message");
    client->SetMailField4("A short message body.\r\nSecond line.\r\n");
    for (int i = 0; i < count; ++i) {
        if (const int rc = client->SetAction(kMailSend)) {
            std::printf("failed at %d: %d\n", i, rc);
            return 1;
        }
    }
    client->SetAction(kMailDisconnect);
    std::printf("ours mails=%d total_ms=%.2f\n", count, ms_since(start));
    return 0;
}

// The session up to the first NOOP is not timed: only the round trips are.
int noop(const std::string& host, unsigned short port, int count) {
    std::unique_ptr<Transport> transport;
    if (!connect_tcp(host, port, Timeouts{}, transport).ok()) return 1;
    LineEngine line(std::move(transport));
    Reply reply;
    auto exchange = [&](std::string_view command) {
        return (command.empty() || line.send_line(command).ok()) && line.read_reply(reply).ok();
    };
    if (!exchange("") || !exchange("EHLO bench.example.test") || !exchange("STARTTLS") || reply.code != 220)
        return 1;
    if (!line.start_tls(host).ok() || !exchange("EHLO bench.example.test")) return 1;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!exchange("NOOP") || reply.code != 250) {
            std::printf("failed at %d\n", i);
            return 1;
        }
    }
    std::printf("ours noops=%d total_ms=%.2f\n", count, ms_since(start));
    exchange("QUIT");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::printf("usage: tls_bench news|mail|noop HOST PORT USER PASSWORD N\n");
        return 2;
    }
    const std::string mode = argv[1];
    // User "-": no credentials (a server without AUTH).
    const std::string user = argv[4];
    const std::string who = (user == "-" ? "" : user + ":" + argv[5] + "@") + argv[2] + ":" + argv[3];
    const int n = std::atoi(argv[6]);
    if (mode == "news") return news("nntps://" + who, n);
    if (mode == "mail") return mail("smtp+starttls://" + who, n);
    if (mode == "noop") return noop(argv[2], static_cast<unsigned short>(std::atoi(argv[3])), n);
    return 2;
}
