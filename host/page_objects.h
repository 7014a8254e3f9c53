// The Response, Request and Server objects a page finds by name. Each method
// converts its arguments, calls PageState (plain C++) and catches everything,
// like the components' methods; IDispatch comes from the frame.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "host.h"
#include "host/page_state.h"

namespace host {

// What Response.End and Response.Redirect give the engine to stop the page:
// the script ends with this error, which the host knows is no failure.
inline constexpr HRESULT kPageEnded = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0A5E);

// New objects for one request; each holds the state for as long as the
// script engine holds the object.
IDispatch* make_response(std::shared_ptr<PageState> state);
IDispatch* make_request(std::shared_ptr<PageState> state);
IDispatch* make_server(std::shared_ptr<PageState> state);

// A new object of a registered class, as Server.CreateObject makes it. The
// class factory of an in-process class is kept for the calling thread (a
// pool thread's apartment), so the next page on the thread skips the
// registry: each lookup there is a round trip to the wineserver, which all
// threads share.
HRESULT create_object(const wchar_t* progid, REFIID iid, void** object);

// A BSTR as UTF-8, every character counted (NULs included).
std::string bstr_utf8(BSTR text);
std::string variant_utf8(const VARIANT& value);

}  // namespace host
