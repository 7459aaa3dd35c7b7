// The fault campaign: seeded random runs of ktq over the virtual converter,
// each an operation with one fault injected at a random moment, and the
// checks that tell an honest run from a dishonest one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/faults/child_process.h"

namespace ktq::faults {

// What a successful run must have produced.
enum class Outcome {
  kFlash,    // the main chip's flash holds the image
  kCascade,  // the shared flash holds the image, the RDX4410 activated it, the main flash is untouched
  kTefra,    // the output file holds every valid record of the log
  kOutput,   // standard output as in the run without a fault
  kOutputFile,  // the output file as in the run without a fault (the time of day aside)
};

struct Operation {
  const char* name;
  int chipType;
  bool companion;                 // the converter carries an RDX4410
  std::vector<std::string> args;  // "@image" and "@out" stand for the run's files
  Outcome outcome;
  std::vector<uint8_t> commands;  // RC commands it sends, for faults bound to one
  uint8_t bulkCommand;            // the one it sends most (chunk writes, log reads)
};

const std::vector<Operation>& Operations();

// One planned run: the operation, the scenario with its fault, and what the
// fault is in words.
struct RunPlan {
  size_t index = 0;
  const Operation* op = nullptr;
  nlohmann::json scenario;
  std::string fault;
  bool outputExists = false;  // an older output file is in place
  bool deviceMayStayInUpdateMode = false;  // the fault keeps the chip busy past the host's budget
};

// What the fault-free run of an operation gave.
struct Baseline {
  int exitStatus = -1;
  std::string out;
  std::string outputFile;
  std::string mainFlash;
  uint64_t requests = 0;
  uint64_t elapsedUs = 0;
};

struct Verdict {
  enum Kind { kPass, kCrash, kHang, kDishonest, kFileLost } kind = kPass;
  std::string why;
};

class Campaign {
 public:
  Campaign(std::string ktq, std::string workDir, uint64_t seed);

  // Runs every operation once without a fault; false with `error` when one
  // cannot run at all.
  bool MeasureBaselines(std::string& error);

  // Operations this ktq offers (one it does not know is left out, with a
  // note on standard error).
  RunPlan Plan(size_t index) const;
  // Runs the plan in its own folder and judges it; `command` receives the
  // command line that repeats it.
  Verdict Execute(const RunPlan& plan, std::string& command) const;
  std::string RunDir(size_t index) const;

 private:
  nlohmann::json BaseScenario(const Operation& op) const;
  std::string Prepare(const RunPlan& plan, const std::string& dir) const;
  Verdict Judge(const RunPlan& plan, const std::string& dir, const ChildResult& child) const;

  std::string ktq_;
  std::string workDir_;
  uint64_t seed_;
  std::vector<std::vector<uint8_t>> tefraRecords_;
  std::string image5_, image6_;
  std::map<std::string, Baseline> baselines_;
  std::vector<const Operation*> available_;
};

}  // namespace ktq::faults
