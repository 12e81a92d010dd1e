// Data files: search order, the file index and archives, layers, backups and renaming.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/datafile_local.h"
#include "files/files.h"

namespace {

std::string slurp(const std::string &path) {
  std::string out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

void spill(const std::string &path, const std::string &bytes) {
  data_make_parents(path.c_str());
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f) << path;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::string read_all(DataFile *f) {
  std::string out;
  char buf[777];  // odd size: reads straddle blocks and buffers
  size_t n;
  while ((n = datafile_read(f, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

// Opens `name` for reading and returns its whole content, or "<none>".
std::string read_name(const std::string &name) {
  DataFile *f = datafile_open(name.c_str(), "rb");
  if (!f) return "<none>";
  std::string s = read_all(f);
  datafile_close(f);
  return s;
}

std::string encode(const std::string &plain, int layers) {
  PackBuffer b;
  if (!pack_encode(plain.data(), plain.size(), layers, &b)) return "";
  std::string s((const char *)b.data, b.size);
  pack_buffer_free(&b);
  return s;
}

std::string pseudo_random_bytes(size_t n, uint32_t seed) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1664525u + 1013904223u;
    s[i] = (char)((seed >> 24) % 40 + 'A');  // compressible but varied
  }
  return s;
}

// A home and a data directory of its own for each test, the module reset around it.
class DataFiles : public ::testing::Test {
 protected:
  std::string root, home, data;

  void SetUp() override {
    static int serial = 0;
    root = "/tmp/dv_datafile_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    home = root + "/xdg/Dirtvane/";
    data = root + "/data/";
    mkdir(root.c_str(), 0777);
    mkdir((root + "/xdg").c_str(), 0777);
    mkdir(data.c_str(), 0777);
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("DV_HOME", (root + "/data").c_str(), 1);
    datafile_reset_for_tests();
  }
  void TearDown() override {
    datafile_reset_for_tests();
    std::string cmd = "rm -rf '" + root + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void archive(const std::string &path, const std::vector<std::pair<std::string, std::string>> &m) {
    std::vector<PackMember> members;
    for (auto &p : m) members.push_back({p.first.c_str(), p.second.data(), p.second.size()});
    ASSERT_TRUE(pack_write_archive(path.c_str(), members.data(), (int)members.size()));
  }
};

}  // namespace

TEST(Aes128, Fips197Vector) {
  const uint8_t key[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const uint8_t plain[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                             0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  const uint8_t cipher[16] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                              0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
  Aes128 aes;
  aes128_init(&aes, key);
  uint8_t out[16], back[16];
  aes128_encrypt(&aes, plain, out);
  EXPECT_EQ(0, memcmp(out, cipher, 16));
  aes128_decrypt(&aes, cipher, back);
  EXPECT_EQ(0, memcmp(back, plain, 16));
  // FIPS-197 appendix A.1: the last round key of 2b7e1516 28aed2a6 abf71588 09cf4f3c.
  const uint8_t key2[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                            0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
  aes128_init(&aes, key2);
  EXPECT_EQ(aes.encrypt_keys[40], 0xd014f9a8u);
  EXPECT_EQ(aes.encrypt_keys[43], 0xb6630ca6u);
}

TEST_F(DataFiles, SearchDirectoriesFromTheEnvironment) {
  EXPECT_EQ(data_search_dir_count(), 2);
  EXPECT_EQ(std::string(data_search_dir(0)), home);
  EXPECT_EQ(std::string(data_search_dir(1)), data);  // with DV_HOME, never the program's own
  EXPECT_EQ(data_search_dir(2), nullptr);
  EXPECT_EQ(data_search_dir(-1), nullptr);

  // Backslashes and doubled slashes are normalised; XDG falls back to ~/.local/share.
  const char *old_home = getenv("HOME");
  std::string saved_home = old_home ? old_home : "";
  setenv("DV_HOME", (root + "//data\\\\sub").c_str(), 1);
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (root + "/h/").c_str(), 1);
  datafile_reset_for_tests();
  EXPECT_EQ(std::string(data_search_dir(0)), root + "/h/.local/share/Dirtvane/");
  EXPECT_EQ(std::string(data_search_dir(1)), root + "/data/sub/");
  if (old_home) setenv("HOME", saved_home.c_str(), 1);

  // Without DV_HOME the data directory is the program's own.
  unsetenv("DV_HOME");
  datafile_reset_for_tests();
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  *strrchr(exe, '/') = 0;
  EXPECT_EQ(std::string(data_search_dir(1)), std::string(exe) + "/");

  // No per-user folder at all: the data directory becomes index 0.
  unsetenv("HOME");
  setenv("DV_HOME", data.c_str(), 1);
  datafile_reset_for_tests();
  EXPECT_EQ(data_search_dir_count(), 1);
  EXPECT_EQ(std::string(data_search_dir(0)), data);
  if (old_home) setenv("HOME", saved_home.c_str(), 1);
}

TEST_F(DataFiles, SearchOrderAndSuffixOrder) {
  // Each case: the files present (where, name, content) and which content @config reads.
  struct Case {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files;  // "home:x" / "data:x" / "saf:x"
    const char *expected;
  };
  const Case cases[] = {
      {"home before data", {{"data:config", "D"}, {"home:config", "H"}}, "H"},
      {"any suffix at home before data", {{"data:config", "D"}, {"home:config.gz.scram", "HGS"}}, "HGS"},
      {"plain before .gz", {{"home:config.gz", "HG"}, {"home:config", "H"}}, "H"},
      {".gz before .scram", {{"home:config.scram", "HS"}, {"home:config.gz", "HG"}}, "HG"},
      {".scram before .gz.scram", {{"home:config.gz.scram", "HGS"}, {"home:config.scram", "HS"}}, "HS"},
      {"data directory suffixes", {{"data:config.scram", "DS"}, {"data:config.gz.scram", "DGS"}}, "DS"},
      {"loose data over an archive member", {{"saf:config", "A"}, {"data:config", "D"}}, "D"},
      {"archive member when nothing is loose", {{"saf:config.gz", "AG"}}, "AG"},
      {"archive suffix order", {{"saf:config.scram", "AS"}, {"saf:config.gz", "AG"}}, "AG"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    std::vector<std::pair<std::string, std::string>> members;
    for (auto &file : c.files) {
      std::string where = file.first.substr(0, file.first.find(':'));
      std::string name = file.first.substr(where.size() + 1);
      int layers = name.find(".gz") != std::string::npos ? PACK_GZIP : 0;
      if (name.find(".scram") != std::string::npos) layers |= PACK_SCRAMBLE;
      std::string bytes = encode(file.second, layers);
      if (where == "saf") members.push_back({name, bytes});
      else spill((where == "home" ? home : data) + name, bytes);
    }
    if (!members.empty()) archive(data + "pack.saf", members);
    EXPECT_EQ(read_name("@config"), c.expected);
  }
}

TEST_F(DataFiles, ArchivePrecedenceAndBadHeaders) {
  archive(data + "b.saf", {{"tracks/x/desc", "from b"}, {"only_b", "b!"}});
  archive(data + "c.saf", {{"tracks/x/desc", "from c"}});
  // Bad headers make an archive contribute nothing, yet it still counts as an archive.
  spill(data + "a.saf", "6 tracks/x/desc\n");                      // no "-" line
  spill(data + "a2.saf", "2 bad1\nxx bad2\n-\nabcd");              // a line without a number
  spill(data + "a3.saf", "2 bad3\n-");                             // last line lacks its newline
  spill(data + "a4.saf", "99999999999 bad4\n-\n");                 // size beyond 32 bits
  spill(home + "z.saf", "4 tracks/x/desc\n4 only_b\n-\nhomeHOME");  // sorts after b.saf
  EXPECT_EQ(read_name("@tracks/x/desc"), "from b");
  EXPECT_EQ(read_name("@only_b"), "b!");
  for (const char *bad : {"@bad1", "@bad2", "@bad3", "@bad4"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(read_name(bad), "<none>");
  }
  // Names are case-insensitive in the index, and the loose .saf files are names too.
  EXPECT_EQ(read_name("@TRACKS/X/DESC"), "from b");
  const char *const *names = data_names();
  std::vector<std::string> list;
  for (int i = 0; names[i]; i++) list.push_back(names[i]);
  std::vector<std::string> expected = {"a.saf", "a2.saf", "a3.saf", "a4.saf", "b.saf",
                                       "c.saf", "only_b", "tracks/x/desc", "z.saf"};
  EXPECT_EQ(list, expected);
  EXPECT_EQ(data_index_count(), 12);  // 7 loose files, 2 + 1 members of b and c, 2 of z
  char line[512];
  ASSERT_TRUE(data_describe_entry(0, line, sizeof line));
  EXPECT_EQ(std::string(line), "a.saf -> " + data + "a.saf");
  char tiny[6];
  ASSERT_TRUE(data_describe_entry(0, tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "a.saf");
  EXPECT_FALSE(data_describe_entry(12, line, sizeof line));
}

TEST_F(DataFiles, ArchiveMembersThroughEveryLayer) {
  std::string big = pseudo_random_bytes(100000, 7);
  archive(data + "m.saf", {{"empty", ""},
                           {"plain", "plain text\n"},
                           {"big.gz", encode(big, PACK_GZIP)},
                           {"big2.scram", encode(big, PACK_SCRAMBLE)},
                           {"big3.gz.scram", encode(big, PACK_GZIP | PACK_SCRAMBLE)},
                           {"dir//nested", "n"}});
  EXPECT_EQ(read_name("@plain"), "plain text\n");
  EXPECT_EQ(read_name("@big"), big);
  EXPECT_EQ(read_name("@big2"), big);
  EXPECT_EQ(read_name("@big3"), big);
  EXPECT_EQ(read_name("@dir/nested"), "n");

  // A member declared with size 0 reads as an empty file.
  DataFile *f = datafile_open("@empty", "rb");
  ASSERT_TRUE(f);
  char buf[8];
  EXPECT_EQ(datafile_getc(f), -1);
  EXPECT_EQ(datafile_gets(f, buf, sizeof buf), nullptr);
  EXPECT_EQ(datafile_read(f, buf, sizeof buf), 0u);
  datafile_close(f);

  // Seeking: inside a member, never at or past its end, never through a layer.
  f = datafile_open("@plain", "rb");
  ASSERT_TRUE(f);
  EXPECT_TRUE(datafile_seek(f, 6));
  EXPECT_EQ(datafile_getc(f), 't');
  EXPECT_FALSE(datafile_seek(f, 11));
  EXPECT_FALSE(datafile_seek(f, -1));
  EXPECT_TRUE(datafile_seek(f, 0));
  EXPECT_EQ(read_all(f), "plain text\n");
  datafile_close(f);
  f = datafile_open("@big", "rb");
  ASSERT_TRUE(f);
  EXPECT_FALSE(datafile_seek(f, 0));
  datafile_close(f);
}

TEST_F(DataFiles, ByteReadersAndPushback) {
  spill(data + "lines", "ab\ncdef\n\ng");
  DataFile *f = datafile_open("@lines", "rb");
  ASSERT_TRUE(f);
  char buf[8];
  // Size 1: an empty string, nothing consumed.
  ASSERT_EQ(datafile_gets(f, buf, 1), buf);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(datafile_gets(f, buf, 0), nullptr);
  EXPECT_STREQ(datafile_gets(f, buf, sizeof buf), "ab\n");
  EXPECT_STREQ(datafile_gets(f, buf, 3), "cd");  // size - 1 bytes
  EXPECT_STREQ(datafile_gets(f, buf, sizeof buf), "ef\n");
  EXPECT_STREQ(datafile_gets(f, buf, sizeof buf), "\n");
  EXPECT_EQ(datafile_ungetc(f, 'Z'), 'Z');
  EXPECT_EQ(datafile_read(f, buf, sizeof buf), 2u);  // the pushed-back byte counts
  EXPECT_EQ(std::string(buf, 2), "Zg");
  EXPECT_EQ(datafile_gets(f, buf, sizeof buf), nullptr);
  EXPECT_EQ(datafile_getc(f), -1);
  datafile_close(f);
  datafile_close(nullptr);
}

TEST_F(DataFiles, WritingCreatesTheHomeDirectoryAndPlainFiles) {
  struct stat st;
  ASSERT_NE(stat(home.c_str(), &st), 0);
  DataFile *f = datafile_open("@results.txt", "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(datafile_putc(f, 'R'), 1);
  EXPECT_GE(datafile_puts(f, "esults "), 0);
  EXPECT_EQ(datafile_write(f, "x", 1), 1u);
  EXPECT_EQ(datafile_printf(f, " %d\n", 42), 4);
  EXPECT_EQ(datafile_flush(f), 0);
  datafile_close(f);
  EXPECT_EQ(slurp(home + "results.txt"), "Results x 42\n");
  // Deep paths get their parents; a write never consults the archives.
  f = datafile_open("@setups/deep/er/bike.cfg", "w");
  ASSERT_TRUE(f);
  datafile_close(f);
  EXPECT_EQ(stat((home + "setups/deep/er/bike.cfg").c_str(), &st), 0);
  // A directory is not a file, and a missing plain path opens nothing.
  EXPECT_EQ(datafile_open("@setups", "rb"), nullptr);
  EXPECT_EQ(datafile_open((root + "/nothing").c_str(), "rb"), nullptr);
  // A path too long for the search is refused rather than cut.
  EXPECT_EQ(datafile_open(("@" + std::string(600, 'x')).c_str(), "wb"), nullptr);
}

TEST_F(DataFiles, NumberedBackups) {
  std::string path = home + "config";
  spill(path, "current");
  spill(path + ".~1~", "one");
  spill(path + ".~2~", "two");
  DataFile *f = datafile_open("@config", "~wb");
  ASSERT_TRUE(f);
  datafile_puts(f, "new");
  datafile_close(f);
  EXPECT_EQ(slurp(path), "new");
  EXPECT_EQ(slurp(path + ".~3~"), "current");
  EXPECT_EQ(slurp(path + ".~2~"), "two");
  // No file yet: no backup, just the new file.
  f = datafile_open("@fresh", "~wb");
  ASSERT_TRUE(f);
  datafile_close(f);
  EXPECT_EQ(slurp(home + "fresh.~1~"), "<missing>");
  EXPECT_EQ(slurp(home + "fresh"), "");
}

TEST_F(DataFiles, RenameReplacesAndKeepsTargetOnFailure) {
  spill(home + "a", "A");
  spill(home + "b", "B");
  EXPECT_TRUE(data_rename("@a", "@b"));
  EXPECT_EQ(slurp(home + "b"), "A");
  EXPECT_EQ(slurp(home + "a"), "<missing>");
  // A missing source fails and leaves the target alone.
  EXPECT_FALSE(data_rename("@a", "@b"));
  EXPECT_EQ(slurp(home + "b"), "A");
  // Plain paths are used as they are; '@' never reaches the data directory.
  spill(data + "d", "D");
  EXPECT_FALSE(data_rename("@d", "@e"));
  EXPECT_TRUE(data_rename((data + "d").c_str(), "@e"));
  EXPECT_EQ(slurp(home + "e"), "D");
}

TEST_F(DataFiles, GzipFromTheGzipTool) {
  std::string text = pseudo_random_bytes(50000, 3);
  spill(data + "tool.txt", text);
  // gzip stores the file name (FNAME); -n would leave it out.
  std::string cmd = "gzip -f '" + data + "tool.txt'";
  if (system(cmd.c_str()) != 0) GTEST_SKIP() << "no gzip tool";
  spill(data + "stdin.txt", text);
  cmd = "gzip -c < '" + data + "stdin.txt' > '" + data + "piped.gz'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  EXPECT_EQ(read_name("@tool.txt"), text);
  EXPECT_EQ(read_name((data + "piped").c_str()), text);
}

TEST_F(DataFiles, GzipHeaderFlagsFromZlib) {
  std::string text = pseudo_random_bytes(30000, 5);
  struct Case {
    const char *what;
    bool name, extra, comment, hcrc;
  };
  const Case cases[] = {
      {"none", false, false, false, false}, {"FNAME", true, false, false, false},
      {"FEXTRA", false, true, false, false}, {"FCOMMENT", false, false, true, false},
      {"FHCRC", false, false, false, true}, {"all", true, true, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    z_stream z = {};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header h = {};
    Bytef extra[300];
    memset(extra, 'e', sizeof extra);
    char name[] = "member-name.txt", comment[] = "a comment";
    h.extra = c.extra ? extra : Z_NULL;
    h.extra_len = sizeof extra;
    h.name = c.name ? (Bytef *)name : Z_NULL;
    h.comment = c.comment ? (Bytef *)comment : Z_NULL;
    h.hcrc = c.hcrc;
    ASSERT_EQ(deflateSetHeader(&z, &h), Z_OK);
    std::string out(deflateBound(&z, text.size()) + 1024, 0);
    z.next_in = (Bytef *)text.data();
    z.avail_in = text.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = out.size();
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    spill(data + "flags.gz", out);
    EXPECT_EQ(read_name("@flags"), text);
    spill(data + "flags.gz.scram", encode(out, PACK_SCRAMBLE));
    remove((data + "flags.gz").c_str());
    EXPECT_EQ(read_name("@flags"), text);
    remove((data + "flags.gz.scram").c_str());
  }
}

TEST_F(DataFiles, CorruptGzipEndsEarlyAndBadHeadersFail) {
  std::string text = pseudo_random_bytes(200000, 9);
  std::string gz = encode(text, PACK_GZIP);
  // Cut short: the data ends early with a prefix of the text.
  spill(data + "cut.gz", gz.substr(0, gz.size() / 2));
  std::string got = read_name("@cut");
  EXPECT_LT(got.size(), text.size());
  EXPECT_EQ(got, text.substr(0, got.size()));
  // Garbage in the middle: the handle reports the end, whatever it delivered before.
  std::string bad = gz;
  for (size_t i = bad.size() / 3; i < bad.size() / 3 + 64; i++) bad[i] = (char)0xff;
  spill(data + "bad.gz", bad);
  EXPECT_NE(read_name("@bad"), text);
  // A header that is not gzip, or does not fit the first buffer: the open fails.
  struct Case {
    const char *what;
    std::string bytes;
  };
  std::string huge_name = std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10) + std::string(20000, 'n');
  const Case cases[] = {
      {"empty", ""},
      {"wrong magic", std::string("\x1f\x8c\x08\0\0\0\0\0\0\x03", 10) + "xxxx"},
      {"method 7", std::string("\x1f\x8b\x07\0\0\0\0\0\0\x03", 10) + "xxxx"},
      {"flags 32", std::string("\x1f\x8b\x08\x20\0\0\0\0\0\x03", 10) + "xxxx"},
      {"short", std::string("\x1f\x8b\x08\0\0", 5)},
      {"extra past the end", std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\xff\x00", 12) + "ab"},
      {"name beyond the first buffer", huge_name},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    spill(data + "hdr.gz", c.bytes);
    EXPECT_EQ(datafile_open("@hdr", "rb"), nullptr);
  }
}

TEST_F(DataFiles, ScrambledRoundTripsThroughDvpack) {
  for (size_t size : {0, 1, 15, 16, 17, 1000, 65537}) {
    SCOPED_TRACE(size);
    std::string text = pseudo_random_bytes(size, (uint32_t)size);
    spill(data + "in.bin", text);
    for (const char *command : {"scram", "gzscram", "gz"}) {
      SCOPED_TRACE(command);
      std::string in = data + "in.bin";
      char *argv[] = {(char *)"dvpack", (char *)command, (char *)in.c_str(), nullptr};
      ASSERT_EQ(dvpack_main(3, argv), 0);
      remove(in.c_str());
      EXPECT_EQ(read_name("@in.bin"), text);
      // Byte by byte, through the block buffer.
      DataFile *f = datafile_open("@in.bin", "rb");
      ASSERT_TRUE(f);
      std::string bytes;
      for (int c; (c = datafile_getc(f)) >= 0;) bytes += (char)c;
      datafile_close(f);
      EXPECT_EQ(bytes, text);
      std::string suffix = !strcmp(command, "gz") ? ".gz" : !strcmp(command, "scram") ? ".scram" : ".gz.scram";
      remove((in + suffix).c_str());
      spill(in, text);
    }
  }
  // A directory packed with every member gzipped and scrambled.
  spill(root + "/src/tracks/t/desc", "Rabbit Hill\n");
  spill(root + "/src/zzzz", "marker");
  std::string src = root + "/src", out = data + "packed.saf";
  char *argv[] = {(char *)"dvpack", (char *)"archive", (char *)"-z", (char *)"-s",
                  (char *)out.c_str(), (char *)src.c_str(), nullptr};
  ASSERT_EQ(dvpack_main(6, argv), 0);
  datafile_reset_for_tests();
  EXPECT_EQ(read_name("@tracks/t/desc"), "Rabbit Hill\n");
  EXPECT_EQ(read_name("@zzzz"), "marker");
  char *bad[] = {(char *)"dvpack", (char *)"frobnicate", (char *)"x", nullptr};
  EXPECT_EQ(dvpack_main(3, bad), 2);
}

TEST_F(DataFiles, DamagedScrambledFiles) {
  std::string text = pseudo_random_bytes(1000, 11);
  std::string s = encode(text, PACK_SCRAMBLE);
  struct Case {
    const char *what;
    std::string bytes;
    const char *expect;  // "fail", or "prefix" (a shorter read of the same text)
  };
  std::string wrong_key = s;
  wrong_key[3] ^= 1;
  const Case cases[] = {
      {"header cut short", s.substr(0, 40), "fail"},
      {"check word damaged", wrong_key, "fail"},
      {"content cut inside a block", s.substr(0, 64 + 16 * 10 + 7), "prefix"},
      {"no content", s.substr(0, 64), "prefix"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    spill(data + "s.scram", c.bytes);
    std::string got = read_name("@s");
    if (!strcmp(c.expect, "fail")) {
      EXPECT_EQ(got, "<none>");
    } else {
      EXPECT_LT(got.size(), text.size());
      EXPECT_EQ(got, text.substr(0, got.size()));
    }
  }
}

TEST_F(DataFiles, OpenHomeFolderShowsItOnlyWithADesktop) {
  // A stand-in xdg-open on the PATH records the folder it was asked to show.
  std::string bin = root + "/bin", record = root + "/shown";
  spill(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + "'\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  const char *old_path = getenv("PATH");
  std::string saved_path = old_path ? old_path : "";
  setenv("PATH", (bin + ":" + saved_path).c_str(), 1);
  const char *old_display = getenv("DISPLAY");
  std::string saved_display = old_display ? old_display : "";

  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  open_home_folder();
  struct stat st;
  EXPECT_EQ(stat(home.c_str(), &st), 0);  // made, with its parents
  EXPECT_EQ(slurp(record), "<missing>");
  setenv("DISPLAY", ":99", 1);
  open_home_folder();
  EXPECT_EQ(slurp(record), root + "/xdg/Dirtvane");  // without the trailing '/'

  setenv("PATH", saved_path.c_str(), 1);
  if (old_display) setenv("DISPLAY", saved_display.c_str(), 1);
  else unsetenv("DISPLAY");
}
