// Runs one compiled page in a fresh script engine of the platform (the
// VBScript or JScript engine cscript uses), with Response, Request and
// Server visible by name. A script error becomes the page host's 500 page.
#pragma once

#include <memory>
#include <string>

#include "host/page_state.h"

namespace host {

void run_page(const std::shared_ptr<PageState>& state);

// The 500 page: what went wrong and where, like IIS shows it.
void error_page(PageState& state, const std::string& source, const std::string& code, const std::string& message,
                const SourcePlace& place, const std::string& detail = {});

}  // namespace host
