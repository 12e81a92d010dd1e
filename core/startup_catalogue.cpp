// The catalogues start-up builds: tracks, demos and video modes.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"

// ---- module state: rebuilt by each scan, for the life of the process ----
static struct {
  TrackCatalogue tracks;
  DemoCatalogue demos;
  VideoMode modes[MAX_VIDEO_MODES];
  int mode_count;
} g_catalogue = {{nullptr, nullptr, 0, -1}, {}, {}, 0};

static char *copy_text(const std::string &s) {
  char *p = strdup(s.c_str());
  if (!p) fatal_out_of_memory();
  return p;
}

static void free_list(char **list, int count) {
  for (int i = 0; i < count; i++) free(list[i]);
  free(list);
}

static char **alloc_list(size_t count) {
  char **list = (char **)calloc(count + 1, sizeof(char *));
  if (!list) fatal_out_of_memory();
  return list;
}

static int ends_with(const char *text, const char *suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && !strcmp(text + n - m, suffix);
}

static int compare_lower(const std::string &a, const std::string &b) {
  for (size_t i = 0;; i++) {
    int ca = i < a.size() ? tolower((unsigned char)a[i]) : 0;
    int cb = i < b.size() ? tolower((unsigned char)b[i]) : 0;
    if (ca != cb || !ca) return ca - cb;
  }
}

// ---- tracks ----

// The first line of "@<dir>/desc": bytes up to CR, LF, NUL or the end; false when missing.
static bool read_desc(const std::string &dir, std::string *out) {
  DataFile *f = datafile_open(("@" + dir + "/desc").c_str(), "rb");
  if (!f) return false;
  out->clear();
  for (int c; (c = datafile_getc(f)) > 0 && c != '\r' && c != '\n';) *out += (char)c;
  datafile_close(f);
  return true;
}

int scan_tracks() {
  static const char *const terrain_names[] = {"/terrain.hf", "/terrain.hf.gz",
                                              "/terrain.hf.scram", "/terrain.hf.gz.scram"};
  struct Track {
    std::string dir, name;
  };
  std::vector<Track> found;
  for (const char *const *n = data_names(); *n; n++) {
    for (const char *suffix : terrain_names) {
      if (!ends_with(*n, suffix)) continue;
      std::string dir(*n, strrchr(*n, '/') - *n);
      // One entry per directory, whichever forms its terrain is stored in.
      bool listed = false;
      for (const Track &t : found) listed |= compare_lower(t.dir, dir) == 0;
      if (!listed) found.push_back({dir, ""});
      break;
    }
  }
  for (Track &t : found)
    if (!read_desc(t.dir, &t.name)) t.name = t.dir;
  std::stable_sort(found.begin(), found.end(), [](const Track &a, const Track &b) {
    return compare_lower(a.name, b.name) < 0;
  });

  TrackCatalogue *c = &g_catalogue.tracks;
  free_list(c->dirs, c->count);
  free_list(c->names, c->count);
  c->dirs = alloc_list(found.size());
  c->names = alloc_list(found.size());
  c->count = (int)found.size();
  c->selected = -1;
  for (int i = 0; i < c->count; i++) {
    c->dirs[i] = copy_text(found[i].dir);
    c->names[i] = copy_text(found[i].name);
    if (run_options()->debug_level >= 1) velk_log("%s -> %s\n", c->dirs[i], c->names[i]);
  }
  return c->count;
}

const TrackCatalogue *track_catalogue() { return &g_catalogue.tracks; }

// ---- demos ----

int scan_demos() {
  std::vector<std::string> files, names;
  for (const char *const *n = data_names(); *n; n++) {
    if (strncmp(*n, "demos/", 6) != 0 || !ends_with(*n, ".dvdemo")) continue;
    std::string file = *n;
    size_t slash = file.rfind('/'), dot = file.rfind('.');
    std::string name = dot > slash ? file.substr(slash + 1, dot - slash - 1) : "";
    if (name.empty()) name = file;
    if (run_options()->debug_level >= 1) velk_log("%s -> %s\n", file.c_str(), name.c_str());
    files.push_back(file);
    names.push_back(name);
  }
  DemoCatalogue *d = &g_catalogue.demos;
  free_list(d->files, d->count);
  free_list(d->names, d->count);
  d->files = alloc_list(files.size());
  d->names = alloc_list(files.size());
  d->count = (int)files.size();
  for (int i = 0; i < d->count; i++) {
    d->files[i] = copy_text(files[i]);
    d->names[i] = copy_text(names[i]);
  }
  d->page_count = std::max(1, (d->count + DEMO_PAGE_SIZE - 1) / DEMO_PAGE_SIZE);
  demo_catalogue_show_page(0);
  return d->count;
}

const DemoCatalogue *demo_catalogue() { return &g_catalogue.demos; }

void demo_catalogue_show_page(int index) {
  DemoCatalogue *d = &g_catalogue.demos;
  d->page_index = std::max(0, std::min(index, d->page_count - 1));
  for (int i = 0; i < DEMO_PAGE_SIZE; i++) {
    int k = d->page_index * DEMO_PAGE_SIZE + i;
    d->page[i] = k < d->count ? d->names[k] : nullptr;
  }
}

// ---- video modes ----

int list_video_modes() {
  VideoMode *m = g_catalogue.modes;
  snprintf(m[0].label, sizeof m[0].label, "Default Fullscreen");
  m[0].width = m[0].height = 0;
  snprintf(m[1].label, sizeof m[1].label, "Windowed");
  m[1].width = m[1].height = 0;
  int count = 2;
  VelkDisplayMode modes[MAX_VIDEO_MODES];
  int n = velk_display_modes(modes, MAX_VIDEO_MODES - 2);
  for (int i = 0; i < n && count < MAX_VIDEO_MODES; i++) {
    if (modes[i].depth != modes[0].depth) continue;
    snprintf(m[count].label, sizeof m[count].label, "%dx%d", modes[i].width, modes[i].height);
    m[count].width = modes[i].width;
    m[count].height = modes[i].height;
    count++;
  }
  g_catalogue.mode_count = count;
  const char *labels[MAX_VIDEO_MODES];
  for (int i = 0; i < count; i++) labels[i] = m[i].label;
  config_set_video_modes(labels, count);
  return count;
}

const VideoMode *video_modes(int *count) {
  if (count) *count = g_catalogue.mode_count;
  return g_catalogue.modes;
}

void startup_catalogue_reset() {
  free_list(g_catalogue.tracks.dirs, g_catalogue.tracks.count);
  free_list(g_catalogue.tracks.names, g_catalogue.tracks.count);
  free_list(g_catalogue.demos.files, g_catalogue.demos.count);
  free_list(g_catalogue.demos.names, g_catalogue.demos.count);
  g_catalogue.tracks = TrackCatalogue{nullptr, nullptr, 0, -1};
  g_catalogue.demos = DemoCatalogue{};
  g_catalogue.mode_count = 0;
}
