#include "mailweb_env.h"

#include <windows.h>

#include <algorithm>
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

std::string fault_log(const std::string& name) {
    const char* dir = std::getenv("QK_FAULT_LOGS");
    std::string path = std::string("Z:") + (dir ? dir : "/nonexistent") + "/" + name + ".log";
    std::replace(path.begin(), path.end(), '/', '\\');
    return read_file(path);
}

std::map<std::string, std::string> received(const std::string& first_recipient, const std::string& spool) {
    std::map<std::string, std::string> fields;
    std::istringstream in(read_file(fixture_path(spool + "/" + first_recipient + ".txt")));
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    if (!fields.empty()) fields["body"] = read_file(fixture_path(spool + "/" + first_recipient + ".body"));
    return fields;
}

std::string unique_box(const char* what) {
    static int n = 0;
    return std::string(what) + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++n) +
           "@example.test";
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace mailweb_test
