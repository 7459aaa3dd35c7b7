#include "tools/faults/campaign.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>


namespace ktq::faults {

namespace {

// RC command codes as the converter knows them.
constexpr uint8_t kEnable = 0x01, kDisable = 0x02, kErase = 0x14, kActivate = 0x18, kSpiBus = 0x1A,
                  kReadLog = 0x1B, kLogControl = 0x1D, kWriteFlash = 0x20, kWriteMemory = 0x21,
                  kReadMemory = 0x31, kReadEdid = 0x50;

constexpr uint32_t kType5Image = 0x50000;
constexpr uint32_t kType6Image = 0x7F000;
constexpr size_t kLogRecords = 24;
constexpr size_t kRecordBytes = 32, kStoredRecordBytes = 68;
// The erase's reply budget; an erase that outlasts it leaves the chip busy.
constexpr uint64_t kEraseBudgetMs = 60'000;
// What one fault may cost on top of the run itself: the longest budget
// (the erase's 60 s) twice over, and slack.
constexpr uint64_t kFaultAllowanceUs = 130'000'000;
constexpr auto kWallLimit = std::chrono::seconds(120);

std::string ReadAll(const std::string& path, bool* exists = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (exists) *exists = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string RandomBytes(std::mt19937_64& rng, size_t n) {
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(rng());
  return bytes;
}

// A number in [0, n).
uint64_t Below(std::mt19937_64& rng, uint64_t n) { return n == 0 ? 0 : rng() % n; }

std::mt19937_64 RunRandom(uint64_t seed, size_t index) {
  std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32), static_cast<uint32_t>(index),
                    static_cast<uint32_t>(index >> 32)};
  return std::mt19937_64(seq);
}

std::string ShellQuote(const std::string& word) {
  if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_=./:@%+") ==
      std::string::npos)
    return word;
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ExpectedLog(const std::vector<std::vector<uint8_t>>& records) {
  std::string log;
  for (const auto& r : records) {
    if (r[2] > 59) continue;
    log.append(r.begin(), r.end());
    log.append(kStoredRecordBytes - kRecordBytes, '\0');
  }
  return log;
}

// The device layer's diagnostics on standard output, which a run with a
// fault adds however it ends.
std::string WithoutTransferDiagnostics(std::string text) {
  static const char* const kDiagnostics[] = {"RCSetCommand : Usb2 set output report failed\r",
                                             "RCGetCommand : Usb2 set output report failed:\r",
                                             "Get Input Report failed\r"};
  for (const char* d : kDiagnostics) {
    const std::string what = d;
    for (size_t at; (at = text.find(what)) != std::string::npos;) text.erase(at, what.size());
  }
  return text;
}

// The dump names the time it was taken ("12:34:56 12/10/2026").
std::string WithoutTimeOfDay(std::string text) {
  static const std::regex kTime("[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{2}/[0-9]{2}/[0-9]{4}");
  return std::regex_replace(text, kTime, "TIME");
}

const std::string kPreviousOutput = "an older log that must survive a failed capture\n";

}  // namespace

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"flash type 5", 5, false, {"flash", "@image", "--yes"}, Outcome::kFlash,
       {kEnable, kErase, kWriteFlash, kActivate, kDisable, kReadMemory}, kWriteFlash},
      {"flash type 6", 6, false, {"flash", "@image", "--yes"}, Outcome::kFlash,
       {kEnable, kErase, kWriteFlash, kActivate, kDisable, kReadMemory}, kWriteFlash},
      {"cascade", 5, true, {"cascade", "@image", "--yes"}, Outcome::kCascade,
       {kEnable, kSpiBus, kReadMemory, kWriteMemory, kErase, kWriteFlash, kDisable}, kWriteFlash},
      {"tefra type 5", 5, false, {"tefra", "@out"}, Outcome::kTefra, {kLogControl, kReadLog, kReadMemory}, kReadLog},
      {"tefra type 6", 6, false, {"tefra", "@out"}, Outcome::kTefra, {kLogControl, kReadLog, kReadMemory}, kReadLog},
      {"info type 5", 5, false, {"info"}, Outcome::kOutput, {kReadMemory, kEnable}, kReadMemory},
      {"info type 6", 6, false, {"info"}, Outcome::kOutput, {kReadMemory, kEnable}, kReadMemory},
      {"read", 5, false, {"read", "0x20200D20", "72"}, Outcome::kOutput, {kReadMemory, kEnable}, kReadMemory},
      {"reg read", 5, false, {"reg", "read", "CORE_DFT_BUILD_DATE"}, Outcome::kOutput, {kReadMemory, kEnable},
       kReadMemory},
      {"reg read type 6", 6, false, {"reg", "read", "CORE_GPIO_RX"}, Outcome::kOutput, {kReadMemory, kEnable},
       kReadMemory},
      {"edid read input", 5, false, {"edid", "read", "0"}, Outcome::kOutput, {kReadMemory, kReadEdid, kEnable},
       kReadEdid},
      {"edid read output", 6, false, {"edid", "read", "1"}, Outcome::kOutput,
       {kReadMemory, kReadEdid + 1, kEnable}, kReadEdid + 1},
      {"edid read unplugged output", 5, false, {"edid", "read", "2"}, Outcome::kOutput,
       {kReadMemory, kReadEdid + 2, kEnable}, kReadMemory},
      {"list", 5, false, {"list"}, Outcome::kOutput, {}, 0},
      {"dump type 5", 5, false, {"dump", "@out"}, Outcome::kOutputFile, {kReadMemory, kReadEdid, kEnable},
       kReadMemory},
      {"dump type 6", 6, false, {"dump", "@out"}, Outcome::kOutputFile, {kReadMemory, kReadEdid + 1, kEnable},
       kReadMemory},
  };
  return ops;
}

