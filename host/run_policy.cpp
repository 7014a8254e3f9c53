#include "host/run_policy.h"

#include "frame/ascii.h"

namespace host {

bool may_run_page(std::string_view virtual_path, std::span<const std::string_view> folders) {
    std::string_view path = virtual_path;
    while (!path.empty() && (path.front() == '/' || path.front() == '\\')) path.remove_prefix(1);
    std::string_view top = path.substr(0, path.find_first_of("/\\"));
    // Only a page inside the folder is refused: "/news.asp" is a page of the site.
    if (top.size() == path.size()) return true;
    while (!top.empty() && (top.back() == '.' || top.back() == ' ')) top.remove_suffix(1);
    for (std::string_view folder : folders)
        if (frame::ascii::equals_nocase(top, folder)) return false;
    return true;
}

}  // namespace host
