// Bike and rider assembly: seven bodies, six joints, reset, moving and presence.
#include <cstdlib>
#include <cstring>

#include "bike/bike_local.h"
#include "platform/velk.h"
#include "render/model.h"
#include "render/texture.h"
#include "track/track.h"

// ---- masses ----

void wheel_mass(dMass *m, const WheelSpec *w) {
  dMassSetSphereTotal(m, w->hub_mass, w->hub_radius);
  for (int k = 0; k < 16; k++) {
    // Ring spheres start at (0, R, 0) and step by pi/8 about the axle.
    double a = k * (M_PI / 8);
    dMass s;
    dMassSetSphereTotal(&s, w->ring_mass / 16, w->tube_radius);
    dMassTranslate(&s, 0, w->torus_radius * cos(a), w->torus_radius * sin(a));
    dMassAdd(m, &s);
  }
}

void fork_mass(dMass *m, const BikeModel *model) {
  float half = model->fork_mass / 2;
  float radius = model->fork_leg_spacing / 8;
  float length = model->fork_length * 2 / 3;
  dMass leg;
  dMassSetCylinderTotal(m, half, 2, radius, length);
  dMassTranslate(m, model->fork_leg_spacing / 2, 0, 0);
  dMassSetCylinderTotal(&leg, half, 2, radius, length);
  dMassTranslate(&leg, -model->fork_leg_spacing / 2, 0, 0);
  dMassAdd(m, &leg);
  // Rake: tilt the top rearward along the steering axis.
  Vec3 d = model->fork_lower_position - model->fork_upper_position;
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, atan((double)d.z / d.y));
  dMassRotate(m, r);
}

void swingarm_mass(dMass *m, const BikeModel *model) {
  Vec3 d = model->rear_wheel.position - model->swingarm_pivot;
  float length = vec3_length(d);
  float side = model->frame_box.x / 4;
  dMass half;
  dMassSetBoxTotal(m, model->swingarm_side_mass, side, side, length);
  dMassTranslate(m, model->frame_box.x / 2, 0, 0);
  dMassSetBoxTotal(&half, model->swingarm_side_mass, side, side, length);
  dMassTranslate(&half, -model->frame_box.x / 2, 0, 0);
  dMassAdd(m, &half);
  // The arms run from the pivot down to the rear axle.
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, -atan((double)d.y / d.z));
  dMassRotate(m, r);
}

void frame_and_rider_mass(dMass *frame, dMass *rider, const BikeModel *model, float d) {
  Vec3 box = model->frame_box;
  dMassSetBoxTotal(frame, model->frame_mass + (1 - d) * model->rider_mass, box.x, box.y, box.z);
  dMassSetSphereTotal(rider, d * model->rider_mass, 1.0);
}

// Bodies must carry their centre of mass at their origin; the symmetric constructions leave
// only rounding behind.
static void set_mass(dBodyID body, dMass *m) {
  m->c[0] = m->c[1] = m->c[2] = 0;
  dBodySetMass(body, m);
}

// ---- build ----

static Vec3 build_position(const BikeModel *m, int body) {
  switch (body) {
    case FRAME_BODY: return m->frame_position;
    case FRONT_WHEEL_BODY: return m->front_wheel.position;
    case REAR_WHEEL_BODY: return m->rear_wheel.position;
    case FORK_UPPER_BODY: return m->fork_upper_position;
    case FORK_LOWER_BODY: return m->fork_lower_position;
    case SWINGARM_BODY: return m->swingarm_position;
    default: return m->rider_position;
  }
}

static void init_wheel_contact(WheelContact *w, dBodyID body, const WheelSpec *spec) {
  memset(w, 0, sizeof *w);
  w->body = body;
  w->axle = Vec3{1, 0, 0};
  w->torus_radius = spec->torus_radius;
  w->tube_radius = spec->tube_radius;
}


