// Data files, the writing side: gzip and scrambled encoders, .saf archives, the dvpack tool.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/datafile_local.h"

const char *pack_suffix(int layers) {
  static const char *const suffixes[4] = {"", ".gz", ".scram", ".gz.scram"};
  return suffixes[layers & 3];
}

void pack_buffer_free(PackBuffer *buffer) {
  free(buffer->data);
  buffer->data = nullptr;
  buffer->size = 0;
}

// A gzip member (RFC 1952) with zlib's own header: no name, no extra fields.
static int gzip_encode(const void *data, size_t size, PackBuffer *out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return 0;
  size_t capacity = deflateBound(&z, (uLong)size) + 64;
  uint8_t *buffer = (uint8_t *)malloc(capacity);
  if (!buffer) {
    deflateEnd(&z);
    return 0;
  }
  z.next_in = (Bytef *)data;
  z.next_out = buffer;
  int r = Z_OK;
  size_t left_in = size;
  while (r == Z_OK) {
    uInt chunk = (uInt)std::min(left_in, (size_t)1 << 30);
    z.avail_in = chunk;
    z.avail_out = (uInt)std::min(capacity - (size_t)(z.next_out - buffer), (size_t)1 << 30);
    r = deflate(&z, left_in == chunk ? Z_FINISH : Z_NO_FLUSH);
    left_in -= chunk - z.avail_in;
    if (r == Z_BUF_ERROR) break;
  }
  size_t written = z.next_out - buffer;
  deflateEnd(&z);
  if (r != Z_STREAM_END) {
    free(buffer);
    return 0;
  }
  out->data = buffer;
  out->size = written;
  return 1;
}

static int scramble_encode(const void *data, size_t size, PackBuffer *out) {
  if (size > (size_t)DATA_LIMIT_WHOLE) return 0;
  size_t blocks = (size + 15) / 16;
  uint8_t *buffer = (uint8_t *)calloc(1, SCRAM_HEADER_SIZE + blocks * 16);
  if (!buffer) return 0;
  scram_make_header(buffer, (uint32_t)size);
  uint8_t *content = buffer + SCRAM_HEADER_SIZE;
  if (size) memcpy(content, data, size);  // the last block stays padded with zeros
  for (size_t i = 0; i < blocks; i++) scram_encrypt_block(content + 16 * i, (uint32_t)(16 * i));
  out->data = buffer;
  out->size = SCRAM_HEADER_SIZE + blocks * 16;
  return 1;
}

int pack_encode(const void *data, size_t size, int layers, PackBuffer *out) {
  PackBuffer result = {nullptr, 0};
  if (layers & PACK_GZIP) {
    if (!gzip_encode(data, size, &result)) return 0;
  } else {
    result.data = (uint8_t *)malloc(size ? size : 1);
    if (!result.data) return 0;
    if (size) memcpy(result.data, data, size);
    result.size = size;
  }
  if (layers & PACK_SCRAMBLE) {
    PackBuffer scrambled;
    int ok = scramble_encode(result.data, result.size, &scrambled);
    pack_buffer_free(&result);
    if (!ok) return 0;
    result = scrambled;
  }
  *out = result;
  return 1;
}

// Writes `size` bytes to `path`; a failed write leaves no file behind.
static int write_whole(const char *path, const void *data, size_t size) {
  data_make_parents(path);
  FILE *f = fopen(path, "wb");
  if (!f) return 0;
  int ok = fwrite(data, 1, size, f) == size;
  if (fclose(f) != 0) ok = 0;
  if (!ok) remove(path);
  return ok;
}

int pack_write_file(const char *path, const void *data, size_t size, int layers) {
  if (!layers) return write_whole(path, data, size);
  PackBuffer encoded;
  if (!pack_encode(data, size, layers, &encoded)) return 0;
  int ok = write_whole(path, encoded.data, encoded.size);
  pack_buffer_free(&encoded);
  return ok;
}

// A member name the reader will take back unchanged: not empty, one line, no "-" alone.
static int good_member_name(const char *name) {
  return name && name[0] && !strpbrk(name, "\r\n") && strcmp(name, "-") != 0;
}

int pack_write_archive(const char *path, const PackMember *members, int count) {
  std::string header;
  int64_t total = 0;
  for (int i = 0; i < count; i++) {
    if (!good_member_name(members[i].name)) return 0;
    total += (int64_t)members[i].size;
    header += std::to_string(members[i].size) + " " + members[i].name + "\n";
    if (header.size() > 1u << 30) return 0;
  }
  header += "-\n";
  if ((int64_t)header.size() + total > DATA_LIMIT_WHOLE) return 0;  // offsets are 32-bit
  data_make_parents(path);
  FILE *f = fopen(path, "wb");
  if (!f) return 0;
  int ok = fwrite(header.data(), 1, header.size(), f) == header.size();
  for (int i = 0; i < count && ok; i++)
    if (members[i].size && fwrite(members[i].data, 1, members[i].size, f) != members[i].size) ok = 0;
  if (fclose(f) != 0) ok = 0;
  if (!ok) remove(path);
  return ok;
}

