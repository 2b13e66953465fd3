#include "tremor_in_ram.h"

#include "fatal.h"

#include <tremor/ivorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct ogginram_s {
  const unsigned char *data;
  size_t size;
  off_t position;
  int malloced; // 1: `data` was read from a file here and is freed on close
};
using ogginram_t = ogginram_s *;

namespace {

ogginram_t new_record() { return allocated_or_exit(static_cast<ogginram_t>(std::calloc(1, sizeof(ogginram_s)))); }

} // namespace

// The decoder always asks for items of one byte. The position may have been
// sought anywhere, before the start included; outside the stream there is
// nothing to read.
static size_t oir_read(void *ptr, size_t size, size_t nmemb, void *datasource) {
  auto *record = static_cast<ogginram_t>(datasource);
  if (size == 0 || record->position < 0 || size_t(record->position) >= record->size)
    return 0;
  size_t copysize = record->size - size_t(record->position);
  if (size * nmemb < copysize)
    copysize = size * nmemb;
  std::memcpy(ptr, record->data + record->position, copysize);
  record->position += off_t(copysize);
  return (copysize + size - 1) / size;
}

static int oir_seek(void *datasource, ogg_int64_t offset, int whence) {
  auto *record = static_cast<ogginram_t>(datasource);
  off_t base;
  switch (whence) {
  case SEEK_SET: base = 0; break;
  case SEEK_CUR: base = record->position; break;
  case SEEK_END: base = off_t(record->size); break;
  default:
    std::printf("illegal whence: %d\n", whence);
    std::fflush(stdout);
    std::exit(1);
  }
  record->position = base + off_t(offset);
  return int(record->position);
}

static int oir_close(void *datasource) {
  auto *record = static_cast<ogginram_t>(datasource);
  if (record->malloced && record->data)
    std::free(const_cast<unsigned char *>(record->data));
  std::free(record);
  return 0;
}

static long oir_tell(void *datasource) { return long(static_cast<ogginram_t>(datasource)->position); }

static constexpr ov_callbacks oir_callbacks = {oir_read, oir_seek, oir_close, oir_tell};

static ogginram_t oir_open(const char *filename) {
  const int fd = open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    fatal_perror(filename);
  struct stat st {};
  if (fstat(fd, &st) < 0)
    fatal_perror(filename);

  ogginram_t record = new_record();
  const size_t size = size_t(st.st_size);
  auto *data = allocated_or_exit(static_cast<unsigned char *>(std::malloc(size > 0 ? size : 1)));
  record->data = data;
  record->size = size;
  record->position = 0;
  record->malloced = 1;

  while (size_t(record->position) < size) {
    const ssize_t n = read(fd, data + record->position, size - size_t(record->position));
    if (n < 0)
      fatal_perror(filename);
    if (n == 0) {
      // The file is shorter than it said a moment ago: what is in memory is
      // not the file any more.
      std::fprintf(stderr, "%s: file shrank while it was read\n", filename);
      std::exit(1);
    }
    record->position += n;
  }
  close(fd);
  record->position = 0;
  return record;
}

// A rejected stream was not taken by the decoder, so its record (and a loaded
// file's bytes) would be lost if it were not released here.
static int open_record(ogginram_t record, OggVorbis_File *vf) {
  const int result = ov_open_callbacks(record, vf, nullptr, 0, oir_callbacks);
  if (result != 0)
    oir_close(record);
  return result;
}

int ov_load_file(const char *filename, OggVorbis_File *vf) { return open_record(oir_open(filename), vf); }

int ov_load_data(const unsigned char *data, size_t size, OggVorbis_File *vf) {
  ogginram_t record = new_record();
  record->data = data;
  record->size = size;
  record->position = 0;
  record->malloced = 0;
  return open_record(record, vf);
}
