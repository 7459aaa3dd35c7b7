// A recorded wire trace played back as a converter behind the HID seam, so
// that ktq (or the window) runs against a customer's converter as it answered
// when the trace was made, and a recorded session becomes a regression test.
//
// The replay enumerates one converter with the identity of the trace's next
// OPEN line (old traces without one get the virtual converter's default
// identity). Every output report the host sends must equal the next recorded
// OUT line, byte for byte; each fetch is answered with the next recorded IN
// line. Recorded OUT-FAIL and IN-FAIL lines fail the transfer, REMOVED
// removes the device (the removal watch fires, then every transfer fails).
//
// Strict: the first output report that differs from the recording, or a
// transfer where the recording has something else, ends the replay: the
// message goes to the sink and every transfer from then on fails, so the
// running command fails honestly. Leniencies, all counted so that a test can
// insist on none: a host that polls more often than recorded gets the last
// recorded reply again (a device keeps answering its state), and recorded
// replies the host never fetched are skipped and reported as unused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid_seam.h"
#include "device/wire_trace_format.h"
#include "sim/seam_binding.h"

namespace ktq::sim {

class TraceReplay {
 public:
  explicit TraceReplay(std::vector<TraceEntry> entries);
  ~TraceReplay();  // unbinds the seam if bound
  TraceReplay(const TraceReplay&) = delete;
  TraceReplay& operator=(const TraceReplay&) = delete;

  // A replay of a trace text; null with `error` ("line 3: ...") when the
  // text is not a valid trace.
  static std::unique_ptr<TraceReplay> FromText(std::string_view text, std::string& error);

  // Recorded time runs `speed` times as fast (1: as recorded); 0, the
  // default, answers as fast as the host asks.
  void SetSpeed(double speed);

  // Receives the message that ends a replay (default: standard error).
  void SetMessageSink(std::function<void(const std::string&)> sink);

  // Binds this replay to the process-wide HID seam (ktq::SetHidBackend);
  // Uninstall (or destruction) puts the previous backend back.
  void Install();
  void Uninstall();

  // Empty while the host did what the recording shows; else the message
  // that ended the replay.
  std::string Divergence() const;

  // What the recording holds that the host never used, as one line
  // ("recorded traffic left unused: 3 lines (lines 40-41, 57)"), followed by
  // a line on fetches answered beyond the recording, if any; empty when the
  // host used exactly what was recorded. Lines past a divergence count.
  std::string UnusedTraffic() const;

  // Fetches answered by repeating the last recorded reply.
  size_t RepeatedFetches() const;

 private:
  friend struct ReplayBackend;

  const TraceEntry* Next() const;
  void Consume();
  void Pace(const TraceEntry& entry);
  void Skip(bool excused);
  void PlayRemovalIfNext();
  void Diverge(std::string message);
  std::string Where(const TraceEntry* entry) const;

  SeamBinding<TraceReplay> binding_;
  std::vector<TraceEntry> entries_;
  size_t next_ = 0;
  double speed_ = 0;
  std::function<void(const std::string&)> sink_;

  bool open_ = false;
  bool removed_ = false;
  TraceDevice openedDevice_;
  const TraceEntry* lastReply_ = nullptr;  // since the last output report
  std::vector<size_t> unusedLines_;
  size_t repeatedFetches_ = 0;
  std::string divergence_;

  // Pacing: when the last line was played, in wall and in recorded time.
  bool paced_ = false;
  int64_t lastWallUs_ = 0;
  uint64_t lastTraceUs_ = 0;

  // The session's removal watch, when one is running.
  void (*onRemoved_)(void*) = nullptr;
  void* removedContext_ = nullptr;

  mutable std::mutex mutex_;
};

}  // namespace ktq::sim
