// dvlearn: makes the learnt lines of the starter tracks by riding them in the simulation.
// A scripted rider in the human's place follows the track's designed racing line through
// the controls, with line learning on, so its laps are recorded as lines; then practice
// sessions of robots (personality "tester") ride those lines to give them runs, so that
// the analysis has planned lines. Everything is seeded: the same build writes the same
// files. Output: <out>/<track>/lines_novice, lines_amateur, lines_expert.
#include <ode/ode.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race.h"
#include "robot/robot.h"
#include "tools/tool_options.h"
#include "track/track.h"

namespace {

// The solver's complaints are counted, not printed (a crash pile-up can make thousands).
int g_ode_messages = 0;
void count_ode_message(int, const char *, va_list) { g_ode_messages++; }

struct Options {
  std::vector<std::string> tracks;
  int skill = -1;        // -1 = all three
  int human_laps = 6;    // laps the scripted rider records
  int sessions = 2;      // practice sessions of robots
  int robot_laps = 3;    // laps per practice session
  int robots = 12;       // robots per practice session
  const char *out = "tools/lines";
  const char *from = nullptr;  // start from the lines in this directory, without recording
  int quiet = 0;
  int race = 0;       // check instead of learning: a race of this many robots
  int race_laps = 5;
};

// The scripted rider rides the designed line at this share of its speeds, by skill.
const float SKILL_PACE[SKILL_LEVELS] = {0.72f, 0.84f, 0.95f};

void usage() {
  fprintf(stderr,
          "usage: dvlearn [options]\n"
          "  --track DIR      a track to learn (repeatable; rabbithill and practice)\n"
          "  --skill S        Novice, Amateur, Expert or 0-2 (all three)\n"
          "  --human-laps N   laps of the scripted rider (6)\n"
          "  --sessions N     practice sessions of robots after it (2)\n"
          "  --robot-laps N   laps of each practice session (3)\n"
          "  --robots N       robots in each practice session (12)\n"
          "  --out DIR        output directory (tools/lines)\n"
          "  --from DIR       start from the lines in DIR instead of recording new ones\n"
          "  --quiet          print only the summary\n"
          "  --race N         check instead: a race of N robots on the lines (of --from, else\n"
          "                   the data directory) for each skill, with lap times and crashes\n"
          "  --race-laps N    laps of the check race (5)\n");
}

int parse_options(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    const char *v;
    if (!strcmp(a, "--track") && (v = value())) {
      o->tracks.push_back(v);
    } else if (!strcmp(a, "--skill") && (v = value())) {
      if (!parse_skill(v, &o->skill)) return 0;
    } else if (!strcmp(a, "--human-laps") && (v = value())) {
      if (!parse_count(v, 1, 100, &o->human_laps)) return 0;
    } else if (!strcmp(a, "--sessions") && (v = value())) {
      if (!parse_count(v, 0, 100, &o->sessions)) return 0;
    } else if (!strcmp(a, "--robot-laps") && (v = value())) {
      if (!parse_count(v, 1, 100, &o->robot_laps)) return 0;
    } else if (!strcmp(a, "--robots") && (v = value())) {
      if (!parse_count(v, 1, 40, &o->robots)) return 0;
    } else if (!strcmp(a, "--out") && (v = value())) {
      o->out = v;
    } else if (!strcmp(a, "--from") && (v = value())) {
      o->from = v;
    } else if (!strcmp(a, "--race") && (v = value())) {
      if (!parse_count(v, 1, 40, &o->race)) return 0;
    } else if (!strcmp(a, "--race-laps") && (v = value())) {
      if (!parse_count(v, 1, 100, &o->race_laps)) return 0;
    } else if (!strcmp(a, "--quiet")) {
      o->quiet = 1;
    } else {
      fprintf(stderr, "dvlearn: bad option %s\n", a);
      return 0;
    }
  }
  if (o->tracks.empty()) o->tracks = {"rabbithill", "practice"};
  return 1;
}

// ---------------------------------------------------------------------------------------
// The designed racing line ("@<track>/racing_line"): the lap, and "<track>-start" from
// the start pad to where the chute joins the lap.
// ---------------------------------------------------------------------------------------
struct RacingLine {
  std::vector<LinePoint> lap, start;
  std::vector<char> lap_jump, start_jump;  // the run-up to a take-off and the flight
};

