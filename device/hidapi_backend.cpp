#include "device/hidapi_backend.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

// hidapi 0.13 cannot tell which node a handle came from, and the removal
// watch needs it, so open does what hid_open does (first enumerated device
// with these IDs) and remembers the path.
std::mutex pathsMutex;
std::map<hid_device*, std::string> openPaths;

hid_device* OpenAndRemember(unsigned short vid, unsigned short pid, const wchar_t* serial) {
  if (serial) return hid_open(vid, pid, serial);
  hid_device_info* list = hid_enumerate(vid, pid);
  std::string path;
  for (hid_device_info* d = list; d; d = d->next) {
    if (d->vendor_id == vid && d->product_id == pid && d->path) {
      path = d->path;
      break;
    }
  }
  hid_free_enumeration(list);
  if (path.empty()) return nullptr;
  hid_device* device = hid_open_path(path.c_str());
  if (device) {
    std::lock_guard<std::mutex> lock(pathsMutex);
    openPaths[device] = path;
  }
  return device;
}

hid_device* OpenPathAndRemember(const char* path) {
  hid_device* device = hid_open_path(path);
  if (device) {
    std::lock_guard<std::mutex> lock(pathsMutex);
    openPaths[device] = path;
  }
  return device;
}

void CloseAndForget(hid_device* device) {
  {
    std::lock_guard<std::mutex> lock(pathsMutex);
    openPaths.erase(device);
  }
  hid_close(device);
}

// One removal watch: a udev monitor on the hidraw subsystem, filtered to the
// open device's node, on a thread of its own; an eventfd asks it to stop.
struct RemovalWatch {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  int stopFd = -1;
  std::string node;
  ktq::HidRemovedFn onRemoved = nullptr;
  void* callbackContext = nullptr;
  std::thread thread;

  ~RemovalWatch() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
    if (stopFd >= 0) close(stopFd);
  }

  bool NodeGone() const {
    struct stat st;
    return stat(node.c_str(), &st) != 0;
  }

  void Run() {
    // The device may have gone between the open and the monitor's start.
    if (NodeGone()) {
      onRemoved(callbackContext);
      return;
    }
    pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      if (!fds[0].revents) continue;
      // Receive on any wake-up: an overrun of the monitor's socket shows as
      // POLLERR alone, which stays set (and poll returns at once) until a
      // receive clears it.
      udev_device* dev = udev_monitor_receive_device(monitor);
      if (!dev) {
        // The overrun may have cost the removal event itself.
        if ((fds[0].revents & POLLERR) && NodeGone()) {
          onRemoved(callbackContext);
          return;
        }
        if (fds[0].revents & (POLLHUP | POLLNVAL)) return;  // the monitor is gone
        continue;
      }
      const char* action = udev_device_get_action(dev);
      const char* devnode = udev_device_get_devnode(dev);
      const bool removed = action && devnode && std::strcmp(action, "remove") == 0 && node == devnode;
      udev_device_unref(dev);
      if (removed) {
        onRemoved(callbackContext);
        return;
      }
    }
  }
};

void* StartRemovalWatch(hid_device* device, ktq::HidRemovedFn onRemoved, void* callbackContext) {
  auto watch = std::make_unique<RemovalWatch>();
  {
    std::lock_guard<std::mutex> lock(pathsMutex);
    auto it = openPaths.find(device);
    if (it == openPaths.end()) return nullptr;
    watch->node = it->second;
  }
  watch->onRemoved = onRemoved;
  watch->callbackContext = callbackContext;
  watch->context = udev_new();
  if (!watch->context) return nullptr;
  watch->monitor = udev_monitor_new_from_netlink(watch->context, "udev");
  if (!watch->monitor) return nullptr;
  if (udev_monitor_filter_add_match_subsystem_devtype(watch->monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(watch->monitor) < 0)
    return nullptr;
  watch->stopFd = eventfd(0, EFD_CLOEXEC);
  if (watch->stopFd < 0) return nullptr;
  RemovalWatch* raw = watch.get();
  raw->thread = std::thread([raw] { raw->Run(); });
  return watch.release();
}

void StopRemovalWatch(void* token) {
  auto* watch = static_cast<RemovalWatch*>(token);
  if (!watch) return;
  const uint64_t one = 1;
  if (write(watch->stopFd, &one, sizeof one) < 0) {
    // The eventfd cannot be full after one write; nothing else can fail here.
  }
  if (watch->thread.joinable()) watch->thread.join();
  delete watch;
}

int Init() { return hid_init(); }
int Exit() { return hid_exit(); }

const ktq::HidBackend kHidapiBackend = {
    Init,           Exit,      hid_enumerate,        hid_free_enumeration, OpenAndRemember, CloseAndForget,
    hid_set_nonblocking, hid_write, hid_get_input_report, StartRemovalWatch,    StopRemovalWatch,
    OpenPathAndRemember,
};

}  // namespace

namespace ktq {

const HidBackend& HidapiBackend() { return kHidapiBackend; }

}  // namespace ktq
