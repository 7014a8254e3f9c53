// Builds multipart/form-data bodies the way browsers send them, for the
// posted file tests and the throughput benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestle_test {

class BodyBuilder {
  public:
    // Chromium's form: four dashes, "WebKitFormBoundary" and 16 characters;
    // the boundary line itself has two more dashes in front.
    explicit BodyBuilder(std::string boundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW") : boundary_(std::move(boundary)) {}

    BodyBuilder& field(std::string_view name, std::string_view value) {
        open_part();
        body_ += "Content-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n";
        body_ += value;
        return *this;
    }
    BodyBuilder& file(std::string_view field, std::string_view filename, std::string_view content,
                      std::string_view type = "application/octet-stream") {
        open_part();
        body_ += "Content-Disposition: form-data; name=\"" + std::string(field) + "\"; filename=\"" +
                 std::string(filename) + "\"\r\n";
        body_ += "Content-Type: " + std::string(type) + "\r\n\r\n";
        body_ += content;
        return *this;
    }
    std::string finish() {
        body_ += "\r\n--" + boundary_ + "--\r\n";
        return body_;
    }
    // The body as it stands, without the closing boundary (a cut upload).
    const std::string& unfinished() const { return body_; }
    std::string boundary_line() const { return "--" + boundary_; }

  private:
    void open_part() {
        if (!body_.empty()) body_ += "\r\n";
        body_ += "--" + boundary_ + "\r\n";
    }
    std::string boundary_;
    std::string body_;
};

inline std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

}  // namespace kestle_test
