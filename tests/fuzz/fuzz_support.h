// Set-up shared by the fuzz targets: a scratch directory of the process's own, and the data
// files pointed at empty directories inside it.
#pragma once
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/files.h"

namespace fuzz_support {

inline std::string &scratch_path() {
  static std::string path;
  return path;
}

// Removes the scratch directory and everything in it (links themselves, never their targets).
inline void remove_scratch() {
  auto remove_one = [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); };
  nftw(scratch_path().c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

// The directory /tmp/fuzz_<tag>_<pid>: made on the first call, removed with all in it at exit.
inline const std::string &scratch_dir(const char *tag) {
  std::string &dir = scratch_path();
  if (dir.empty()) {
    dir = std::string("/tmp/fuzz_") + tag + "_" + std::to_string((long)getpid());
    if (mkdir(dir.c_str(), 0700) != 0) {
      perror(dir.c_str());
      abort();
    }
    atexit(remove_scratch);
  }
  return dir;
}

// The scratch directory, and on the first call the data files' home (XDG_DATA_HOME) and data
// directory (DV_HOME) made inside it as `home` and `data` (empty: the scratch directory
// itself), with the file index emptied, so that no name finds anything the input did not make.
inline const std::string &data_dirs(const char *tag, const char *home, const char *data) {
  bool first = scratch_path().empty();
  const std::string &dir = scratch_dir(tag);
  if (first) {
    std::string home_dir = *home ? dir + "/" + home : dir;
    std::string data_dir = *data ? dir + "/" + data : dir;
    mkdir(home_dir.c_str(), 0700);
    mkdir(data_dir.c_str(), 0700);
    setenv("XDG_DATA_HOME", home_dir.c_str(), 1);
    setenv("DV_HOME", data_dir.c_str(), 1);
    datafile_reset_for_tests();
  }
  return dir;
}

}  // namespace fuzz_support
