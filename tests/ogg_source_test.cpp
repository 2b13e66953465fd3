// The in-memory Ogg source under the real decoder, on streams of known tones.
#include "file_contents.h"
#include "output_capture.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string stream_path(const char *name) { return std::string(TEST_STREAMS) + "/" + name + ".ogg"; }

// Bytes allocated and not yet freed; under AddressSanitizer its allocator
// keeps the count (the C library's figures then stay still).
#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes(); // the sanitizer runtime's
size_t heap_in_use() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t heap_in_use() { return mallinfo2().uordblks; }
#endif

class MemoryStream : public testing::Test {
protected:
  std::vector<unsigned char> bytes = file_bytes(stream_path("stereo_3s"));
  OggVorbis_File vf{};
  void SetUp() override { ASSERT_EQ(ov_load_data(bytes.data(), bytes.size(), &vf), 0); }
  void TearDown() override { ov_clear(&vf); }

  size_t read(void *into, size_t n) { return vf.callbacks.read_func(into, 1, n, vf.datasource); }
  int seek(long long offset, int whence) { return vf.callbacks.seek_func(vf.datasource, offset, whence); }
  long tell() { return vf.callbacks.tell_func(vf.datasource); }
};

TEST_F(MemoryStream, DecoderSeesTheStreamAsEncoded) {
  const vorbis_info *info = ov_info(&vf, -1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->rate, 44100);
  EXPECT_EQ(ov_pcm_total(&vf, -1), 132300);
  EXPECT_EQ(ov_time_total(&vf, -1), 3000) << "milliseconds";
  EXPECT_EQ(ov_seekable(&vf), 1);

  char buffer[8192];
  long long decoded = 0;
  for (long n; (n = ov_read(&vf, buffer, sizeof buffer, nullptr)) != 0;) {
    ASSERT_GT(n, 0);
    decoded += n;
  }
  EXPECT_EQ(decoded, 132300LL * 4);
}

TEST_F(MemoryStream, SeeksFromStartCurrentAndEnd) {
  EXPECT_EQ(seek(0, SEEK_END), int(bytes.size()));
  EXPECT_EQ(tell(), long(bytes.size()));
  EXPECT_EQ(seek(100, SEEK_SET), 100);
  EXPECT_EQ(seek(0, SEEK_CUR), 100);
  EXPECT_EQ(seek(-40, SEEK_CUR), 60);
  EXPECT_EQ(seek(-10, SEEK_END), int(bytes.size()) - 10);
  EXPECT_EQ(seek(5000, SEEK_END), int(bytes.size()) + 5000) << "no clamping";
}

TEST_F(MemoryStream, ReadsDeliverWhatIsLeftThenNothing) {
  seek(-10, SEEK_END);
  std::vector<unsigned char> into(64, 0xAA);
  EXPECT_EQ(read(into.data(), into.size()), 10u);
  EXPECT_TRUE(std::equal(into.begin(), into.begin() + 10, bytes.end() - 10));
  EXPECT_EQ(into[10], 0xAA);
  EXPECT_EQ(read(into.data(), into.size()), 0u);
  EXPECT_EQ(tell(), long(bytes.size()));
}

TEST_F(MemoryStream, PositionsOutsideTheStreamReadNothing) {
  std::vector<unsigned char> into(64, 0xAA);
  seek(1000, SEEK_END);
  EXPECT_EQ(read(into.data(), into.size()), 0u);
  seek(-1000, SEEK_SET);
  EXPECT_EQ(read(into.data(), into.size()), 0u);
  EXPECT_EQ(std::count(into.begin(), into.end(), 0xAA), 64);
  seek(0, SEEK_SET);
  EXPECT_EQ(read(into.data(), 4), 4u);
  EXPECT_EQ(std::string(into.begin(), into.begin() + 4), "OggS");
}

TEST_F(MemoryStream, IllegalWhenceEndsTheProcess) {
  EXPECT_EXIT(
      {
        dup2(2, 1); // the message goes to stdout; let the death test see it
        seek(0, 3);
      },
      testing::ExitedWithCode(1), "^illegal whence: 3\n$");
}

TEST(MemoryStreamClose, LeavesTheCallersBytesAlone) {
  auto bytes = file_bytes(stream_path("stereo_1s"));
  const auto copy = bytes;
  OggVorbis_File vf{};
  ASSERT_EQ(ov_load_data(bytes.data(), bytes.size(), &vf), 0);
  char buffer[4096];
  ov_read(&vf, buffer, sizeof buffer, nullptr);
  ov_clear(&vf);
  EXPECT_EQ(bytes, copy);
}

TEST(FileStream, LoadsTheWholeFileAndFreesItOnClear) {
  const std::string path = stream_path("stereo_3s");
  const size_t file_size = file_bytes(path).size();
  // The first load may leave the library's one-time allocations behind.
  OggVorbis_File vf{};
  ASSERT_EQ(ov_load_file(path.c_str(), &vf), 0);
  ov_clear(&vf);

  const size_t before = heap_in_use();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(ov_load_file(path.c_str(), &vf), 0);
    EXPECT_GE(heap_in_use() - before, file_size);
    EXPECT_EQ(ov_pcm_total(&vf, -1), 132300);
    ov_clear(&vf);
  }
  EXPECT_LT(heap_in_use() - before, 1024u) << "the file's bytes and the record are released";
}

TEST(RejectedStream, LeavesNothingAllocated) {
  std::vector<unsigned char> not_ogg(20000, 'x');
  const std::string path = testing::TempDir() + "not_ogg.bin";
  std::FILE *out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(not_ogg.data(), 1, not_ogg.size(), out), not_ogg.size());
  std::fclose(out);
  OggVorbis_File warm_up{};
  ov_load_data(not_ogg.data(), not_ogg.size(), &warm_up);
  ov_load_file(path.c_str(), &warm_up);
  const size_t before = heap_in_use();
  for (int i = 0; i < 20; ++i) {
    OggVorbis_File vf{};
    EXPECT_LT(ov_load_data(not_ogg.data(), not_ogg.size(), &vf), 0);
    OggVorbis_File vf_file{};
    EXPECT_LT(ov_load_file(path.c_str(), &vf_file), 0);
  }
  EXPECT_LT(heap_in_use() - before, 1024u);
  std::remove(path.c_str());
}

TEST(FileStreamDeathTest, MissingFileIsReportedWithItsName) {
  OggVorbis_File vf{};
  EXPECT_EXIT(ov_load_file("/no/such/soundtrack.ogg", &vf), testing::ExitedWithCode(1),
              "^/no/such/soundtrack.ogg: No such file or directory\n$");
}

// Kernel attribute files report a size of a page and hold a few bytes: to a
// reader that is a file shrinking under it.
TEST(FileStreamDeathTest, FileShorterThanItsSizeEndsTheLoad) {
  const char *path = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(path, R_OK) != 0)
    GTEST_SKIP() << "no kernel attribute file to read here";
  OggVorbis_File vf{};
  EXPECT_EXIT(ov_load_file(path, &vf), testing::ExitedWithCode(1), "file shrank while it was read");
}

} // namespace
