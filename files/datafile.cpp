// Data files: search directories, the file index, name resolution and the layered handle.
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/datafile_local.h"
#include "platform/velk.h"

extern char **environ;

struct FileIndexEntry {
  char *path;      // the real file: the loose file or the archive holding the member
  char *name;      // relative to its search directory, '/' separators
  int32_t offset;  // bytes, 0 for a loose file
  int32_t size;    // bytes
  int32_t rank;    // lower wins
};

// ---- module state: built once per process on first use (tests reset it) ----
constexpr int MAX_SEARCH_DIRS = 2;
constexpr int MAX_PATH_LENGTH = 511;  // characters of a resolved '@' path
static struct {
  int dirs_built;
  int dir_count;
  char *dirs[MAX_SEARCH_DIRS];
  int home_index;  // index of the home directory, -1 when it is missing

  int index_built;
  FileIndexEntry *entries;
  int entry_count;
  const char **names;  // distinct names, null terminated
  int name_count;
} g_files;

// ---- search directories ----

// Turns '\' into '/', collapses runs of '/' and ends the path with one '/'.
static char *normalise_dir(const std::string &raw) {
  std::string out;
  for (char c : raw) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.empty() || out.back() != '/') out += '/';
  return strdup(out.c_str());
}

static void build_search_dirs() {
  if (g_files.dirs_built) return;
  g_files.dirs_built = 1;
  g_files.dir_count = 0;
  g_files.home_index = -1;

  // The home directory: the per-user data folder (XDG), then "Dirtvane/".
  const char *xdg = getenv("XDG_DATA_HOME");
  const char *home = getenv("HOME");
  std::string base;
  if (xdg && xdg[0] == '/') base = xdg;  // the XDG rules ignore relative paths
  else if (home && home[0]) base = std::string(home) + "/.local/share";
  if (!base.empty()) {
    g_files.home_index = g_files.dir_count;
    g_files.dirs[g_files.dir_count++] = normalise_dir(base + "/Dirtvane/");
  }

  // The data directory: DV_HOME, else the executable's directory.
  const char *dv_home = getenv("DV_HOME");
  if (dv_home && dv_home[0]) {
    g_files.dirs[g_files.dir_count++] = normalise_dir(std::string(dv_home) + "/");
  } else {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    if (n > 0 && n < (ssize_t)sizeof exe) {
      exe[n] = 0;
      char *slash = strrchr(exe, '/');
      if (slash) {
        slash[1] = 0;
        g_files.dirs[g_files.dir_count++] = normalise_dir(exe);
      }
    }
  }
}

const char *data_search_dir(int index) {
  build_search_dirs();
  if (index < 0 || index >= g_files.dir_count) return nullptr;
  return g_files.dirs[index];
}

int data_search_dir_count() {
  build_search_dirs();
  return g_files.dir_count;
}

// ---- the file index ----

static int compare_nocase(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
    if (ca != cb || !ca) return ca - cb;
  }
}

static bool entry_less(const FileIndexEntry &a, const FileIndexEntry &b) {
  int c = compare_nocase(a.name, b.name);
  return c ? c < 0 : a.rank < b.rank;
}

static int ends_with_nocase(const char *text, const char *suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && compare_nocase(text + n - m, suffix) == 0;
}

struct DirId {
  dev_t dev;
  ino_t ino;
};

// Walks `dir` (a path ending in '/') recursively; `prefix_length` is the length of the
// search directory's path. Directory links that lead back to an ancestor are skipped.
static void walk_dir(const std::string &dir, size_t prefix_length, int rank,
                     std::vector<FileIndexEntry> *out, std::vector<DirId> *ancestors) {
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> children;
  while (struct dirent *e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    children.push_back(e->d_name);
  }
  closedir(d);
  for (const std::string &child : children) {
    std::string path = dir + child;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      bool loop = false;
      for (const DirId &a : *ancestors) loop |= a.dev == st.st_dev && a.ino == st.st_ino;
      if (loop) continue;
      ancestors->push_back({st.st_dev, st.st_ino});
      walk_dir(path + "/", prefix_length, rank, out, ancestors);
      ancestors->pop_back();
    } else {
      FileIndexEntry e;
      e.path = strdup(path.c_str());
      e.name = strdup(path.c_str() + prefix_length);
      e.offset = 0;
      e.size = st.st_size > DATA_LIMIT_WHOLE ? DATA_LIMIT_WHOLE : (int32_t)st.st_size;
      e.rank = rank;
      out->push_back(e);
    }
  }
}

