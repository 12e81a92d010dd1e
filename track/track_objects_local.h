// The track module's object records, shared by the readers and the load.
#pragma once
#include <cstddef>

#include "core/common.h"
#include "track/track.h"

// ---- per session: which track, and the settings the load reads ----
struct TrackSession {
  char directory[512];
  char display_name[512];
  int debug_level;        // 0, 1, 2
  int render_method;      // 1 software, 2 copy, 3 direct
  int model_normal_maps;  // models draw with normal maps
  TrackLoadHooks hooks;
};

// ---- per track: created empty by each load, freed by the unload ----
struct TrackObjects {
  int created;  // the tables below exist
  int loaded;   // a load finished
  Lighting lighting;
  Growable billboards;       // Billboard: roost particles, flaggers, then the track's own
  Growable billboard_spare;  // two ints per billboard for the billboard optimiser
  Growable billboard_bins[OBJECT_BINS][OBJECT_BINS];  // int
  int track_billboard_first;
  Growable statues;          // Statue
  int track_statue_first;
  Growable statue_bins[OBJECT_BINS][OBJECT_BINS];  // int, ascending
  StartFlagger start;
  LapBoard lap;
  Growable flaggers;         // Flagger
  Growable cameras;          // TrackCamera
  int gate_camera[MAX_TIMING_GATES];
  uint32_t map_texture;
  uint8_t digest[20];
  TrackSession session;
};
TrackObjects *track_objects_state();  // the one record, owned by track_objects.cpp

void track_objects_create();  // empty tables, default lighting
void track_objects_free();    // frees every table (keeps the session)
float ground_height(float x, float z);  // 0 without a terrain
void companion_texture_name(char *out, size_t size, const char *name, const char *kind,
                            int variant);
