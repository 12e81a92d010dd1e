// dvgen: "Practice", the small track for quick tests and first rides: a 512 ft field with
// a loop of four bermed corners, one tabletop and four gates. It is stored the other ways
// the game reads: heights in terrain.png, the legacy texturelist, and the whole track
// packed into practice.saf with plain, .gz, .scram and .gz.scram members.
#include <cmath>
#include <cstdio>

#include "files/files.h"
#include "tools/dvgen/dvgen_track.h"

static double practice_ground(double x, double z) {
  return 10 + 3 * fbm2(x / 300.0, z / 300.0, 3, 2201) + 0.8 * fbm2(x / 60.0, z / 60.0, 2, 2202);
}

int gen_practice() {
  std::vector<Corner> corners = {
      {120, 120, 50, TURN_BERM, 0.25},
      {400, 120, 50, TURN_BERM, 0.25},
      {400, 400, 50, TURN_FLAT, 0},
      {120, 400, 50, TURN_BERM, 0.25},
  };
  std::vector<Path> paths;
  paths.push_back(path_closed(corners, 12));
  Path &lap = paths[0];
  set_half_width(&lap, 0, lap.straight_len[0], 16, 20);
  set_banks(&lap);
  std::vector<Jump> jumps;
  jumps.push_back(add_tabletop(&lap, "practice tabletop", lap.straight_s0[2] + 50, 3.5, 20, 30, 15));

  Field f;
  field_build(&f, 7, 2.0, &paths, practice_ground, 100);
  if (!solve_jumps(lap, &jumps)) return 0;
  SurfaceTable table;
  table.kinds = {SURF_GRASS, SURF_LOAM};
  table.pairs = {0};  // loam into grass
  field_tiles(&f, paths, table);

  // Gate 0 is the line on the start straight, 1 to 3 the middles of the other straights.
  std::vector<Gate> gates;
  std::vector<double> gate_s = {60};
  for (int st = 1; st <= 3; st++) gate_s.push_back(lap.straight_s0[st] + lap.straight_len[st] / 2);
  for (double s : gate_s) {
    int k = lap.index(s);
    gates.push_back({lap.x[k], f.height(lap.x[k], lap.z[k]), lap.z[k], lap.dx[k], lap.dz[k],
                     lap.hw[k] + 6});
  }
  std::vector<int> sequence = {1, 2, 3, 0};
  std::vector<GatePiece> pieces;
  double gate_z = lap.z[lap.index(20)];
  for (int k = 0; k < 8; k++) {
    double x = 120 + (k - 3.5) * 3.5;
    pieces.push_back({x, f.height(x, gate_z), gate_z, 0});
  }

  std::vector<Tree> trees = place_trees(f, 777, 60, {});
  std::vector<double> shadows;
  std::string billboards;
  static const char *const TREE[3] = {"tree-oak.png", "tree-pine.png", "tree-birch.png"};
  for (const Tree &t : trees) {
    shadows.insert(shadows.end(), {t.x, t.z, t.radius, t.height});
    billboards += strf("[%.2f 0 %.2f] %.2f %.2f @%s\n", t.x, t.z, t.height, t.kind == 1 ? 0.55 : 0.8,
                       TREE[t.kind]);
  }
  const double sun[3] = {-0.4, 0.75, 0.53};
  double sl = std::sqrt(sun[0] * sun[0] + sun[1] * sun[1] + sun[2] * sun[2]);
  double sun_n[3] = {sun[0] / sl, sun[1] / sl, sun[2] / sl};
  field_shade(&f, sun_n, shadows);

  RacingLine line;
  racing_line_build(lap, f, jumps, 70, &line);
  if (line.speed[lap.index(jumps[0].lip_s)] < jumps[0].speed * 0.97) {
    fprintf(stderr, "dvgen: the practice line can't clear its jump\n");
    return 0;
  }

  // The terrain files from the terrain module, then everything packed into the archive.
  std::string stage = gen_output()->root + ".dvgen-stage/practice";
  if (!field_save(f, stage)) return 0;
  struct Member {
    std::string name;
    std::string data;
    int layers;
  };
  std::vector<Member> members;
  for (auto [name, layers] : {std::pair<const char *, int>{"terrain.hf", PACK_GZIP},
                              {"terrain.png", PACK_PLAIN},
                              {"shadingx2.ppm", PACK_GZIP | PACK_SCRAMBLE},
                              {"tilemap", PACK_SCRAMBLE}}) {
    std::vector<uint8_t> bytes;
    if (!read_file(stage + "/" + name, &bytes)) return 0;
    members.push_back({name, std::string(bytes.begin(), bytes.end()), layers});
  }
  std::string lighting = strf("sun_vector [ %.4f %.4f %.4f ]\n", sun_n[0], sun_n[1], sun_n[2]) +
                         "sun_color [ 1.0 0.97 0.9 ]\nambient [ 0.48 0.5 0.55 ]\n"
                         "sky_n @sky-n.png\nsky_e @sky-e.png\nsky_s @sky-s.png\nsky_w @sky-w.png\n"
                         "sky_u @sky-u.png\nsky_env @sky-env.png\nfog [ 0.74 0.81 0.88 ] 0.0008\n";
  members.push_back({"texturelist", texturelist_text(table), PACK_PLAIN});
  members.push_back({"desc", "Practice\n", PACK_PLAIN});
  std::string timing = timing_gates_text(pieces, gates, sequence, sequence);
  if (timing.empty()) return 0;
  members.push_back({"timing_gates", timing, PACK_GZIP});
  members.push_back({"lighting", lighting, PACK_SCRAMBLE});
  members.push_back({"billboards", billboards, PACK_GZIP | PACK_SCRAMBLE});
  members.push_back({"statues", edge_statues_text(paths, 0, f), PACK_PLAIN});
  members.push_back({"cameras", cameras_text(paths, 0, f, gate_s, 260), PACK_GZIP});
  members.push_back({"racing_line", racing_line_text(lap, line, "practice", 5), PACK_PLAIN});
  Img map = field_map(f, paths, 128);
  {
    // The map goes in as PNG bytes: written loose first, then read back.
    if (!write_png(".dvgen-stage/practice-map.png", map)) return 0;
    std::vector<uint8_t> bytes;
    if (!read_file(gen_output()->root + ".dvgen-stage/practice-map.png", &bytes)) return 0;
    members.push_back({"map.png", std::string(bytes.begin(), bytes.end()), PACK_PLAIN});
    GenOutput *out = gen_output();
    out->files.pop_back();  // not part of the data set
    out->sizes.pop_back();
  }
  std::vector<PackBuffer> encoded(members.size());
  std::vector<std::string> names(members.size());
  std::vector<PackMember> list(members.size());
  int ok = 1;
  for (size_t i = 0; i < members.size() && ok; i++) {
    ok = pack_encode(members[i].data.data(), members[i].data.size(), members[i].layers, &encoded[i]);
    names[i] = "practice/" + members[i].name + pack_suffix(members[i].layers);
    list[i] = {names[i].c_str(), encoded[i].data, encoded[i].size};
  }
  if (ok) ok = pack_write_archive(out_path("practice.saf").c_str(), list.data(), (int)list.size());
  for (PackBuffer &b : encoded) pack_buffer_free(&b);
  if (!ok) return 0;
  out_record("practice.saf");
  return 1;
}