Campaign::Campaign(std::string ktq, std::string workDir, uint64_t seed)
    : ktq_(std::move(ktq)), workDir_(std::move(workDir)), seed_(seed) {
  std::mt19937_64 rng = RunRandom(seed, SIZE_MAX);
  image5_ = RandomBytes(rng, kType5Image);
  image6_ = RandomBytes(rng, kType6Image);
  // Byte 2 of a record is its validity mark: some records are dropped.
  for (size_t i = 0; i < kLogRecords; ++i) {
    std::vector<uint8_t> r(kRecordBytes);
    for (auto& b : r) b = static_cast<uint8_t>(rng());
    r[2] = static_cast<uint8_t>(Below(rng, 80));
    tefraRecords_.push_back(r);
  }
}

std::string Campaign::RunDir(size_t index) const { return workDir_ + "/run-" + std::to_string(index); }

nlohmann::json Campaign::BaseScenario(const Operation& op) const {
  nlohmann::json records = nlohmann::json::array();
  for (const auto& r : tefraRecords_) records.push_back(r);
  nlohmann::json device = {
      {"path", "sim:faults"},
      {"chip", {{"type", op.chipType}}},
      {"rc_mode", false},
      {"timing", {{"pending_polls", 1}}},
      {"flash", {{"erase_time_ms", 300}}},
      {"tefra", {{"records", records}, {"final_status", 7}}},
      {"edid",
       {{"input", "sim/scenarios/edids/monitor-dp.bin"},
        {"outputs",
         {{{"file", "sim/scenarios/edids/tv-4k.bin"}},
          {{"file", "sim/scenarios/edids/monitor-dp.bin"}, {"hot_plug", false}}}}}},
  };
  if (op.companion) device["rdx4410"] = {{"mcu_pending_reads", 1}};
  nlohmann::json save = {{"flash", "flash.bin"}, {"rdx4410", "rdx.json"}, {"state", "state.json"}};
  if (op.companion) save["shared_flash"] = "shared.bin";
  return {{"description", std::string("fault campaign: ") + op.name},
          {"clock", "virtual"},
          {"devices", {device}},
          {"save_at_exit", save}};
}