// Marks the points from 80 ft before each take-off to its landing: a slower rider still
// takes the jumps at the designed speed, or it lands on the face of the next one.
void mark_jumps(const std::vector<LinePoint> &line, std::vector<char> *jump) {
  jump->assign(line.size(), 0);
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i].speed >= 0 || (i > 0 && line[i - 1].speed < 0)) continue;
    // Point i is the first one in the air: walk back along the run-up.
    float run = 0;
    for (size_t k = i; k > 0 && run < 80; k--) {
      (*jump)[k - 1] = 1;
      run += std::hypot(line[k].x - line[k - 1].x, line[k].z - line[k - 1].z);
    }
    for (size_t k = i; k < line.size() && line[k].speed < 0; k++) (*jump)[k] = 1;
  }
}

int read_racing_line(const char *track, RacingLine *out) {
  std::string name = std::string("@") + track + "/racing_line";
  DataFile *f = datafile_open(name.c_str(), "rb");
  if (!f) return 0;
  char text[512];
  std::vector<LinePoint> *into = nullptr;
  int airborne = 0;
  std::string start_name = std::string(track) + "-start";
  while (datafile_gets(f, text, sizeof text)) {
    if (text[0] == '#') continue;
    char line_name[256];
    int points, closed;
    float length;
    if (sscanf(text, "racing_line %255s %d %f %d", line_name, &points, &length, &closed) == 4) {
      into = !strcmp(line_name, track) ? &out->lap
             : start_name == line_name ? &out->start
                                      : nullptr;
      airborne = 0;
      continue;
    }
    float s, x, y, z, speed;
    int flag;
    if (!into || sscanf(text, "%f %f %f %f %f %d", &s, &x, &y, &z, &speed, &flag) != 6) continue;
    // Between a take-off and its landing the line is in the air (negative speeds).
    if (flag == 2) airborne = 0;
    into->push_back(LinePoint{x, y, z, airborne ? -speed : speed, 0});
    if (flag == 1) airborne = 1;
  }
  datafile_close(f);
  mark_jumps(out->lap, &out->lap_jump);
  mark_jumps(out->start, &out->start_jump);
  return !out->lap.empty();
}

// ---------------------------------------------------------------------------------------
// Sessions
// ---------------------------------------------------------------------------------------
struct Run {
  const RacingLine *line;
  float pace;
  int laps;
};
Run g_run;

// The store stays in memory from session to session; the session's own save and load
// only reset the racers and re-analyse.
void keep_lines() {}
void analyse_lines(int) {
  for (int slot = 0; slot < MAX_RACERS; slot++) {
    learn_reset_racer(slot);
    auto_pilot_reset(nullptr, slot);
  }
  lines_analyse();
}