// Collapses runs of '/' in an archive member's name.
static std::string collapse_slashes(const char *name) {
  std::string out;
  for (const char *p = name; *p; p++)
    if (!(*p == '/' && !out.empty() && out.back() == '/')) out += *p;
  return out;
}

int archive_read_header(FILE *stream, ArchiveAdd add, void *context) {
  char line[1024];
  int64_t header_length = 0;  // bytes, terminator line included
  struct Member {
    std::string name;
    int32_t size;
  };
  std::vector<Member> members;
  for (;;) {
    if (!fgets(line, sizeof line, stream)) return 0;  // end of file before "-"
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] != '\n') return 0;  // no newline: too long, or cut short
    header_length += n;
    line[--n] = 0;
    if (n > 0 && line[n - 1] == '\r') line[--n] = 0;
    if (!strcmp(line, "-")) break;
    // A decimal byte count, one separator character, then the name.
    const char *p = line;
    int64_t size = 0;
    if (*p < '0' || *p > '9') return 0;
    while (*p >= '0' && *p <= '9') {
      size = size * 10 + (*p++ - '0');
      if (size > DATA_LIMIT_WHOLE) return 0;
    }
    if (!*p || !p[1]) return 0;  // a member needs a separator and a name
    members.push_back({collapse_slashes(p + 1), (int32_t)size});
  }
  // The members follow the header back to back; none may reach past a 32-bit offset.
  int64_t offset = header_length;
  for (const Member &m : members) {
    if (offset + m.size > DATA_LIMIT_WHOLE) return 0;
    offset += m.size;
  }
  offset = header_length;
  for (const Member &m : members) {
    add(context, m.name.c_str(), (int32_t)offset, m.size);
    offset += m.size;
  }
  return 1;
}

struct ArchiveContext {
  std::vector<FileIndexEntry> *entries;
  const char *path;
  int32_t rank;
};

static void add_member(void *context, const char *name, int32_t offset, int32_t size) {
  ArchiveContext *a = (ArchiveContext *)context;
  FileIndexEntry e;
  e.path = strdup(a->path);
  e.name = strdup(name);
  e.offset = offset;
  e.size = size;
  e.rank = a->rank;
  a->entries->push_back(e);
}

static void build_index() {
  if (g_files.index_built) return;
  build_search_dirs();
  g_files.index_built = 1;

  std::vector<FileIndexEntry> entries;
  for (int i = 0; i < g_files.dir_count; i++) {
    std::vector<DirId> ancestors;
    struct stat st;
    if (stat(g_files.dirs[i], &st) == 0) ancestors.push_back({st.st_dev, st.st_ino});
    walk_dir(g_files.dirs[i], strlen(g_files.dirs[i]), i, &entries, &ancestors);
  }
  std::stable_sort(entries.begin(), entries.end(), entry_less);

  // Archives, in index order; every .saf counts towards the ordinal, readable or not.
  size_t loose = entries.size();
  int ordinal = 0;
  for (size_t i = 0; i < loose; i++) {
    if (strlen(entries[i].name) < 5 || !ends_with_nocase(entries[i].name, ".saf")) continue;
    ArchiveContext context = {&entries, entries[i].path, g_files.dir_count + ordinal++};
    size_t before = entries.size();
    FILE *f = fopen(context.path, "rb");
    int ok = f && archive_read_header(f, add_member, &context);
    if (f) fclose(f);
    if (!ok) {
      for (size_t j = before; j < entries.size(); j++) {
        free(entries[j].path);
        free(entries[j].name);
      }
      entries.resize(before);
    }
  }
  std::stable_sort(entries.begin(), entries.end(), entry_less);

  g_files.entry_count = (int)entries.size();
  g_files.entries = (FileIndexEntry *)malloc(sizeof(FileIndexEntry) * (entries.size() + 1));
  g_files.names = (const char **)malloc(sizeof(char *) * (entries.size() + 1));
  if (!g_files.entries || !g_files.names) fatal_out_of_memory();
  std::copy(entries.begin(), entries.end(), g_files.entries);
  g_files.name_count = 0;
  for (int i = 0; i < g_files.entry_count; i++) {
    const char *name = g_files.entries[i].name;
    if (g_files.name_count && !compare_nocase(g_files.names[g_files.name_count - 1], name)) continue;
    g_files.names[g_files.name_count++] = name;
  }
  g_files.names[g_files.name_count] = nullptr;
}

