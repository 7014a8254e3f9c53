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
        return frame::value_result(result, [&] { return sender_.set_server(codePage_.in(server)); });
    }
    HRESULT STDMETHODCALLTYPE SendMail(BSTR field1, BSTR field2, BSTR field3, BSTR field4, BSTR field5,
                                       int* result) override {
        return frame::value_result(result, [&] {
            return sender_.send_mail({codePage_.in(field1), codePage_.in(field2), codePage_.in(field3),
                                      codePage_.in(field4), codePage_.in(field5)});
        });
    }
    HRESULT STDMETHODCALLTYPE get_CodePage(long* value) override { return codePage_.get(value); }
    HRESULT STDMETHODCALLTYPE put_CodePage(long value) override {
        return frame::boundary([&]() -> HRESULT {
            const HRESULT hr = codePage_.put(value);
            if (SUCCEEDED(hr)) sender_.set_code_page(codePage_.utf8() ? CP_UTF8 : 0);
            return hr;
        });
    }

  private:
    mailweb::MailSender sender_;
    frame::BoundaryCodePage codePage_;
};

}  // namespace

HRESULT create_my_smtp(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MySmtpObject>(outer, riid, out);
}

}  // namespace quillnet