bool Campaign::MeasureBaselines(std::string& error) {
  for (const Operation& op : Operations()) {
    RunPlan plan;
    plan.op = &op;
    plan.scenario = BaseScenario(op);
    plan.fault = "none";
    const std::string dir = workDir_ + "/baseline-" + std::to_string(&op - Operations().data());
    ::mkdir(dir.c_str(), 0755);
    const std::string command = Prepare(plan, dir);
    std::vector<std::string> argv = {ktq_, "--simulate=scenario.json"};
    for (const std::string& a : op.args) argv.push_back(a == "@image" ? "image.bin" : a == "@out" ? "out.bin" : a);
    const ChildResult child = RunChild(argv, dir, dir + "/stdout", dir + "/stderr", kWallLimit);
    bool haveState = false;
    const std::string stateText = ReadAll(dir + "/state.json", &haveState);
    if (child.exitStatus == 2 && ReadAll(dir + "/stderr").find("unknown command") != std::string::npos) {
      std::fprintf(stderr, "ktq-faults: note: ktq has no command %s; left out\n", op.args[0].c_str());
      continue;
    }
    if (!child.started || child.timedOut || child.signal || !haveState) {
      error = std::string(op.name) + ": the run without a fault did not end normally (" + command + ")";
      return false;
    }
    const auto state = nlohmann::json::parse(stateText, nullptr, false);
    available_.push_back(&op);
    Baseline& b = baselines_[op.name];
    b.outputFile = ReadAll(dir + "/out.bin");
    b.exitStatus = child.exitStatus;
    b.out = ReadAll(dir + "/stdout");
    b.mainFlash = ReadAll(dir + "/flash.bin");
    b.requests = state.value("requests", uint64_t{0});
    b.elapsedUs = state.value("elapsed_us", uint64_t{0});
    if (op.outcome != Outcome::kOutput && b.exitStatus != 0) {
      error = std::string(op.name) + ": fails without a fault (exit " + std::to_string(b.exitStatus) + "): " + command;
      return false;
    }
  }
  return true;
}

