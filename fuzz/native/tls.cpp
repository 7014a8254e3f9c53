// Native stand-in for the Schannel handshake of quillnet/engine/tls.cpp:
// the scripted server speaks no TLS, so every handshake is refused, as a
// server that broke it off would be.
#include "quillnet/engine/tls.h"

namespace quillnet::engine {

TlsResult start_tls(std::unique_ptr<Transport> plain, const std::string&, std::unique_ptr<Transport>& out) {
    out.reset();
    TlsResult r;
    r.failure = TlsFailure::handshake;
    return r;
}

}  // namespace quillnet::engine
