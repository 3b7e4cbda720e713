// Where the translator, the runtime library and the macro package are.
//
// quill looks next to its own executable (/proc/self/exe), so an installed
// toolchain and a build tree both work without a fixed path:
//   installed   PREFIX/bin/{quill,rewriter}, PREFIX/lib/quillwright/
//               libquillwright.a, PREFIX/share/quillwright/include
//   build tree  build/bin/{quill,rewriter}, build/lib/libquillwright.a,
//               build/share/quillwright/include (a link to the sources')
// The environment overrides each part: QW_ROOT (the folder holding
// include/), QW_BIN (the folder holding rewriter), QW_REWRITER, QW_LIB.
#include <cstdlib>
#include <limits.h>
#include <unistd.h>

#include "quill.h"

namespace {

std::string parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Paths are handed to tools that run in the program's folder, so a
// relative one is made absolute against the current folder.
std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

std::string own_folder() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  exe[n] = '\0';
  return parent(exe);
}

std::string from_env(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return absolute(value && *value ? value : otherwise);
}

// The first of the candidates that exists, else the first (for messages).
std::string first_present(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates)
    if (access(c.c_str(), F_OK) == 0) return c;
  return candidates.front();
}

}  // namespace

Toolchain locate_toolchain() {
  const std::string bin = own_folder();
  const std::string prefix = parent(bin);
  Toolchain tools;
  tools.root = from_env("QW_ROOT", prefix + "/share/quillwright");
  tools.rewriter = from_env("QW_REWRITER", from_env("QW_BIN", bin) + "/rewriter");
  tools.library = from_env("QW_LIB", first_present({prefix + "/lib/quillwright/libquillwright.a",
                                                    prefix + "/lib/libquillwright.a"}));
  return tools;
}
