// The page host: a small HTTP server on a loopback address that runs .asp
// pages below a web root, as IIS runs them: side by side on a pool of
// apartment threads, each page in a fresh script engine of its thread,
// with keep-alive connections, a bounded queue, and Server.ScriptTimeout
// enforced. Static files are not its job: nginx serves everything that is
// not a page.
//   PageHost.exe --root C:\site --port 12680 [--bind 127.0.0.1] [--threads 8]
//                [--queue 64] [--script-timeout 90]
// Every request is logged when a thread takes it ("[w3] GET /a.asp ...")
// and when it is answered ("[w3] GET /a.asp -> 200 OK, 12 ms"), so the log
// of a host that died names what it was serving.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame/ascii.h"
#include "frame/module.h"
#include "frame/text.h"
#include "host.h"
#include "host/page_objects.h"
#include "host/page_runner.h"
#include "host/run_policy.h"
#include "host/script_watch.h"
#include "host/server.h"

namespace frame {
// The host has no classes of its own to hand out; the frame only needs its
// type library, which is embedded in the program.
const ModuleInfo& module_info() {
    static const ModuleInfo info{&LIBID_PageHostLib, {}};
    return info;
}
}  // namespace frame

namespace {

using host::HttpRequest;
using host::PageState;

struct Options {
    std::string root;  // UTF-8
    std::string bind = "127.0.0.1";
    int port = 0;
    long script_timeout = 90;  // seconds, the default of Server.ScriptTimeout
    host::PoolSettings pool;
};

std::string wide_utf8(const wchar_t* text) { return frame::to_utf8(text); }

bool parse_options(Options& options) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv) return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = wide_utf8(argv[i]), value = wide_utf8(argv[i + 1]);
        if (name == "--root") options.root = value;
        else if (name == "--bind") options.bind = value;
        else if (name == "--port") options.port = std::atoi(value.c_str());
        else if (name == "--threads") options.pool.threads = std::atoi(value.c_str());
        else if (name == "--queue") options.pool.queue = static_cast<size_t>(std::atol(value.c_str()));
        else if (name == "--script-timeout") options.script_timeout = std::atol(value.c_str());
        else return false;
    }
    ::LocalFree(argv);
    while (options.root.size() > 3 && (options.root.back() == '\\' || options.root.back() == '/'))
        options.root.pop_back();
    return !options.root.empty() && options.port > 0 && options.port < 65536 && options.pool.threads >= 1 &&
           options.pool.threads <= 256 && options.pool.queue >= 1 && options.pool.queue <= 4096 &&
           options.script_timeout >= 1;
}

