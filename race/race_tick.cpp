// The simulation tick: one step of 1/128 s for the racers, the world, the timing, the
// starting gate, the results and the demo, in that order.
#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "race/race_local.h"
#include "terrain/terrain.h"

static float frame_speed_squared(const Bike *bike) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[FRAME_BODY]);
  return (float)(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

static int simulated_here(const Racer *r) { return r->bike && r->kind != RACER_REMOTE; }

// Offline racer interactions: every local bike against the track's objects, then every
// pair of them, fastest first. Hooks, when installed, stand in for the bike's passes.
static void collide_racers(const SessionHooks *h, int32_t tick) {
  int list[MAX_RACERS], count = 0;
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (!simulated_here(r)) continue;
    if (h->object_contact_pass)
      h->object_contact_pass(r->bike);
    else
      object_contact_pass(r->bike, terrain_current(), tick);
    list[count++] = slot;
  }
  if (count < 2) return;
  struct Moving {
    int slot;
    float speed2;  // ft^2/s^2, frame body
    Vec3 frame;    // ft
    float reach;   // ft, bike_contact_reach
  } moving[MAX_RACERS];
  for (int i = 0; i < count; i++) {
    const Bike *bike = racer_at(list[i])->bike;
    const dReal *p = dBodyGetPosition(bike->bodies[FRAME_BODY]);
    moving[i] = {list[i], frame_speed_squared(bike), Vec3{(float)p[0], (float)p[1], (float)p[2]},
                 bike_contact_reach(bike)};
  }
  std::stable_sort(moving, moving + count,
                   [](const Moving &a, const Moving &b) { return a.speed2 > b.speed2; });
  for (int i = 0; i < count; i++)
    for (int j = i + 1; j < count; j++) {
      Bike *a = racer_at(moving[i].slot)->bike, *b = racer_at(moving[j].slot)->bike;
      if (h->bike_contact_pass) {
        h->bike_contact_pass(a, b, 0);
        continue;
      }
      // Most pairs are far apart: the pass would find nothing.
      float apart = moving[i].reach + moving[j].reach + 1e-3f;  // a hair over, for rounding
      Vec3 d = moving[j].frame - moving[i].frame;
      if (vec3_dot(d, d) > apart * apart) continue;
      bike_contact_pass(a, b, 0, tick);
    }
}

// The bike's own physics for the tick.
static void step_bike(const SessionHooks *h, Racer *r, int slot, const SessionClock *c) {
  if (h->physics_step) {
    h->physics_step(r->bike, c->tick);
    return;
  }
  BikeStep step = {};
  step.terrain = terrain_current();
  step.tick = c->tick;
  step.start_tick = c->start_tick;
  step.race_running = c->tick >= c->start_tick && !c->results_final;
  if (h->line_point) step.has_line_point = h->line_point(r, slot, &step.line_point);
  physics_step(r->bike, &step);
}

// The starting gate: raised pieces tilt by their drop angle about their own x axis and fall
// after the gate drops.
static void pose_starting_gate(const SessionClock *c) {
  if (c->tick >= c->start_tick + (int32_t)(10 / TICK)) return;
  for (int i = 0; i < start_gate_count(); i++) {
    StartGatePiece *p = start_gate_piece(i);
    if (!(p->drop_angle > 0)) continue;
    if (c->tick > c->start_tick) p->drop_angle = std::max(0.0f, p->drop_angle - (float)(8 * TICK));
    Statue *st = p->statue >= 0 ? statue_at(p->statue) : nullptr;
    if (!st) continue;
    float base[9];
    object_orientation(base, st->x, st->z, st->heading);
    float a = p->drop_angle * 3.14159265f * 3 / 16;
    float ca = std::cos(a), sa = std::sin(a);
    // base x Rx(a): the y and z columns turn about the x column.
    for (int row = 0; row < 3; row++) {
      float y = base[row * 3 + 1], z = base[row * 3 + 2];
      st->orientation[row * 3 + 0] = base[row * 3 + 0];
      st->orientation[row * 3 + 1] = y * ca + z * sa;
      st->orientation[row * 3 + 2] = -y * sa + z * ca;
    }
  }
}

void run_tick() {
  SessionClock *c = session_clock();
  const SessionHooks *h = session_hooks();
  int count = racer_count();

  // 1. Racers simulated elsewhere take their pose from their history.
  for (int slot = 0; slot < count; slot++) {
    Racer *r = racer_at(slot);
    if (r->bike && r->kind == RACER_REMOTE && h->place_remote) h->place_remote(r, slot, c->tick);
  }

  // 2. Time trial: the lap counts before the tick.
  int laps0 = 0, laps1 = 0;
  if (c->time_trial) {
    if (racer_timing(0)) laps0 = laps_completed(racer_timing(0));
    if (racer_timing(1)) laps1 = laps_completed(racer_timing(1));
  }

  // 3. Racer interactions.
  collide_racers(h, c->tick);

  // 4. Roost, in an order that rotates with the tick.
  if (h->roost_emit && count > 0) {
    for (int k = 0; k < count; k++) {
      Racer *r = racer_at((c->tick % count + count + k) % count);
      if (r->bike) h->roost_emit(r->bike, r->kind != RACER_REMOTE);
    }
  }

  // 5. The world moves.
  physics_world_step();

  // 6. Erosion.
  if (session_options()->erosion > 0 && h->erode)
    for (int slot = 0; slot < count; slot++)
      if (simulated_here(racer_at(slot))) h->erode(racer_at(slot)->bike);

  // 7. Every racer in slot order: controls, physics, gates.
  GateField field;
  for (int slot = 0; slot < count; slot++) {
    Racer *r = racer_at(slot);
    if (!r->bike) continue;
    if (r->kind == RACER_ROBOT && h->auto_pilot_tick) h->auto_pilot_tick(r, slot);
    if (r->kind == RACER_HUMAN && h->human_controls) h->human_controls(r, slot);
    if (r->kind != RACER_REMOTE) step_bike(h, r, slot, c);
    race_gate_field(&field);
    const dReal *wheel = dBodyGetPosition(r->bike->bodies[FRONT_WHEEL_BODY]);
    check_gate_crossing(r->bike->timing, slot,
                        vec3((float)wheel[0], (float)wheel[1], (float)wheel[2]), &field);
  }

  // 8. Roost particles move.
  if (h->roost_update) h->roost_update();

  // 9. The starting gate.
  pose_starting_gate(c);

  // 10. The clock.
  c->tick += 1;

  // 11. The demo stream.
  demo_write_tick(0);
  demo_read_tick();

  // 12. Time trial laps.
  if (c->time_trial) {
    if (racer_timing(1) && laps_completed(racer_timing(1)) != laps1) time_trial_ghost_lap();
    if (racer_timing(0) && laps_completed(racer_timing(0)) != laps0) time_trial_lap_completed();
  }
}
