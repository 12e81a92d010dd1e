// Demo files on the starter track: recording, the block format, backups, playback of a
// 6-racer race, race against a demo, text blocks, rewinding, namedemo and the ghost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/core.h"
#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "race/demo.h"
#include "race/race.h"
#include "terrain/terrain.h"
#include "track/track.h"
#include "tests/test_support.h"

namespace {

class OdeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { dInitODE2(0); }
  void TearDown() override { dCloseODE(); }
};
::testing::Environment *const ode_environment =
    ::testing::AddGlobalTestEnvironment(new OdeEnvironment);

// ---- scripted riding: ground contact, an upright holder and a push that varies by slot ----
int ride_contact(Bike *b) {
  int front = wheel_ground_contact(terrain_current(), &b->front, 1);
  int rear = wheel_ground_contact(terrain_current(), &b->rear, 1);
  return front || rear;
}
void ride_step(Bike *b, int tick) {
  dBodyID frame = b->bodies[FRAME_BODY];
  const dReal *w = dBodyGetAngularVel(frame);
  dVector3 fwd;
  dBodyVectorToWorld(frame, 0, 0, -1, fwd);
  float roll = roll_angle(frame);
  // Keep the frame upright about its forward axis, push it on and turn it gently.
  double hold = -4000 * roll;
  dBodyAddTorque(frame, fwd[0] * hold - 300 * w[0], fwd[1] * hold - 300 * w[1] + 40 * std::sin(tick * 0.01 + b->slot),
                 fwd[2] * hold - 300 * w[2]);
  dBodyAddForce(frame, fwd[0] * (20 + 3 * b->slot), 0, fwd[2] * (20 + 3 * b->slot));
  b->controls.throttle = (float)((tick + 7 * b->slot) % 64) / 64;
  b->gear = (tick / 200 + b->slot) % 3;
  b->engine_speed = (float)(300 + 20 * b->slot + tick % 97);
}

class Demo : public ::testing::Test {
 protected:
  static std::string home;
  static void SetUpTestSuite() {
    home = test_support::use_test_home("demo");
    config_reset_defaults();
    physics_world_create();
    racer_table_reset();
  }
  static void TearDownTestSuite() {
    session_end();
    demo_reset();
    track_unload();
    track_reset();
    physics_world_destroy();
    std::string cmd = "rm -rf " + home;
    (void)system(cmd.c_str());
  }
  void SetUp() override {
    SessionHooks hooks = {};
    hooks.object_contact_pass = ride_contact;
    hooks.physics_step = ride_step;
    hooks.place_remote = place_remote_from_history;
    set_session_hooks(&hooks);
    *session_options() = SessionOptions{};
    session_clock()->tick = 0;
    config()->demo_backups = 0;
    demo_reset();
    track_select("rabbithill", nullptr);
  }
  void TearDown() override {
    session_end();
    demo_reset();
    set_session_hooks(nullptr);
  }

  // Records `robots` robots for `ticks` ticks; returns every stored state by tick and slot.
  static std::map<int, std::vector<CompactRacerState>> record(int robots, int ticks,
                                                              const char *text_at_20 = nullptr) {
    int lineup[MAX_RACERS] = {};
    for (int i = 0; i < robots; i++) lineup[i] = LINEUP_ROBOT;
    std::map<int, std::vector<CompactRacerState>> states;
    EXPECT_EQ(start_session(lineup, 0, 1, 0, 3, 1), 1);
    EXPECT_TRUE(demo_recording());
    auto capture = [&]() {
      int32_t t = session_clock()->tick;
      if (t % 4) return;
      for (int slot = 0; slot < robots; slot++) {
        const StateHistory *h = state_history(slot);
        EXPECT_EQ(h->entries[h->newest].tick, t);
        states[t].push_back(h->entries[h->newest].state);
      }
    };
    capture();
    for (int i = 0; i < ticks; i++) {
      run_tick();
      if (text_at_20 && session_clock()->tick == 20) write_demo_text(text_at_20);
      capture();
    }
    stop_recording();
    return states;
  }
  static std::string read_file(const char *name) {
    DataFile *f = datafile_open(name, "rb");
    if (!f) return "";
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = datafile_read(f, buffer, sizeof buffer)) > 0) out.append(buffer, n);
    datafile_close(f);
    return out;
  }
  static void write_file(const char *name, const std::string &data) {
    DataFile *f = datafile_open(name, "wb");
    ASSERT_NE(f, nullptr);
    datafile_write(f, data.data(), data.size());
    datafile_close(f);
  }
  static int play(int human) {
    int lineup[MAX_RACERS] = {};
    if (human) lineup[0] = LINEUP_HUMAN;
    demo_choose_file("@demos/default.dvdemo");
    return start_session(lineup, 1, 0, 0, 10, 1);
  }
  // The encoded states of `count` racers from slot `first`.
  static std::vector<CompactRacerState> placed(int first, int count) {
    std::vector<CompactRacerState> out(count);
    for (int i = 0; i < count; i++) encode_racer_state(racer_at(first + i)->bike, &out[i]);
    return out;
  }
};
std::string Demo::home;

