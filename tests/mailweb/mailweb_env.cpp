#include "mailweb_env.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mailweb_test {

std::string fixture_path(const std::string& name) {
    const char* dir = std::getenv("QK_MAILWEB_DIR");
    std::string path = std::string("Z:") + (dir ? dir : "/nonexistent");
    if (!name.empty()) path += "/" + name;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace mailweb_test
