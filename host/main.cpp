// The page host: a small HTTP server on a loopback address that runs .asp
// pages below a web root, one request at a time, each in a fresh script
// engine on this one apartment thread, as IIS runs a page. Static files are
// not its job: nginx serves everything that is not a page.
//   PageHost.exe --root C:\site --port 12680 [--bind 127.0.0.1]
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "frame/ascii.h"
#include "frame/module.h"
#include "frame/text.h"
#include "host.h"
#include "host/page_objects.h"
#include "host/page_runner.h"
#include "host/run_policy.h"

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
};

std::string wide_utf8(const wchar_t* text) { return host::bstr_utf8(text, text ? ::lstrlenW(text) : 0); }

bool parse_options(Options& options) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv) return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = wide_utf8(argv[i]), value = wide_utf8(argv[i + 1]);
        if (name == "--root") options.root = value;
        else if (name == "--bind") options.bind = value;
        else if (name == "--port") options.port = std::atoi(value.c_str());
    }
    ::LocalFree(argv);
    while (options.root.size() > 3 && (options.root.back() == '\\' || options.root.back() == '/'))
        options.root.pop_back();
    return !options.root.empty() && options.port > 0 && options.port < 65536;
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
    auto compiled = host::compile_page(
        page, [&](const std::string& v) { return read_file(physical(options.root, v)); });
    if (auto* error = std::get_if<host::PageError>(&compiled)) {
        if (error->place.line == 0 && error->place.file == page)
            return plain_answer(state, "404 Not Found", "No such page: " + page);
        state.compiled = std::make_shared<host::CompiledPage>();
        return host::error_page(state, "Active Server Pages error", "ASP 0126", error->message, error->place);
    }
    state.compiled = std::make_shared<host::CompiledPage>(std::move(std::get<host::CompiledPage>(compiled)));
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

void send_response(SOCKET s, const PageState& state, bool head_only) {
    std::string head = "HTTP/1.1 " + state.status + "\r\nContent-Type: " + state.content_type_header() +
                       "\r\nContent-Length: " + std::to_string(state.body.size()) + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : state.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    if (send_all(s, head) && !head_only) send_all(s, state.body);
}

// Reads one request from a connection; false (with the answer in state)
// when it is not one the host can serve.
bool read_request(SOCKET s, PageState& state) {
    std::string data;
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
    if (body.size() > *length) body.resize(*length);
    return true;
}

void serve(SOCKET client, const sockaddr_in& peer, const Options& options) {
    DWORD timeout = 30000;  // a client that stops sending cannot hold the host
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    PageState state;
    state.web_root = options.root;
    state.server_port = std::to_string(options.port);
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    state.remote_addr = address;
    bool ok = false;
    try {
        ok = read_request(client, state);
        if (ok) answer(state, options);
    } catch (const std::exception& e) {
        plain_answer(state, "500 Internal Server Error", std::string("The page host failed: ") + e.what());
        ok = true;
    }
    if (ok || !state.body.empty()) send_response(client, state, state.request.method == "HEAD");
    ::shutdown(client, SD_SEND);
    ::closesocket(client);
    if (!state.request.method.empty()) {
        std::printf("%s %s %s\n", state.request.method.c_str(), state.request.target.c_str(), state.status.c_str());
        std::fflush(stdout);
    }
}

}  // namespace

int main() {
    Options options;
    if (!parse_options(options)) {
        std::fprintf(stderr, "usage: PageHost.exe --root WEBROOT --port PORT [--bind 127.0.0.1]\n");
        return 2;
    }
    frame::module_start(::GetModuleHandleW(nullptr));
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options.port));
    if (::inet_pton(AF_INET, options.bind.c_str(), &address.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "cannot listen on %s:%d (%d)\n", options.bind.c_str(), options.port, ::WSAGetLastError());
        return 1;
    }
    std::printf("page host on http://%s:%d/ serving %s\n", options.bind.c_str(), options.port, options.root.c_str());
    std::fflush(stdout);
    for (;;) {
        sockaddr_in peer{};
        int peer_size = sizeof peer;
        SOCKET client = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peer_size);
        if (client == INVALID_SOCKET) continue;
        serve(client, peer, options);
    }
}