uint32_t get32(const std::string &s, size_t at) {
  return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 | (uint32_t)(uint8_t)s[at + 3] << 24;
}
// Offsets of the blocks after the header of a format 6 file.
size_t header_length(const std::string &s) {
  size_t at = 0;
  int count = 0;
  sscanf(s.c_str(), "DV06 %d", &count);
  auto next_line = [&]() { at = s.find('\n', at) + 1; };
  next_line();
  next_line();
  for (int i = 0; i < count; i++)
    for (int k = 0; k < 4; k++) next_line();
  return at;
}

TEST_F(Demo, TwoRacersWriteBlocksOfEightEntries) {
  record(2, 32);
  std::string file = read_file("@demos/default.dvdemo");
  ASSERT_EQ(file.compare(0, 5, "DV06 "), 0);
  int count = -1, duration = -1, laps = -1, start = -1;
  ASSERT_EQ(sscanf(file.c_str(), "DV06 %d %d %d %d", &count, &duration, &laps, &start), 4);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(laps, 3);
  EXPECT_NE(file.find("\nrabbithill\n"), std::string::npos);
  EXPECT_NE(file.find("\nDirovazov\n\n"), std::string::npos);
  size_t at = header_length(file);
  // Tick 0 (forced at the session start), then a block every 16 ticks.
  struct Block {
    uint32_t size, tick;
  } want[] = {{88, 0}, {352, 16}, {352, 32}};
  uint32_t prev = 0;
  for (const Block &b : want) {
    SCOPED_TRACE(b.tick);
    ASSERT_LE(at + 9, file.size());
    uint32_t size = get32(file, at) ^ prev;
    EXPECT_EQ(size, b.size);
    EXPECT_EQ(get32(file, at + 4), b.tick);
    EXPECT_EQ(file[at + 8], 1);
    // Entries: racer index, tick, state; four per racer, racer 0 first.
    if (b.size == 352) {
      for (int e = 0; e < 8; e++) {
        EXPECT_EQ(file[at + 9 + 44 * e], e / 4);
        EXPECT_EQ(get32(file, at + 9 + 44 * e + 1), b.tick - 12 + 4 * (e % 4));
      }
    }
    prev = size;
    at += 9 + size;
  }
  EXPECT_EQ(at, file.size());
}

TEST_F(Demo, BackupsRotateOverFourSessions) {
  config()->demo_backups = 3;
  for (int i = 1; i <= 4; i++) {
    ASSERT_EQ(start_recording(nullptr), 1);
    write_demo_text(("session " + std::to_string(i)).c_str());
    stop_recording();
  }
  const char *names[] = {"@demos/default.dvdemo", "@demos/default00.dvdemo", "@demos/default01.dvdemo",
                         "@demos/default02.dvdemo"};
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(names[i]);
    std::string file = read_file(names[i]);
    EXPECT_NE(file.find("session " + std::to_string(4 - i)), std::string::npos);
  }
  EXPECT_EQ(read_file("@demos/default03.dvdemo"), "");
}