RunPlan Campaign::Plan(size_t index) const {
  std::mt19937_64 rng = RunRandom(seed_, index);
  RunPlan plan;
  plan.index = index;
  plan.op = available_[Below(rng, available_.size())];
  const Operation& op = *plan.op;
  const Baseline& base = baselines_.at(op.name);
  plan.scenario = BaseScenario(op);
  nlohmann::json& device = plan.scenario["devices"][0];
  plan.outputExists = (op.outcome == Outcome::kTefra || op.outcome == Outcome::kOutputFile) && Below(rng, 2) == 0;

  // Seven in ten runs get a fault of the RC link, the rest a misbehaviour
  // of a modelled part.
  if (Below(rng, 10) < 7 || op.commands.empty()) {
    static const char* const kKinds[] = {"send_failure", "fetch_failure", "never_complete", "status", "unplug"};
    const std::string kind = kKinds[Below(rng, 5)];
    nlohmann::json fault = {{"kind", kind}};
    std::string where;
    if (kind == "unplug") {
      const uint64_t after = Below(rng, base.requests + 1);
      fault["after_requests"] = after;
      where = "after " + std::to_string(after) + " requests";
    } else {
      uint64_t skip = Below(rng, base.requests + 1);
      if (!op.commands.empty() && Below(rng, 2) == 0) {
        const uint8_t command = op.commands[Below(rng, op.commands.size())];
        fault["command"] = command;
        // A command sent a few times is hit at one of its first sendings,
        // the bulk command anywhere in the run.
        if (command != op.bulkCommand) skip = Below(rng, 3);
        where = "on command " + Hex(command) + " ";
      }
      fault["skip"] = skip;
      where += "after " + std::to_string(skip) + " matching requests";
      const uint64_t roll = Below(rng, 20);
      const uint64_t times = roll < 17 ? 1 : roll < 19 ? 2 + Below(rng, 2) : 0;
      fault["times"] = times;
      if (times != 1) where += times == 0 ? ", from then on" : ", " + std::to_string(times) + " times";
      if (kind == "fetch_failure") {
        fault["fetch"] = 1 + Below(rng, 3);
        fault["fetches"] = 1 + Below(rng, 12);
        where += ", fetches " + fault["fetch"].dump() + " to " +
                 std::to_string(fault["fetch"].get<uint64_t>() + fault["fetches"].get<uint64_t>() - 1);
      }
      if (kind == "status") {
        static const uint8_t kStatuses[] = {1, 2, 3, 4, 5, 7, 0x33, 0x80, 0x90, 0x92, 0xE1, 0xFF};
        fault["status"] = kStatuses[Below(rng, sizeof kStatuses)];
        where = "status " + Hex(fault["status"].get<unsigned>()) + " " + where;
      }
      // A refused or lost UPDC_DISABLE_RC leaves the chip in update mode
      // whatever the host does.
    }
    device["faults"] = {fault};
    plan.fault = kind + " " + where;
    return plan;
  }

  struct ModelFault {
    const char* what;
    bool applies;
    std::function<void(nlohmann::json&)> apply;
  };
  const bool writesFlash = op.outcome == Outcome::kFlash || op.outcome == Outcome::kCascade;
  const uint64_t chunks = (op.chipType == 6 ? kType6Image : kType5Image) / 32;
  const uint64_t pendingPolls = Below(rng, 7), latency = Below(rng, 1501), afterChunk = 1 + Below(rng, chunks);
  const uint64_t eraseMs = Below(rng, 4) == 0 ? kEraseBudgetMs + 1000 + Below(rng, 30'000) : Below(rng, 50'000);
  const uint64_t finalStatus = 1 + Below(rng, 255), count = 1 + Below(rng, 4), status = 1 + Below(rng, 3);
  const std::vector<ModelFault> faults = {
      {"slow replies", true,
       [&](nlohmann::json& d) { d["timing"] = {{"pending_polls", pendingPolls}, {"latency_us", latency}}; }},
      {"open fails", true, [](nlohmann::json& d) { d["open_fails"] = true; }},
      {"RC mode on at power-up", true, [](nlohmann::json& d) { d["rc_mode"] = true; }},
      {"log ends with another status", op.outcome == Outcome::kTefra,
       [&](nlohmann::json& d) { d["tefra"]["final_status"] = finalStatus; }},
      {"unplugged after a chunk", writesFlash, [&](nlohmann::json& d) { d["flash"]["unplug_after_chunk"] = afterChunk; }},
      {"slow erase", writesFlash, [&](nlohmann::json& d) { d["flash"]["erase_time_ms"] = eraseMs; }},
      {"RDX4410 silent", op.companion, [](nlohmann::json& d) { d["rdx4410"]["silent"] = true; }},
      {"RDX4410 MCU hung", op.companion, [](nlohmann::json& d) { d["rdx4410"]["mcu_hung"] = true; }},
      {"RDX4410 misses triggers", op.companion, [&](nlohmann::json& d) { d["rdx4410"]["missed_triggers"] = count; }},
      {"RDX4410 ignores the enable", op.companion, [](nlohmann::json& d) { d["rdx4410"]["enable_ignored"] = true; }},
      {"RDX4410 enable status", op.companion, [&](nlohmann::json& d) { d["rdx4410"]["enable_status"] = status; }},
      {"RDX4410 refuses activations", op.companion,
       [&](nlohmann::json& d) { d["rdx4410"]["fail_activations"] = count; }},
      {"RDX4410 slow mailbox", op.companion,
       [&](nlohmann::json& d) { d["rdx4410"]["mcu_pending_reads"] = pendingPolls; }},
      {"RDX4410 slow bus", op.companion, [](nlohmann::json& d) { d["rdx4410"]["max_speed_khz"] = 100; }},
      {"invalid I2C replies", op.companion, [&](nlohmann::json& d) { d["i2c"] = {{"invalid_replies", count}}; }},
  };
  std::vector<const ModelFault*> usable;
  for (const ModelFault& f : faults)
    if (f.applies) usable.push_back(&f);
  const ModelFault& f = *usable[Below(rng, usable.size())];
  f.apply(device);
  plan.fault = std::string("model: ") + f.what;
  const nlohmann::json& d = device;
  if (d["timing"].contains("latency_us"))
    plan.fault += " (" + std::to_string(pendingPolls) + " pending polls, " + std::to_string(latency) + " us a transfer)";
  if (d["flash"].contains("unplug_after_chunk")) plan.fault += " " + std::to_string(afterChunk);
  if (std::string(f.what) == "slow erase") {
    plan.fault += " (" + std::to_string(eraseMs) + " ms)";
    // The chip refuses to leave update mode while it still erases.
    plan.deviceMayStayInUpdateMode = eraseMs > kEraseBudgetMs;
  }
  return plan;
}