Bike *build_racer(const char *model_name, int slot, const char *number,
                  const char *rider_texture, const char *head_texture,
                  const char *bike_texture, const char *wheel_texture) {
  const BikeModel *row = find_bike_model(model_name ? model_name : "");
  Bike *b = (Bike *)calloc(1, sizeof(Bike));
  BikeModel *model = (BikeModel *)malloc(sizeof(BikeModel));
  RacerTiming *timing = (RacerTiming *)calloc(1, sizeof(RacerTiming));
  if (!b || !model || !timing) fatal_out_of_memory();

  // Collision shapes and graphics names; a shape that does not load leaves the part out of
  // the collisions.
  const char *shape_names[BIKE_BODY_COUNT] = {row->frame_shape,      row->front_wheel_shape,
                                              row->rear_wheel_shape, row->fork_upper_shape,
                                              row->fork_lower_shape, row->swingarm_shape,
                                              row->rider_shape};
  for (int i = 0; i < BIKE_BODY_COUNT; i++)
    b->shapes[i] = shape_names[i] ? shape_load(shape_names[i]) : nullptr;
  *model = *row;
  b->model = model;
  snprintf(b->number, sizeof b->number, "%s", number ? number : "");  // cut to 7
  const char *chosen[4] = {bike_texture, wheel_texture, rider_texture, head_texture};
  load_part_graphics(b, chosen);
  snprintf(b->model_name, sizeof b->model_name, "%s", row->name);

  b->engine_inertia = model->engine_inertia;
  b->timing = timing;
  racer_timing_init(timing);

  dWorldID world = physics_world();
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    b->bodies[i] = dBodyCreate(world);
    Vec3 p = build_position(model, i);
    dBodySetPosition(b->bodies[i], p.x, p.y, p.z);
  }
  dBodySetFiniteRotationMode(b->bodies[FRONT_WHEEL_BODY], 1);
  dBodySetFiniteRotationMode(b->bodies[REAR_WHEEL_BODY], 1);

  dMass m, rider;
  wheel_mass(&m, &model->front_wheel);
  set_mass(b->bodies[FRONT_WHEEL_BODY], &m);
  wheel_mass(&m, &model->rear_wheel);
  set_mass(b->bodies[REAR_WHEEL_BODY], &m);
  fork_mass(&m, model);
  set_mass(b->bodies[FORK_UPPER_BODY], &m);
  set_mass(b->bodies[FORK_LOWER_BODY], &m);
  swingarm_mass(&m, model);
  set_mass(b->bodies[SWINGARM_BODY], &m);
  frame_and_rider_mass(&m, &rider, model, 1.0f / 3);
  set_mass(b->bodies[FRAME_BODY], &m);
  set_mass(b->bodies[RIDER_BODY], &rider);

  dBodyID frame = b->bodies[FRAME_BODY];
  dBodyID fork_upper = b->bodies[FORK_UPPER_BODY];
  dBodyID fork_lower = b->bodies[FORK_LOWER_BODY];
  dBodyID swingarm = b->bodies[SWINGARM_BODY];
  Vec3 fa = model->front_wheel.position, ra = model->rear_wheel.position;
  Vec3 steer = vec3_normalize(model->fork_upper_position - model->fork_lower_position);
  Vec3 up = model->fork_upper_position;

  dJointID j = dJointCreateHinge(world, 0);
  dJointAttach(j, fork_lower, b->bodies[FRONT_WHEEL_BODY]);
  dJointSetHingeAnchor(j, fa.x, fa.y, fa.z);
  dJointSetHingeAxis(j, 1, 0, 0);
  b->joints[FRONT_AXLE_JOINT] = j;

  j = dJointCreateHinge(world, 0);
  dJointAttach(j, swingarm, b->bodies[REAR_WHEEL_BODY]);
  dJointSetHingeAnchor(j, ra.x, ra.y, ra.z);
  dJointSetHingeAxis(j, 1, 0, 0);
  b->joints[REAR_AXLE_JOINT] = j;

  j = dJointCreateHinge(world, 0);
  dJointAttach(j, fork_upper, frame);
  dJointSetHingeAnchor(j, up.x, up.y, up.z);
  dJointSetHingeAxis(j, steer.x, steer.y, steer.z);
  dJointSetHingeParam(j, dParamLoStop, -M_PI / 4);
  dJointSetHingeParam(j, dParamHiStop, M_PI / 4);
  b->joints[STEERING_JOINT] = j;

  // The top-out stop sits a hair past the build position: with the slider resting exactly
  // on its stop in the build pose, ODE 0.16's step solver meets a degenerate problem
  // ("LCP internal error") and drops every constraint of the bike for that step.
  j = dJointCreateSlider(world, 0);
  dJointAttach(j, fork_upper, fork_lower);
  dJointSetSliderAxis(j, steer.x, steer.y, steer.z);
  dJointSetSliderParam(j, dParamBounce, 0);
  dJointSetSliderParam(j, dParamLoStop, -model->fork_travel);
  dJointSetSliderParam(j, dParamHiStop, FORK_TOP_OUT);
  b->joints[FORK_JOINT] = j;

  Vec3 pivot = model->swingarm_pivot;
  j = dJointCreateHinge(world, 0);
  dJointAttach(j, swingarm, frame);
  dJointSetHingeAnchor(j, pivot.x, pivot.y, pivot.z);
  dJointSetHingeAxis(j, 1, 0, 0);
  dJointSetHingeParam(j, dParamBounce, 0);
  dJointSetHingeParam(j, dParamLoStop, -model->swingarm_travel);
  dJointSetHingeParam(j, dParamHiStop, 0);
  b->joints[SWINGARM_JOINT] = j;

  // The rider's hinge sits 50 ft ahead, so turning about its second axis moves the rider
  // almost straight up and down; its suspension lets the rider slide along the first.
  j = dJointCreateHinge2(world, 0);
  dJointAttach(j, b->bodies[RIDER_BODY], frame);
  dJointSetHinge2Anchor(j, 0, model->rider_position.y, -50);
  dReal axis1[3] = {0, M_SQRT1_2, M_SQRT1_2}, axis2[3] = {1, 0, 0};
  dJointSetHinge2Axes(j, axis1, axis2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
  b->joints[RIDER_JOINT] = j;

  for (int i = 0; i < BIKE_JOINT_COUNT; i++) dJointSetFeedback(b->joints[i], &b->joint_feedback[i]);

  init_wheel_contact(&b->front, b->bodies[FRONT_WHEEL_BODY], &model->front_wheel);
  init_wheel_contact(&b->rear, b->bodies[REAR_WHEEL_BODY], &model->rear_wheel);

  bike_setup_defaults(b);

  b->total_mass = 0;
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    dBodyGetMass(b->bodies[i], &m);
    b->total_mass += (float)m.mass;
  }
  reset_racer(b);
  b->slot = slot;
  return b;
}