TEST_F(Demo, NamedemoRenamesTheRecording) {
  namedemo("late");  // nothing recorded: refused
  EXPECT_NE(std::string(message_log()->lines[(message_log()->write_index + MESSAGE_LOG_LINES - 1) % MESSAGE_LOG_LINES])
                .find("Not currently recording a demo"),
            std::string::npos);
  ASSERT_EQ(start_recording(nullptr), 1);
  EXPECT_EQ(namedemo(std::string(1100, 'x').c_str()), 0);  // "Name too long"
  EXPECT_EQ(namedemo("../config"), 0);
  EXPECT_EQ(namedemo("  best_run more words"), 1);
  write_demo_text("named");
  stop_recording();
  EXPECT_NE(read_file("@demos/best_run.dvdemo").find("named"), std::string::npos);
  EXPECT_EQ(read_file("@demos/default.dvdemo"), "");
  ASSERT_EQ(start_recording(nullptr), 1);
  EXPECT_EQ(namedemo("kept.dvdemo"), 1);
  stop_recording();
  EXPECT_NE(read_file("@demos/kept.dvdemo"), "");
}

// A race of six recorded and played back: every racer, at every stored tick, is placed at
// exactly its recorded state.
TEST_F(Demo, SixRacersPlayBackBitIdentical) {
  const int ticks = 400;
  auto recorded = record(6, ticks);
  ASSERT_EQ(recorded.size(), (size_t)ticks / 4 + 1);
  // The racers moved.
  EXPECT_NE(memcmp(recorded[0][0].bytes, recorded[ticks][0].bytes, 9), 0);

  ASSERT_EQ(play(0), 1);
  ASSERT_EQ(demo_format(), 6);
  ASSERT_EQ(racer_count(), 6);
  for (int slot = 0; slot < 6; slot++) EXPECT_EQ(racer_at(slot)->kind, RACER_REMOTE);
  int compared = 0;
  while (session_clock()->tick <= ticks) {
    int32_t t = session_clock()->tick;
    run_tick();
    if (t % 4) continue;
    SCOPED_TRACE(t);
    std::vector<CompactRacerState> now = placed(0, 6);
    for (int slot = 0; slot < 6; slot++) {
      std::string diff;
      for (int i = 0; i < COMPACT_STATE_BYTES; i++)
        if (now[slot].bytes[i] != recorded[t][slot].bytes[i])
          diff += " " + std::to_string(i) + ":" + std::to_string(now[slot].bytes[i]) + "/" +
                  std::to_string(recorded[t][slot].bytes[i]);
      ASSERT_EQ(diff, "") << "slot " << slot;
      EXPECT_EQ(racer_hidden(slot), 0);
    }
    compared++;
  }
  EXPECT_EQ(compared, ticks / 4 + 1);
}

TEST_F(Demo, RaceAgainstTheDemo) {
  auto recorded = record(6, 160);
  ASSERT_EQ(play(1), 1);
  ASSERT_EQ(racer_at(0)->kind, RACER_HUMAN);
  ASSERT_EQ(racer_count(), 7);
  for (int slot = 1; slot <= 6; slot++) {
    EXPECT_EQ(racer_at(slot)->kind, RACER_REMOTE);
    EXPECT_STREQ(racer_at(slot)->name, "Dirovazov");
  }
  while (session_clock()->tick < 100) run_tick();
  int32_t t = session_clock()->tick;
  run_tick();
  std::vector<CompactRacerState> now = placed(1, 6);
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(memcmp(now[i].bytes, recorded[t][i].bytes, COMPACT_STATE_BYTES), 0) << "slot " << i + 1;
    EXPECT_EQ(racer_hidden(i + 1), 0);
  }
  EXPECT_EQ(racer_hidden(0), 0);

  // Recording into the file being played would destroy it.
  int lineup[MAX_RACERS] = {LINEUP_HUMAN};
  ASSERT_EQ(start_session(lineup, 1, 1, 0, 10, 1), 1);
  EXPECT_TRUE(demo_playing());
  EXPECT_FALSE(demo_recording());
  EXPECT_EQ(racer_count(), 7);
}