std::string Campaign::Prepare(const RunPlan& plan, const std::string& dir) const {
  WriteAll(dir + "/scenario.json", plan.scenario.dump(2) + "\n");
  const Operation& op = *plan.op;
  std::string command = "cd " + ShellQuote(dir) + " && " + ShellQuote(ktq_) + " --simulate=scenario.json";
  for (const std::string& a : op.args) {
    if (a == "@image") WriteAll(dir + "/image.bin", op.chipType == 6 ? image6_ : image5_);
    if (a == "@out" && plan.outputExists) WriteAll(dir + "/out.bin", kPreviousOutput);
    command += " " + (a == "@image" ? std::string("image.bin") : a == "@out" ? std::string("out.bin") : ShellQuote(a));
  }
  return command;
}

Verdict Campaign::Execute(const RunPlan& plan, std::string& command) const {
  const std::string dir = RunDir(plan.index);
  ::mkdir(dir.c_str(), 0755);
  command = Prepare(plan, dir);
  std::vector<std::string> argv = {ktq_, "--simulate=scenario.json"};
  for (const std::string& a : plan.op->args)
    argv.push_back(a == "@image" ? "image.bin" : a == "@out" ? "out.bin" : a);
  const ChildResult child = RunChild(argv, dir, dir + "/stdout", dir + "/stderr", kWallLimit);
  return Judge(plan, dir, child);
}

