// The generated asset files in src/assets against the formats the show
// expects: the PNG chunks read here byte by byte (header fields, palette size and
// order, transparency, the ancillary chunks each file must carry), each file
// decoded by libgd's in-memory reader as the show does, and the logo script's
// counts, pause positions and pixels.
#include "file_contents.h"

#include <gd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> read_asset(const std::string &name) { return file_bytes(std::string(ASSET_DIR) + "/" + name); }

std::uint32_t be32(const unsigned char *p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// CRC-32 as PNG (and zlib) define it, bit by bit.
std::uint32_t crc32(const unsigned char *p, std::size_t n) {
  std::uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k)
      c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xffffffffu;
}

struct chunk_s {
  std::string type;
  std::vector<unsigned char> data;
};

// Splits a PNG into its chunks; fails the test on a bad signature, length or CRC.
std::vector<chunk_s> chunks_of(const std::vector<unsigned char> &png, const std::string &name) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<chunk_s> out;
  if (png.size() < 8 || !std::equal(signature, signature + 8, png.begin())) {
    ADD_FAILURE() << name << ": no PNG signature";
    return out;
  }
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t len = be32(&png[at]);
    if (at + 12 + len > png.size()) {
      ADD_FAILURE() << name << ": chunk runs past the end";
      return out;
    }
    chunk_s c{std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8),
              {png.begin() + long(at) + 8, png.begin() + long(at) + 8 + long(len)}};
    EXPECT_EQ(crc32(&png[at + 4], len + 4), be32(&png[at + 8 + len])) << name << ": CRC of " << c.type;
    out.push_back(std::move(c));
    at += 12 + len;
  }
  EXPECT_EQ(at, png.size()) << name << ": bytes after the last chunk";
  return out;
}

const chunk_s *find(const std::vector<chunk_s> &chunks, const std::string &type) {
  for (const chunk_s &c : chunks)
    if (c.type == type)
      return &c;
  return nullptr;
}

enum colour_type { grey = 0, rgb = 2, palette = 3, rgba = 6 };
enum palette_order { any_palette, black_then_blue, blue_then_black };

struct expected_s {
  const char *file;
  int width, height, depth, type;
  int palette_entries; // 0: no PLTE
  palette_order order;
  bool trns_black, phys, srgb, bkgd, text;
};

constexpr expected_s kAssets[] = {
    {"greetings.png", 2048, 1024, 8, rgb, 0, any_palette, true, true, false, false, false},
    {"into_the_blue.png", 320, 200, 8, palette, 17, any_palette, false, false, true, true, true},
    {"super_world.png", 3392, 232, 4, palette, 13, any_palette, false, true, false, true, false},
    {"drink.png", 119, 305, 8, rgb, 0, any_palette, false, false, false, false, false},
    {"credits_gfx_lead.png", 180, 297, 8, rgb, 0, any_palette, false, false, false, false, false},
    {"credits_gfx_gfx.png", 198, 332, 8, rgba, 0, any_palette, false, false, false, false, false},
    {"credits_gfx_music.png", 198, 250, 8, rgb, 0, any_palette, false, false, false, false, false},
    {"credits_gfx_code.png", 198, 235, 8, rgb, 0, any_palette, false, false, false, false, false},
    {"credits_txt_lead.png", 32, 16, 8, palette, 2, black_then_blue, false, false, false, false, false},
    {"credits_txt_gfx.png", 32, 16, 8, palette, 2, black_then_blue, false, false, false, false, false},
    {"credits_txt_music.png", 32, 16, 8, palette, 2, black_then_blue, false, false, false, false, false},
    {"credits_txt_code.png", 32, 16, 8, palette, 2, blue_then_black, false, false, false, false, false},
};

class AssetFormat : public testing::TestWithParam<expected_s> {};

bool is_black(const unsigned char *rgb3) { return rgb3[0] == 0 && rgb3[1] == 0 && rgb3[2] == 0; }
bool is_blue(const unsigned char *rgb3) { return rgb3[2] >= 128 && rgb3[0] < rgb3[2] / 2 && rgb3[1] < rgb3[2] / 2; }

