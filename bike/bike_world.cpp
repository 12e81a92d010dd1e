// The rigid-body world and its per-tick contact joint group.
#include "bike/bike.h"

// ---- per session: the world lives from start-up to exit ----
static struct {
  dWorldID world;
  dJointGroupID contacts;
} s_world;

int physics_world_create() {
  if (s_world.world) return 0;
  s_world.world = dWorldCreate();
  dWorldSetGravity(s_world.world, 0, -32, 0);  // ft/s^2, y up
  s_world.contacts = dJointGroupCreate(0);
  return 1;
}

void physics_world_destroy() {
  if (!s_world.world) return;
  dJointGroupDestroy(s_world.contacts);
  dWorldDestroy(s_world.world);
  s_world = {};
}

void physics_world_step() {
  dWorldStep(s_world.world, TICK);
  dJointGroupEmpty(s_world.contacts);
}

dWorldID physics_world() { return s_world.world; }
dJointGroupID physics_contact_group() { return s_world.contacts; }
