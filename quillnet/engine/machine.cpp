// The machine's side of message composition: see machine.h.
#include "quillnet/engine/machine.h"

#include <windows.h>
#include <bcrypt.h>

#include <atomic>
#include <cstdio>

#include "quillnet/engine/server_address.h"

namespace quillnet::engine {

unsigned ansi_code_page() { return ::GetACP(); }

std::string local_domain() {
    char name[256];
    DWORD size = sizeof name;
    if (::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) && size > 0 &&
        valid_host_name(std::string_view(name, size)))
        return std::string(name, size);
    return "localhost";
}

UtcTime utc_now() {
    SYSTEMTIME t;
    ::GetSystemTime(&t);
    UtcTime u;
    u.year = t.wYear;
    u.month = t.wMonth;
    u.day = t.wDay;
    u.week_day = t.wDayOfWeek;
    u.hour = t.wHour;
    u.minute = t.wMinute;
    u.second = t.wSecond;
    return u;
}

// The random bits are drawn once: under Wine each draw costs about as much
// as posting an article.
std::string unique_token() {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long random = [] {
        unsigned long long r = 0;
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&r), sizeof r,
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            r = ::GetTickCount64() ^ (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32);
        return r;
    }();
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    char text[96];
    std::snprintf(text, sizeof text, "%08lx%08lx.%lx.%x.%016llx", static_cast<unsigned long>(now.dwHighDateTime),
                  static_cast<unsigned long>(now.dwLowDateTime), static_cast<unsigned long>(::GetCurrentProcessId()),
                  counter.fetch_add(1) + 1, random);
    return text;
}

}  // namespace quillnet::engine
