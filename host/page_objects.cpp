#include "host/page_objects.h"

#include <cstring>
#include <map>
#include <stdexcept>

#include "frame/boundary.h"
#include "frame/handles.h"
#include "frame/object.h"
#include "frame/text.h"

namespace host {

std::string bstr_utf8(BSTR text) {
    return text ? frame::to_utf8(std::wstring_view(text, ::SysStringLen(text))) : std::string();
}

std::string variant_utf8(const VARIANT& value) {
    const VARIANT* v = &value;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
    if (V_VT(v) == VT_EMPTY || V_VT(v) == VT_NULL || V_VT(v) == VT_ERROR) return {};
    if (V_VT(v) == VT_BSTR) return bstr_utf8(V_BSTR(v));
    VARIANT text;
    ::VariantInit(&text);
    const HRESULT hr = ::VariantChangeType(&text, const_cast<VARIANT*>(v), VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) throw std::invalid_argument("value cannot be written as text");
    std::string out = bstr_utf8(V_BSTR(&text));
    ::VariantClear(&text);
    return out;
}

HRESULT create_object(const wchar_t* progid, REFIID iid, void** object) {
    thread_local std::map<std::wstring, frame::com_ptr<IClassFactory>> factories;
    std::wstring key(progid);
    for (wchar_t& c : key)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (auto found = factories.find(key); found != factories.end())
        return found->second->CreateInstance(nullptr, iid, object);
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(progid, &clsid);
    if (FAILED(hr)) return hr;
    frame::com_ptr<IClassFactory> factory;
    if (FAILED(::CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void())))
        return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, iid, object);
    hr = factory->CreateInstance(nullptr, iid, object);
    if (SUCCEEDED(hr)) factories.emplace(std::move(key), std::move(factory));
    return hr;
}

namespace {

using frame::boundary;
using frame::text_result;
using frame::value_result;

// Text pages read from a request: UTF-8 when the bytes are UTF-8 (what a
// browser sends for a UTF-8 page), the ANSI code page otherwise.
BSTR request_text(std::string_view bytes) {
    return frame::looks_like_utf8(bytes) ? frame::make_bstr_utf8(bytes) : frame::make_bstr(bytes);
}

// A lookup result as IIS gives it: the text, or Empty when the name is absent.
HRESULT lookup_result(VARIANT* out, const std::optional<std::string>& found) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    if (!found) return S_OK;
    V_BSTR(out) = request_text(*found);
    V_VT(out) = VT_BSTR;
    return S_OK;
}

bool missing(const VARIANT& v) { return V_VT(&v) == VT_ERROR || V_VT(&v) == VT_EMPTY; }

template <class Itf>
class PageObject : public frame::DualObject<Itf> {
  public:
    explicit PageObject(std::shared_ptr<PageState> state) : state_(std::move(state)) {}

  protected:
    PageState& state() { return *state_; }

  private:
    std::shared_ptr<PageState> state_;
};

template <class T>
IDispatch* make(std::shared_ptr<PageState> state) {
    T* object = new T(std::move(state));
    IDispatch* out = nullptr;
    object->inner_unknown()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out));
    object->inner_unknown()->Release();
    return out;
}

class Response final : public PageObject<IPageResponse> {
  public:
    using PageObject::PageObject;

