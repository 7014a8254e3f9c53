// What composing and sending a message needs from the machine it runs on:
// the ANSI code page, this machine's name, the clock, and a token no other
// message shares. The only Windows calls of mail and news composition sit
// behind these (machine.cpp); the composition and the conversations take
// what they return as inputs, so they stay plain C++ and build natively
// (fuzz/native/machine.cpp answers there with fixed values).
#pragma once

#include <string>

namespace quillnet::engine {

// UTF-8 as a code page number, as the page's UTF-8 mode names it.
inline constexpr unsigned kCodePageUtf8 = 65001;

// A moment in UTC, by calendar.
struct UtcTime {
    unsigned year = 1970, month = 1, day = 1;  // month 1-12
    unsigned week_day = 4;                     // 0 is Sunday
    unsigned hour = 0, minute = 0, second = 0;
};

// The ANSI code page the page's texts are in unless it asked for UTF-8.
unsigned ansi_code_page();
// This machine's fully qualified name, or "localhost".
std::string local_domain();
UtcTime utc_now();
// Time, process and counter make it unique on one machine; random bits
// drawn once per process make it unique across machines that share a name.
// Hex digits and dots only.
std::string unique_token();

}  // namespace quillnet::engine
