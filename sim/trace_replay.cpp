#include "sim/trace_replay.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "device/hid_session.h"
#include "sim/hid_device_list.h"
#include "sim/report_byte_map.h"
#include "sim/virtual_host.h"

namespace ktq::sim {

namespace {

TraceReplay* current = nullptr;

// The one device a replay opens; its address is the handle.
char replayHandle;
hid_device* const kHandle = reinterpret_cast<hid_device*>(&replayHandle);

// The session's watch token; the replay holds the callback itself.
char watchToken;

int64_t WallMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}


TraceDevice DefaultDevice() {
  const DeviceIdentity id = VirtualHost::DefaultConverterIdentity(0);
  return {id.path, id.vendorId, id.productId, id.serial, id.product};
}

bool Excused(const TraceEntry& e) { return e.word == TraceWord::kOutFail || e.word == TraceWord::kInFail; }

}  // namespace

// The seam functions, bound to `current`.
struct ReplayBackend {
  static int Init() { return current ? 0 : -1; }
  static int Exit() { return 0; }

  static hid_device_info* Enumerate(unsigned short vid, unsigned short pid) {
    if (!current) return nullptr;
    std::optional<TraceDevice> shown;
    {
      std::lock_guard<std::mutex> lock(current->mutex_);
      if (current->open_ && !current->removed_) {
        shown = current->openedDevice_;
      } else if (current->divergence_.empty()) {
        // The converter is there when the recording opens it next.
        for (size_t i = current->next_; i < current->entries_.size(); ++i) {
          if (current->entries_[i].word != TraceWord::kOpen) continue;
          shown = current->entries_[i].device.value_or(DefaultDevice());
          break;
        }
      }
    }
    if (!shown || (vid && shown->vendorId != vid) || (pid && shown->productId != pid)) return nullptr;
    DeviceIdentity id;
    id.path = shown->path;
    id.vendorId = shown->vendorId;
    id.productId = shown->productId;
    id.serial = shown->serial;
    id.product = shown->product;
    return NewHidDeviceInfo(id);
  }

  static void FreeEnumeration(hid_device_info* list) { FreeHidDeviceInfoList(list); }

  static hid_device* Open(unsigned short vid, unsigned short pid, const wchar_t*) {
    return OpenMatching([vid, pid](const TraceDevice& d) { return d.vendorId == vid && d.productId == pid; });
  }

  static hid_device* OpenPath(const char* path) {
    if (!path) return nullptr;
    const std::string wanted = path;
    return OpenMatching([&wanted](const TraceDevice& d) { return d.path == wanted; });
  }

  // The next recorded line must be an OPEN of a device that `matches`.
  template <typename Match>
  static hid_device* OpenMatching(const Match& matches) {
    if (!current) return nullptr;
    TraceReplay& r = *current;
    std::lock_guard<std::mutex> lock(r.mutex_);
    if (!r.divergence_.empty() || r.open_) return nullptr;
    const TraceEntry* e = r.Next();
    if (!e) return nullptr;  // nothing more was recorded: the device is gone
    if (e->word != TraceWord::kOpen) {
      r.Diverge(r.Where(e) + ": the host opened the device where the recording has " + TraceWordName(e->word));
      return nullptr;
    }
    const TraceDevice device = e->device.value_or(DefaultDevice());
    if (!matches(device)) return nullptr;
    r.Pace(*e);
    r.Consume();
    r.open_ = true;
    r.removed_ = false;
    r.openedDevice_ = device;
    r.lastReply_ = nullptr;
    r.PlayRemovalIfNext();
    return kHandle;
  }

  static void Close(hid_device*) {
    if (!current) return;
    TraceReplay& r = *current;
    std::lock_guard<std::mutex> lock(r.mutex_);
    r.open_ = false;
    if (!r.divergence_.empty()) return;
    // What the host skipped by closing earlier than recorded is unused;
    // failures recorded after a removal never reach a backend.
    const bool removed = r.removed_;
    while (const TraceEntry* e = r.Next()) {
      if (e->word == TraceWord::kOpen) break;
      if (e->word == TraceWord::kClose) {
        r.Pace(*e);
        r.Consume();
        break;
      }
      r.Skip(removed && Excused(*e));
    }
  }

  static int SetNonblocking(hid_device* device, int) { return device ? 0 : -1; }

