#include "quillnet/mailweb/web_fetcher.h"

#include <algorithm>
#include <stdexcept>

namespace quillnet::mailweb {

WebFetcher::WebFetcher(const ClientFactory& make_client) : client_(make_client(*this)) {
    if (!client_) throw std::runtime_error("no web client");
    client_->SetNetworkEnabled(1);
}

WebFetcher::~WebFetcher() { client_->SetNetworkEnabled(0); }

PageResult WebFetcher::get_url(const std::string& address, const std::string& user, const std::string& password) {
    // Every fetch starts from an empty page: a second fetch must not hand
    // back the first page glued to the second, nor text of a failed fetch.
    page_.clear();
    if (const int n = client_->SetURL(address))
        return {"Error: SetURL(" + address + ") failed. " + std::to_string(n)};
    if (!user.empty()) {
        int n = client_->SetUser(user);
        if (n == 0) n = client_->SetPassword(password);
        if (n != 0) return {"Error: SetUser() or SetPassword() failed. " + std::to_string(n)};
    }
    if (const int n = client_->SetAction(engine::kWebActionGet)) {
        page_.clear();
        return {"Error: SetAction(HTTP_GET) failed." + std::to_string(n)};
    }
    std::string type = client_->ContentType();
    PageResult result{std::move(page_), engine::content_type_is_utf8(type), true, std::move(type)};
    page_.clear();
    return result;
}

int WebFetcher::set_proxy(const std::string& server, int port) {
    int r = client_->SetProxyServer(server);
    if (r == 0) r = client_->SetProxyPort(port);
    return r;
}

bool WebFetcher::set_time_limit(int seconds) {
    if (client_->SetTimeLimit(seconds) != 0) return false;
    time_limit_ = seconds;
    return true;
}

bool WebFetcher::set_redirect_limit(int count) {
    if (client_->SetRedirectLimit(count) != 0) return false;
    redirect_limit_ = count;
    return true;
}

// Room for the whole page at once spares copying a large page over and
// over as it grows; an absurd announced length is not believed up front.
void WebFetcher::BodyLength(uint64_t bytes) {
    constexpr uint64_t kMostReserved = 256u << 20;
    page_.reserve(static_cast<size_t>(std::min(bytes, kMostReserved)));
}

int WebFetcher::Transfer(uint16_t kind, int64_t, const char* bytes, uint16_t length) {
    if (kind == engine::kTransferBody && length > 0) page_.append(bytes, length);
    return 0;
}

}  // namespace quillnet::mailweb