const char *const *data_names() {
  build_index();
  return g_files.names;
}

int data_index_count() {
  build_index();
  return g_files.entry_count;
}

int data_describe_entry(int index, char *buffer, int size) {
  build_index();
  if (index < 0 || index >= g_files.entry_count || !buffer || size < 1) return 0;
  snprintf(buffer, size, "%s -> %s", g_files.entries[index].name, g_files.entries[index].path);
  return 1;
}

// The entry of lowest rank named `name` (case-insensitive), or null.
static const FileIndexEntry *find_entry(const char *name) {
  FileIndexEntry key = {nullptr, (char *)name, 0, 0, INT32_MIN};
  FileIndexEntry *end = g_files.entries + g_files.entry_count;
  FileIndexEntry *e = std::lower_bound(g_files.entries, end, key, entry_less);
  return e != end && !compare_nocase(e->name, name) ? e : nullptr;
}

void datafile_reset_for_tests() {
  for (int i = 0; i < g_files.entry_count; i++) {
    free(g_files.entries[i].path);
    free(g_files.entries[i].name);
  }
  free(g_files.entries);
  free(g_files.names);
  for (int i = 0; i < g_files.dir_count; i++) free(g_files.dirs[i]);
  g_files = {};
}

// ---- opening ----

void data_make_parents(const char *path) {
  std::string prefix;
  for (const char *p = path; *p; p++) {
    if (*p == '/' && !prefix.empty() && prefix.back() != '/') mkdir(prefix.c_str(), 0777);
    prefix += *p;
  }
}

static int file_exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// Copies `from` to `to` in 64 KiB chunks; 1 or 0 (a partial copy is removed).
static int copy_file(const char *from, const char *to) {
  FILE *in = fopen(from, "rb");
  if (!in) return 0;
  FILE *out = fopen(to, "wb");
  if (!out) {
    fclose(in);
    return 0;
  }
  std::vector<char> chunk(65536);
  int ok = 1;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), in)) > 0)
    if (fwrite(chunk.data(), 1, n, out) != n) ok = 0;
  if (ferror(in)) ok = 0;
  fclose(in);
  if (fclose(out) != 0) ok = 0;
  if (!ok) remove(to);
  return ok;
}

// Keeps "<path>.~N~" with the smallest free N of 1-9999. 1 when done (or nothing to keep).
static int make_backup(const char *path) {
  if (!file_exists(path)) return 1;
  char backup[1100];
  for (int n = 1; n <= 9999; n++) {
    snprintf(backup, sizeof backup, "%s.~%d~", path, n);
    if (!file_exists(backup)) return copy_file(path, backup);
  }
  return 0;
}

static DataFile *new_handle(FILE *stream, long start, int32_t limit) {
  DataFile *f = (DataFile *)calloc(1, sizeof(DataFile));
  if (!f) fatal_out_of_memory();
  f->stream = stream;
  f->start = start;
  f->limit = limit;
  f->pushback = -1;
  return f;
}

// ---- the layers, bottom up ----

// The stream itself, within the limit.
static size_t raw_read(DataFile *f, void *buffer, size_t length) {
  size_t room = (size_t)(f->limit - f->count);
  if (length > room) length = room;
  if (!length) return 0;
  size_t n = fread(buffer, 1, length, f->stream);
  f->count += (int32_t)n;
  return n;
}

// Fetches the next scrambled block into the block buffer; 0 at the end.
static int scram_next_block(DataFile *f) {
  ScrambledStream *s = &f->scram;
  if (s->ended || s->position >= s->length) return 0;
  if (raw_read(f, s->block, 16) != 16) {
    s->ended = 1;
    return 0;
  }
  scram_decrypt_block(s->block, s->position);
  uint32_t left = s->length - s->position;
  s->block_fill = left < 16 ? (int)left : 16;
  s->block_read = 0;
  s->position += 16;
  if (left <= 16) s->position = s->length;
  return 1;
}