TEST_F(Demo, TextBlocksAreShownAgain) {
  record(1, 48, "Server: race starts soon");
  message_log_clear();
  ASSERT_EQ(play(0), 1);
  while (session_clock()->tick < 48) run_tick();
  int found = 0;
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    found |= strstr(message_log()->lines[i], "Server: race starts soon") != nullptr;
  EXPECT_TRUE(found);
}

TEST_F(Demo, RewindOneSecondFromTick1000) {
  auto recorded = record(2, 1104);
  ASSERT_EQ(play(0), 1);
  while (session_clock()->tick < 1000) run_tick();
  seek_demo(-1);
  EXPECT_EQ(session_clock()->tick, 872);
  for (int slot = 0; slot < 2; slot++) {
    SCOPED_TRACE(slot);
    const StateHistory *h = state_history(slot);
    int older, newer;
    ASSERT_TRUE(history_bracket(h, 872, &older, &newer));
    EXPECT_LE(h->entries[older].tick, 872);
    EXPECT_GE(h->entries[newer].tick, 872);
    for (int i = 0; i < HISTORY_ENTRIES; i++)
      if (h->entries[i].tick >= 0) {
        EXPECT_LE(h->entries[i].tick, 872 + 64 + 16);  // nothing from the future left over
        ASSERT_EQ(memcmp(h->entries[i].state.bytes, recorded[h->entries[i].tick][slot].bytes, 39), 0);
      }
  }
  // The next tick places the racers where the recording had them at tick 872.
  run_tick();
  std::vector<CompactRacerState> now = placed(0, 2);
  for (int slot = 0; slot < 2; slot++) EXPECT_EQ(memcmp(now[slot].bytes, recorded[872][slot].bytes, 39), 0);
  // Skipping forward runs the ticks.
  seek_demo(1);
  EXPECT_EQ(session_clock()->tick, 873 + 128);
}

TEST_F(Demo, GhostStartsWithTheNewLap) {
  auto recorded = record(1, 64);
  std::string demo = read_file("@demos/default.dvdemo");
  ASSERT_FALSE(demo.empty());
  write_file("@rabbithill/fastlap.dvdemo", demo);
  ASSERT_EQ(start_session(nullptr, 0, 0, 0, 0, 0), 1);  // a time trial
  ASSERT_TRUE(session_clock()->time_trial);
  int32_t now = session_clock()->tick;
  ASSERT_EQ(demo_load_ghost(), 1);
  EXPECT_EQ(racer_at(1)->kind, RACER_REMOTE);
  ASSERT_NE(racer_at(1)->bike, nullptr);
  EXPECT_EQ(racer_at(1)->bike->presence, 0);
  read_demo_tick();
  const StateHistory *h = state_history(1);
  int older, newer;
  ASSERT_TRUE(history_bracket(h, now, &older, &newer));
  EXPECT_EQ(h->entries[older].tick, now);  // the recorded tick 0 is now
  EXPECT_EQ(memcmp(h->entries[older].state.bytes, recorded[0][0].bytes, 39), 0);
  EXPECT_EQ(session_clock()->tick, now);  // the clock does not jump in a time trial
  place_from_history(1, now + 16);
  CompactRacerState s;
  encode_racer_state(racer_at(1)->bike, &s);
  EXPECT_EQ(memcmp(s.bytes, recorded[16][0].bytes, 39), 0);
}

