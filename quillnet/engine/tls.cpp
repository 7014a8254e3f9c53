#include "quillnet/engine/tls.h"

#include <winsock2.h>

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>

#include <schannel.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillnet::engine {
namespace {

// Records are at most 16 KB of text plus their framing; a handshake flight
// with a long chain can be larger, and the buffer grows for it.
constexpr size_t kInitialBuffer = 64 * 1024;
constexpr size_t kMaxBuffer = 1u << 20;
// Records are encrypted into one buffer and sent together: under Wine every
// send is a round trip to its server.
constexpr size_t kSendBatch = 256 * 1024;

IoResult io_fail(IoStatus status, int error) { return IoResult{status, error}; }

TlsResult refused(TlsFailure failure, uint32_t detail) {
    TlsResult r;
    r.io = io_fail(IoStatus::failed, WSAECONNABORTED);
    r.failure = failure;
    r.detail = detail;
    return r;
}

std::wstring widen(const std::string& s) {
    std::wstring w;
    w.reserve(s.size());
    for (char c : s) w.push_back(static_cast<unsigned char>(c));  // host names are ASCII
    return w;
}

struct ContextBuffer {
    void* p = nullptr;
    ~ContextBuffer() {
        if (p) ::FreeContextBuffer(p);
    }
};

class TlsTransport final : public Transport {
  public:
    TlsTransport(std::unique_ptr<Transport> plain, std::string host)
        : inner_(std::move(plain)), host_(std::move(host)), target_(widen(host_)) {
        in_.resize(kInitialBuffer);
    }

    ~TlsTransport() override {
        if (have_context_) {
            if (open_) send_close_notify();
            ::DeleteSecurityContext(&context_);
        }
        if (have_credentials_) ::FreeCredentialsHandle(&credentials_);
    }

    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    TlsResult open() {
        SCHANNEL_CRED cred{};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        // We check the chain ourselves, with the host name and with the
        // chain status that Wine's automatic check does not look at; no
        // client certificate is ever offered.
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TimeStamp expiry;
        SECURITY_STATUS st =
            ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                        &cred, nullptr, nullptr, &credentials_, &expiry);
        if (st != SEC_E_OK) return refused(TlsFailure::handshake, static_cast<uint32_t>(st));
        have_credentials_ = true;
        TlsResult r = handshake(true);
        if (!r.ok()) return r;
        r = check_certificate();
        if (!r.ok()) return r;
        st = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (st != SEC_E_OK) return refused(TlsFailure::handshake, static_cast<uint32_t>(st));
        open_ = true;
        return r;
    }

