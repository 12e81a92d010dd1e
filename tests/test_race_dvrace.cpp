// The headless race runner end to end: gate drop, laps, finish, results.txt, a series event
// in the standings, and the same results for the same seed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/test_support.h"

namespace {

using test_support::read_file;

class Dvrace : public ::testing::Test {
 protected:
  std::string home, binary = std::string(DV_BINARY_DIR) + "/dvrace";
  void SetUp() override {
    if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "dvrace is not built";
    home = "/tmp/dv_test_dvrace_" + std::to_string(getpid());
    mkdir(home.c_str(), 0755);
  }
  void TearDown() override {
    if (!home.empty()) (void)system(("rm -rf " + home).c_str());
  }
  // Runs dvrace with the arguments; returns its standard output and exit status.
  int run(const std::string &args, std::string *out) {
    std::string data = getenv("DV_HOME") ? getenv("DV_HOME") : DV_BINARY_DIR;
    std::string file = home + "/out.txt";
    std::string cmd = "DV_HOME=" + data + " XDG_DATA_HOME=" + home + " " + binary + " " + args +
                      " > " + file + " 2>&1";
    int status = system(cmd.c_str());
    *out = read_file(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(Dvrace, RaceToTheFinishTwiceTheSame) {
  std::string first, second;
  ASSERT_EQ(run("--robots 2 --laps 1 --seed 7 --max-minutes 10", &first), 0) << first;
  EXPECT_NE(first.find("Finished after"), std::string::npos) << first;
  EXPECT_NE(first.find(" No. |         Bike | Laps | Total Time | BLap |  Best Time\n"),
            std::string::npos);
  std::string results = read_file(home + "/Dirtvane/results.txt");
  EXPECT_EQ(results.rfind("Time=0.00|Laps=1|Track=rabbithill|Date=", 0), 0u) << results;
  EXPECT_NE(results.find("\r\n"), std::string::npos);
  ASSERT_EQ(run("--robots 2 --laps 1 --seed 7 --max-minutes 10 --record", &second), 0);
  EXPECT_EQ(first, second);
  struct stat demo;
  ASSERT_EQ(stat((home + "/Dirtvane/demos/default.dvdemo").c_str(), &demo), 0);
  EXPECT_GT(demo.st_size, 1000);
}

TEST_F(Dvrace, SeriesEventReachesTheStandings) {
  std::string dir = home + "/Dirtvane";
  mkdir(dir.c_str(), 0755);
  FILE *f = fopen((dir + "/mini.series").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fprintf(f, "\"Mini\" 1 Novice 20 1\n\"Only moto\" rabbithill 0 1\n");
  for (int table = 0; table < 2; table++) {
    for (int i = 0; i < 40; i++) fprintf(f, "%d ", i < 2 ? 2 - i : 0);
    fprintf(f, "\n");
  }
  fclose(f);
  std::string out;
  ASSERT_EQ(run("--series mini.series --max-minutes 10 --quiet", &out), 0) << out;
  std::string standings = read_file(dir + "/mini.series_standings");
  EXPECT_TRUE(standings == "1 2 \n" || standings == "2 1 \n") << standings;
  // Every event has been run now.
  EXPECT_EQ(run("--series Mini --quiet", &out), 1);
  EXPECT_NE(out.find("every event"), std::string::npos) << out;
}

TEST_F(Dvrace, BadArgumentsAreRefused) {
  std::string out;
  for (const char *args : {"--laps", "--robots 500", "--skill Legend", "--laps 0", "--bogus",
                           "--track no_such_track"}) {
    SCOPED_TRACE(args);
    EXPECT_NE(run(args, &out), 0);
  }
}

}  // namespace
