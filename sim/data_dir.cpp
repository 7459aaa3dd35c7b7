#include "sim/data_dir.h"

#include <filesystem>
#include <system_error>

namespace ktq::sim {

namespace fs = std::filesystem;

const std::string& SimDataDir() {
  static const std::string dir = [] {
    std::error_code ec;
    const fs::path source = KTQ_PROJECT_DIR;
    if (fs::is_directory(source / "chipdb" / "maps", ec)) return source.string();
    // Installed: the package puts the same two folders under share/.
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      const fs::path installed = program.parent_path().parent_path() / "share" / "ktq-tool";
      if (fs::is_directory(installed / "chipdb" / "maps", ec)) return installed.string();
    }
    // Neither: messages name the files missing from the source tree.
    return source.string();
  }();
  return dir;
}

}  // namespace ktq::sim
