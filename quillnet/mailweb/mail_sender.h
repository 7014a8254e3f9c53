// The mail sender behind MySmtp: which mail client calls a page's SetServer
// and SendMail make, and the connected flag that decides what happens at
// the end. Plain C++, so tests drive it with a scripted client.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "quillnet/engine/smtp_client.h"

namespace quillnet::mailweb {

class MailSender {
  public:
    explicit MailSender(std::unique_ptr<engine::MailEngine> client);
    // Says goodbye to the server only when the last connect succeeded.
    ~MailSender();
    MailSender(const MailSender&) = delete;
    MailSender& operator=(const MailSender&) = delete;

    // The server setter's number; a failed connect shows only in connected().
    int set_server(const std::string& server);
    // Empty fields make no setter call: the client keeps what it held.
    int send_mail(const std::array<std::string, 5>& fields);
    bool connected() const noexcept { return connected_; }
    // The code page of the fields: 0 (ANSI) or 65001 (UTF-8).
    void set_code_page(unsigned codePage) { client_->SetTextCodePage(codePage); }

  private:
    std::unique_ptr<engine::MailEngine> client_;
    bool connected_ = false;
};

}  // namespace quillnet::mailweb