void free_racer(Bike *b) {
  if (!b) return;
  for (int i = 0; i < BIKE_JOINT_COUNT; i++)
    if (b->joints[i]) dJointDestroy(b->joints[i]);
  for (int i = 0; i < BIKE_BODY_COUNT; i++)
    if (b->bodies[i]) dBodyDestroy(b->bodies[i]);
  for (int i = 0; i < BIKE_BODY_COUNT; i++)
    if (b->shapes[i]) shape_free(b->shapes[i]);
  texture_delete(b->number_texture);
  if (b->timing) {
    racer_timing_free(b->timing);
    free(b->timing);
  }
  free(b->model);
  free(b);
}

// ---- reset and placement ----

void reset_racer(Bike *b) {
  static const int order[BIKE_BODY_COUNT] = {FORK_UPPER_BODY, FORK_LOWER_BODY, SWINGARM_BODY,
                                             FRAME_BODY, FRONT_WHEEL_BODY, REAR_WHEEL_BODY,
                                             RIDER_BODY};
  for (int k = 0; k < BIKE_BODY_COUNT; k++) {
    dBodyID body = b->bodies[order[k]];
    Vec3 p = build_position(b->model, order[k]);
    dMatrix3 r;
    dRSetIdentity(r);
    dBodySetPosition(body, p.x, p.y, p.z);
    dBodySetRotation(body, r);
    dBodySetLinearVel(body, 0, 0, 0);
    dBodySetAngularVel(body, 0, 0, 0);
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
  }

  b->controls = Controls{};
  b->gear = 0;
  b->last_shift_input = 0;
  b->gearbox_angle = 0;
  b->engine_speed = 0;
  b->lap_spoiled = 0;
  b->crash_timer = 0;
  b->crash_count = 0;
  b->knock = 0;
  b->lock_indicator = 0;
  b->dab_extension = 0;
  b->landing_damping = 1;
  b->presence = 1;
  b->last_bike_contact_tick = -1;
  b->interpolation_marker = -1;
  memset(b->rider_velocity, 0, sizeof b->rider_velocity);
  if (b->timing) racer_timing_clear(b->timing);

  // The rider goes back onto the seat with the frame's orientation.
  dBodyID frame = b->bodies[FRAME_BODY], rider = b->bodies[RIDER_BODY];
  Vec3 seat = b->model->rider_position - b->model->frame_position;
  Vec3 p = body_point(frame, seat.x, seat.y, seat.z);
  dBodySetPosition(rider, p.x, p.y, p.z);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  dJointAttach(b->joints[RIDER_JOINT], rider, frame);

  memset(b->joint_feedback, 0, sizeof b->joint_feedback);
  memset(&b->front.feedback, 0, sizeof b->front.feedback);
  memset(&b->rear.feedback, 0, sizeof b->rear.feedback);
  b->front.depth = b->rear.depth = 0;
  memset(b->erosion, 0, sizeof b->erosion);
  b->erosion_write = b->erosion_read = 0;
}

