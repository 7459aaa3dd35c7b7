// ktq-faults: the fault campaign. N seeded runs of ktq over the virtual
// converter, each an operation with one fault at a random moment; every run
// is checked for a crash, a hang beyond the wait budgets, an exit status that
// claims more than was done, and a file that was changed or lost.
//
//   ktq-faults --runs N --seed S [--only I] [--jobs J] [--work DIR] [--ktq PATH]
//              [--allow-dishonest]
//
// One line per failing run with the command that repeats it, then
// "faults: N runs, C crashes, H hangs, D dishonest, L files lost".
// Exit status: 0 when every run passed (with --allow-dishonest: when no run
// crashed, hung or lost a file), 1 when one failed, 2 usage error.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/faults/campaign.h"

namespace {

using ktq::faults::Campaign;
using ktq::faults::Verdict;

int Usage() {
  std::fputs(
      "usage: ktq-faults --runs N --seed S [--only I] [--jobs J] [--work DIR] [--ktq PATH] [--allow-dishonest]\n",
      stderr);
  return 2;
}

bool Number(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(text, &end, 0);
  return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

// ktq lies beside this program in the build.
std::string KtqBesideMe() {
  std::error_code ec;
  const auto me = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("ktq") : (me.parent_path() / "ktq").string();
}

struct Outcome {
  Verdict verdict;
  std::string what;  // operation and fault
  std::string command;
};

}  // namespace

int main(int argc, char** argv) {
  uint64_t runs = 0, seed = 0, jobs = 2, only = 0;
  bool haveRuns = false, haveSeed = false, haveOnly = false, allowDishonest = false;
  std::string work, ktq = KtqBesideMe();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--allow-dishonest") {
      allowDishonest = true;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) return Usage();
    ++i;
    if (a == "--runs" && Number(value, runs)) {
      haveRuns = true;
    } else if (a == "--seed" && Number(value, seed)) {
      haveSeed = true;
    } else if (a == "--only" && Number(value, only)) {
      haveOnly = true;
    } else if (a == "--jobs" && Number(value, jobs) && jobs > 0 && jobs <= 64) {
    } else if (a == "--work") {
      work = value;
    } else if (a == "--ktq") {
      ktq = value;
    } else {
      return Usage();
    }
  }
  if (!haveSeed || (!haveRuns && !haveOnly)) return Usage();
  if (::access(ktq.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "ktq-faults: cannot run %s\n", ktq.c_str());
    return 2;
  }
  const bool ownWork = work.empty();
  if (ownWork) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ktq-faults-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("ktq-faults: work folder");
      return 2;
    }
    work = pattern;
  } else {
    std::filesystem::create_directories(work);
  }

  Campaign campaign(ktq, work, seed);
  std::string error;
  if (!campaign.MeasureBaselines(error)) {
    std::fprintf(stderr, "ktq-faults: %s\n", error.c_str());
    return 1;
  }
  std::vector<size_t> indices;
  if (haveOnly) {
    indices.push_back(only);
  } else {
    for (size_t i = 0; i < runs; ++i) indices.push_back(i);
  }

  std::vector<Outcome> outcomes(indices.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t k; (k = next++) < indices.size();) {
      const auto plan = campaign.Plan(indices[k]);
      Outcome& o = outcomes[k];
      o.what = std::string(plan.op->name) + ", " + plan.fault;
      o.verdict = campaign.Execute(plan, o.command);
      // Passing runs leave nothing behind; failing ones keep their folder.
      if (o.verdict.kind == Verdict::kPass && !haveOnly) std::filesystem::remove_all(campaign.RunDir(indices[k]));
    }
  };
  std::vector<std::thread> threads;
  for (uint64_t j = 0; j < std::min<uint64_t>(jobs, indices.size()); ++j) threads.emplace_back(worker);
  for (auto& t : threads) t.join();

  size_t counts[5] = {};
  static const char* const kWords[] = {"", "crash", "hang", "dishonest", "file lost"};
  for (size_t k = 0; k < outcomes.size(); ++k) {
    const Outcome& o = outcomes[k];
    ++counts[o.verdict.kind];
    if (o.verdict.kind == Verdict::kPass) continue;
    std::printf("run %zu (%s): %s: %s; repeat: %s  [ktq-faults --seed %llu --only %zu]\n", indices[k], o.what.c_str(),
                kWords[o.verdict.kind], o.verdict.why.c_str(), o.command.c_str(),
                static_cast<unsigned long long>(seed), indices[k]);
  }
  const size_t failed = outcomes.size() - counts[Verdict::kPass];
  if (ownWork && failed == 0) std::filesystem::remove_all(work);
  std::printf("faults: %zu runs, %zu crashes, %zu hangs, %zu dishonest, %zu files lost\n", outcomes.size(),
              counts[Verdict::kCrash], counts[Verdict::kHang], counts[Verdict::kDishonest],
              counts[Verdict::kFileLost]);
  const size_t counted = allowDishonest ? failed - counts[Verdict::kDishonest] : failed;
  return counted == 0 ? 0 : 1;
}
