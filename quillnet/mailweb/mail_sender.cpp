#include "quillnet/mailweb/mail_sender.h"

#include <stdexcept>

namespace quillnet::mailweb {

MailSender::MailSender(std::unique_ptr<engine::MailEngine> client) : client_(std::move(client)) {
    if (!client_) throw std::runtime_error("no mail client");
}

MailSender::~MailSender() {
    if (connected_) {
        client_->SetAction(engine::kMailDisconnect);
        client_->SetNetworkEnabled(0);
    }
}

int MailSender::set_server(const std::string& server) {
    client_->SetNetworkEnabled(1);
    const int result = client_->SetMailServer(server);
    connected_ = result == 0 && client_->SetAction(engine::kMailConnect) == 0;
    return result;
}

int MailSender::send_mail(const std::array<std::string, 5>& fields) {
    using Setter = int (engine::MailEngine::*)(std::string_view);
    static constexpr Setter setters[5] = {&engine::MailEngine::SetMailField1, &engine::MailEngine::SetMailField2,
                                          &engine::MailEngine::SetMailField3, &engine::MailEngine::SetMailField4,
                                          &engine::MailEngine::SetMailField5};
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i].empty()) (client_.get()->*setters[i])(fields[i]);
    }
    return client_->SetAction(engine::kMailSend);
}

}  // namespace quillnet::mailweb
