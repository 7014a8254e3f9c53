// Everything one request's page sees and makes: the request, the compiled
// page, the response being built. Shared by the Response, Request and
// Server objects of that request; plain C++ apart from nothing.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/asp_page.h"
#include "host/http_request.h"

namespace host {

struct PageState {
    HttpRequest request;
    std::string web_root;  // physical folder of "/", UTF-8, no trailing backslash
    std::string page;      // virtual path of the page being run
    std::string server_port;
    std::string remote_addr;
    int pool_thread = 0;  // the page host's thread serving it, from 1
    std::shared_ptr<const CompiledPage> compiled;

    // The response.
    std::string status = "200 OK";
    std::string content_type = "text/html";
    std::string charset;
    Pairs headers;
    std::string body;
    bool ended = false;  // Response.End or Redirect: nothing more is written
    // Server.ScriptTimeout, in seconds; the host's watching thread reads it
    // while the page runs.
    std::atomic<long> script_timeout{90};
    size_t read_offset = 0;  // Request.BinaryRead's position in the body

    // Parsed on first use.
    std::optional<Pairs> query, form, cookies;
    const Pairs& query_pairs();
    const Pairs& form_pairs();
    const Pairs& cookie_pairs();

    // A server variable as IIS names it (REQUEST_METHOD, HTTP_HOST, ...).
    std::optional<std::string> server_variable(std::string_view name) const;
    // A virtual path (relative to the page) as a physical path; empty when
    // it leaves the web root.
    std::string map_path(std::string_view path) const;
    // The status line's code, e.g. 302 from "302 Object moved".
    int status_code() const;
    // The Content-Type header: text types get the charset the body is
    // written in (UTF-8 unless the page chose one).
    std::string content_type_header() const;
};

// Header values a page sets must not end the header or start another one.
bool safe_header_text(std::string_view text);

}  // namespace host
