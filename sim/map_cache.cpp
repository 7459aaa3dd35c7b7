#include "sim/map_cache.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace ktq::sim {

namespace {

namespace fs = std::filesystem;

struct FileStamp {
  uintmax_t size = 0;
  fs::file_time_type modified{};
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  std::error_code ec;
  FileStamp stamp;
  stamp.size = fs::file_size(path, ec);
  if (ec) return {};
  stamp.modified = fs::last_write_time(path, ec);
  return ec ? FileStamp{} : stamp;
}

struct Cached {
  std::shared_ptr<const regmap::Map> map;
  std::vector<FileStamp> stamps;  // of map->files
};

bool StillCurrent(const Cached& cached) {
  for (size_t i = 0; i < cached.map->files.size(); ++i) {
    if (StampOf(cached.map->files[i]) != cached.stamps[i]) return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const regmap::Map> LoadRegisterMap(const std::string& path, std::string& error) {
  static std::mutex mutex;
  static std::map<std::string, Cached> cache;
  std::lock_guard<std::mutex> lock(mutex);
  if (const auto it = cache.find(path); it != cache.end() && StillCurrent(it->second)) return it->second.map;

  auto map = std::make_shared<regmap::Map>();
  if (!regmap::ParseMapFile(path, *map, error)) return nullptr;
  Cached entry;
  for (const std::string& file : map->files) entry.stamps.push_back(StampOf(file));
  entry.map = std::move(map);
  cache[path] = entry;
  return entry.map;
}

}  // namespace ktq::sim