// Every regular file below `dir` (a path ending in '/'), relative to `root_length`.
static void list_files(const std::string &dir, size_t root_length, int depth,
                       std::vector<std::string> *out) {
  if (depth > 64) return;
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (struct dirent *e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    std::string path = dir + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) list_files(path + "/", root_length, depth + 1, out);
    else if (S_ISREG(st.st_mode)) out->push_back(path.substr(root_length));
  }
  closedir(d);
}

static int read_whole(const char *path, std::vector<uint8_t> *out) {
  FILE *f = fopen(path, "rb");
  if (!f) return 0;
  out->clear();
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
  int ok = !ferror(f);
  fclose(f);
  return ok;
}

int pack_archive_directory(const char *directory, const char *path, int layers) {
  std::string root = directory;
  if (root.empty() || root.back() != '/') root += '/';
  std::vector<std::string> names;
  list_files(root, root.size(), 0, &names);
  std::sort(names.begin(), names.end());
  std::vector<PackBuffer> encoded(names.size(), PackBuffer{nullptr, 0});
  std::vector<std::string> member_names(names.size());
  std::vector<PackMember> members(names.size());
  int ok = 1;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < names.size() && ok; i++) {
    ok = read_whole((root + names[i]).c_str(), &bytes) &&
         pack_encode(bytes.data(), bytes.size(), layers, &encoded[i]);
    member_names[i] = names[i] + pack_suffix(layers);
    members[i] = {member_names[i].c_str(), encoded[i].data, encoded[i].size};
  }
  if (ok) ok = pack_write_archive(path, members.data(), (int)members.size());
  for (PackBuffer &b : encoded) pack_buffer_free(&b);
  return ok;
}

// ---- the dvpack tool ----

static void dvpack_usage() {
  fprintf(stderr,
          "usage: dvpack archive [-z] [-s] OUT.saf DIRECTORY\n"
          "                 every file below DIRECTORY as a member (-z gzip, -s scramble each)\n"
          "       dvpack gz|scram|gzscram INPUT [OUTPUT]\n"
          "                 INPUT encoded as OUTPUT (default: INPUT plus .gz, .scram, .gz.scram)\n"
          "       dvpack cat NAME\n"
          "                 NAME read through the data-file layers to standard output\n"
          "       dvpack list ARCHIVE.saf\n"
          "                 the members of an archive: size, offset, name\n");
}

static void print_member(void *, const char *name, int32_t offset, int32_t size) {
  printf("%10d %10d %s\n", (int)size, (int)offset, name);
}

int dvpack_main(int argc, char **argv) {
  if (argc < 3) {
    dvpack_usage();
    return 2;
  }
  const char *command = argv[1];
  if (!strcmp(command, "archive")) {
    int layers = 0, i = 2;
    for (; i < argc && argv[i][0] == '-'; i++) {
      if (!strcmp(argv[i], "-z")) layers |= PACK_GZIP;
      else if (!strcmp(argv[i], "-s")) layers |= PACK_SCRAMBLE;
      else {
        dvpack_usage();
        return 2;
      }
    }
    if (argc - i != 2) {
      dvpack_usage();
      return 2;
    }
    if (!pack_archive_directory(argv[i + 1], argv[i], layers)) {
      fprintf(stderr, "dvpack: cannot build %s from %s\n", argv[i], argv[i + 1]);
      return 1;
    }
    return 0;
  }
  int layers = !strcmp(command, "gz") ? PACK_GZIP : !strcmp(command, "scram") ? PACK_SCRAMBLE
               : !strcmp(command, "gzscram") ? PACK_GZIP | PACK_SCRAMBLE : -1;
  if (layers >= 0) {
    if (argc > 4) {
      dvpack_usage();
      return 2;
    }
    std::string out = argc == 4 ? argv[3] : std::string(argv[2]) + pack_suffix(layers);
    std::vector<uint8_t> bytes;
    if (!read_whole(argv[2], &bytes)) {
      fprintf(stderr, "dvpack: cannot read %s\n", argv[2]);
      return 1;
    }
    if (!pack_write_file(out.c_str(), bytes.data(), bytes.size(), layers)) {
      fprintf(stderr, "dvpack: cannot write %s\n", out.c_str());
      return 1;
    }
    return 0;
  }
  if (!strcmp(command, "cat") && argc == 3) {
    DataFile *f = datafile_open(argv[2], "rb");
    if (!f) {
      fprintf(stderr, "dvpack: cannot open %s\n", argv[2]);
      return 1;
    }
    uint8_t chunk[65536];
    size_t n;
    int ok = 1;
    while ((n = datafile_read(f, chunk, sizeof chunk)) > 0)
      if (fwrite(chunk, 1, n, stdout) != n) ok = 0;
    datafile_close(f);
    return ok && fflush(stdout) == 0 ? 0 : 1;
  }
  if (!strcmp(command, "list") && argc == 3) {
    FILE *f = fopen(argv[2], "rb");
    if (!f) {
      fprintf(stderr, "dvpack: cannot open %s\n", argv[2]);
      return 1;
    }
    int ok = archive_read_header(f, print_member, nullptr);
    fclose(f);
    if (!ok) {
      fprintf(stderr, "dvpack: %s: bad archive header\n", argv[2]);
      return 1;
    }
    return 0;
  }
  dvpack_usage();
  return 2;
}
