// Reading a 64 MiB file through the data-file layers, each against its baseline in the
// same iteration: plain and archive against fread, gzip against zlib's gzread, scrambled
// against fread of the same plain bytes. The counter "ratio" is layer time / baseline time
// in thread CPU time (the machine is shared, so wall time mostly measures the neighbours);
// "wall_ratio" is the same in wall-clock time.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/files.h"

namespace {

constexpr size_t FILE_SIZE = 64u << 20;  // bytes
constexpr size_t CHUNK = 64u << 10;      // bytes per read call

struct BenchFiles {
  std::string dir;  // also DV_HOME, so "@member" finds the archive
  std::string plain, gz, scram, saf;
};

void remove_files();

// Text-like bytes: words from a small vocabulary, so gzip has real work to do.
const BenchFiles &files() {
  static BenchFiles f = [] {
    BenchFiles b;
    b.dir = "/tmp/dv_bench_datafile_" + std::to_string(getpid()) + "/";
    mkdir(b.dir.c_str(), 0700);
    b.plain = b.dir + "plain.bin";
    b.gz = b.dir + "packed.gz";
    b.scram = b.dir + "scrambled.scram";
    b.saf = b.dir + "archive.saf";
    std::string bytes;
    bytes.reserve(FILE_SIZE);
    static const char *const words[] = {"rabbit ", "hill ", "gate ", "whoops ", "berm ",
                                        "rut ", "1.25 ", "-3.5e2 ", "throttle\n", "clutch "};
    uint32_t seed = 12345;
    while (bytes.size() < FILE_SIZE) {
      seed = seed * 1664525u + 1013904223u;
      bytes += words[(seed >> 16) % 10];
      if ((seed >> 8) % 7 == 0) bytes += (char)('A' + (seed >> 24) % 26);
    }
    bytes.resize(FILE_SIZE);
    pack_write_file(b.plain.c_str(), bytes.data(), bytes.size(), PACK_PLAIN);
    gzFile g = gzopen(b.gz.c_str(), "wb6");
    gzwrite(g, bytes.data(), (unsigned)bytes.size());
    gzclose(g);
    pack_write_file(b.scram.c_str(), bytes.data(), bytes.size(), PACK_SCRAMBLE);
    PackMember member = {"member.bin", bytes.data(), bytes.size()};
    pack_write_archive(b.saf.c_str(), &member, 1);
    setenv("DV_HOME", b.dir.c_str(), 1);
    setenv("XDG_DATA_HOME", b.dir.c_str(), 1);
    datafile_reset_for_tests();
    atexit(remove_files);
    return b;
  }();
  return f;
}

void remove_files() {
  const BenchFiles &b = files();
  for (const std::string &p : {b.plain, b.gz, b.scram, b.saf}) remove(p.c_str());
  rmdir(b.dir.c_str());
}

using Clock = std::chrono::steady_clock;

double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

size_t read_fread(const std::string &path, std::vector<char> *buf) {
  FILE *f = fopen(path.c_str(), "rb");
  size_t total = 0, n;
  while ((n = fread(buf->data(), 1, CHUNK, f)) > 0) total += n;
  fclose(f);
  return total;
}

size_t read_gzread(const std::string &path, std::vector<char> *buf) {
  gzFile g = gzopen(path.c_str(), "rb");
  size_t total = 0;
  int n;
  while ((n = gzread(g, buf->data(), CHUNK)) > 0) total += n;
  gzclose(g);
  return total;
}

size_t read_layer(const std::string &name, std::vector<char> *buf) {
  DataFile *f = datafile_open(name.c_str(), "rb");
  if (!f) return 0;
  size_t total = 0, n;
  while ((n = datafile_read(f, buf->data(), CHUNK)) > 0) total += n;
  datafile_close(f);
  return total;
}

enum Layer { PLAIN, GZIP, SCRAMBLED, ARCHIVE };

void run(benchmark::State &state, Layer layer) {
  const BenchFiles &b = files();
  std::vector<char> buf(CHUNK);
  std::string name = layer == PLAIN ? b.plain
                     : layer == GZIP ? b.dir + "packed"           // the .gz found by suffix
                     : layer == SCRAMBLED ? b.dir + "scrambled"   // the .scram found by suffix
                     : std::string("@member.bin");
  double layer_seconds = 0, baseline_seconds = 0;  // thread CPU time
  double layer_wall = 0, baseline_wall = 0;
  bool layer_first = false;  // alternate the order, so neither side always reads a warm cache
  for (auto _ : state) {
    size_t base = 0, got = 0;
    for (int pass = 0; pass < 2; pass++) {
      bool do_layer = (pass == 0) == layer_first;
      auto t0 = Clock::now();
      double c0 = thread_cpu_seconds();
      if (do_layer) got = read_layer(name, &buf);
      else base = layer == GZIP ? read_gzread(b.gz, &buf) : read_fread(b.plain, &buf);
      (do_layer ? layer_seconds : baseline_seconds) += thread_cpu_seconds() - c0;
      (do_layer ? layer_wall : baseline_wall) += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    layer_first = !layer_first;
    if (got != FILE_SIZE || base != FILE_SIZE) state.SkipWithError("short read");
  }
  state.counters["ratio"] = layer_seconds / baseline_seconds;
  state.counters["wall_ratio"] = layer_wall / baseline_wall;
  state.counters["layer_MiB/s"] = state.iterations() * 64.0 / layer_seconds;
  state.counters["base_MiB/s"] = state.iterations() * 64.0 / baseline_seconds;
}

void BM_PlainVsFread(benchmark::State &state) { run(state, PLAIN); }
void BM_GzipVsGzread(benchmark::State &state) { run(state, GZIP); }
void BM_ScrambledVsFread(benchmark::State &state) { run(state, SCRAMBLED); }
void BM_ArchiveVsFread(benchmark::State &state) { run(state, ARCHIVE); }

BENCHMARK(BM_PlainVsFread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GzipVsGzread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ScrambledVsFread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ArchiveVsFread)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
