// The web fetcher behind MyHttp: which web client calls a fetch makes, the
// page text the client's Transfer events fill, and the error texts a page
// gets back. Plain C++, so tests drive it with a scripted client.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "quillnet/engine/http_client.h"

namespace quillnet::mailweb {

struct PageResult {
    std::string text;   // page bytes or an error text
    bool utf8 = false;  // the bytes are UTF-8 (else the ANSI code page)
    bool fetched = false;     // the text is the document, not an error text
    std::string contentType;  // the document's, as the server sent it
};

class WebFetcher final : public engine::WebEvents {
  public:
    using ClientFactory = std::function<std::unique_ptr<engine::WebClient>(engine::WebEvents& owner)>;

    // Creates the client with this object as its owner and enables it.
    explicit WebFetcher(const ClientFactory& make_client);
    // Disables the client before it goes.
    ~WebFetcher() override;
    WebFetcher(const WebFetcher&) = delete;
    WebFetcher& operator=(const WebFetcher&) = delete;

    PageResult get_url(const std::string& address, const std::string& user, const std::string& password);
    int set_proxy(const std::string& server, int port);
    // The client's limits (http_client.h); false when out of range, and the
    // limit then stays as it was.
    bool set_time_limit(int seconds);
    bool set_redirect_limit(int count);
    int time_limit() const { return time_limit_; }
    int redirect_limit() const { return redirect_limit_; }

    int Transfer(uint16_t kind, int64_t offset, const char* bytes, uint16_t length) override;
    void BodyLength(uint64_t bytes) override;

  private:
    std::unique_ptr<engine::WebClient> client_;
    int time_limit_ = 0;
    int redirect_limit_ = engine::kMaxRedirects;
    std::string page_;
};

}  // namespace quillnet::mailweb
