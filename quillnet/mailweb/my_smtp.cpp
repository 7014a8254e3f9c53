// The mail sender object: IMySmtp over MailSender and our SMTP client.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/mailweb/mail_sender.h"

namespace quillnet {
namespace {

class MySmtpObject final : public frame::DualObject<IMySmtp> {
  public:
    MySmtpObject() : sender_(engine::make_smtp_client()) {}

    HRESULT STDMETHODCALLTYPE SetServer(BSTR server, int* result) override {
        return frame::value_result(result, [&] { return sender_.set_server(frame::to_ansi(server)); });
    }
    HRESULT STDMETHODCALLTYPE SendMail(BSTR field1, BSTR field2, BSTR field3, BSTR field4, BSTR field5,
                                       int* result) override {
        return frame::value_result(result, [&] {
            return sender_.send_mail({frame::to_ansi(field1), frame::to_ansi(field2), frame::to_ansi(field3),
                                      frame::to_ansi(field4), frame::to_ansi(field5)});
        });
    }

  private:
    mailweb::MailSender sender_;
};

}  // namespace

HRESULT create_my_smtp(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MySmtpObject>(outer, riid, out);
}

}  // namespace quillnet