static size_t scram_read(DataFile *f, uint8_t *buffer, size_t length) {
  ScrambledStream *s = &f->scram;
  size_t done = 0;
  while (done < length) {
    if (s->block_read < s->block_fill) {
      size_t n = std::min(length - done, (size_t)(s->block_fill - s->block_read));
      memcpy(buffer + done, s->block + s->block_read, n);
      s->block_read += (int)n;
      done += n;
      continue;
    }
    // Whole blocks straight into the caller's buffer.
    size_t whole = std::min((length - done) / 16, (size_t)(s->length - s->position) / 16);
    if (whole && !s->ended) {
      size_t got = raw_read(f, buffer + done, whole * 16) / 16;
      for (size_t i = 0; i < got; i++) {
        scram_decrypt_block(buffer + done + 16 * i, s->position);
        s->position += 16;
      }
      done += got * 16;
      if (got < whole) {
        s->ended = 1;
        break;
      }
      continue;
    }
    if (!scram_next_block(f)) break;
  }
  return done;
}

// The layer below gzip: scrambled or the stream.
static size_t below_gzip_read(DataFile *f, uint8_t *buffer, size_t length) {
  return f->scrambled ? scram_read(f, buffer, length) : raw_read(f, buffer, length);
}

int gzip_header_length(const uint8_t *data, int size) {
  enum { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16 };
  if (size < 10 || data[0] != 0x1f || data[1] != 0x8b || data[2] != 8 || data[3] >= 32) return 0;
  int flags = data[3];
  int at = 10;  // magic, method, flags, then time, extra flags and system skipped
  if (flags & FEXTRA) {
    if (at + 2 > size) return 0;
    at += 2 + (data[at] | data[at + 1] << 8);
    if (at > size) return 0;
  }
  for (int flag : {FNAME, FCOMMENT})
    if (flags & flag) {
      while (at < size && data[at]) at++;
      if (at >= size) return 0;
      at++;
    }
  if (flags & FHCRC) at += 2;
  return at <= size ? at : 0;
}

static int gzip_start(DataFile *f) {
  size_t n = below_gzip_read(f, f->input, GZ_INPUT_SIZE);
  int header = gzip_header_length(f->input, (int)n);
  if (!header) return 0;
  z_stream *z = &f->inflater;
  memset(z, 0, sizeof *z);
  z->next_in = f->input + header;
  z->avail_in = (uInt)(n - header);
  if (inflateInit2(z, -15) != Z_OK) return 0;
  f->inflater_ready = 1;
  f->out_read = f->out_end = f->output;
  return 1;
}

// Inflates into `buffer`; returns the bytes made, 0 at the end of the data.
static size_t gzip_inflate(DataFile *f, uint8_t *buffer, size_t length) {
  z_stream *z = &f->inflater;
  z->next_out = buffer;
  z->avail_out = (uInt)std::min(length, (size_t)UINT_MAX);
  uInt want = z->avail_out;
  while (!f->stream_ended && z->avail_out == want) {
    if (z->avail_in == 0) {
      size_t n = below_gzip_read(f, f->input, GZ_INPUT_SIZE);
      z->next_in = f->input;
      z->avail_in = (uInt)n;
    }
    uInt input_before = z->avail_in;
    int r = inflate(z, Z_NO_FLUSH);
    if (r == Z_STREAM_END) f->stream_ended = 1;
    else if (r != Z_OK && r != Z_BUF_ERROR) f->stream_ended = 1;  // corrupt data ends it early
    else if (z->avail_in == input_before && z->avail_out == want) f->stream_ended = 1;  // cut short
  }
  return want - z->avail_out;
}

