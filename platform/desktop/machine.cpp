#include "platform/desktop/machine.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace lun {
namespace {

constexpr std::array<std::string_view, 20> kDiskFileSystems = {
    "ext2",     "ext3",    "ext4",  "xfs",     "btrfs",  "f2fs",     "jfs",
    "reiserfs", "vfat",    "msdos", "exfat",   "ntfs",   "ntfs3",    "fuseblk",
    "hfs",      "hfsplus", "udf",   "iso9660", "nilfs2", "bcachefs",
};

// Decodes the "\ooo" escapes the kernel writes for blanks, tabs, line
// breaks and backslashes in mount points.
std::string DecodeMountField(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out +=
            static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

}  // namespace

std::vector<std::string> LocalMountPoints(std::string_view mount_table) {
  std::vector<std::string> points;
  std::istringstream lines{std::string(mount_table)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string device, mount_point, type;
    if (!(fields >> device >> mount_point >> type)) continue;
    if (std::find(kDiskFileSystems.begin(), kDiskFileSystems.end(), type) ==
        kDiskFileSystems.end()) {
      continue;
    }
    std::string point = DecodeMountField(mount_point);
    if (std::find(points.begin(), points.end(), point) == points.end()) {
      points.push_back(std::move(point));
    }
  }
  return points;
}

std::vector<std::string> LocalMountPoints() {
  std::ifstream in("/proc/self/mounts");
  std::stringstream text;
  text << in.rdbuf();
  return LocalMountPoints(text.str());
}

std::vector<std::string> SubDirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const std::string& path : ListDirectory(dir)) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(BaseName(path));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool InternetConnected() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool connected = false;
  for (const ifaddrs* a = list; a && !connected; a = a->ifa_next) {
    connected = a->ifa_addr && (a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK) &&
                (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6);
  }
  freeifaddrs(list);
  return connected;
}

}  // namespace lun