  static int Write(hid_device*, const unsigned char* data, size_t length) {
    if (!current) return -1;
    TraceReplay& r = *current;
    std::lock_guard<std::mutex> lock(r.mutex_);
    if (!r.divergence_.empty() || !r.open_) return -1;
    // Replies the host did not wait for.
    while (r.Next() && (r.Next()->word == TraceWord::kIn || r.Next()->word == TraceWord::kInFail)) r.Skip(false);
    const TraceEntry* e = r.Next();
    if (r.removed_) {
      if (e && e->word == TraceWord::kOutFail) r.Consume();
      return -1;
    }
    if (!e || (e->word != TraceWord::kOut && e->word != TraceWord::kOutFail)) {
      r.Diverge((e ? r.Where(e) + ": the recording has " + TraceWordName(e->word) : r.Where(e)) +
                " where the host sent an output report\n  request:  " + DescribeRequest(data) +
                "\n  received: " + HexBytes(data, length));
      return -1;
    }
    if (e->word == TraceWord::kOut) {
      size_t differs = 0;
      while (differs < length && differs < e->report.size() && data[differs] == e->report[differs]) ++differs;
      if (length != e->report.size() || differs < length) {
        const uint8_t* recorded = e->report.data();
        std::string message = r.Where(e) + ": the output report differs from the recording\n";
        message += "  request:  " + DescribeRequest(recorded) + "\n";
        if (differs < length) {
          char values[64];
          std::snprintf(values, sizeof values, ": recorded %02X, received %02X", recorded[differs], data[differs]);
          message += "  first difference at byte " + std::to_string(differs) + " (" +
                     ByteMeaning(recorded, differs) + ")" + values + "\n";
        } else {
          message += "  the host sent " + std::to_string(length) + " bytes\n";
        }
        message += "  recorded: " + HexBytes(recorded, e->report.size()) + "\n";
        message += "  received: " + HexBytes(data, length) + "\n";
        message += "            " + std::string(3 * differs, ' ') + "^^";
        r.Diverge(std::move(message));
        return -1;
      }
    }
    r.Pace(*e);
    const bool sent = e->word == TraceWord::kOut;
    r.Consume();
    r.lastReply_ = nullptr;
    r.PlayRemovalIfNext();
    return sent ? static_cast<int>(length) : -1;
  }

  static int GetInputReport(hid_device*, unsigned char* data, size_t length) {
    if (!current) return -1;
    TraceReplay& r = *current;
    std::lock_guard<std::mutex> lock(r.mutex_);
    if (!r.divergence_.empty() || !r.open_) return -1;
    const TraceEntry* e = r.Next();
    if (r.removed_) {
      if (e && e->word == TraceWord::kInFail) r.Consume();
      return -1;
    }
    const TraceEntry* reply = nullptr;
    if (e && (e->word == TraceWord::kIn || e->word == TraceWord::kInFail)) {
      r.Pace(*e);
      r.Consume();
      reply = r.lastReply_ = e;
    } else if (r.lastReply_) {
      ++r.repeatedFetches_;
      reply = r.lastReply_;
    } else {
      r.Diverge((e ? r.Where(e) + ": the recording has " + TraceWordName(e->word) : r.Where(e)) +
                " where the host fetched an input report");
      return -1;
    }
    int result = -1;
    if (reply->word == TraceWord::kIn && length == reply->report.size()) {
      std::memcpy(data, reply->report.data(), length);
      result = static_cast<int>(length);
    }
    r.PlayRemovalIfNext();
    return result;
  }

  static void* StartRemovalWatch(hid_device*, HidRemovedFn onRemoved, void* context) {
    if (!current) return nullptr;
    std::lock_guard<std::mutex> lock(current->mutex_);
    current->onRemoved_ = onRemoved;
    current->removedContext_ = context;
    return &watchToken;
  }

  static void StopRemovalWatch(void* token) {
    if (!current || !token) return;
    std::lock_guard<std::mutex> lock(current->mutex_);
    current->onRemoved_ = nullptr;
    current->removedContext_ = nullptr;
  }
};

