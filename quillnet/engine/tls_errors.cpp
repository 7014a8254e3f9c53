// The words and numbers of TLS failures, apart from the Schannel code of
// tls.cpp so that the clients that report them build natively too.
#include "quillnet/engine/tls.h"

namespace quillnet::engine {

const char* describe_tls_failure(TlsFailure failure) noexcept {
    switch (failure) {
        case TlsFailure::none: return "The secure connection is set up";
        case TlsFailure::handshake: return "The server broke off the TLS handshake or does not speak TLS";
        case TlsFailure::expired: return "The server's certificate has expired or is not valid yet";
        case TlsFailure::untrusted: return "The server's certificate is self-signed or not from a trusted root";
        case TlsFailure::wrong_host: return "The server's certificate is for another host name";
        case TlsFailure::bad_certificate: return "The server's certificate was refused";
    }
    return "TLS failed";
}

int TlsErrorNumbers::pick(TlsFailure failure) const noexcept {
    switch (failure) {
        case TlsFailure::expired: return expired;
        case TlsFailure::untrusted: return untrusted;
        case TlsFailure::wrong_host: return wrong_host;
        case TlsFailure::bad_certificate: return bad_certificate;
        default: return handshake;
    }
}

}  // namespace quillnet::engine
