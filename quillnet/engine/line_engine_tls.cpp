// The line engine's switch to TLS, in a file of its own: it reaches the
// platform's TLS stack, which the native fuzz build of the line engine does
// without (it links a stand-in that refuses every upgrade).
#include <winsock2.h>

#include "quillnet/engine/line_engine.h"

namespace quillnet::engine {

TlsResult LineEngine::start_tls(const std::string& host) {
    TlsResult r;
    if (!transport_) {
        r.io = IoResult{IoStatus::closed, WSAENOTCONN};
        return r;
    }
    if (start_ != end_) {
        close();
        r.io = IoResult{IoStatus::failed, WSAECONNABORTED};
        r.failure = TlsFailure::handshake;
        return r;
    }
    std::unique_ptr<Transport> plain = std::move(transport_);
    close();
    std::unique_ptr<Transport> secure;
    r = engine::start_tls(std::move(plain), host, secure);
    if (r.ok()) transport_ = std::move(secure);
    return r;
}

}  // namespace quillnet::engine
