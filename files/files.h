// Data files: the search directories, the file index, the layered DataFile handle
// (archive members, gzip, scrambled) and the packers that write those layers.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---- search directories and the file index ----
// Search directory 0 is the home directory ($XDG_DATA_HOME or ~/.local/share, then
// "Dirtvane/"), 1 the game data directory ($DV_HOME, else the executable's directory).
// A missing directory shifts the next one down. Built once, on first use.

// The search directory `index` (forward slashes, one trailing '/'), or null when out of range.
const char *data_search_dir(int index);
int data_search_dir_count();

// Every name of the file index once (case-insensitively equal names collapsed), sorted
// case-insensitively, terminated by a null entry. Owned by the module; lives for the process.
const char *const *data_names();

// Number of entries in the file index (loose files and archive members).
int data_index_count();
// Writes "<name> -> <path>" of index entry `index` into `buffer` (each part cut to fit).
// 1 on success, 0 when `index` is out of range or `size` < 1.
int data_describe_entry(int index, char *buffer, int size);

// Renames `from` to `to`, replacing `to`. A leading '@' means the home directory (nothing
// else is searched). 1 on success, 0 on failure.
int data_rename(const char *from, const char *to);

// Creates the home directory (with its parents) and shows it in the desktop's file
// browser (xdg-open) when a desktop is there; otherwise only creates it.
void open_home_folder();

// Tests: forget the search directories and the file index; the next use rebuilds them
// from the environment (DV_HOME, XDG_DATA_HOME, HOME) as it then stands.
void datafile_reset_for_tests();

// ---- the data-file handle ----
struct DataFile;

// Opens `name` with an fopen `mode` ("rb", "wb", "a", ...), optionally preceded by '~' to
// keep a numbered backup "<path>.~N~" of a file being replaced. A name starting with '@'
// is searched: each search directory in order (with ".gz", ".scram", ".gz.scram" tried for
// reading), then the archives of the file index. Other names are paths opened as they are.
// Writes create missing parent directories and are always plain.
// Returns the handle (caller closes it with datafile_close) or null; logs nothing.
DataFile *datafile_open(const char *name, const char *mode);
void datafile_close(DataFile *file);  // null is allowed

// A byte 0-255, or -1 at the end of the data.
int datafile_getc(DataFile *file);
// Pushes one byte back (only one is kept); returns `c`, or -1 when c is -1.
int datafile_ungetc(DataFile *file, int c);
// Reads at most size - 1 bytes, stopping after a newline (kept); terminates the text.
// Returns `buffer`, or null when the data ended before any byte (or size < 1).
char *datafile_gets(DataFile *file, char *buffer, int size);
// Reads up to `length` bytes; returns how many were read (short at the end of the data).
size_t datafile_read(DataFile *file, void *buffer, size_t length);
// scanf through the layers: %d %i %o %u %x %X %f %e %g %s %c %[...] %n %%, widths, '*',
// size letters hh h l ll L q. Returns the number of assignments, or -1 when the input
// ended before anything was assigned.
int datafile_scanf(DataFile *file, const char *format, ...)
    __attribute__((format(scanf, 2, 3)));
int datafile_vscanf(DataFile *file, const char *format, va_list args);
// Moves to byte `offset` of the data; only for handles without gzip or scrambled layers
// and offsets below the data's limit. 1 on success, 0 otherwise.
int datafile_seek(DataFile *file, long offset);

// Plain writes straight to the stream. datafile_putc returns 1 or 0; the others return
// what fputs, fwrite, vfprintf and fflush return.
int datafile_putc(DataFile *file, int c);
int datafile_puts(DataFile *file, const char *text);
size_t datafile_write(DataFile *file, const void *data, size_t length);
int datafile_printf(DataFile *file, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
int datafile_flush(DataFile *file);

// ---- packing: the writers of the layers the readers undo (tools/dvpack, tools/dvgen) ----
enum PackLayers {
  PACK_PLAIN = 0,
  PACK_GZIP = 1,      // gzip member (RFC 1952), suffix ".gz"
  PACK_SCRAMBLE = 2,  // scrambled (AES-128, fixed key), suffix ".scram"
  // both: gzip first, then scrambled: suffix ".gz.scram"
};
// The file-name suffix of `layers`: "", ".gz", ".scram" or ".gz.scram".
const char *pack_suffix(int layers);

// A block of bytes allocated with malloc; release with pack_buffer_free.
struct PackBuffer {
  uint8_t *data;
  size_t size;  // bytes
};
void pack_buffer_free(PackBuffer *buffer);

// Encodes `data` with `layers` into `out` (gzip first, then scrambled). 1 or 0 (out
// untouched on failure). Scrambled data is limited to 2^31 - 1 plain bytes.
int pack_encode(const void *data, size_t size, int layers, PackBuffer *out);
// Writes `data` encoded with `layers` to the real file `path` exactly as named (the
// caller adds pack_suffix), creating missing parent directories. 1 or 0.
int pack_write_file(const char *path, const void *data, size_t size, int layers);

// One member of a .saf archive: its name in the archive and its bytes.
struct PackMember {
  const char *name;  // '/' separators, no newline
  const void *data;
  size_t size;  // bytes
};
// Writes a .saf archive of `count` members in the given order. 1 or 0.
int pack_write_archive(const char *path, const PackMember *members, int count);
// Writes a .saf archive of every regular file below `directory` (names relative to it,
// sorted byte-wise), each member encoded with `layers` and its name given pack_suffix.
// 1 or 0 (an empty directory gives an archive with no members).
int pack_archive_directory(const char *directory, const char *path, int layers);

// The dvpack tool's command line (tools/dvpack.cpp is only main); returns the exit status.
int dvpack_main(int argc, char **argv);
