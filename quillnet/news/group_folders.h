// The article store on disk: the two machine-wide settings that place it,
// the paths derived from them, and the folders of a group below it.
// Plain C++ over the Windows file and registry calls.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace quillnet {

// The raw texts of the settings "WWWRoot" and "DataRoot".
struct StorageValues {
    std::string wwwRoot;
    std::string dataRoot;
    // "NewsConnectionReuse" (REG_DWORD, seconds): how long a news object's
    // connection may wait for the next object with the same server text.
    // Missing or 0: every object connects for itself and says QUIT.
    int connectionReuseSeconds = 0;
};

// Reads both values below HKEY_LOCAL_MACHINE\Software\Yarrowfen\Quillnet. A
// missing key or value, a value that is not REG_SZ, or one longer than 127
// characters reads as the empty text.
StorageValues ReadStorageValues();

// The web root with a trailing backslash.
std::string DeriveStorageRoot(std::string_view wwwRoot);
// The data folder relative to the web root: one leading backslash dropped,
// a trailing backslash added.
std::string DeriveDataFolder(std::string_view dataRoot);

// Makes the drive of the root's first letter the process's current drive;
// anything else is left alone.
void ChangeToRootDrive(std::string_view storageRoot);

// A root the store can live under: "X:\..." or "\\server\share\...". An
// empty root (a missing setting) would put the store at the top of whatever
// drive is current.
bool IsUsableStorageRoot(std::string_view storageRoot);

// One part of a group name that may become a folder of its own: not empty,
// not "." or "..", no character Windows refuses or treats as a separator,
// no trailing dot or blank (Windows would drop them and so merge two
// groups' folders), no device name.
bool IsCreatableFolderName(std::string_view part);

// The current drive and folder belong to the whole process: everything that
// changes them while preparing store folders holds this lock.
std::mutex& StoreFolderLock();

// Creates the folders of a group below `base` (which must exist), one per
// dot-separated part, by absolute path, and makes the last one reached the
// current folder. A part that may not become a folder is never named in a
// path; like a part whose folder cannot be created it is passed over, and
// the next part goes into the last folder reached. `relative` gets each
// created part and a backslash appended. Returns 0, or -2 when the base cannot be entered or a part
// cannot be created. Call with StoreFolderLock held.
int CreateGroupFolders(const std::string& base, std::string_view group, std::string& relative);

}  // namespace quillnet