static size_t gzip_read(DataFile *f, uint8_t *buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    if (f->out_read < f->out_end) {
      size_t n = std::min(length - done, (size_t)(f->out_end - f->out_read));
      memcpy(buffer + done, f->out_read, n);
      f->out_read += n;
      done += n;
      continue;
    }
    if (f->stream_ended) break;
    if (length - done >= GZ_OUTPUT_SIZE) {  // large reads inflate straight into the caller's buffer
      size_t n = gzip_inflate(f, buffer + done, length - done);
      done += n;
      if (!n) break;
      continue;
    }
    size_t n = gzip_inflate(f, f->output, GZ_OUTPUT_SIZE);
    f->out_read = f->output;
    f->out_end = f->output + n;
    if (!n) break;
  }
  return done;
}

int datafile_layer_getc(DataFile *f) {
  if (f->compressed) {
    if (f->out_read < f->out_end) return *f->out_read++;
    uint8_t c;
    return gzip_read(f, &c, 1) ? c : -1;
  }
  if (f->scrambled) {
    ScrambledStream *s = &f->scram;
    if (s->block_read < s->block_fill) return s->block[s->block_read++];
    uint8_t c;
    return scram_read(f, &c, 1) ? c : -1;
  }
  if (f->count >= f->limit) return -1;
  int c = getc_unlocked(f->stream);
  if (c == EOF) return -1;
  f->count++;
  return c;
}

static int start_layers(DataFile *f) {
  if (f->scrambled) {
    uint8_t header[SCRAM_HEADER_SIZE];
    if (raw_read(f, header, sizeof header) != sizeof header) {
      perror("fread error");
      return 0;
    }
    if (!scram_read_header(header, &f->scram.length)) return 0;
  }
  if (f->compressed && !gzip_start(f)) return 0;
  return 1;
}

static void free_handle(DataFile *f) {
  if (f->inflater_ready) inflateEnd(&f->inflater);
  if (f->stream) fclose(f->stream);
  free(f);
}

// Layers by suffix: the order of the candidates tried for a missing read-only file.
static const char *const LAYER_SUFFIXES[4] = {"", ".gz", ".scram", ".gz.scram"};
static const int LAYER_FLAGS[4] = {PACK_PLAIN, PACK_GZIP, PACK_SCRAMBLE, PACK_GZIP | PACK_SCRAMBLE};

// Opens one real file; a directory is not a file.
static FILE *open_file(const char *path, const char *mode) {
  FILE *stream = fopen(path, mode);
  if (!stream) return nullptr;
  struct stat st;
  if (fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(stream);
    return nullptr;
  }
  return stream;
}

static DataFile *with_layers(FILE *stream, long start, int32_t limit, int layers) {
  DataFile *f = new_handle(stream, start, limit);
  f->compressed = (layers & PACK_GZIP) != 0;
  f->scrambled = (layers & PACK_SCRAMBLE) != 0;
  if (!start_layers(f)) {
    free_handle(f);
    return nullptr;
  }
  return f;
}

static DataFile *open_path(const char *path, const char *mode, int read_only) {
  size_t length = strlen(path);
  if (!read_only && length <= 1023) data_make_parents(path);
  const char *plain_mode = mode;
  if (mode[0] == '~') {
    if (length > 1000) return nullptr;
    plain_mode = mode + 1;
    if (!make_backup(path)) return nullptr;
  }
  FILE *stream = open_file(path, plain_mode);
  int layers = PACK_PLAIN;
  if (!stream && read_only) {
    char candidate[1024];
    for (int i = 1; i < 4 && !stream; i++) {
      if (length + strlen(LAYER_SUFFIXES[i]) >= sizeof candidate) continue;
      snprintf(candidate, sizeof candidate, "%s%s", path, LAYER_SUFFIXES[i]);
      stream = open_file(candidate, plain_mode);
      layers = LAYER_FLAGS[i];
    }
  }
  if (!stream) return nullptr;
  return with_layers(stream, 0, DATA_LIMIT_WHOLE, layers);
}