TEST_F(Demo, TimeTrialLapRecordingBringsTheGhost) {
  record(1, 32);
  write_file("@rabbithill/fastlap.dvdemo", read_file("@demos/default.dvdemo"));
  ASSERT_EQ(start_session(nullptr, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(racer_at(1)->bike, nullptr);
  ASSERT_EQ(demo_start_recording("@rabbithill/lastlap.dvdemo"), 1);
  EXPECT_NE(racer_at(1)->bike, nullptr);
  EXPECT_EQ(racer_count(), 2);
  EXPECT_TRUE(demo_playing());
  EXPECT_TRUE(demo_recording());
  // namedemo belongs to the ordinary recordings only.
  EXPECT_EQ(namedemo("lap"), 0);
  for (int i = 0; i < 20; i++) run_tick();
  stop_recording();
  std::string lap = read_file("@rabbithill/lastlap.dvdemo");
  EXPECT_EQ(lap.compare(0, 7, "DV06 1 "), 0);  // the human only
}

// Connected while the server warms up: racers are placed 127 ticks in the past, and local
// humans other than the viewed one are hidden. A history out of reach hides the racer.
TEST_F(Demo, WarmUpDelayAndHiding) {
  auto recorded = record(2, 256);
  ASSERT_EQ(play(1), 1);
  ASSERT_EQ(racer_at(1)->kind, RACER_REMOTE);
  while (session_clock()->tick < 200) run_tick();
  RemoteView *v = remote_view();
  v->connected = 1;
  v->racing_slot = HISTORY_SLOTS;
  place_remote_from_history(racer_at(1), 1, 100 + 127);
  CompactRacerState s;
  encode_racer_state(racer_at(1)->bike, &s);
  EXPECT_EQ(memcmp(s.bytes, recorded[100][0].bytes, 39), 0);
  session_clock()->viewed_slot = 1;
  EXPECT_EQ(racer_hidden(0), 1);  // a local human, not viewed, in warm-up
  session_clock()->viewed_slot = 0;
  EXPECT_EQ(racer_hidden(0), 0);
  v->connected = 0;
  v->racing_slot = HISTORY_SLOTS;

  // Offline: shown within 128 ticks of its history, hidden beyond.
  clear_history(2);
  CompactRacerState a = recorded[100][1], b = recorded[104][1];
  add_state_to_history(2, &a, 100);
  add_state_to_history(2, &b, 104);
  struct Case {
    int32_t tick;
    int hidden;
  } cases[] = {{0, 0}, {102, 0}, {232, 0}, {233, 1}, {300, 1}};
  int32_t keep = session_clock()->tick;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.tick);
    session_clock()->tick = c.tick;
    EXPECT_EQ(racer_hidden(2), c.hidden);
  }
  session_clock()->tick = keep;
  clear_history(7);
  EXPECT_EQ(racer_hidden(7), 1);  // no bike
}

// Format 5: one record per racer per tick, rewound by record offset.
TEST_F(Demo, Format5RecordsPlayBack) {
  auto recorded = record(2, 400);
  std::string file = "DV5 2 0 3 1792\nrabbithill\nkx125||||\n20\nkx125||||\n21\n";
  for (int t = 0; t <= 400; t++)
    for (int r = 0; r < 2; r++) file.append((const char *)recorded[t - t % 4][r].bytes, 39);
  write_file("@demos/old.dvdemo", file);
  demo_choose_file("@demos/old.dvdemo");
  int lineup[MAX_RACERS] = {};
  ASSERT_EQ(start_session(lineup, 1, 0, 0, 10, 1), 1);
  ASSERT_EQ(demo_format(), 5);
  ASSERT_EQ(racer_count(), 2);
  while (session_clock()->tick < 300) {
    int32_t t = session_clock()->tick;
    run_tick();
    if (t % 4) continue;
    SCOPED_TRACE(t);
    for (int r = 0; r < 2; r++) {
      CompactRacerState s;
      encode_racer_state(racer_at(r)->bike, &s);
      ASSERT_EQ(memcmp(s.bytes, recorded[t][r].bytes, 39), 0) << "racer " << r;
    }
  }
  seek_demo(-1);  // 300 - 128 - 1, then one tick
  EXPECT_EQ(session_clock()->tick, 172);
  CompactRacerState s;
  encode_racer_state(racer_at(1)->bike, &s);
  EXPECT_EQ(memcmp(s.bytes, recorded[168][1].bytes, 39), 0);
  // Forwards in format 5 jumps the same way; with accurate skip it runs the ticks.
  seek_demo(1);
  EXPECT_EQ(session_clock()->tick, 172 + 128);
  run_options()->accurate_skip = true;
  seek_demo(-1);
  EXPECT_EQ(session_clock()->tick, 172);
  seek_demo(1);
  EXPECT_EQ(session_clock()->tick, 300);
  run_options()->accurate_skip = false;
}