Verdict Campaign::Judge(const RunPlan& plan, const std::string& dir, const ChildResult& child) const {
  const Operation& op = *plan.op;
  const Baseline& base = baselines_.at(op.name);
  const std::string err = ReadAll(dir + "/stderr");
  if (!child.started) return {Verdict::kCrash, "ktq could not be started"};
  if (child.signal) return {Verdict::kCrash, "ended by signal " + std::to_string(child.signal)};
  if (err.find("ERROR: AddressSanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos)
    return {Verdict::kCrash, "a sanitizer reported an error"};
  if (child.timedOut)
    return {Verdict::kHang, "still running after " + std::to_string(kWallLimit.count()) + " s of wall time"};
  bool haveState = false;
  const auto state = nlohmann::json::parse(ReadAll(dir + "/state.json", &haveState), nullptr, false);
  if (!haveState || !state.is_object()) return {Verdict::kCrash, "ended without shutting the virtual converter down"};

  // Slower replies make a run longer in proportion.
  const nlohmann::json& timing = plan.scenario["devices"][0]["timing"];
  const uint64_t polls = timing.value("pending_polls", uint64_t{1});
  const uint64_t latency = std::max<uint64_t>(timing.value("latency_us", uint64_t{0}), 1000);
  const uint64_t slowdown = ((polls + 2) * latency + 3 * 1000 - 1) / (3 * 1000);
  const uint64_t elapsed = state.value("elapsed_us", uint64_t{0});
  // Every request a fault hit may cost its whole reply budget (the erase's
  // 60 s, else 5 s) and a failed fetch's pause: a fault that hits every
  // request from some point on makes a long run, but no wait runs past its
  // budget.
  uint64_t hitAllowance = 0;
  for (const auto& c : state["fault_hits"]) hitAllowance += c.get<int>() == kErase ? 60'500'000 : 5'500'000;
  const uint64_t allowed = base.elapsedUs * std::max<uint64_t>(slowdown, 1) + kFaultAllowanceUs + hitAllowance;
  if (elapsed > allowed)
    return {Verdict::kHang, "took " + std::to_string(elapsed / 1000) + " ms of device time, more than the " +
                                std::to_string(allowed / 1000) + " ms its budgets allow"};

  if (ReadAll(dir + "/scenario.json") != plan.scenario.dump(2) + "\n")
    return {Verdict::kFileLost, "the scenario file was changed"};
  const std::string& image = op.chipType == 6 ? image6_ : image5_;
  const bool usesImage = op.outcome == Outcome::kFlash || op.outcome == Outcome::kCascade;
  if (usesImage && ReadAll(dir + "/image.bin") != image) return {Verdict::kFileLost, "the firmware image was changed"};
  bool haveOut = false;
  const std::string out = ReadAll(dir + "/out.bin", &haveOut);
  if (plan.outputExists && child.exitStatus != 0 && out != kPreviousOutput)
    return {Verdict::kFileLost, haveOut ? "the existing output file was overwritten by a failed run"
                                        : "the existing output file is gone after a failed run"};

  const int exit = child.exitStatus;
  const auto& errors = state["protocol_errors"];
  if (errors.is_array() && !errors.empty())
    return {Verdict::kDishonest, "the converter refused a malformed request: " + errors[0].get<std::string>()};
  if (exit == 0) {
    const std::string stdoutText = ReadAll(dir + "/stdout");
    const std::string flash = ReadAll(dir + "/flash.bin");
    switch (op.outcome) {
      case Outcome::kFlash:
        if (flash != image.substr(0, flash.size()) || flash.size() != image.size())
          return {Verdict::kDishonest, "exit 0, but the flash does not hold the image"};
        break;
      case Outcome::kCascade: {
        const auto rdx = nlohmann::json::parse(ReadAll(dir + "/rdx.json"), nullptr, false);
        if (ReadAll(dir + "/shared.bin") != image)
          return {Verdict::kDishonest, "exit 0, but the flash shared with the RDX4410 does not hold the image"};
        if (flash != base.mainFlash) return {Verdict::kDishonest, "exit 0, but the main chip's own flash was changed"};
        if (!rdx.is_object() || !rdx.value("activated", false))
          return {Verdict::kDishonest, "exit 0, but the RDX4410 did not activate the image"};
        if (state.value("main_holds_spi_bus", true) || rdx.value("holds_spi_bus", true))
          return {Verdict::kDishonest, "exit 0, but the shared flash bus was not released"};
        break;
      }
      case Outcome::kTefra: {
        // A status on a log read is the device ending the log: the records
        // before it are the whole log then.
        bool statusEnded = false;
        for (const auto& c : state["fault_hits"]) statusEnded = statusEnded || c.get<int>() == kReadLog;
        statusEnded = statusEnded && plan.fault.rfind("status ", 0) == 0;
        const std::string expected = ExpectedLog(tefraRecords_);
        if (statusEnded && expected.compare(0, out.size(), out) == 0 && out.size() % kStoredRecordBytes == 0) break;
        if (out != ExpectedLog(tefraRecords_))
          return {Verdict::kDishonest, "exit 0, but the log file holds " + std::to_string(out.size()) + " of " +
                                           std::to_string(ExpectedLog(tefraRecords_).size()) + " bytes expected"};
        break;
      }
      case Outcome::kOutputFile:
        if (WithoutTimeOfDay(out) != WithoutTimeOfDay(base.outputFile))
          return {Verdict::kDishonest, "exit 0, but the output file differs from the run without a fault"};
        break;
      case Outcome::kOutput:
        if (base.exitStatus != 0)
          return {Verdict::kDishonest, "exit 0 where the run without a fault exits " + std::to_string(base.exitStatus)};
        if (WithoutTransferDiagnostics(stdoutText) != base.out)
          return {Verdict::kDishonest, "exit 0, but the output differs from the run without a fault"};
        break;
    }
  }

  // A firmware update that began ("Initializing...", then the enable) must
  // leave update mode. Plain reads enable RC mode by design (status 4 is
  // repaired), so a run that failed before the update began and a cascade,
  // which ends with reads of the main chip, may leave it on.
  if (op.outcome == Outcome::kFlash && ReadAll(dir + "/stdout").find("Initializing...") != std::string::npos) {
    bool disableHit = false;
    for (const auto& c : state["fault_hits"]) disableHit = disableHit || c.get<int>() == kDisable;
    if (state.value("rc_mode", false) && !state.value("unplugged", false) && !disableHit &&
        !plan.deviceMayStayInUpdateMode)
      return {Verdict::kDishonest, "exit " + std::to_string(exit) + ", and the converter was left in update mode"};
  }
  return {};
}

}  // namespace ktq::faults