TEST_P(AssetFormat, ChunksAreExactlyAsTabled) {
  const expected_s &e = GetParam();
  const std::vector<unsigned char> png = read_asset(e.file);
  ASSERT_FALSE(png.empty()) << e.file << " is missing from " ASSET_DIR;
  const std::vector<chunk_s> chunks = chunks_of(png, e.file);
  ASSERT_GE(chunks.size(), 3u);
  ASSERT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks.back().type, "IEND");
  const std::vector<unsigned char> &h = chunks.front().data;
  ASSERT_EQ(h.size(), 13u);
  EXPECT_EQ(be32(&h[0]), std::uint32_t(e.width));
  EXPECT_EQ(be32(&h[4]), std::uint32_t(e.height));
  EXPECT_EQ(h[8], e.depth) << "bit depth";
  EXPECT_EQ(h[9], e.type) << "colour type";
  EXPECT_EQ(h[12], 0) << "interlace";
  EXPECT_TRUE(find(chunks, "IDAT"));
  EXPECT_FALSE(find(chunks, "tIME")) << "a time chunk would make the file differ from run to run";

  const chunk_s *plte = find(chunks, "PLTE");
  if (e.palette_entries == 0) {
    EXPECT_FALSE(plte);
  } else {
    ASSERT_TRUE(plte);
    ASSERT_EQ(plte->data.size(), std::size_t(3 * e.palette_entries)) << "palette entries";
    if (e.order == black_then_blue) {
      EXPECT_TRUE(is_black(&plte->data[0]));
      EXPECT_TRUE(is_blue(&plte->data[3]));
    }
    if (e.order == blue_then_black) {
      EXPECT_TRUE(is_blue(&plte->data[0]));
      EXPECT_TRUE(is_black(&plte->data[3]));
    }
  }
  const chunk_s *trns = find(chunks, "tRNS");
  if (e.trns_black) {
    ASSERT_TRUE(trns);
    EXPECT_EQ(trns->data, std::vector<unsigned char>(6, 0)) << "tRNS must mark (0, 0, 0)";
  } else {
    EXPECT_FALSE(trns);
  }
  EXPECT_EQ(bool(find(chunks, "pHYs")), e.phys) << "pHYs";
  EXPECT_EQ(bool(find(chunks, "sRGB")), e.srgb) << "sRGB";
  EXPECT_EQ(bool(find(chunks, "bKGD")), e.bkgd) << "bKGD";
  EXPECT_EQ(bool(find(chunks, "tEXt")), e.text) << "tEXt";
}

TEST_P(AssetFormat, DecodesFromMemoryAsTheShowDecodesIt) {
  const expected_s &e = GetParam();
  std::vector<unsigned char> png = read_asset(e.file);
  ASSERT_FALSE(png.empty());
  gdImagePtr im = gdImageCreateFromPngPtr(int(png.size()), png.data());
  ASSERT_NE(im, nullptr) << e.file;
  EXPECT_EQ(gdImageSX(im), e.width);
  EXPECT_EQ(gdImageSY(im), e.height);
  if (e.type == palette) {
    EXPECT_FALSE(gdImageTrueColor(im));
    EXPECT_EQ(gdImageColorsTotal(im), e.palette_entries);
  } else {
    EXPECT_TRUE(gdImageTrueColor(im));
  }
  if (e.type == rgba) {
    bool some_transparency = false;
    for (int y = 0; y < e.height && !some_transparency; ++y)
      for (int x = 0; x < e.width && !some_transparency; ++x)
        some_transparency = gdTrueColorGetAlpha(gdImageGetTrueColorPixel(im, x, y)) != 0;
    EXPECT_TRUE(some_transparency) << "the RGBA picture should use its alpha channel";
  }
  gdImageDestroy(im);
}

INSTANTIATE_TEST_SUITE_P(Pictures, AssetFormat, testing::ValuesIn(kAssets),
                         [](const testing::TestParamInfo<expected_s> &info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.size() - 4);
                           return name;
                         });

std::vector<int> logo_entries() {
  const std::vector<unsigned char> bytes = read_asset("logo_draw.bin");
  std::vector<int> v;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    v.push_back(std::int16_t(std::uint16_t(bytes[i] | bytes[i + 1] << 8)));
  return v;
}

TEST(LogoScript, Has175LittleEndianEntries) {
  EXPECT_EQ(read_asset("logo_draw.bin").size(), 350u);
  EXPECT_EQ(logo_entries().size(), 175u);
}

TEST(LogoScript, Has134PixelsAnd41PausesWhereTheSceneRests) {
  const std::vector<int> v = logo_entries();
  ASSERT_EQ(v.size(), 175u);
  std::set<int> pauses;
  for (int i : {29, 78, 108, 128, 151})
    pauses.insert(i);
  for (int start : {34, 48, 162})
    for (int i = start; i < start + 12; ++i)
      pauses.insert(i);
  ASSERT_EQ(pauses.size(), 41u);
  int pixels = 0;
  for (int i = 0; i < 175; ++i) {
    if (pauses.count(i))
      EXPECT_EQ(v[std::size_t(i)], -1) << "entry " << i << " must be a pause";
    else
      EXPECT_GE(v[std::size_t(i)], 0) << "entry " << i << " must be a pixel";
    pixels += v[std::size_t(i)] >= 0;
  }
  EXPECT_EQ(pixels, 134);
  EXPECT_GE(v[174], 0) << "the last entry is a pixel";
}

TEST(LogoScript, PixelsLieOnTheMatrixAndNoneComesTwice) {
  std::set<int> seen;
  for (int p : logo_entries()) {
    if (p == -1)
      continue;
    EXPECT_GE(p, 0);
    EXPECT_LT(p, 32 * 16) << "x = p % 32 and y = p / 32 must stay on the 32x16 matrix";
    EXPECT_TRUE(seen.insert(p).second) << "pixel " << p << " drawn twice";
  }
  EXPECT_EQ(seen.size(), 134u);
}

TEST(LogoScript, LetteringFillsTwoLines) {
  // Both halves of the matrix carry lettering, and it spans most of the width.
  int top = 0, bottom = 0, min_x = 32, max_x = -1;
  for (int p : logo_entries()) {
    if (p < 0)
      continue;
    (p / 32 < 8 ? top : bottom) += 1;
    min_x = std::min(min_x, p % 32);
    max_x = std::max(max_x, p % 32);
  }
  EXPECT_GT(top, 40);
  EXPECT_GT(bottom, 40);
  EXPECT_GE(max_x - min_x, 24);
}

} // namespace