TEST_F(Demo, DemoFileTrackAndBadHeaders) {
  record(1, 16);
  char track[256] = "";
  EXPECT_EQ(demo_file_track("@demos/default.dvdemo", track, sizeof track), 1);
  EXPECT_STREQ(track, "rabbithill");
  struct Case {
    const char *name, *text;
    int ok;
  } cases[] = {
      {"v4", "DV4 1 0\nrabbithill\nkx125|a|b|c|d\n12\n", 1},
      {"v5 no start tick", "DV5 0 100 2\nrabbithill\n", 1},
      {"v7", "DV7 0 0 0 0\nrabbithill\n", 0},
      {"two numbers", "DV06 0\nrabbithill\n", 0},
      {"no newline", "DV06 0 0 0 0\nrabbithill", 0},
      {"missing racer", "DV06 2 0 0 0\nrabbithill\na|b|c|d|e\n1\nn\n\n", 0},
      {"too many racers", "DV06 161 0 0 0\nrabbithill\n", 0},
      {"negative count", "DV06 -1 0 0 0\nrabbithill\n", 0},
      {"track outside the data", "DV06 0 0 0 0\n../../etc\n", 0},
      {"empty name", "DV06 2 0 0 0\nrabbithill\na|b|c|d|e\n1\n\n\nf|g|h|i|j\n2\nname\n\n", 1},
      {"later lines skipped", "DV06 1 0 0 0\nrabbithill\na|b|c|d|e\n1\nname\nextra\nmore\n\n", 1},
      {"empty", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file("@demos/case.dvdemo", c.text);
    EXPECT_EQ(demo_file_track("@demos/case.dvdemo", track, sizeof track), c.ok);
  }
  // A malformed demo is not opened; the session goes on without demo racers.
  write_file("@demos/case.dvdemo", "DV06 x\n");
  demo_choose_file("@demos/case.dvdemo");
  int lineup[MAX_RACERS] = {LINEUP_ROBOT};
  ASSERT_EQ(start_session(lineup, 1, 0, 0, 3, 1), 1);
  EXPECT_EQ(demo_playing(), 0);
  EXPECT_EQ(racer_count(), 1);
}

// Damaged block data ends playback with a message; nothing is stored from it.
TEST_F(Demo, DamagedBlocksEndPlayback) {
  record(2, 32);
  std::string good = read_file("@demos/default.dvdemo");
  size_t head = header_length(good);
  struct Case {
    const char *name;
    std::string data;
    int playing;  // still open afterwards
  } cases[] = {
      {"cut in an entry", good.substr(0, head + 9 + 88 + 9 + 100), 0},
      {"cut in a block header", good.substr(0, head + 9 + 88 + 5), 1},
      {"negative tick", good.substr(0, head + 4) + std::string("\xff\xff\xff\xff", 4) + good.substr(head + 8), 0},
      {"odd payload", good.substr(0, head) + std::string("\x05\0\0\0\0\0\0\0\x01" "abcde", 14), 1},
      {"unknown type", good.substr(0, head) + std::string("\x03\0\0\0\0\0\0\0\x09xyz", 12) + "", 1},
      {"huge size", good.substr(0, head) + std::string("\xf0\xff\xff\x7f\0\0\0\0\x01", 9) + std::string(88, 'x'), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_file("@demos/damaged.dvdemo", c.data);
    demo_choose_file("@demos/damaged.dvdemo");
    int lineup[MAX_RACERS] = {};
    ASSERT_EQ(start_session(lineup, 1, 0, 0, 3, 1), 1);
    for (int i = 0; i < 40; i++) run_tick();
    EXPECT_EQ(demo_playing(), c.playing);
    session_end();
  }
}

}  // namespace
