// The fault campaign must see what it is there to see: a ktq that crashes,
// that claims success without doing the work or that damages its input is
// counted as such. A stand-in script runs the real ktq for the runs without a
// fault (the campaign's reference) and misbehaves in every other run.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

struct Campaign {
  int status;
  std::string out;
};

Campaign RunCampaign(const std::string& mode, int runs) {
  const std::string dir = TestDir().string();
  const std::string standIn = dir + "/ktq";
  std::ofstream(standIn) << "#!/bin/sh\n"
                            "case \"$(basename \"$PWD\")\" in baseline-*) exec " KTQ_BINARY_DIR "/bin/ktq \"$@\";; esac\n"
                            "case \"" + mode + "\" in\n"
                            "  crash) kill -SEGV $$;;\n"
                            "  lie) " KTQ_BINARY_DIR "/bin/ktq \"$1\" list >/dev/null; exit 0;;\n"
                            "  truncate) [ -f image.bin ] && : > image.bin; exec " KTQ_BINARY_DIR "/bin/ktq \"$@\";;\n"
                            "esac\n";
  std::filesystem::permissions(standIn, std::filesystem::perms::owner_all);
  const std::string command = KTQ_BINARY_DIR "/bin/ktq-faults --seed 7 --jobs 2 --runs " + std::to_string(runs) +
                              " --ktq " + standIn + " --work " + dir + "/work >" + dir + "/out.txt 2>&1";
  const int raw = std::system(command.c_str());
  std::ifstream in(dir + "/out.txt");
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  const size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

TEST(KtqFaultsTest, CountsCrashesAndRepeatsEachWithItsCommand) {
  const Campaign c = RunCampaign("crash", 6);
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(LastLine(c.out), "faults: 6 runs, 6 crashes, 0 hangs, 0 dishonest, 0 files lost");
  const std::regex line("run [0-5] \\(.*\\): crash: ended by signal 11; repeat: cd .*run-[0-5] && .*/ktq "
                        "--simulate=scenario\\.json .*  \\[ktq-faults --seed 7 --only [0-5]\\]");
  std::istringstream lines(c.out);
  int reported = 0;
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind("run ", 0) != 0) continue;
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    ++reported;
  }
  EXPECT_EQ(reported, 6);
}

TEST(KtqFaultsTest, SuccessWithoutTheWorkIsDishonest) {
  const Campaign c = RunCampaign("lie", 12);
  EXPECT_EQ(c.status, 1);
  // Every run but those of `list`, which the stand-in does run, claims a
  // result it never produced.
  std::istringstream lines(c.out);
  int dishonest = 0;
  for (std::string l; std::getline(lines, l);) dishonest += l.find("): dishonest: exit 0") != std::string::npos;
  EXPECT_GE(dishonest, 10);
  EXPECT_EQ(LastLine(c.out),
            "faults: 12 runs, 0 crashes, 0 hangs, " + std::to_string(dishonest) + " dishonest, 0 files lost");
}

TEST(KtqFaultsTest, ADamagedImageIsAFileLost) {
  const Campaign c = RunCampaign("truncate", 12);
  std::istringstream lines(c.out);
  int lost = 0, imageRuns = 0;
  for (std::string l; std::getline(lines, l);) {
    lost += l.find("): file lost: the firmware image was changed;") != std::string::npos;
    imageRuns += l.rfind("run ", 0) == 0 && (l.find("(flash ") != std::string::npos || l.find("(cascade") != std::string::npos);
  }
  EXPECT_GE(lost, 1);
  EXPECT_EQ(lost, imageRuns);
  EXPECT_NE(LastLine(c.out).find(std::to_string(lost) + " files lost"), std::string::npos) << c.out;
}

}  // namespace
}  // namespace ktq::testing
