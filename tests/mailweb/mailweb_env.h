// Where the servers started by the mail and web fixtures keep their files,
// seen from a Windows program under Wine.
#pragma once

#include <string>

namespace mailweb_test {

constexpr int kNginxPort = 12580;
constexpr int kProxyPort = 12588;
constexpr int kSinkPort = 12525;

// QK_MAILWEB_DIR (a Unix path set by ctest) as a Wine path, with a file name
// appended when one is given.
std::string fixture_path(const std::string& name = "");
// The whole file, or an empty text when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace mailweb_test
