// Which pages the host may run. Uploads and the news store hold files that
// visitors chose (an upload, a poster's attachment), under names visitors
// chose: nothing below those folders is ever run as a page, whatever its
// name says. The web server in front serves them as files; this rule is the
// host's own, so a request that reaches it anyway (a web server set up
// wrongly, a request sent to the host's port) still runs nothing.
// Plain C++, tested natively.
#pragma once

#include <span>
#include <string_view>

namespace host {

// The web-root folders of stored files: the upload page's folder and the
// news store (the reader's DataRoot).
inline constexpr std::string_view kStoredFileFolders[] = {"uploads", "news"};

// False when the normalised virtual path (as resolve_virtual gives it, e.g.
// "/uploads/probe.asp") lies in one of `folders`. The folder is compared as
// Windows opens it: in any case, and with the trailing dots and blanks
// Windows drops ("/Uploads. /x.asp" opens the uploads folder).
bool may_run_page(std::string_view virtual_path, std::span<const std::string_view> folders = kStoredFileFolders);

}  // namespace host