std::string physical(const std::string& root, const std::string& virtual_path) {
    std::string out = root + virtual_path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::optional<std::string> read_file(const std::string& path) {
    const std::wstring wide = frame::utf8_to_wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    FILE* f = ::_wfopen(wide.c_str(), L"rb");
    if (!f) return std::nullopt;
    std::string data;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    std::fclose(f);
    return data;
}

// Compiled pages kept for the next request, as IIS keeps them, while none
// of the files they were made from (the page and its includes) changed: a
// file's time and size are looked at, not its bytes read again.
struct FileStamp {
    std::wstring path;
    FILETIME written{};
    DWORD size_low = 0, size_high = 0;
    bool operator==(const FileStamp& o) const {
        return written.dwLowDateTime == o.written.dwLowDateTime &&
               written.dwHighDateTime == o.written.dwHighDateTime && size_low == o.size_low &&
               size_high == o.size_high;
    }
};

std::optional<FileStamp> stamp_of(std::wstring path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return FileStamp{std::move(path), data.ftLastWriteTime, data.nFileSizeLow, data.nFileSizeHigh};
}

struct KeptPage {
    std::shared_ptr<const host::CompiledPage> page;
    std::vector<FileStamp> files;
};

std::mutex g_kept_lock;
std::map<std::string, KeptPage> g_kept;

std::shared_ptr<const host::CompiledPage> cached_page(const std::string& page) {
    KeptPage kept;
    {
        const std::lock_guard<std::mutex> hold(g_kept_lock);
        auto found = g_kept.find(page);
        if (found == g_kept.end()) return nullptr;
        kept = found->second;
    }
    for (const FileStamp& f : kept.files) {
        const auto now = stamp_of(f.path);
        if (!now || !(*now == f)) return nullptr;
    }
    return kept.page;
}

void keep_page(const std::string& page, KeptPage kept) {
    const std::lock_guard<std::mutex> hold(g_kept_lock);
    g_kept[page] = std::move(kept);
}

void plain_answer(PageState& state, const char* status, const std::string& text) {
    state.status = status;
    state.content_type = "text/plain";
    state.headers.clear();
    state.body = text + "\n";
}

// Runs the page a request names, or says why not.
void answer(PageState& state, const Options& options) {
    std::string path = state.request.path;
    if (!path.empty() && path.back() == '/') path += "default.asp";
    const std::string page = host::resolve_virtual("/", path);
    if (page.empty() || page.back() == '/')
        return plain_answer(state, "400 Bad Request", "That path is not a page below the web root.");
    if (!host::may_run_page(page))
        return plain_answer(state, "403 Forbidden", "That is a stored file (an upload or a news attachment); "
                                                    "stored files are never run as pages.");
    if (!frame::ascii::ends_with_nocase(page, ".asp"))
        return plain_answer(state, "404 Not Found", "The page host runs .asp pages only; nginx serves the files.");
    state.page = page;
    state.compiled = cached_page(page);
    if (!state.compiled) {
        // Each file is stamped before it is read: one that changes after
        // its stamp is read again on the next request.
        std::vector<FileStamp> stamps;
        bool all_stamped = true;
        auto compiled = host::compile_page(page, [&](const std::string& v) {
            const std::string path = physical(options.root, v);
            auto stamp = stamp_of(frame::utf8_to_wide(path));
            if (stamp) stamps.push_back(std::move(*stamp));
            else all_stamped = false;
            return read_file(path);
        });
        if (auto* error = std::get_if<host::PageError>(&compiled)) {
            if (error->place.line == 0 && error->place.file == page)
                return plain_answer(state, "404 Not Found", "No such page: " + page);
            state.compiled = std::make_shared<host::CompiledPage>();
            return host::error_page(state, "Active Server Pages error", "ASP 0126", error->message, error->place);
        }
        state.compiled = std::make_shared<host::CompiledPage>(std::move(std::get<host::CompiledPage>(compiled)));
        if (all_stamped) keep_page(page, {state.compiled, std::move(stamps)});
    }
    host::run_page(std::shared_ptr<PageState>(&state, [](PageState*) {}));
}

bool send_all(SOCKET s, std::string_view data) {
    while (!data.empty()) {
        const int chunk = data.size() > (1 << 20) ? (1 << 20) : static_cast<int>(data.size());
        const int n = ::send(s, data.data(), chunk, 0);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool send_response(SOCKET s, const PageState& state, bool head_only, bool keep_alive) {
    std::string head = "HTTP/1.1 " + state.status + "\r\nContent-Type: " + state.content_type_header() +
                       "\r\nContent-Length: " + std::to_string(state.body.size()) +
                       (keep_alive ? "\r\nConnection: keep-alive\r\n" : "\r\nConnection: close\r\n");
    for (const auto& [name, value] : state.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    if (head_only) return send_all(s, head);
    // One send for a small page: a second segment would wait for the
    // client's delayed acknowledgement.
    if (state.body.size() <= 64 * 1024) return send_all(s, head + state.body);
    return send_all(s, head) && send_all(s, state.body);
}

// Reads one request from a connection; false (with the answer in state)
// when it is not one the host can serve.
bool read_request(host::Connection& c, PageState& state) {
    const SOCKET s = c.socket.get();
    std::string data = std::move(c.pending);
    c.pending.clear();
    char buffer[65536];
    size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > host::kMaxHeadBytes) {
            plain_answer(state, "431 Request Header Fields Too Large", "The request head is too large.");
            return false;
        }
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        data.append(buffer, static_cast<size_t>(n));
    }
    if (auto reason = host::parse_head(std::string_view(data).substr(0, head_end + 2), state.request)) {
        plain_answer(state, "400 Bad Request", "Bad request: " + *reason);
        return false;
    }
    const auto length = host::announced_length(state.request);
    if (!length) {
        plain_answer(state, "411 Length Required", "Send the body with a Content-Length.");
        return false;
    }
    if (*length > host::kMaxBodyBytes) {
        plain_answer(state, "413 Payload Too Large", "The request body is larger than the host accepts.");
        return false;
    }
    // A client that asks first (curl does for larger bodies) is told to go on.
    if (auto expect = state.request.header("Expect"); expect && frame::ascii::equals_nocase(*expect, "100-continue"))
        send_all(s, "HTTP/1.1 100 Continue\r\n\r\n");
    std::string& body = state.request.body;
    body.reserve(*length);
    body.assign(data, head_end + 4, std::string::npos);
    while (body.size() < *length) {
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        body.append(buffer, static_cast<size_t>(n));
    }
    if (body.size() > *length) {
        c.pending.assign(body, *length, std::string::npos);
        body.resize(*length);
    }
    return true;
}

std::string elapsed_text(ULONGLONG since) { return std::to_string(::GetTickCount64() - since) + " ms"; }

// One request of a connection, on pool thread `thread`; true when the
// connection stays open for the next.
bool serve(host::Connection& c, int thread, const Options& options) {
    PageState state;
    state.web_root = options.root;
    state.server_port = std::to_string(options.port);
    state.remote_addr = c.peer;
    state.pool_thread = thread;
    state.script_timeout = options.script_timeout;
    const std::string who = "[w" + std::to_string(thread) + "] ";
    const ULONGLONG started = ::GetTickCount64();
    bool ok = false;
    try {
        ok = read_request(c, state);
        if (ok) {
            host::log_line(who + state.request.method + " " + state.request.target + " ...");
            answer(state, options);
        }
    } catch (const std::exception& e) {
        plain_answer(state, "500 Internal Server Error", std::string("The page host failed: ") + e.what());
        ok = !state.request.method.empty();
    }
    // A request the host could not read whole ends the connection.
    const bool keep = ok && host::wants_keep_alive(state.request);
    bool sent = false;
    if (ok || !state.body.empty())
        sent = send_response(c.socket.get(), state, state.request.method == "HEAD", keep);
    if (!state.request.method.empty())
        host::log_line(who + state.request.method + " " + state.request.target + " -> " + state.status + ", " +
                       elapsed_text(started));
    if (keep && sent) return true;
    ::shutdown(c.socket.get(), SD_SEND);
    return false;
}

}  // namespace

int main() {
    Options options;
    if (!parse_options(options)) {
        std::fprintf(stderr,
                     "usage: PageHost.exe --root WEBROOT --port PORT [--bind 127.0.0.1] [--threads 8] [--queue 64]"
                     " [--script-timeout 90]\n");
        return 2;
    }
    frame::module_start(::GetModuleHandleW(nullptr));
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options.port));
    if (::inet_pton(AF_INET, options.bind.c_str(), &address.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        std::fprintf(stderr, "cannot listen on %s:%d (%d)\n", options.bind.c_str(), options.port, ::WSAGetLastError());
        return 1;
    }
    host::start_script_watch(options.pool.threads);
    host::log_line("page host on http://" + options.bind + ":" + std::to_string(options.port) + "/ serving " +
                   options.root + " with " + std::to_string(options.pool.threads) + " threads");
    host::run_pool(listener, options.pool, [&](host::Connection& c, int thread) { return serve(c, thread, options); });
}