    IoResult send(const char* data, size_t size) override {
        if (!open_) return io_fail(IoStatus::closed, WSAENOTCONN);
        const size_t frame = sizes_.cbHeader + sizes_.cbTrailer;
        while (size > 0) {
            out_.clear();
            while (size > 0 && out_.size() + frame + 1 <= kSendBatch) {
                const size_t chunk = std::min<size_t>(size, sizes_.cbMaximumMessage);
                const size_t at = out_.size();
                out_.resize(at + frame + chunk);
                char* rec = out_.data() + at;
                std::memcpy(rec + sizes_.cbHeader, data, chunk);
                SecBuffer b[4];
                b[0] = {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, rec};
                b[1] = {static_cast<unsigned long>(chunk), SECBUFFER_DATA, rec + sizes_.cbHeader};
                b[2] = {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, rec + sizes_.cbHeader + chunk};
                b[3] = {0, SECBUFFER_EMPTY, nullptr};
                SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
                if (::EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
                    open_ = false;
                    return io_fail(IoStatus::failed, WSAECONNABORTED);
                }
                // The trailer may come out shorter than its maximum.
                out_.resize(at + b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
                data += chunk;
                size -= chunk;
            }
            const IoResult r = inner_->send(out_.data(), out_.size());
            if (!r.ok()) {
                open_ = false;
                return r;
            }
        }
        return IoResult::success();
    }

    IoResult receive(char* buffer, size_t capacity, size_t& got) override {
        got = 0;
        for (;;) {
            // Text already decrypted goes first; then every whole record
            // that has arrived, without waiting for more.
            while (got < capacity && (text_len_ > 0 || (open_ && extra_ > 0))) {
                if (text_len_ == 0) {
                    const IoResult r = decrypt_one();
                    if (r.status == IoStatus::ok && text_len_ == 0 && extra_ == 0) break;
                    if (r.status == IoStatus::bad_reply) break;  // an incomplete record: needs more bytes
                    if (!r.ok()) return got > 0 ? IoResult::success() : r;
                    continue;
                }
                const size_t n = std::min(capacity - got, text_len_);
                std::memcpy(buffer + got, text_, n);
                text_ += n;
                text_len_ -= n;
                got += n;
            }
            if (got > 0) return IoResult::success();
            if (!open_) return io_fail(IoStatus::closed, WSAECONNRESET);
            const IoResult r = read_more();
            if (!r.ok()) {
                open_ = false;
                return r;
            }
        }
    }

  private:
    // The bytes not yet decrypted sit at in_[0 .. extra_); plaintext that
    // DecryptMessage made in place is [text_, text_ + text_len_) and
    // lies before them, so the buffer is compacted only once it is read.
    IoResult read_more() {
        if (text_len_ == 0 && pending_start_ > 0) {
            std::memmove(in_.data(), in_.data() + pending_start_, extra_);
            pending_start_ = 0;
        }
        if (pending_start_ + extra_ == in_.size()) {
            if (in_.size() >= kMaxBuffer) return io_fail(IoStatus::too_long, WSAEMSGSIZE);
            in_.resize(in_.size() * 2);
        }
        size_t n = 0;
        const size_t end = pending_start_ + extra_;
        const IoResult r = inner_->receive(in_.data() + end, in_.size() - end, n);
        if (!r.ok()) return r;
        extra_ += n;
        return IoResult::success();
    }

    // ok with text_len_ set, bad_reply for a record not yet whole, closed
    // for close_notify.
    IoResult decrypt_one() {
        char* start = in_.data() + pending_start_;
        SecBuffer b[4];
        b[0] = {static_cast<unsigned long>(extra_), SECBUFFER_DATA, start};
        b[1] = b[2] = b[3] = {0, SECBUFFER_EMPTY, nullptr};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        const SECURITY_STATUS st = ::DecryptMessage(&context_, &desc, 0, nullptr);
        if (st == SEC_E_INCOMPLETE_MESSAGE) return io_fail(IoStatus::bad_reply, 0);
        if (st != SEC_E_OK && st != SEC_I_RENEGOTIATE && st != SEC_I_CONTEXT_EXPIRED) {
            open_ = false;
            return io_fail(IoStatus::failed, WSAECONNABORTED);
        }
        size_t rest = 0;
        char* rest_at = nullptr;
        for (const SecBuffer& x : b) {
            if (x.BufferType == SECBUFFER_DATA && x.cbBuffer > 0) {
                text_ = static_cast<char*>(x.pvBuffer);
                text_len_ = x.cbBuffer;
            } else if (x.BufferType == SECBUFFER_EXTRA && x.cbBuffer > 0) {
                rest = x.cbBuffer;
                rest_at = start + extra_ - rest;
            }
        }
        pending_start_ = rest_at ? static_cast<size_t>(rest_at - in_.data()) : pending_start_ + extra_;
        extra_ = rest;
        if (st == SEC_I_CONTEXT_EXPIRED) {
            // The server's close_notify: no more records follow.
            open_ = false;
            extra_ = 0;
            return text_len_ > 0 ? IoResult::success() : io_fail(IoStatus::closed, WSAECONNRESET);
        }
        if (st == SEC_I_RENEGOTIATE) {
            // A handshake message after the handshake (a renegotiation, or
            // TLS 1.3 tickets and key updates): Schannel takes it through
            // InitializeSecurityContext, then records go on as before.
            if (text_len_ > 0) {
                // Keep the text; the handshake bytes move behind it.
                saved_.assign(text_, text_ + text_len_);
            }
            const TlsResult h = handshake(false);
            if (!h.ok()) {
                open_ = false;
                return h.io.ok() ? io_fail(IoStatus::failed, WSAECONNABORTED) : h.io;
            }
            if (!saved_.empty()) {
                // The handshake compacted the buffer; put the text in front.
                in_.insert(in_.begin() + static_cast<long>(pending_start_), saved_.begin(), saved_.end());
                text_ = in_.data() + pending_start_;
                text_len_ = saved_.size();
                pending_start_ += saved_.size();
                saved_.clear();
            }
        }
        return IoResult::success();
    }

    IoResult send_token(SecBuffer& token) {
        if (token.cbBuffer == 0 || token.pvBuffer == nullptr) return IoResult::success();
        return inner_->send(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    }

    // The handshake loop of Schannel's client side: feed it what the server
    // sent, send what it asks to send, until SEC_E_OK. `first` starts a
    // new context; otherwise the bytes pending in in_ continue the current
    // one (a renegotiation).
    TlsResult handshake(bool first) {
        const unsigned long want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                   ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                   ISC_REQ_MANUAL_CRED_VALIDATION;
        unsigned long got_flags = 0;
        TimeStamp expiry;
        if (first) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
            const SECURITY_STATUS st =
                ::InitializeSecurityContextW(&credentials_, nullptr, target_.data(), want, 0, 0, nullptr, 0, &context_,
                                             &out_desc, &got_flags, &expiry);
            ContextBuffer hold{out.pvBuffer};
            if (st != SEC_I_CONTINUE_NEEDED) return refused(TlsFailure::handshake, static_cast<uint32_t>(st));
            have_context_ = true;
            const IoResult r = send_token(out);
            if (!r.ok()) return handshake_io(r);
        }
        // In a renegotiation the bytes to feed are already here.
        bool need_read = first && extra_ == 0;
        for (;;) {
            if (need_read) {
                const IoResult r = read_more();
                if (!r.ok()) return handshake_io(r);
            }
            // A server's first bytes are a handshake record or an alert
            // (RFC 5246 6.2.1). Anything else is a server that does not speak
            // TLS, whose text Schannel may take for the length of a record
            // still to come and wait for it until the read limit.
            if (first && !seen_record_ && extra_ > 0) {
                const unsigned char type = static_cast<unsigned char>(in_[pending_start_]);
                if (type != 0x16 && type != 0x15) return refused(TlsFailure::handshake, type);
                seen_record_ = true;
            }
            if (pending_start_ > 0) {
                std::memmove(in_.data(), in_.data() + pending_start_, extra_);
                pending_start_ = 0;
            }
            SecBuffer in[2];
            in[0] = {static_cast<unsigned long>(extra_), SECBUFFER_TOKEN, in_.data()};
            in[1] = {0, SECBUFFER_EMPTY, nullptr};
            SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
            SecBuffer out[1];
            out[0] = {0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
            const SECURITY_STATUS st =
                ::InitializeSecurityContextW(&credentials_, &context_, target_.data(), want, 0, 0, &in_desc, 0, nullptr,
                                             &out_desc, &got_flags, &expiry);
            ContextBuffer hold_token{out[0].pvBuffer};
            if (st == SEC_E_INCOMPLETE_MESSAGE) {
                need_read = true;
                continue;
            }
            // A token goes out even with an error: it is the alert that
            // tells the server why.
            if (out[0].cbBuffer > 0) {
                const IoResult r = send_token(out[0]);
                if (!r.ok() && st == SEC_E_OK) return handshake_io(r);
            }
            if (st != SEC_E_OK && st != SEC_I_CONTINUE_NEEDED && st != SEC_I_INCOMPLETE_CREDENTIALS)
                return refused(TlsFailure::handshake, static_cast<uint32_t>(st));
            // What Schannel did not take belongs to the next message (or,
            // after the last one, is the server's first data).
            const size_t left = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
            if (left > 0) std::memmove(in_.data(), in_.data() + extra_ - left, left);
            extra_ = left;
            if (st == SEC_E_OK) return TlsResult{};
            // SEC_I_INCOMPLETE_CREDENTIALS: the server asked for a client
            // certificate; we go on without one.
            need_read = st == SEC_I_CONTINUE_NEEDED && left == 0;
        }
    }

    // A server that hangs up or talks nonsense during the handshake broke it
    // off; a stall stays a timeout, as it is elsewhere.
    static TlsResult handshake_io(const IoResult& io) {
        TlsResult r;
        r.io = io;
        if (io.status != IoStatus::timeout) r.failure = TlsFailure::handshake;
        return r;
    }

    TlsResult check_certificate() {
        PCCERT_CONTEXT cert = nullptr;
        SECURITY_STATUS st = ::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
        if (st != SEC_E_OK || !cert) return refused(TlsFailure::bad_certificate, static_cast<uint32_t>(st));
        LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                          const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        para.RequestedUsage.Usage.cUsageIdentifier = 3;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        const BOOL built =
            ::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain);
        ::CertFreeCertificateContext(cert);
        if (!built || !chain) return refused(TlsFailure::bad_certificate, ::GetLastError());
        HTTPSPolicyCallbackData https{};
        https.cbStruct = sizeof https;
        https.dwAuthType = AUTHTYPE_SERVER;
        https.pwszServerName = target_.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        const BOOL checked = ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        // Revocation is not asked for, so its "unknown" bits say nothing.
        const DWORD chain_errors =
            chain->TrustStatus.dwErrorStatus &
            ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
        ::CertFreeCertificateChain(chain);
        if (!checked) return refused(TlsFailure::bad_certificate, ::GetLastError());
        const uint32_t policy_error = status.dwError;
        const TlsFailure failure = classify_certificate(chain_errors, policy_error);
        if (failure != TlsFailure::none)
            return refused(failure, policy_error != 0 ? policy_error : static_cast<uint32_t>(chain_errors));
        return TlsResult{};
    }

    void send_close_notify() noexcept {
        DWORD kind = SCHANNEL_SHUTDOWN;
        SecBuffer b{sizeof kind, SECBUFFER_TOKEN, &kind};
        SecBufferDesc desc{SECBUFFER_VERSION, 1, &b};
        if (::ApplyControlToken(&context_, &desc) != SEC_E_OK) return;
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
        unsigned long flags = 0;
        TimeStamp expiry;
        const SECURITY_STATUS st =
            ::InitializeSecurityContextW(&credentials_, &context_, target_.data(),
                                         ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                             ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM,
                                         0, 0, nullptr, 0, nullptr, &out_desc, &flags, &expiry);
        ContextBuffer hold{out.pvBuffer};
        if ((st == SEC_E_OK || st == SEC_I_CONTINUE_NEEDED) && out.cbBuffer > 0) send_token(out);
    }

    std::unique_ptr<Transport> inner_;
    std::string host_;
    std::wstring target_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool have_credentials_ = false;
    bool have_context_ = false;
    bool open_ = false;
    bool seen_record_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> in_;
    size_t pending_start_ = 0;  // where the bytes not yet decrypted begin
    size_t extra_ = 0;          // how many there are
    char* text_ = nullptr;
    size_t text_len_ = 0;
    std::vector<char> saved_;
    std::vector<char> out_;
};

}  // namespace