namespace {

const HidBackend kReplayBackend = {
    ReplayBackend::Init,          ReplayBackend::Exit,           ReplayBackend::Enumerate,
    ReplayBackend::FreeEnumeration, ReplayBackend::Open,         ReplayBackend::Close,
    ReplayBackend::SetNonblocking, ReplayBackend::Write,         ReplayBackend::GetInputReport,
    ReplayBackend::StartRemovalWatch, ReplayBackend::StopRemovalWatch, ReplayBackend::OpenPath,
};

}  // namespace

TraceReplay::TraceReplay(std::vector<TraceEntry> entries)
    : binding_(kReplayBackend, current), entries_(std::move(entries)), sink_([](const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
      }) {}

TraceReplay::~TraceReplay() { Uninstall(); }

std::unique_ptr<TraceReplay> TraceReplay::FromText(std::string_view text, std::string& error) {
  std::vector<TraceEntry> entries;
  if (!ParseTraceText(text, entries, error)) return nullptr;
  return std::make_unique<TraceReplay>(std::move(entries));
}

void TraceReplay::SetSpeed(double speed) { speed_ = speed > 0 ? speed : 0; }

void TraceReplay::SetMessageSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

void TraceReplay::Install() { binding_.Bind(this); }

void TraceReplay::Uninstall() { binding_.Unbind(this); }

std::string TraceReplay::Divergence() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return divergence_;
}

size_t TraceReplay::RepeatedFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return repeatedFetches_;
}

std::string TraceReplay::UnusedTraffic() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<size_t> lines = unusedLines_;
  for (size_t i = next_; i < entries_.size(); ++i) lines.push_back(entries_[i].line);
  std::string text;
  if (!lines.empty()) {
    text = "recorded traffic left unused: " + std::to_string(lines.size()) + (lines.size() == 1 ? " line" : " lines") +
           " (line" + (lines.size() == 1 ? " " : "s ");
    // Runs of consecutive trace lines, at most ten of them.
    size_t runs = 0;
    for (size_t i = 0; i < lines.size();) {
      size_t j = i;
      while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1) ++j;
      if (runs == 10) {
        text += ", ...";
        break;
      }
      text += (runs++ ? ", " : "") + std::to_string(lines[i]);
      if (j > i) text += "-" + std::to_string(lines[j]);
      i = j + 1;
    }
    text += ")";
  }
  if (repeatedFetches_) {
    if (!text.empty()) text += "\n";
    text += std::to_string(repeatedFetches_) + " fetches beyond the recording were answered with the last recorded reply";
  }
  return text;
}

const TraceEntry* TraceReplay::Next() const { return next_ < entries_.size() ? &entries_[next_] : nullptr; }

void TraceReplay::Consume() { ++next_; }

void TraceReplay::Skip(bool excused) {
  if (!excused) unusedLines_.push_back(entries_[next_].line);
  ++next_;
}

// Each line is due its recorded distance after the one before it, counted
// from when that one was played: a host that took longer (the user at a
// prompt) is not rushed afterwards.
void TraceReplay::Pace(const TraceEntry& entry) {
  if (speed_ <= 0) return;
  if (paced_ && entry.micros > lastTraceUs_) {
    const auto due = lastWallUs_ + static_cast<int64_t>(static_cast<double>(entry.micros - lastTraceUs_) / speed_);
    const int64_t now = WallMicros();
    if (due > now) std::this_thread::sleep_for(std::chrono::microseconds(due - now));
  }
  paced_ = true;
  lastWallUs_ = WallMicros();
  lastTraceUs_ = entry.micros;
}

// The recording saw the device go away here: the session's watch fires on a
// thread of its own, and the transfer that led here returns only once the
// session knows, so that what follows fails as it did when recorded.
void TraceReplay::PlayRemovalIfNext() {
  const TraceEntry* e = Next();
  if (!e || e->word != TraceWord::kRemoved) return;
  Pace(*e);
  Consume();
  removed_ = true;
  if (onRemoved_) {
    std::thread watch(onRemoved_, removedContext_);
    watch.join();
  }
}

void TraceReplay::Diverge(std::string message) {
  divergence_ = "replay stopped at " + std::move(message);
  if (sink_) sink_(divergence_);
}

std::string TraceReplay::Where(const TraceEntry* entry) const {
  if (entry) return "trace line " + std::to_string(entry->line);
  return "the end of the trace (" + std::to_string(entries_.empty() ? 0 : entries_.back().line) + " lines)";
}

}  // namespace ktq::sim
