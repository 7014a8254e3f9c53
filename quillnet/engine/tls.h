// TLS under the line protocols, through Windows' own TLS stack (Schannel,
// reached through SSPI), so news and mail share one implementation:
//   RFC 5246 / RFC 8446  TLS 1.2 / 1.3 records, alerts and close_notify
//   RFC 6125             the server's identity: the name the client asked
//                        for must be in its certificate
// The server's chain is checked against the Windows root store with the SSL
// policy and the host name; any fault refuses the connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillnet/engine/transport.h"

namespace quillnet::engine {

// Why a TLS connection was refused. Each client gives every class a
// documented error number of its own.
enum class TlsFailure {
    none,
    handshake,        // the server broke the handshake off or spoke no TLS
    expired,          // a certificate of the chain is outside its dates
    untrusted,        // self-signed, or from a root the store does not hold
    wrong_host,       // the certificate names other hosts
    bad_certificate,  // any other refusal of the chain (usage, signature...)
};

struct TlsResult {
    // ok once the handshake and the checks passed; a timeout or a failed
    // socket shows here with its Winsock code and no failure class.
    IoResult io;
    TlsFailure failure = TlsFailure::none;
    // What Windows said: the SSPI status of a failed handshake, or the
    // policy error / chain status bits of a refused certificate.
    uint32_t detail = 0;
    bool ok() const noexcept { return io.ok() && failure == TlsFailure::none; }
};

// Sorts the outcome of a chain check (the chain's TrustStatus.dwErrorStatus
// and the SSL policy's dwError) into one class. A chain that does not lead
// to a trusted root is untrusted whatever else is wrong with it. Either
// value alone is enough to refuse: Wine's policy check passes a chain from
// an unknown root and only the chain status tells.
TlsFailure classify_certificate(uint32_t chain_errors, uint32_t policy_error) noexcept;

// An English sentence for a failure class, for the clients' error texts.
const char* describe_tls_failure(TlsFailure failure) noexcept;

// The documented error numbers one client gives the failure classes.
struct TlsErrorNumbers {
    int handshake;
    int expired;
    int untrusted;
    int wrong_host;
    int bad_certificate;
    int pick(TlsFailure failure) const noexcept;
};

// Runs a client handshake over `plain` for `host` (sent as the server name
// and checked against the certificate) and checks the certificate. On
// success `out` is the encrypted stream, which owns `plain`; otherwise
// `plain` is gone. Bytes the server sent right behind the handshake (a
// greeting on implicit TLS) are kept for the first receive. Each read of the
// handshake waits no longer than `plain`'s read limit.
TlsResult start_tls(std::unique_ptr<Transport> plain, const std::string& host, std::unique_ptr<Transport>& out);

}  // namespace quillnet::engine
