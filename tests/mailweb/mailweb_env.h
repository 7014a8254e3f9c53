// Where the servers started by the mail and web fixtures keep their files,
// seen from a Windows program under Wine.
#pragma once

#include <map>
#include <string>

#include "test_ports.h"

namespace mailweb_test {

constexpr int kNginxPort = QK_PORT_NGINX;
constexpr int kProxyPort = QK_PORT_PROXY;
constexpr int kSinkPort = QK_PORT_SMTP_SINK;

// QK_MAILWEB_DIR (a Unix path set by ctest) as a Wine path, with a file name
// appended when one is given.
std::string fixture_path(const std::string& name = "");
// The whole file, or an empty text when it cannot be read.
std::string read_file(const std::string& path);

// What the clients said to the fault server's case NAME (QK_FAULT_LOGS).
std::string fault_log(const std::string& name);

// One received message as the sink decoded it ("key: value" lines and the
// decoded "body"), from the fixture folder's spool; empty when none came.
std::map<std::string, std::string> received(const std::string& first_recipient, const std::string& spool = "spool");

// A mailbox no other test or run uses, so its spool files are its own.
std::string unique_box(const char* what);

}  // namespace mailweb_test