// The scripted rider's route: from the bike on its grid place straight ahead into the
// start line, along it, then the lap as often as the race needs, at the skill's pace.
void set_scripted_route(Racer *racer, int slot) {
  const dReal *bp = dBodyGetPosition(racer->bike->bodies[FRAME_BODY]);
  const dReal *rot = dBodyGetRotation(racer->bike->bodies[FRAME_BODY]);
  float fx = -(float)rot[2], fz = -(float)rot[10];
  float fl = std::hypot(fx, fz);
  fx /= fl;
  fz /= fl;
  float px = (float)bp[0], py = (float)bp[1], pz = (float)bp[2];
  const std::vector<LinePoint> &start = g_run.line->start.empty() ? g_run.line->lap
                                                                   : g_run.line->start;
  // Join the start line where it is nearest to a point 200 ft ahead of the bike.
  float ax = px + fx * 200, az = pz + fz * 200;
  size_t join = 0;
  float best = 1e30f;
  for (size_t i = 0; i < start.size(); i++) {
    float d = std::hypot(start[i].x - ax, start[i].z - az);
    if (d < best) best = d, join = i;
  }
  const std::vector<char> &start_jump = g_run.line->start.empty() ? g_run.line->lap_jump
                                                                     : g_run.line->start_jump;
  std::vector<LinePoint> route;
  std::vector<char> jump;
  const LinePoint &j = start[join];
  float speed = std::fabs(j.speed) > 20 ? std::fabs(j.speed) : 20;
  for (int k = 0; k <= 6; k++)  // 30 ft straight out of the gate
    route.push_back(LinePoint{px + fx * 5 * k, py, pz + fz * 5 * k, speed, 0});
  LinePoint from = route.back();
  float gap = std::hypot(j.x - from.x, j.z - from.z);
  int steps = (int)(gap / 5);
  for (int k = 1; k < steps; k++) {
    float u = (float)k / steps;
    route.push_back(LinePoint{from.x + (j.x - from.x) * u, from.y + (j.y - from.y) * u,
                              from.z + (j.z - from.z) * u, speed, 0});
  }
  jump.assign(route.size(), 0);
  for (size_t i = join; i < start.size(); i++) {
    route.push_back(start[i]);
    jump.push_back(start_jump[i]);
  }
  for (int lap = 0; lap < g_run.laps + 1; lap++)
    for (size_t i = 0; i < g_run.line->lap.size(); i++) {
      route.push_back(g_run.line->lap[i]);
      jump.push_back(g_run.line->lap_jump[i]);
    }
  // The skill's pace, except into and over the jumps (never above the designed speed).
  for (size_t i = 0; i < route.size(); i++)
    route[i].speed *= jump[i] ? (g_run.pace > 0.95f ? g_run.pace : 0.95f) : g_run.pace;
  set_robot_route(slot, route.data(), (int)route.size(), 2, 3840);
}

void scripted_human(Racer *racer, int slot) {
  int count = 0;
  robot_route(slot, &count);
  if (count == 0 && session_clock()->tick < session_clock()->start_tick)
    set_scripted_route(racer, slot);
  ride_route(racer, slot);
}

struct SessionFigures {
  int finished;
  int racers;
  int crashes;
  double best_lap;  // s
};

SessionFigures run_session(const int *lineup, int laps, int skill, int seed, double max_minutes) {
  SessionFigures f = {};
  session_clock()->tick = seed;
  if (!start_session(lineup, 0, 0, 0, laps, skill)) return f;
  const SessionClock *c = session_clock();
  int32_t limit = c->tick + (int32_t)(max_minutes * 60 * 128);
  int trace = getenv("DVLEARN_TRACE") != nullptr;
  while (!c->results_final && c->tick < limit) {
    run_tick();
    Racer *r = racer_at(0);
    if (trace && c->tick % 128 == 0 && r->bike) {
      const dReal *p = dBodyGetPosition(r->bike->bodies[FRAME_BODY]);
      const dReal *v = dBodyGetLinearVel(r->bike->bodies[FRAME_BODY]);
      int n = 0;
      const LinePoint *route = robot_route(0, &n);
      int t = robot_target(0);
      printf("%7.2f s at %7.1f %5.1f %7.1f %5.1f ft/s gear %d thr %.2f st %+.2f roll %+.2f "
             "crash %d next %d target %d/%d (%.1f %.1f %.1f) mode %d\n",
             c->tick * TICK, p[0], p[1], p[2], std::sqrt(v[0] * v[0] + v[2] * v[2]),
             r->bike->gear + 1, r->bike->controls.throttle, r->bike->controls.steer,
             roll_angle(r->bike->bodies[FRAME_BODY]), r->bike->crash_timer,
             r->bike->timing->next_gate, t, n, route && t < n ? route[t].x : 0,
             route && t < n ? route[t].z : 0, route && t < n ? route[t].speed : 0, robot_mode(0));
    }
  }
  GateField field = {};
  field.start_tick = c->start_tick;
  field.tick = c->tick;
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (!r->bike) continue;
    f.racers++;
    f.crashes += r->bike->crash_count;
    if (r->bike->timing->finished) f.finished++;
    for (int lap = 1; lap <= laps_completed(r->bike->timing); lap++) {
      double t = lap_time(r->bike->timing, lap, &field);
      if (t > 0 && (f.best_lap == 0 || t < f.best_lap)) f.best_lap = t;
    }
  }
  return f;
}