void translate_racer(Bike *b, float dx, float dy, float dz) {
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    const dReal *p = dBodyGetPosition(b->bodies[i]);
    dBodySetPosition(b->bodies[i], p[0] + dx, p[1] + dy, p[2] + dz);
  }
}

void rotate_racer(Bike *b, float ax, float ay, float az, float angle) {
  dMatrix3 r;
  dRFromAxisAndAngle(r, ax, ay, az, angle);
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    const dReal *p = dBodyGetPosition(b->bodies[i]);
    dVector3 old = {p[0], p[1], p[2], 0}, q;
    dMultiply0_331(q, r, old);
    dBodySetRotation(b->bodies[i], r);
    dBodySetPosition(b->bodies[i], q[0], q[1], q[2]);
  }
}

void set_presence(Bike *b, float weight) {
  weight = clampf(weight, 0, 1);
  if (b->presence == 0) {
    for (int i = 0; i < BIKE_BODY_COUNT; i++) {
      dBodySetForce(b->bodies[i], 0, 0, 0);
      dBodySetTorque(b->bodies[i], 0, 0, 0);
    }
    b->interpolation_marker = -1;
  }
  b->presence = weight;
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    if (weight == 0)
      dBodyDisable(b->bodies[i]);
    else
      dBodyEnable(b->bodies[i]);
  }
}

// ---- one-tick soft contacts ----

dJointID soft_contact(const SoftContact *c, dBodyID body1, dBodyID body2) {
  dContact contact;
  memset(&contact, 0, sizeof contact);
  int mode = dContactSoftERP | dContactSoftCFM;
  if (c->approx1) mode |= dContactApprox1;
  if (c->has_fdir) {
    mode |= dContactFDir1;
    contact.fdir1[0] = c->fdir.x;
    contact.fdir1[1] = c->fdir.y;
    contact.fdir1[2] = c->fdir.z;
  }
  double h = TICK;
  contact.surface.mode = mode;
  contact.surface.mu = c->mu;
  contact.surface.soft_erp = c->kp * h / (c->kp * h + c->kd);
  contact.surface.soft_cfm = 1.0 / (c->kp * h + c->kd);
  contact.geom.pos[0] = c->point.x;
  contact.geom.pos[1] = c->point.y;
  contact.geom.pos[2] = c->point.z;
  contact.geom.normal[0] = c->normal.x;
  contact.geom.normal[1] = c->normal.y;
  contact.geom.normal[2] = c->normal.z;
  contact.geom.depth = c->depth;
  dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &contact);
  dJointAttach(j, body1, body2);
  return j;
}
