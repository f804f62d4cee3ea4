// Mapping a decoded request path to a file under the web root, and the check
// that a file lies inside the root.
//
// These read the file system (existence, attributes, symbolic links) but no
// socket; they are safe to call from any thread.
#ifndef LUN_WEB_PATH_MAP_H_
#define LUN_WEB_PATH_MAP_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The components of a decoded request path as the mapping walks them: "\"
// counts as "/", empty and "." components are dropped, ".." removes the
// component before it (and is dropped when there is none). False, with no
// components, for a path that holds a NUL byte or does not start with "/" or
// "\". Every component returned is a plain name: not empty, not "." or "..",
// without "/", "\" or NUL. Pure.
bool SplitTargetPath(std::string_view path, std::vector<std::string>* components);

struct MappedPath {
  bool found = false;         // false: the path does not exist or cannot be mapped
  std::string path;           // the file or directory; a directory ends in "/"
  bool is_directory = false;
};

// Maps the decoded request path `path` onto `web_root` (an absolute directory
// ending in "/"). "\" counts as "/", doubled slashes are one, "." components
// are dropped and ".." removes the component before it; a ".." with nothing
// before it is dropped, so no spelling climbs above the root. Once the path
// built so far names an existing file that is not a directory, the remaining
// components are appended to `*query_string` (each after "&" unless the query
// string is empty): "/LUN/Search.shl/a=1/b=2" runs Search.shl with "a=1&b=2".
// A path that does not start with "/" (a relative or absolute-URL target) or
// that holds a NUL byte is not mapped.
MappedPath MapPath(std::string_view web_root, std::string_view path, std::string* query_string);

// True when `path`, with symbolic links and ".." resolved, is `web_root` or
// lies inside it (a whole-component prefix: "/srv/root2" is not inside
// "/srv/root"). A path that cannot be resolved is not inside.
bool IsUnderRoot(std::string_view web_root, std::string_view path);

}  // namespace lun

#endif  // LUN_WEB_PATH_MAP_H_