TlsFailure classify_certificate(uint32_t chain_errors, uint32_t policy_error) noexcept {
    constexpr uint32_t kUntrustedChain = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                         CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    constexpr uint32_t kTimeChain = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID;
    const auto policy = static_cast<HRESULT>(policy_error);
    if ((chain_errors & kUntrustedChain) || policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING ||
        policy == TRUST_E_CERT_SIGNATURE)
        return TlsFailure::untrusted;
    if ((chain_errors & kTimeChain) || policy == CERT_E_EXPIRED || policy == CERT_E_VALIDITYPERIODNESTING)
        return TlsFailure::expired;
    if (policy == CERT_E_CN_NO_MATCH) return TlsFailure::wrong_host;
    if (chain_errors != 0 || policy_error != 0) return TlsFailure::bad_certificate;
    return TlsFailure::none;
}

TlsResult start_tls(std::unique_ptr<Transport> plain, const std::string& host, std::unique_ptr<Transport>& out) {
    out.reset();
    if (!plain) {
        TlsResult r;
        r.io = io_fail(IoStatus::closed, WSAENOTCONN);
        return r;
    }
    auto tls = std::make_unique<TlsTransport>(std::move(plain), host);
    TlsResult r = tls->open();
    if (r.ok()) out = std::move(tls);
    return r;
}

}  // namespace quillnet::engine