    HRESULT STDMETHODCALLTYPE Write(VARIANT text) override {
        return boundary([&] { return write(variant_utf8(text)); });
    }
    HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT bytes) override {
        return boundary([&] { return binary_write(bytes); });
    }
    HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* type) override {
        return text_result(type, [&] { return frame::make_bstr_utf8(state().content_type); });
    }
    HRESULT STDMETHODCALLTYPE put_ContentType(BSTR type) override {
        return boundary([&] { return set_header_text(state().content_type, bstr_utf8(type)); });
    }
    HRESULT STDMETHODCALLTYPE Redirect(BSTR url) override { return boundary([&] { return redirect(bstr_utf8(url)); }); }
    HRESULT STDMETHODCALLTYPE AddHeader(BSTR name, BSTR value) override {
        return boundary([&] { return add_header(bstr_utf8(name), bstr_utf8(value)); });
    }
    HRESULT STDMETHODCALLTYPE get_Status(BSTR* status) override {
        return text_result(status, [&] { return frame::make_bstr_utf8(state().status); });
    }
    HRESULT STDMETHODCALLTYPE put_Status(BSTR status) override {
        return boundary([&] { return set_header_text(state().status, bstr_utf8(status)); });
    }
    HRESULT STDMETHODCALLTYPE End() override {
        return boundary([&] {
            state().ended = true;
            return kPageEnded;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL* on) override {
        return value_result(on, [] { return VARIANT_TRUE; });
    }
    // The whole page is always buffered: a script error can still turn it
    // into an error page, and the length is known when it is sent.
    HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Charset(BSTR* name) override {
        return text_result(name, [&] { return frame::make_bstr_utf8(state().charset); });
    }
    HRESULT STDMETHODCALLTYPE put_Charset(BSTR name) override {
        return boundary([&] { return set_header_text(state().charset, bstr_utf8(name)); });
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        return boundary([&] {
            state().body.clear();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override {
        return boundary([&] { return expires(minutes); });
    }
    HRESULT STDMETHODCALLTYPE WriteBlock(long block) override { return boundary([&] { return write_block(block); }); }

  private:
    HRESULT write(std::string_view text) {
        if (!state().ended) state().body += text;
        return S_OK;
    }
    HRESULT write_block(long block) {
        const auto& blocks = state().compiled->blocks;
        if (block < 0 || static_cast<size_t>(block) >= blocks.size()) return E_INVALIDARG;
        return write(blocks[static_cast<size_t>(block)]);
    }
    HRESULT binary_write(const VARIANT& bytes) {
        const VARIANT* v = &bytes;
        if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
        SAFEARRAY* array = nullptr;
        if (V_VT(v) == (VT_ARRAY | VT_UI1)) array = V_ARRAY(v);
        else if (V_VT(v) == (VT_BYREF | VT_ARRAY | VT_UI1) && V_ARRAYREF(v)) array = *V_ARRAYREF(v);
        else return DISP_E_TYPEMISMATCH;
        if (!array || ::SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
        void* data = nullptr;
        if (FAILED(::SafeArrayAccessData(array, &data))) return E_FAIL;
        const size_t n = array->rgsabound[0].cElements;
        if (!state().ended) state().body.append(static_cast<const char*>(data), n);
        ::SafeArrayUnaccessData(array);
        return S_OK;
    }
    static HRESULT set_header_text(std::string& field, std::string value) {
        if (!safe_header_text(value)) return E_INVALIDARG;
        field = std::move(value);
        return S_OK;
    }
    HRESULT add_header(std::string name, std::string value) {
        if (name.empty() || name.find(':') != std::string::npos || !safe_header_text(name) ||
            !safe_header_text(value))
            return E_INVALIDARG;
        state().headers.emplace_back(std::move(name), std::move(value));
        return S_OK;
    }
    HRESULT redirect(std::string url) {
        if (!safe_header_text(url) || url.empty()) return E_INVALIDARG;
        state().status = "302 Object moved";
        state().headers.emplace_back("Location", url);
        state().body = "<html><head><title>Object moved</title></head><body><h1>Object Moved</h1>"
                       "This object may be found <a href=\"" +
                       html_encode(url) + "\">here</a>.</body></html>";
        state().ended = true;
        return kPageEnded;
    }
    HRESULT expires(long minutes) {
        state().headers.emplace_back("Cache-Control", minutes <= 0 ? std::string("no-cache")
                                                                   : "max-age=" + std::to_string(minutes * 60L));
        return S_OK;
    }
};

class Request final : public PageObject<IPageRequest> {
  public:
    using PageObject::PageObject;

    HRESULT STDMETHODCALLTYPE get_Item(BSTR name, VARIANT* value) override {
        return boundary([&] { return lookup_result(value, any(bstr_utf8(name))); });
    }
    HRESULT STDMETHODCALLTYPE get_QueryString(VARIANT name, VARIANT* value) override {
        return boundary([&] {
            if (missing(name)) return lookup_result(value, url_decode(state().request.query, true));
            return lookup_result(value, lookup(state().query_pairs(), variant_utf8(name)));
        });
    }
    HRESULT STDMETHODCALLTYPE get_Form(VARIANT name, VARIANT* value) override {
        return boundary([&] {
            if (missing(name)) return lookup_result(value, form_text());
            return lookup_result(value, lookup(state().form_pairs(), variant_utf8(name)));
        });
    }
    HRESULT STDMETHODCALLTYPE get_ServerVariables(VARIANT name, VARIANT* value) override {
        return boundary([&] {
            return lookup_result(value, missing(name) ? std::nullopt : state().server_variable(variant_utf8(name)));
        });
    }
    HRESULT STDMETHODCALLTYPE get_Cookies(VARIANT name, VARIANT* value) override {
        return boundary([&] {
            if (missing(name)) return lookup_result(value, std::string(state().request.header("Cookie").value_or("")));
            return lookup_result(value, lookup(state().cookie_pairs(), variant_utf8(name)));
        });
    }
    HRESULT STDMETHODCALLTYPE get_TotalBytes(long* count) override {
        return value_result(count, [&] { return static_cast<long>(state().request.body.size()); });
    }
    HRESULT STDMETHODCALLTYPE BinaryRead(VARIANT* count, VARIANT* bytes) override {
        return boundary([&] { return binary_read(count, bytes); });
    }

  private:
    // Request("name") looks where IIS looks, in the same order.
    std::optional<std::string> any(const std::string& name) {
        if (auto v = lookup(state().query_pairs(), name)) return v;
        if (auto v = lookup(state().form_pairs(), name)) return v;
        if (auto v = lookup(state().cookie_pairs(), name)) return v;
        return state().server_variable(name);
    }
    std::optional<std::string> form_text() {
        const auto& pairs = state().form_pairs();
        return pairs.empty() ? std::string() : url_decode(state().request.body, true);
    }
    HRESULT binary_read(VARIANT* count, VARIANT* bytes) {
        if (!count || !bytes) return E_POINTER;
        ::VariantInit(bytes);
        VARIANT n;
        ::VariantInit(&n);
        if (FAILED(::VariantChangeType(&n, count, 0, VT_I4)) || V_I4(&n) < 0) return DISP_E_TYPEMISMATCH;
        const std::string& body = state().request.body;
        const size_t left = body.size() - state().read_offset;
        const size_t take = static_cast<size_t>(V_I4(&n)) < left ? static_cast<size_t>(V_I4(&n)) : left;
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(take));
        if (!array) return E_OUTOFMEMORY;
        if (take) {
            void* data = nullptr;
            ::SafeArrayAccessData(array, &data);
            std::memcpy(data, body.data() + state().read_offset, take);
            ::SafeArrayUnaccessData(array);
        }
        state().read_offset += take;
        // The count says how many bytes came, as on IIS.
        if (V_VT(count) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(count)) {
            ::VariantClear(V_VARIANTREF(count));
            V_VT(V_VARIANTREF(count)) = VT_I4;
            V_I4(V_VARIANTREF(count)) = static_cast<LONG>(take);
        } else if (V_VT(count) == (VT_BYREF | VT_I4) && V_I4REF(count)) {
            *V_I4REF(count) = static_cast<LONG>(take);
        }
        V_VT(bytes) = VT_ARRAY | VT_UI1;
        V_ARRAY(bytes) = array;
        return S_OK;
    }
};

class Server final : public PageObject<IPageServer> {
  public:
    using PageObject::PageObject;

    HRESULT STDMETHODCALLTYPE CreateObject(BSTR progid, IDispatch** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return boundary([&] { return create(progid, object); });
    }
    HRESULT STDMETHODCALLTYPE MapPath(BSTR path, BSTR* physical) override {
        if (!physical) return E_POINTER;
        *physical = nullptr;
        return boundary([&] {
            const std::string mapped = state().map_path(bstr_utf8(path));
            if (mapped.empty()) return E_INVALIDARG;
            *physical = frame::make_bstr_utf8(mapped);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE HTMLEncode(BSTR text, BSTR* encoded) override {
        return text_result(encoded, [&] { return frame::make_bstr_utf8(html_encode(bstr_utf8(text))); });
    }
    HRESULT STDMETHODCALLTYPE URLEncode(BSTR text, BSTR* encoded) override {
        return text_result(encoded, [&] { return frame::make_bstr_utf8(url_encode(bstr_utf8(text))); });
    }
    HRESULT STDMETHODCALLTYPE get_ScriptTimeout(long* seconds) override {
        return value_result(seconds, [&] { return state().script_timeout.load(); });
    }
    HRESULT STDMETHODCALLTYPE put_ScriptTimeout(long seconds) override {
        return boundary([&] {
            if (seconds <= 0) return E_INVALIDARG;
            state().script_timeout = seconds;
            return S_OK;
        });
    }

  private:
    static HRESULT create(BSTR progid, IDispatch** object) {
        return create_object(progid ? progid : L"", IID_IDispatch, reinterpret_cast<void**>(object));
    }
};

}  // namespace

IDispatch* make_response(std::shared_ptr<PageState> state) { return make<Response>(std::move(state)); }
IDispatch* make_request(std::shared_ptr<PageState> state) { return make<Request>(std::move(state)); }
IDispatch* make_server(std::shared_ptr<PageState> state) { return make<Server>(std::move(state)); }

}  // namespace host
