// dvrace: runs a race session headless, as fast as the machine allows, writes results.txt
// as the game does and prints the results. For AI races, setup comparisons, tests and
// benchmarks.
#include <ode/ode.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_local.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race.h"
#include "robot/robot.h"
#include "terrain/terrain.h"
#include "tools/tool_options.h"
#include "track/track.h"

namespace {

struct Options {
  const char *track = "rabbithill";
  int robots = 4;
  int human = 0;  // a scripted rider in the human's place (slot 0)
  int skill = 1;
  int laps = 3;
  int minutes = 0;
  uint32_t seed = 0;
  int record = 0;
  int practice = 0;
  double max_minutes = 30;  // simulated minutes before giving up
  const char *series = nullptr;
  int quiet = 0;
  int trace = 0;  // print slot 0 once a second
  int full_physics = 0;  // scripted riders ride the bike's own physics and collisions
  const char *riders = "gates";  // gates, line or robots
};

void usage() {
  fprintf(stderr,
          "usage: dvrace [options]\n"
          "  --track DIR        track directory (rabbithill)\n"
          "  --robots N         robots in the lineup, 0-159 (4)\n"
          "  --human            a scripted rider takes the human's place in slot 0\n"
          "  --skill S          Novice, Amateur, Expert or 0-2 (Amateur)\n"
          "  --laps N           laps, or extra laps after the time (3)\n"
          "  --minutes N        timed race of N minutes (0)\n"
          "  --seed N           the session's start tick: robot shuffle and gate drop (0)\n"
          "  --record           record the demo (@demos/default.dvdemo)\n"
          "  --practice         every robot rides with the personality \"tester\"\n"
          "  --max-minutes M    give up after M simulated minutes (30)\n"
          "  --series NAME      run the next event of a points series (file or name)\n"
          "  --quiet            print only the results\n"
          "  --trace            print where slot 0 is once a second\n"
          "  --riders KIND      who rides the robots' bikes (gates):\n"
          "                     gates   scripted riders aiming at the next timing gate\n"
          "                     line    scripted riders following the track's racing_line\n"
          "                     robots  the auto pilot on the track's learnt lines\n"
          "  --full-physics     gate riders ride the full bike physics and collisions\n"
          "                     (by default a steadying hand keeps them upright)\n");
}

int parse_options(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&]() {
      if (!v) fprintf(stderr, "dvrace: %s needs a value\n", a);
      return v != nullptr;
    };
    if (!strcmp(a, "--track")) {
      if (!need()) return 0;
      o->track = argv[++i];
    } else if (!strcmp(a, "--robots")) {
      if (!need() || !parse_count(argv[++i], 0, MAX_RACERS - 1, &o->robots)) return 0;
    } else if (!strcmp(a, "--human")) {
      o->human = 1;
    } else if (!strcmp(a, "--skill")) {
      if (!need()) return 0;
      if (!parse_skill(argv[++i], &o->skill)) return 0;
    } else if (!strcmp(a, "--laps")) {
      if (!need() || !parse_count(argv[++i], 0, 1000, &o->laps)) return 0;
    } else if (!strcmp(a, "--minutes")) {
      if (!need() || !parse_count(argv[++i], 0, 600, &o->minutes)) return 0;
    } else if (!strcmp(a, "--seed")) {
      int seed;
      if (!need() || !parse_count(argv[++i], 0, 0x7fffffff, &seed)) return 0;
      o->seed = (uint32_t)seed;
    } else if (!strcmp(a, "--record")) {
      o->record = 1;
    } else if (!strcmp(a, "--practice")) {
      o->practice = 1;
    } else if (!strcmp(a, "--max-minutes")) {
      if (!need()) return 0;
      o->max_minutes = atof(argv[++i]);
      if (!(o->max_minutes > 0 && o->max_minutes <= 24 * 60)) return 0;
    } else if (!strcmp(a, "--series")) {
      if (!need()) return 0;
      o->series = argv[++i];
    } else if (!strcmp(a, "--riders")) {
      if (!need()) return 0;
      o->riders = argv[++i];
      if (strcmp(o->riders, "gates") && strcmp(o->riders, "line") && strcmp(o->riders, "robots")) {
        fprintf(stderr, "dvrace: unknown riders '%s'\n", o->riders);
        return 0;
      }
    } else if (!strcmp(a, "--full-physics")) {
      o->full_physics = 1;
    } else if (!strcmp(a, "--trace")) {
      o->trace = 1;
    } else if (!strcmp(a, "--quiet")) {
      o->quiet = 1;
    } else {
      fprintf(stderr, "dvrace: unknown option %s\n", a);
      return 0;
    }
  }
  if (o->laps == 0 && o->minutes == 0) {
    fprintf(stderr, "dvrace: a race needs laps or minutes\n");
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// The scripted rider: aims at the next timing gate with moderate throttle. It stands in for
// the auto pilot (robots) and the player (the human's slot) until those ride.
// ---------------------------------------------------------------------------------------
Vec3 body_axis(dBodyID b, int column) {
  const dReal *r = dBodyGetRotation(b);
  return vec3((float)r[column], (float)r[4 + column], (float)r[8 + column]);
}

void scripted_rider(Racer *racer, int slot) {
  Bike *bike = racer->bike;
  const SessionClock *c = session_clock();
  bike->setup_flags |= SETUP_AUTO_SHIFT;
  set_clutch(bike, 1);
  set_dab(bike, 0);
  set_lean(bike, 0);
  if (c->tick < c->start_tick) {  // wait behind the gate
    set_throttle(bike, 0);
    set_front_brake(bike, 1);
    set_rear_brake(bike, 1);
    set_steer(bike, 0);
    return;
  }
  set_front_brake(bike, 0);
  set_rear_brake(bike, 0);
  const dReal *p = dBodyGetPosition(bike->bodies[FRAME_BODY]);
  Vec3 forward = body_axis(bike->bodies[FRAME_BODY], 2) * -1.0f;
  Vec3 right = body_axis(bike->bodies[FRAME_BODY], 0);
  float steer = 0, error = 0;
  const TimingGate *g = track_has_timing() ? timing_gate(gate_of_crossing(bike->timing->next_gate)) : nullptr;
  if (g) {
    float dx = g->x - (float)p[0], dz = g->z - (float)p[2];
    float ahead = dx * forward.x + dz * forward.z;
    float side = dx * right.x + dz * right.z;
    error = std::atan2(side, ahead);  // rad, positive to the right
    steer = std::fmax(-1.0f, std::fmin(1.0f, error * 1.5f));
  }
  set_steer(bike, steer);
  // Ease off for tight turns; push harder when the bike has bogged down.
  const dReal *v = dBodyGetLinearVel(bike->bodies[FRAME_BODY]);
  float speed = (float)std::sqrt(v[0] * v[0] + v[2] * v[2]);  // ft/s
  float throttle = 0.6f - 0.2f * std::fmin(1.0f, std::fabs(error));
  if (speed < 8) throttle = 0.9f;
  set_throttle(bike, throttle);
  // A rider stuck for 4 s is turned where he stands to face the next gate.
  static int stuck[MAX_RACERS];
  stuck[slot] = speed < 3 ? stuck[slot] + 1 : 0;
  if (stuck[slot] >= 512 && g) {
    stuck[slot] = 0;
    place_bike(bike, (float)p[0], (float)p[2],
               std::atan2(-(g->x - (float)p[0]), -(g->z - (float)p[2])));
  }
}

// ---------------------------------------------------------------------------------------
// The steadying hand of the scripted riders: wheels on the ground, the frame held from
// falling over, the bars following the steer control, and the suspension and drivetrain
// laws. A scripted rider is no match for the full rider model; robots ride that.
// ---------------------------------------------------------------------------------------
int interim_contact_pass(Bike *bike) {
  const Terrain *t = terrain_current();
  int touching = wheel_ground_contact(t, &bike->front, 1);
  touching |= wheel_ground_contact(t, &bike->rear, 1);
  // Hold the roll; leave the yaw to the steering.
  dBodyID frame = bike->bodies[FRAME_BODY];
  dJointID m = dJointCreateAMotor(physics_world(), physics_contact_group());
  dJointAttach(m, frame, 0);
  dJointSetAMotorMode(m, dAMotorUser);
  dJointSetAMotorNumAxes(m, 1);
  Vec3 back = body_axis(frame, 2);
  dJointSetAMotorAxis(m, 0, 0, back.x, back.y, back.z);
  dJointSetAMotorParam(m, dParamVel, -4 * roll_angle(frame));
  dJointSetAMotorParam(m, dParamFMax, 5000);
  return touching;
}

void interim_physics_step(Bike *bike, int tick) {
  // The bars follow the steer control (up to 0.35 rad of lock, right positive).
  dJointID steering = bike->joints[STEERING_JOINT];
  float want = -0.35f * bike->controls.steer;
  float angle = (float)dJointGetHingeAngle(steering);
  dJointSetHingeParam(steering, dParamVel, 8 * (want - angle));
  dJointSetHingeParam(steering, dParamFMax, 500);
  rider_mount_step(bike);
  fork_force(bike);
  shock_torque(bike);
  if (bike->setup_flags & SETUP_AUTO_SHIFT) auto_shift_step(bike, tick);
  drivetrain_step(bike);
  brake_step(bike);
}

// ---------------------------------------------------------------------------------------
// Line riders: the track's designed racing line ("<dir>/racing_line": the lap, and
// "<dir>-start" from behind the gate into the lap), ridden by the auto pilot's route
// follower over the full physics.
// ---------------------------------------------------------------------------------------
int read_racing_line(const char *dir, const std::string &id, std::vector<LinePoint> *out) {
  std::string name = std::string("@") + dir + "/racing_line";
  DataFile *f = datafile_open(name.c_str(), "rb");
  if (!f) return 0;
  char line[256], word[128];
  bool in = false;
  while (datafile_gets(f, line, sizeof line)) {
    if (line[0] == '#') continue;
    if (!strncmp(line, "racing_line ", 12)) {
      in = sscanf(line, "racing_line %127s", word) == 1 && id == word;
      continue;
    }
    float along, x, y, z, speed;
    int flag;
    if (in && sscanf(line, "%f %f %f %f %f %d", &along, &x, &y, &z, &speed, &flag) == 6)
      out->push_back(LinePoint{x, y, z, speed, 0});
  }
  datafile_close(f);
  return !out->empty();
}

// The route of every robot: the start chute, then the lap as often as the race can last.
int set_line_routes(int laps) {
  std::vector<LinePoint> lap, route;
  const char *dir = track_directory();
  if (!read_racing_line(dir, dir, &lap)) return 0;
  read_racing_line(dir, std::string(dir) + "-start", &route);
  for (int i = 0; i < laps; i++) route.insert(route.end(), lap.begin(), lap.end());
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (r->bike && r->kind != RACER_REMOTE)
      set_robot_route(slot, route.data(), (int)route.size(), 0, 0);
  }
  return 1;
}

