// The assets linked into the demo, checked as the show uses them.
#include "assets.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

namespace {

TEST(EmbeddedSoundtrack, OpensFromMemoryWithTheShowsFormatAndLength) {
  OggVorbis_File vf{};
  ASSERT_EQ(ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf), 0);
  const vorbis_info *info = ov_info(&vf, -1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->rate, 44100);
  EXPECT_EQ(ov_pcm_total(&vf, -1), 18562708);
  EXPECT_EQ(ov_time_total(&vf, -1), 420923);
  ov_clear(&vf);
}

} // namespace