DataFile *datafile_open(const char *name, const char *mode) {
  if (!name || !mode) return nullptr;
  build_index();
  int read_only = strchr(mode, 'r') && !strchr(mode, '+');
  if (name[0] != '@') return open_path(name, mode, read_only);

  const char *rest = name + 1;
  for (int i = 0; i < g_files.dir_count; i++) {
    // A path that does not fit is refused rather than cut to a different name.
    std::string path = std::string(g_files.dirs[i]) + rest;
    if (path.size() > MAX_PATH_LENGTH) continue;
    if (DataFile *f = open_path(path.c_str(), mode, read_only)) return f;
  }
  if (!read_only) return nullptr;

  // Archive members (and loose files the directory search missed).
  const FileIndexEntry *best = nullptr;
  int best_layers = 0;
  for (int i = 0; i < 4; i++) {
    std::string candidate = std::string(rest) + LAYER_SUFFIXES[i];
    const FileIndexEntry *e = find_entry(candidate.c_str());
    if (e && (!best || e->rank < best->rank)) {
      best = e;
      best_layers = LAYER_FLAGS[i];
    }
  }
  if (!best) return nullptr;
  FILE *stream = open_file(best->path, "rb");
  if (!stream) return nullptr;
  if (fseek(stream, best->offset, SEEK_SET) != 0) {
    fclose(stream);
    return nullptr;
  }
  return with_layers(stream, best->offset, best->size, best_layers);
}

void datafile_close(DataFile *file) {
  if (file) free_handle(file);
}

// ---- reading ----

int datafile_getc(DataFile *file) {
  if (file->pushback >= 0) {
    int c = file->pushback;
    file->pushback = -1;
    return c;
  }
  return datafile_layer_getc(file);
}

int datafile_ungetc(DataFile *file, int c) {
  if (c < 0) return -1;
  file->pushback = c & 0xff;
  return c;
}

char *datafile_gets(DataFile *file, char *buffer, int size) {
  if (size < 1) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = datafile_getc(file);
    if (c < 0) break;
    buffer[n++] = (char)c;
    if (c == '\n') break;
  }
  if (n == 0 && size > 1) return nullptr;
  buffer[n] = 0;
  return buffer;
}

size_t datafile_read(DataFile *file, void *buffer, size_t length) {
  uint8_t *out = (uint8_t *)buffer;
  size_t done = 0;
  if (length && file->pushback >= 0) {
    out[done++] = (uint8_t)file->pushback;
    file->pushback = -1;
  }
  if (file->compressed) done += gzip_read(file, out + done, length - done);
  else if (file->scrambled) done += scram_read(file, out + done, length - done);
  else done += raw_read(file, out + done, length - done);
  return done;
}

int datafile_seek(DataFile *file, long offset) {
  if (file->compressed || file->scrambled || offset < 0 || offset >= file->limit) return 0;
  if (fseek(file->stream, file->start + offset, SEEK_SET) != 0) return 0;
  file->pushback = -1;
  file->count = (int32_t)offset;
  return 1;
}

// ---- writing: plain, straight to the stream ----

int datafile_putc(DataFile *file, int c) { return putc(c, file->stream) != EOF; }
int datafile_puts(DataFile *file, const char *text) { return fputs(text, file->stream); }
size_t datafile_write(DataFile *file, const void *data, size_t length) {
  return fwrite(data, 1, length, file->stream);
}
int datafile_printf(DataFile *file, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfprintf(file->stream, format, args);
  va_end(args);
  return n;
}
int datafile_flush(DataFile *file) { return fflush(file->stream); }

// ---- renaming and the home folder ----

// Resolves a name for data_rename: '@' means the home directory and nothing else.
static int rename_path(const char *name, std::string *out) {
  if (name[0] == '@') {
    const char *dir = data_search_dir(0);
    if (!dir) return 0;
    *out = std::string(dir) + (name + 1);
  } else {
    *out = name;
  }
  return out->size() <= MAX_PATH_LENGTH;
}

int data_rename(const char *from, const char *to) {
  std::string a, b;
  if (!rename_path(from, &a) || !rename_path(to, &b)) return 0;
  // rename() replaces `to` in one step, so a failed rename never loses it.
  return rename(a.c_str(), b.c_str()) == 0;
}

void open_home_folder() {
  build_search_dirs();
  if (g_files.home_index < 0) return;
  std::string dir = g_files.dirs[g_files.home_index];
  data_make_parents(dir.c_str());
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const char *display = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
  if (!(display && display[0]) && !(wayland && wayland[0])) return;
  char *argv[] = {(char *)"xdg-open", (char *)dir.c_str(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
    int status;
    waitpid(pid, &status, 0);
  }
}
