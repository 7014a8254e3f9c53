#include "host/page_runner.h"

#include <windows.h>
#include <activscp.h>

#include <cstdio>

#include "frame/handles.h"
#include "frame/module.h"
#include "frame/text.h"
#include "host/engine_names.h"
#include "host/page_objects.h"
#include "host/script_watch.h"

namespace host {

void error_page(PageState& state, const std::string& source, const std::string& code, const std::string& message,
                const SourcePlace& place, const std::string& detail) {
    state.status = "500 Internal Server Error";
    state.content_type = "text/html";
    state.headers.clear();
    std::string where = place.file;
    if (place.line > 0) where += ", line " + std::to_string(place.line);
    state.body = "<html><head><title>500 - Script error</title></head><body style=\"font-family:Arial\">\n"
                 "<h2>" +
                 html_encode(source) + " '" + html_encode(code) + "'</h2>\n<p class=\"message\">" +
                 html_encode(message) + "</p>\n<p class=\"where\">" + html_encode(where) + "</p>\n" +
                 (detail.empty() ? std::string() : "<p class=\"detail\">" + html_encode(detail) + "</p>\n") +
                 "</body></html>\n";
    std::fprintf(stderr, "script error: %s: %s (%s)\n", where.c_str(), message.c_str(), code.c_str());
}

namespace {

std::string hex_code(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(hr));
    return text;
}

// The engine's view of the host: where the named objects are, and where
// errors go. Lives on the stack of run_page; the engine is closed before
// it goes.
class Site final : public IActiveScriptSite {
  public:
    explicit Site(const std::shared_ptr<PageState>& state) : state_(state) {
        objects_[0] = make_response(state);
        objects_[1] = make_request(state);
        objects_[2] = make_server(state);
    }
    ~Site() {
        for (IDispatch* o : objects_)
            if (o) o->Release();
    }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    bool failed() const { return failed_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveScriptSite)) {
            *out = static_cast<IActiveScriptSite*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // Owned by run_page, not by its references.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        if (item) *item = nullptr;
        if (info) *info = nullptr;
        static const wchar_t* const names[] = {L"Response", L"Request", L"Server"};
        static const IID* const iids[] = {&IID_IPageResponse, &IID_IPageRequest, &IID_IPageServer};
        for (int i = 0; i < 3; ++i) {
            if (!name || ::lstrcmpiW(name, names[i]) != 0) continue;
            if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
                objects_[i]->AddRef();
                *item = objects_[i];
            }
            if ((mask & SCRIPTINFO_ITYPEINFO) && info) return frame::type_info_for(*iids[i], info);
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
        // Response.End and Redirect stop the script by failing; that is the page ending.
        if (state_->ended || failed_ || !error) return S_OK;
        failed_ = true;
        EXCEPINFO info{};
        error->GetExceptionInfo(&info);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        const std::string source = info.bstrSource ? bstr_utf8(info.bstrSource) : std::string("Script error");
        std::string message = bstr_utf8(info.bstrDescription);
        const HRESULT code = info.scode ? info.scode : static_cast<HRESULT>(0x80004005);
        if (message.empty()) message = "Error " + hex_code(code);
        error_page(*state_, source, hex_code(code), message, state_->compiled->place_of(static_cast<long>(line)));
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  private:
    std::shared_ptr<PageState> state_;
    IDispatch* objects_[3] = {};
    bool failed_ = false;
};

// The 64-bit parse interface; MinGW's uuid library does not carry its IID.
constexpr IID kIID_IActiveScriptParse64 = {0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};

// The page's script, parsed and run; noinline so that the host's resume
// point in run_page lies below every frame the engine adds.
__attribute__((noinline)) HRESULT run_script(IActiveScript* engine, IActiveScriptParse* parse,
                                             const std::wstring& script) {
    EXCEPINFO excep{};
    HRESULT hr = parse->ParseScriptText(script.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE,
                                        nullptr, &excep);
    if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    ::SysFreeString(excep.bstrSource);
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrHelpFile);
    return hr;
}

// IIS's answer for a page past its Server.ScriptTimeout.
void timeout_page(PageState& state) {
    error_page(state, "Active Server Pages error", "ASP 0113", "Script timed out", {state.page, 0},
               "The maximum amount of time for a script to execute was exceeded. You can change this limit by "
               "specifying a new value for the property Server.ScriptTimeout or by changing the value in the IIS "
               "administration tools.");
}

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

}  // namespace

void run_page(const std::shared_ptr<PageState>& state) {
    const CompiledPage& page = *state->compiled;
    const wchar_t* language = page.language == Language::jscript ? L"JScript" : L"VBScript";
    auto engine_failure = [&](const char* step, HRESULT hr) {
        error_page(*state, "Page host error", hex_code(hr), std::string("The script engine could not ") + step,
                   {state->page, 0});
    };
    Released<IActiveScript> engine;
    HRESULT hr = create_object(language, IID_IActiveScript, reinterpret_cast<void**>(&engine.p));
    if (FAILED(hr)) return engine_failure("be created", hr);
    use_c_locale_names(engine.p);
    Released<IActiveScriptParse> parse;
    hr = engine.p->QueryInterface(kIID_IActiveScriptParse64, reinterpret_cast<void**>(&parse.p));
    if (FAILED(hr)) return engine_failure("parse pages", hr);

    Site site(state);
    if (FAILED(hr = parse.p->InitNew()) || FAILED(hr = engine.p->SetScriptSite(&site))) {
        engine.p->Close();
        return engine_failure("start", hr);
    }
    for (const wchar_t* name : {L"Response", L"Request", L"Server"})
        engine.p->AddNamedItem(name, SCRIPTITEM_ISVISIBLE | SCRIPTITEM_NOCODE);

    const std::wstring script = frame::utf8_to_wide(page.script);
    bool stopped_by_host = false, timed_out = false;
    {
        WatchedRun watched(state->pool_thread, engine.p, state->script_timeout);
        void** resume = watched.resume_point();
        if (!resume || __builtin_setjmp(resume) == 0) {
            watched.arm();
            hr = run_script(engine.p, parse.p, script);
        }
        timed_out = watched.timed_out();
        stopped_by_host = watched.stopped_by_host();
    }
    if (stopped_by_host) {
        // The engine was left in the middle of its work: it, and the
        // objects the page made, are abandoned rather than closed.
        std::fprintf(stderr, "%s: past its ScriptTimeout of %ld s; the engine has no interrupt, so the host stopped it\n",
                     state->page.c_str(), state->script_timeout.load());
        engine.p = nullptr;
        parse.p = nullptr;
    } else {
        engine.p->Close();
    }
    if (timed_out) return timeout_page(*state);
    if (FAILED(hr) && !site.failed() && !state->ended) engine_failure("run the page", hr);
}

}  // namespace host