int count_lines(int *with_runs) {
  int n = 0;
  *with_runs = 0;
  for (int k = 0; k < line_section_count(); k++)
    for (int i = 0; i < LINE_SLOTS; i++) {
      const LineSlot *s = &line_slots(k)[i];
      if (!s->count) continue;
      n++;
      if (s->runs >= 5) (*with_runs)++;
    }
  return n;
}

// The check race: every robot's laps, crashes and its longest stand-still after the start.
void check_race(const Options &o, const std::string &track, int skill) {
  int lineup[MAX_RACERS] = {};
  for (int i = 0; i < o.race; i++) lineup[i] = LINEUP_ROBOT;
  session_options()->practice = 0;
  session_clock()->tick = 4242 + skill;
  if (!start_session(lineup, 0, 0, 0, o.race_laps, skill)) return;
  if (o.from) {
    std::string path = std::string(o.from) + "/" + track + "/" + lines_file_name(skill);
    clear_lines();
    lines_read_file(path.c_str());
    lines_analyse();
  }
  // The human laps behind the lines: the best recorded time of every lap section.
  double ideal = 0;
  for (int k = line_first_sections(); k < line_section_count(); k++) {
    int best = LINE_NO_TIME;
    for (int i = 0; i < LINE_SLOTS; i++)
      if (line_slots(k)[i].count && line_slots(k)[i].recorded_time1 < best)
        best = line_slots(k)[i].recorded_time1;
    ideal += best * TICK;
  }
  const SessionClock *c = session_clock();
  int still[MAX_RACERS] = {}, longest[MAX_RACERS] = {};
  while (!c->results_final && c->tick < c->start_tick + 40 * 60 * 128) {
    run_tick();
    if (c->tick < c->start_tick + 5 * 128) continue;
    for (int slot = 0; slot < racer_count(); slot++) {
      Racer *r = racer_at(slot);
      if (!r->bike || r->bike->timing->finished) continue;
      const dReal *v = dBodyGetLinearVel(r->bike->bodies[FRAME_BODY]);
      still[slot] = v[0] * v[0] + v[2] * v[2] < 4 ? still[slot] + 1 : 0;
      if (still[slot] > longest[slot]) longest[slot] = still[slot];
      if (still[slot] == 10 * 128 && !o.quiet) {
        const dReal *p = dBodyGetPosition(r->bike->bodies[FRAME_BODY]);
        printf("  robot in slot %d stands still for 10 s at %.1f s, at %.1f %.1f %.1f, next gate "
               "%d, mode %d, crash timer %d\n",
               slot, c->tick * TICK, p[0], p[1], p[2], r->bike->timing->next_gate,
               robot_mode(slot), r->bike->crash_timer);
      }
    }
  }
  GateField field = {};
  field.start_tick = c->start_tick;
  field.tick = c->tick;
  int finished = 0, crashes = 0, laps = 0, worst_still = 0;
  double total = 0, best = 0;
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (!r->bike) continue;
    finished += r->bike->timing->finished != 0;
    crashes += r->bike->crash_count;
    if (longest[slot] > worst_still) worst_still = longest[slot];
    for (int lap = 2; lap <= laps_completed(r->bike->timing); lap++) {
      double t = lap_time(r->bike->timing, lap, &field);
      if (t <= 0) continue;
      total += t;
      laps++;
      if (best == 0 || t < best) best = t;
    }
  }
  printf("%s %s: %d robots, %d finished, race %.1f s, best lap %.2f s, mean lap %.2f s, "
         "%d crashes, longest stand-still %.1f s, best human lap of the lines %.2f s\n",
         track.c_str(), lines_file_name(skill), racer_count(), finished,
         (c->tick - c->start_tick) * TICK, best, laps ? total / laps : 0.0, crashes,
         worst_still * TICK, ideal);
  fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!parse_options(argc, argv, &o)) {
    usage();
    return 2;
  }
  config_reset_defaults();
  dInitODE2(0);
  dSetMessageHandler(count_ode_message);
  physics_world_create();
  racer_table_reset();
  robot_set_options(0, 0);
  robot_install_hooks();
  if (!o.race) {
    SessionHooks hooks = *session_hooks();
    hooks.lines_save = keep_lines;
    hooks.lines_load = analyse_lines;
    hooks.human_controls = scripted_human;
    set_session_hooks(&hooks);
  }

  int status = 0;
  for (const std::string &track : o.tracks) {
    if (o.race) {
      track_select(track.c_str(), nullptr);
      for (int skill = 0; skill < SKILL_LEVELS; skill++)
        if (o.skill < 0 || skill == o.skill) check_race(o, track, skill);
      continue;
    }
    RacingLine line;
    if (!read_racing_line(track.c_str(), &line)) {
      fprintf(stderr, "dvlearn: no racing line for '%s'\n", track.c_str());
      status = 1;
      continue;
    }
    for (int skill = 0; skill < SKILL_LEVELS; skill++) {
      if (o.skill >= 0 && skill != o.skill) continue;
      track_select(track.c_str(), nullptr);
      session_options()->practice = 0;
      // 1. The scripted rider records its laps: a long session from the middle of the
      // gate, then a lap from each of several other gate places, so that every place on
      // the gate has a start line near it.
      g_run = Run{&line, SKILL_PACE[skill], o.human_laps};
      int seed = 1000 + skill * 97;
      int lineup[MAX_RACERS] = {LINEUP_HUMAN};
      // The first session loads the track; its store starts empty.
      if (!start_session(lineup, 0, 0, 0, 1, skill)) {
        fprintf(stderr, "dvlearn: the track '%s' could not be loaded\n", track.c_str());
        status = 1;
        break;
      }
      clear_lines();
      SessionFigures h = {};
      if (o.from) {
        std::string path = std::string(o.from) + "/" + track + "/" + lines_file_name(skill);
        if (!lines_read_file(path.c_str())) fprintf(stderr, "dvlearn: can't read '%s'\n", path.c_str());
      } else {
        const int places[] = {10, 0, 4, 8, 14, 19, 24, 29, 34, 39};
        int pieces = start_gate_count() > 0 ? start_gate_count() : 1;
        for (size_t i = 0; i < sizeof places / sizeof places[0]; i++) {
          if (i > 0 && places[i] >= pieces) continue;
          int place = places[i] < pieces ? places[i] : 0;
          int human[MAX_RACERS] = {};
          human[place] = LINEUP_HUMAN;
          g_run.laps = i == 0 ? o.human_laps : 1;
          SessionFigures f = run_session(human, g_run.laps, skill, seed + 50 + (int)i, 30);
          h.racers += f.racers;
          h.finished += f.finished;
          h.crashes += f.crashes;
          if (f.best_lap > 0 && (h.best_lap == 0 || f.best_lap < h.best_lap)) h.best_lap = f.best_lap;
        }
      }
      int with_runs, lines = count_lines(&with_runs);
      if (!o.quiet)
        printf("%s %d: scripted rider %d/%d finished, best lap %.2f s, %d crashes, %d lines\n",
               track.c_str(), skill, h.finished, h.racers, h.best_lap, h.crashes, lines);
      // 2. Practice sessions give the lines their runs.
      session_options()->practice = 1;
      int robots[MAX_RACERS] = {};
      for (int i = 0; i < o.robots; i++) robots[i] = LINEUP_ROBOT;
      for (int k = 0; k < o.sessions; k++) {
        SessionFigures r = run_session(robots, o.robot_laps, skill, seed + 1 + k, 30);
        lines = count_lines(&with_runs);
        if (!o.quiet)
          printf("%s %d: practice %d: %d/%d finished, best lap %.2f s, %d crashes, %d lines, "
                 "%d with 5 runs\n",
                 track.c_str(), skill, k + 1, r.finished, r.racers, r.best_lap, r.crashes, lines,
                 with_runs);
      }
      session_options()->practice = 0;
      std::string path = std::string(o.out) + "/" + track + "/" + lines_file_name(skill);
      if (!lines_write_file(path.c_str())) {
        fprintf(stderr, "dvlearn: can't write '%s'\n", path.c_str());
        status = 1;
      }
      printf("%s: %d lines, %d with 5 runs or more\n", path.c_str(), lines, with_runs);
    }
  }
  if (g_ode_messages && !o.quiet) printf("(%d solver messages)\n", g_ode_messages);
  session_end();
  track_unload();
  physics_world_destroy();
  dCloseODE();
  return status;
}