Series *find_series(const char *name) {
  for (int i = 0; i < series_count(); i++) {
    Series *s = series_at(i);
    const char *base = strrchr(s->file, '/');
    base = base ? base + 1 : s->file;
    if (!strcmp(s->file, name) || !strcmp(base, name) || !strcmp(s->name, name)) {
      select_series(i);
      return s;
    }
  }
  return nullptr;
}

void print_running_order() {
  update_results();
  int count;
  const RunningOrder *order = running_order(&count);
  printf("%4s | %12s | %4s | %9s\n", "No.", "Bike", "Laps", "Crossings");
  for (int i = 0; i < count; i++) {
    const Racer *r = racer_at(order[i].slot);
    printf("%4s | %12s | %4d | %9d\n", r->number, r->bike->model_name,
           laps_completed(r->bike->timing), order[i].crossings);
  }
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!parse_options(argc, argv, &o)) {
    usage();
    return 2;
  }
  config_reset_defaults();
  config_read();
  dInitODE2(0);
  physics_world_create();
  racer_table_reset();
  SessionHooks hooks = {};
  int gates = !strcmp(o.riders, "gates"), line = !strcmp(o.riders, "line");
  if (gates) {
    hooks.auto_pilot_tick = scripted_rider;
    hooks.human_controls = scripted_rider;
    if (!o.full_physics) {
      hooks.object_contact_pass = interim_contact_pass;
      hooks.physics_step = interim_physics_step;
    }
  } else if (line) {
    hooks.auto_pilot_tick = ride_route;
    hooks.human_controls = ride_route;
  }
  set_session_hooks(&hooks);
  robot_set_options(0, 0);
  if (!strcmp(o.riders, "robots")) robot_install_hooks();
  session_options()->practice = o.practice;
  scan_series();

  // The session's shuffle and gate drop follow the tick it starts at.
  session_clock()->tick = (int32_t)o.seed;
  int started;
  if (o.series) {
    Series *s = find_series(o.series);
    if (!s) {
      fprintf(stderr, "dvrace: no series '%s'\n", o.series);
      return 1;
    }
    if (s->completed >= s->event_count) {
      fprintf(stderr, "dvrace: every event of '%s' has been run\n", s->name);
      return 1;
    }
    if (!o.quiet)
      printf("Series %s, event %d of %d: %s\n", s->name, s->completed + 1, s->event_count,
             s->events[s->completed].name);
    config()->record.index = o.record;
    started = enter_series_event();
  } else {
    int lineup[MAX_RACERS] = {};
    int slot = 0;
    if (o.human) lineup[slot++] = LINEUP_HUMAN;
    for (int i = 0; i < o.robots && slot < MAX_RACERS; i++) lineup[slot++] = LINEUP_ROBOT;
    track_select(o.track, nullptr);
    started = start_session(lineup, 0, o.record, o.minutes * 60 * 128, o.laps, o.skill);
  }
  if (!started) {
    fprintf(stderr, "dvrace: the track '%s' could not be loaded\n", track_directory());
    return 1;
  }
  const SessionClock *c = session_clock();
  if (line && !set_line_routes(c->duration ? o.minutes * 2 + c->extra_laps + 2 : c->extra_laps + 2)) {
    fprintf(stderr, "dvrace: the track '%s' has no racing_line\n", track_directory());
    return 1;
  }
  if (!o.quiet) {
    char length[64];
    race_length_text(length, sizeof length, c->duration, c->extra_laps);
    printf("Track %s, %d racers, %s, gate drops at %.2f s\n", track_directory(), racer_count(),
           length, c->start_tick * TICK);
  }

  int32_t limit = c->tick + (int32_t)(o.max_minutes * 60 * 128);
  while (!c->results_final && c->tick < limit) {
    run_tick();
    Racer *r = racer_at(0);
    if (o.trace && c->tick % 128 == 0 && r && r->bike) {
      const dReal *p = dBodyGetPosition(r->bike->bodies[FRAME_BODY]);
      const dReal *v = dBodyGetLinearVel(r->bike->bodies[FRAME_BODY]);
      const TimingGate *g = timing_gate(gate_of_crossing(r->bike->timing->next_gate));
      printf("%7.2f s  at %8.1f %6.1f %8.1f  %5.1f ft/s  gear %d  %5.0f rpm  next %d",
             c->tick * TICK, p[0], p[1], p[2], std::sqrt(v[0] * v[0] + v[2] * v[2]),
             r->bike->gear + 1, engine_rpm(r->bike), r->bike->timing->next_gate);
      if (g) printf(" (gate at %.1f %.1f)", g->x, g->z);
      printf("\n");
    }
  }

  int status = 0;
  if (c->results_final) {
    int count;
    final_order(&count);
    size_t n = format_results(nullptr, 0, 0);
    std::string text(n, '\0');
    format_results(&text[0], n + 1, 0);
    // The printed copy drops the carriage returns and the date of the file.
    std::string out;
    for (char ch : text)
      if (ch != '\r') out += ch;
    if (!o.quiet) printf("Finished after %.2f s\n", (c->tick - c->start_tick) * TICK);
    fputs(out.c_str(), stdout);
  } else {
    printf("Not finished after %.0f simulated minutes\n", o.max_minutes);
    print_running_order();
    status = 3;
  }
  // As the game's exit path: a running series event is recorded even when unfinished.
  record_series_event();
  if (o.series && !o.quiet) {
    const Series *s = series_at(selected_series());
    printf("\nStandings of %s after %d of %d events\n", s->name, s->completed, s->event_count);
    for (int p = 0; p <= s->robot_count; p++) {
      char who[32];
      if (p < s->robot_count)
        snprintf(who, sizeof who, "%d", s->robots[p]);
      else
        snprintf(who, sizeof who, "you");
      int finish = s->completed > 0 ? s->events[s->completed - 1].finishes[p] + 1 : 0;
      printf("%4s | last %3d | %4d points\n", who, finish, series_points(s, p));
    }
  }
  session_end();
  track_unload();
  physics_world_destroy();
  dCloseODE();
  return status;
}
