// What the desktop asks of the machine itself: the local disks (the roots a
// user may choose to index), sub-directories, and whether the machine is on
// a network. The page object FTS and the shell's settings pages use it.
//
// Thread-safe.
#ifndef LUN_PLATFORM_DESKTOP_MACHINE_H_
#define LUN_PLATFORM_DESKTOP_MACHINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The mount points of local disk file systems (ext4, xfs, btrfs, vfat, ntfs
// ...) in a mount table in the form of /proc/self/mounts, in table order,
// each once, with the table's octal escapes ("\040" for a blank) decoded.
// Virtual file systems (proc, tmpfs, cgroup ...), network file systems and
// the overlays of containers are left out.
std::vector<std::string> LocalMountPoints(std::string_view mount_table);

// The same for the running system (/proc/self/mounts); empty when it cannot
// be read.
std::vector<std::string> LocalMountPoints();

// The names of the sub-directories of `dir` (links to directories included),
// sorted by byte order; empty when it cannot be read.
std::vector<std::string> SubDirectoryNames(const std::string& dir);

// True when an interface other than loopback is up and has an address.
bool InternetConnected();

}  // namespace lun

#endif  // LUN_PLATFORM_DESKTOP_MACHINE_H_
