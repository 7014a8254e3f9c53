// The one rule for turning a name someone else chose (a poster's attachment
// name, a browser's upload name, a part of a group name) into a name we may
// create inside a given folder. Plain C++ with no Windows calls, so the
// native fuzz build links it as it is.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace frame {

// Which bytes of the caller's code page start a double-byte character; the
// byte after one is never a separator or a refused character. A caller on
// a single-byte or UTF-8 text passes none.
using LeadBytes = std::array<bool, 256>;

enum class NameSource {
    // A name that may carry a sender's path ("C:\x\name", "../../name"):
    // only the last element counts, a drive prefix goes with the path, and
    // refused characters are dropped.
    sender_path,
    // A name already cut from its path by the caller (an upload's file
    // name): refused characters become "_", so "a:b.txt" stays readable.
    plain_name,
};

// Device names Windows opens in every folder, whatever follows the first
// dot and whatever blanks stand before it: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, CLOCK$, COM0-9 and LPT0-9 (with the superscript digits 1, 2, 3
// of the Latin code pages, which Windows takes as port numbers too).
bool is_device_name(std::string_view name) noexcept;

// The names our atomic writer gives its temporary files ("~qn*.tmp"); no
// reported name may take one, or a writer could rename over it.
bool is_temporary_file_name(std::string_view name) noexcept;

// Characters no name may hold: controls, DEL, and < > : " / \ | ? *.
bool is_refused_in_names(unsigned char c) noexcept;

// The reported name made safe, or empty when nothing usable is left:
// separators, drive prefix and refused characters handled as `source`
// says, trailing blanks and dots removed (Windows drops them, so "." and
// ".." come out empty), and a device name or a temporary-file name gets a
// "_" in front.
std::string safe_name(std::string_view reported, NameSource source, const LeadBytes* lead = nullptr);

// True when the text is already a safe name exactly as it stands, so a
// caller that must not alter a name (a folder named after a group) can
// refuse it instead.
bool is_safe_name(std::string_view name) noexcept;

}  // namespace frame
