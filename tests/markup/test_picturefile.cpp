// Picture files: the BMP, icon and JPEG readers, import into board pictures
// and the BMP export.
#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/atomicfile.h"
#include "markup/picturefile.h"
#include "support/jpeg_test_support.h"

namespace lentar {
namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A 40-byte bitmap info header.
std::string InfoHeader(int32_t width, int32_t height, int bits, uint32_t compression,
                       uint32_t coloursUsed = 0) {
  std::string h;
  Put32(h, 40);
  Put32(h, static_cast<uint32_t>(width));
  Put32(h, static_cast<uint32_t>(height));
  Put16(h, 1);
  Put16(h, static_cast<uint32_t>(bits));
  Put32(h, compression);
  Put32(h, 0);
  Put32(h, 2835);
  Put32(h, 2835);
  Put32(h, coloursUsed);
  Put32(h, 0);
  return h;
}

// A BMP file: file header, then dib (header, masks, palette), then pixels.
std::string BmpFile(const std::string& dib, const std::string& pixels) {
  std::string f = "BM";
  Put32(f, static_cast<uint32_t>(14 + dib.size() + pixels.size()));
  Put32(f, 0);
  Put32(f, static_cast<uint32_t>(14 + dib.size()));
  return f + dib + pixels;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// Palette black, red, green, blue (blue, green, red, reserved per entry).
const std::string kPalette = Bytes({0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0});

TEST(BmpReader, EveryStoredFormOfTheSamePicture) {
  // red green / blue black
  struct Case {
    const char* form;
    std::string file;
  };
  std::string core;  // 12-byte header of the oldest bitmaps
  Put32(core, 12);
  Put16(core, 2);
  Put16(core, 2);
  Put16(core, 1);
  Put16(core, 24);
  std::string masks565;
  Put32(masks565, 0xF800);
  Put32(masks565, 0x07E0);
  Put32(masks565, 0x001F);
  const Case cases[] = {
      {"24 bits bottom-up", BmpFile(InfoHeader(2, 2, 24, 0),
                                    Bytes({255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0}))},
      {"32 bits top-down", BmpFile(InfoHeader(2, -2, 32, 0),
                                   Bytes({0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}))},
      {"8-bit palette", BmpFile(InfoHeader(2, 2, 8, 0, 4) + kPalette, Bytes({3, 0, 0, 0, 1, 2, 0, 0}))},
      {"4-bit palette", BmpFile(InfoHeader(2, 2, 4, 0, 4) + kPalette, Bytes({0x30, 0, 0, 0, 0x12, 0, 0, 0}))},
      {"8-bit run length", BmpFile(InfoHeader(2, 2, 8, 1, 4) + kPalette,
                                   Bytes({1, 3, 1, 0, 0, 0, 1, 1, 1, 2, 0, 1}))},
      {"4-bit run length", BmpFile(InfoHeader(2, 2, 4, 2, 4) + kPalette,
                                   Bytes({2, 0x30, 0, 0, 2, 0x12, 0, 1}))},
      {"16-bit fields", BmpFile(InfoHeader(2, 2, 16, 3) + masks565,
                                Bytes({0x1F, 0, 0, 0, 0x00, 0xF8, 0xE0, 0x07}))},
      {"core header", BmpFile(core, Bytes({255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0}))},
  };
  for (const Case& c : cases) {
    RgbImage image;
    ASSERT_TRUE(DecodeBmp(c.file, image)) << c.form;
    ASSERT_EQ(image.width, 2) << c.form;
    ASSERT_EQ(image.height, 2) << c.form;
    EXPECT_EQ(image.At(0, 0), kRed) << c.form;
    EXPECT_EQ(image.At(1, 0), kGreen) << c.form;
    EXPECT_EQ(image.At(0, 1), kBlue) << c.form;
    EXPECT_EQ(image.At(1, 1), 0u) << c.form;
  }
}

TEST(BmpReader, DamagedAndHostileFilesAreRefusedQuickly) {
  const std::string good = BmpFile(InfoHeader(2, 2, 8, 0, 4) + kPalette, Bytes({3, 0, 0, 0, 1, 2, 0, 0}));
  std::string hugeFromRle = BmpFile(InfoHeader(30000, 30000, 8, 1, 4) + kPalette, Bytes({0, 1}));
  struct Case {
    const char* what;
    std::string file;
  };
  const Case cases[] = {
      {"empty", ""},
      {"signature only", "BM"},
      {"not a bitmap", "PK" + good.substr(2)},
      {"pixels cut short", good.substr(0, good.size() - 1)},
      {"header claims 100000 x 100000", BmpFile(InfoHeader(100000, 100000, 24, 0), std::string(64, '\0'))},
      {"larger than the pixel cap", hugeFromRle},
      {"zero height", BmpFile(InfoHeader(2, 0, 24, 0), std::string(16, '\0'))},
      {"negative width", BmpFile(InfoHeader(-2, 2, 24, 0), std::string(16, '\0'))},
      {"seven bits", BmpFile(InfoHeader(2, 2, 7, 0), std::string(16, '\0'))},
      {"run length on 24 bits", BmpFile(InfoHeader(2, 2, 24, 1), std::string(16, '\0'))},
      {"top-down run length", BmpFile(InfoHeader(2, -2, 8, 1, 4) + kPalette, Bytes({0, 1}))},
      {"run length without its end", BmpFile(InfoHeader(2, 2, 8, 1, 4) + kPalette, Bytes({1, 3, 1}))},
      {"palette beyond the file", BmpFile(InfoHeader(2, 2, 8, 0, 200), Bytes({0, 0, 0, 0}))},
      {"unknown compression", BmpFile(InfoHeader(2, 2, 8, 4, 4) + kPalette, std::string(8, '\0'))},
  };
  for (const Case& c : cases) {
    RgbImage image;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DecodeBmp(c.file, image)) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
  }
}

TEST(BmpReader, ExportedPictureReadsBackInBoardColours) {
  const std::array<int32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
  // 3 columns of 8 rows, C = 2: index = (x + y) % 4.
  std::vector<uint8_t> pixels(24);
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 8; ++y) pixels[x * 8 + y] = static_cast<uint8_t>((x + y) % 4);
  const std::string bmp = EncodePictureBmp(3, 8, pixels.data(), colours, 2);
  EXPECT_EQ(bmp.size(), 14u + 40u + 12u * 8u);  // rows padded to 12 bytes
  EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 24);
  RgbImage image;
  ASSERT_TRUE(DecodeBmp(bmp, image));
  const uint32_t palette[] = {0, kRed, kGreen, 0x00FFFF};
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 8; ++y) EXPECT_EQ(image.At(x, y), palette[(x + y) % 4]) << x << "," << y;

  const auto dir = std::filesystem::temp_directory_path() /
                   ("lentar-bmp-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "pic.bmp").string();
  ASSERT_TRUE(SavePictureBmp(path, 3, 8, pixels.data(), colours, 2));
  std::string written;
  ASSERT_TRUE(ReadWholeFile(path, written));
  EXPECT_EQ(written, bmp);
  EXPECT_FALSE(SavePictureBmp((dir / "missing" / "pic.bmp").string(), 3, 8, pixels.data(), colours, 2));
  std::filesystem::remove_all(dir);
}

// ---- Icons ------------------------------------------------------------------

// A 32-bit icon image of size x size pixels, every pixel colour with alpha.
std::string IconDib(int size, uint32_t colour, uint8_t alpha) {
  std::string dib = InfoHeader(size, 2 * size, 32, 0);
  for (int i = 0; i < size * size; ++i) {
    dib += static_cast<char>((colour >> 16) & 0xFF);
    dib += static_cast<char>((colour >> 8) & 0xFF);
    dib += static_cast<char>(colour & 0xFF);
    dib += static_cast<char>(alpha);
  }
  dib += std::string(static_cast<size_t>(size) * 4, '\0');  // transparency mask
  return dib;
}

std::string PngOf(int size, uint32_t colour, uint8_t alpha) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(size);
  image.height = static_cast<png_uint_32>(size);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba;
  for (int i = 0; i < size * size; ++i)
    rgba.insert(rgba.end(), {static_cast<uint8_t>(colour & 0xFF), static_cast<uint8_t>((colour >> 8) & 0xFF),
                             static_cast<uint8_t>((colour >> 16) & 0xFF), alpha});
  png_alloc_size_t bytes = 0;
  png_image_write_to_memory(&image, nullptr, &bytes, 0, rgba.data(), 0, nullptr);
  std::string out(bytes, '\0');
  png_image_write_to_memory(&image, out.data(), &bytes, 0, rgba.data(), 0, nullptr);
  out.resize(bytes);
  return out;
}

std::string IconFile(const std::vector<std::pair<int, std::string>>& images) {
  std::string f;
  Put16(f, 0);
  Put16(f, 1);
  Put16(f, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const auto& [size, data] : images) {
    f += static_cast<char>(size == 256 ? 0 : size);
    f += static_cast<char>(size == 256 ? 0 : size);
    f += std::string(2, '\0');
    Put16(f, 1);
    Put16(f, 32);
    Put32(f, static_cast<uint32_t>(data.size()));
    Put32(f, offset);
    offset += static_cast<uint32_t>(data.size());
  }
  for (const auto& image : images) f += image.second;
  return f;
}

TEST(IconReader, TakesTheBoardHeightElseTheLargestDrawnOnBlack) {
  const std::string icon = IconFile({{32, IconDib(32, kWhite, 128)},
                                     {16, IconDib(16, kRed, 255)},
                                     {48, PngOf(48, kGreen, 255)}});
  RgbImage image;
  ASSERT_TRUE(DecodeIcon(icon, 16, image));
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.At(3, 3), kRed);

  ASSERT_TRUE(DecodeIcon(icon, 32, image));
  EXPECT_EQ(image.height, 32);
  EXPECT_EQ(image.At(0, 0), 0x808080u);  // half-transparent white on black

  ASSERT_TRUE(DecodeIcon(icon, 8, image));  // no 8-row image: the largest, a PNG
  EXPECT_EQ(image.width, 48);
  EXPECT_EQ(image.At(47, 47), kGreen);

  // A damaged preferred image gives way to the next one.
  std::string broken = IconFile({{16, IconDib(16, kRed, 255).substr(0, 100)}, {32, IconDib(32, kBlue, 255)}});
  ASSERT_TRUE(DecodeIcon(broken, 16, image));
  EXPECT_EQ(image.At(0, 0), kBlue);
}

TEST(IconReader, DamagedIconsAreRefused) {
  const std::string good = IconFile({{16, IconDib(16, kRed, 255)}});
  std::string wrongType = good;
  wrongType[2] = 3;
  std::string lyingCount = good;
  lyingCount[4] = static_cast<char>(200);
  std::string offsetOutside = good;
  offsetOutside[6 + 12] = static_cast<char>(0xFF), offsetOutside[6 + 13] = static_cast<char>(0xFF);
  for (const std::string& file : {std::string(), good.substr(0, 5), wrongType, lyingCount, offsetOutside,
                                  good.substr(0, 60), IconFile({{48, PngOf(48, kGreen, 255).substr(0, 50)}})}) {
    RgbImage image;
    EXPECT_FALSE(DecodeIcon(file, 16, image)) << file.size();
  }
}

// ---- Import -------------------------------------------------------------------

const std::array<int32_t, 8> kRgbChannels = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};

// A BMP of width x height pixels whose pixel (x, y) has board colour index
// index(x, y) over three channels.
std::string BoardBmp(int width, int height, const std::function<int(int, int)>& index) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) pixels[static_cast<size_t>(x) * height + y] = static_cast<uint8_t>(index(x, y));
  return EncodePictureBmp(width, height, pixels.data(), kRgbChannels, 3);
}

ImportQuestion Answer(std::optional<ImportMode> mode, std::vector<std::pair<int, int>>* asked = nullptr) {
  return [mode, asked](int rows, int height) {
    if (asked) asked->push_back({rows, height});
    return mode;
  };
}

TEST(PictureImport, KeepTakesTheRowsFromTheStartRow) {
  const auto pattern = [](int x, int y) { return (y / 4 + x) % 8; };
  const std::string bmp = BoardBmp(5, 32, pattern);
  std::vector<std::pair<int, int>> asked;
  const PictureLoadResult r = LoadPictureBytes(bmp, PictureFileKind::Unknown, "/pics/Logo.BMP",
                                               PictureGeometry(2, 3), kRgbChannels, 16384,
                                               Answer(ImportMode{false, 8}, &asked));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{16, 32}}));
  EXPECT_EQ(r.name, "Logo.BMP");
  ASSERT_EQ(r.width, 5);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 16; ++y) EXPECT_EQ(r.pixels[x * 16 + y], pattern(x, y + 8)) << x << "," << y;
}

TEST(PictureImport, AShorterPictureFillsTheTopRows) {
  const PictureLoadResult r = LoadPictureBytes(BoardBmp(2, 8, [](int, int) { return 1; }), PictureFileKind::Bmp,
                                               "a.bmp", PictureGeometry(2, 3), kRgbChannels, 16384,
                                               Answer(ImportMode{false, 5}));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(r.pixels[y], y < 8 ? 1 : 0) << y;
}

TEST(PictureImport, ScaleGivesTheRoundedWidth) {
  // (width, height, H) -> width * H / height rounded, halves to even.
  const int cases[][4] = {{25, 32, 16, 12}, {27, 32, 16, 14}, {3, 32, 16, 2}, {1, 32, 16, 1},
                          {10, 4, 8, 20}, {7, 16, 8, 4}};
  for (const auto& c : cases) {
    const PictureLoadResult r =
        LoadPictureBytes(BoardBmp(c[0], c[1], [](int, int) { return 7; }), PictureFileKind::Bmp, "a.bmp",
                         PictureGeometry(c[2] / 8, 3), kRgbChannels, 16384, Answer(ImportMode{true, 0}));
    ASSERT_EQ(r.status, PictureLoadStatus::Ok);
    EXPECT_EQ(r.width, c[3]) << c[0] << "x" << c[1];
    EXPECT_EQ(r.height, c[2]);
    EXPECT_EQ(r.pixels.front(), 7);
    EXPECT_EQ(r.pixels.back(), 7);
  }
}

TEST(PictureImport, NoQuestionWhenTheHeightFitsAndCancelChangesNothing) {
  std::vector<std::pair<int, int>> asked;
  PictureLoadResult r = LoadPictureBytes(BoardBmp(4, 16, [](int, int) { return 2; }), PictureFileKind::Bmp, "a.bmp",
                                         PictureGeometry(2, 3), kRgbChannels, 16384, Answer(std::nullopt, &asked));
  EXPECT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_TRUE(asked.empty());
  r = LoadPictureBytes(BoardBmp(4, 17, [](int, int) { return 2; }), PictureFileKind::Bmp, "a.bmp",
                       PictureGeometry(2, 3), kRgbChannels, 16384, Answer(std::nullopt, &asked));
  EXPECT_EQ(r.status, PictureLoadStatus::Cancelled);
  EXPECT_TRUE(r.pixels.empty());
}

TEST(PictureImport, TheWidthStopsAtTheCapacity) {
  const PictureLoadResult r = LoadPictureBytes(BoardBmp(3000, 8, [](int x, int) { return x % 2; }),
                                               PictureFileKind::Bmp, "a.bmp", PictureGeometry(1, 3),
                                               kRgbChannels, 16384, Answer(std::nullopt));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.width, 2048);
}

TEST(PictureImport, AVeryWideLowPictureStretchedStaysWithinTheCapacity) {
  // 1048576 x 1 pixels, one bit each: stretched to 32 rows it would be
  // 33 million columns wide; only the 512 the capacity takes are made.
  const std::string file = BmpFile(InfoHeader(1 << 20, 1, 1, 0, 2) + Bytes({0, 0, 0, 0, 0, 0, 255, 0}),
                                   std::string((1 << 20) / 8, '\x55'));
  const auto start = std::chrono::steady_clock::now();
  const PictureLoadResult r = LoadPictureBytes(file, PictureFileKind::Bmp, "wide.bmp", PictureGeometry(4, 3),
                                               kRgbChannels, 16384, Answer(ImportMode{true, 0}));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.width, 512);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(PictureImport, NearestBoardColoursTieToTheLowestIndex) {
  // Channels red 100 and green 100: black, red, green and yellow.
  const std::array<int32_t, 8> dim = {0x000064, 0x006400, 0, 0, 0, 0, 0, 0};
  const std::string file = BmpFile(InfoHeader(3, 1, 24, 0),
                                   Bytes({0, 50, 50, 0, 100, 100, 0, 0, 60, 0, 0, 0}));
  const PictureLoadResult r = LoadPictureBytes(file, PictureFileKind::Bmp, "a.bmp", PictureGeometry(1, 2), dim,
                                               16384, Answer(ImportMode{false, 0}));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.pixels[0], 0);   // (50, 50, 0): four colours at the same distance
  EXPECT_EQ(r.pixels[8], 3);   // (100, 100, 0)
  EXPECT_EQ(r.pixels[16], 1);  // (60, 0, 0)
}

TEST(PictureImport, FileTypesByExtension) {
  EXPECT_EQ(PictureKindOf("/a/b.JPG"), PictureFileKind::Jpeg);
  EXPECT_EQ(PictureKindOf("b.jpeg"), PictureFileKind::Jpeg);
  EXPECT_EQ(PictureKindOf("b.Ico"), PictureFileKind::Icon);
  EXPECT_EQ(PictureKindOf("b.txt"), PictureFileKind::Text);
  EXPECT_EQ(PictureKindOf("b.PNG"), PictureFileKind::Png);
  EXPECT_EQ(PictureKindOf("b.gif"), PictureFileKind::Gif);
  EXPECT_EQ(PictureKindOf("b.WebP"), PictureFileKind::WebP);
  EXPECT_EQ(PictureKindOf("b.tif"), PictureFileKind::Unknown);
  EXPECT_EQ(PictureKindOf("bmp"), PictureFileKind::Unknown);
  EXPECT_EQ(PictureKindOf("dir.bmp/file"), PictureFileKind::Unknown);

  PictureLoadResult r = LoadPictureFile("/nowhere/picture.tiff", PictureGeometry(2, 1), kRgbChannels, 16384,
                                        Answer(std::nullopt));
  EXPECT_EQ(r.status, PictureLoadStatus::UnknownType);
  r = LoadPictureFile("/nowhere/picture.bmp", PictureGeometry(2, 1), kRgbChannels, 16384, Answer(std::nullopt));
  EXPECT_EQ(r.status, PictureLoadStatus::ReadError);

  std::string text = "{[Img:1,128 /x]}" + std::string(300000, ' ');
  r = LoadPictureBytes(text, PictureFileKind::Unknown, "tag.TXT", PictureGeometry(2, 1), kRgbChannels, 16384,
                       Answer(std::nullopt));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_TRUE(r.isText);
  EXPECT_EQ(r.text.size(), kMaxPictureTextBytes);
}

// PNG, GIF and WebP go through the graphics library's reader: its stated size
// is checked before it decodes a pixel, and what it decodes is scaled and
// matched to the board's colours like any other picture.
TEST(PictureImport, LibraryKindsAreCheckedBeforeTheyAreDecoded) {
  struct Case {
    const char* name;
    int statedWidth, statedHeight;  // 0: the reader knows no size
    int decodedWidth, decodedHeight;  // 0: the decode fails
    bool decodeAsked;
    PictureLoadStatus status;
  };
  const Case cases[] = {
      {"a picture of the board's height", 3, 8, 3, 8, true, PictureLoadStatus::Ok},
      {"no size in the header", 0, 0, 3, 8, false, PictureLoadStatus::ReadError},
      {"a header claiming 20000 x 20000", 20000, 20000, 3, 8, false, PictureLoadStatus::ReadError},
      {"a side over a million", 1 << 21, 1, 3, 8, false, PictureLoadStatus::ReadError},
      {"a damaged file", 3, 8, 0, 0, true, PictureLoadStatus::ReadError},
      {"a decode wider than the cap", 3, 8, 1 << 21, 1, true, PictureLoadStatus::ReadError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int decodes = 0;
    PictureLibraryReader reader;
    reader.readSize = [&](std::string_view bytes, PictureFileKind kind, int& w, int& h) {
      EXPECT_EQ(bytes, "file bytes");
      EXPECT_EQ(kind, PictureFileKind::Png);
      w = c.statedWidth;
      h = c.statedHeight;
      return c.statedWidth > 0;
    };
    reader.decode = [&](std::string_view, PictureFileKind, RgbImage& out) {
      ++decodes;
      if (c.decodedWidth == 0) return false;
      out.width = c.decodedWidth;
      out.height = c.decodedHeight;
      out.pixels.assign(static_cast<size_t>(out.width) * out.height, kGreen);
      out.pixels[0] = kRed;
      return true;
    };
    const PictureLoadResult r = LoadPictureBytes("file bytes", PictureFileKind::Unknown, "/a/Anim.PNG",
                                                 PictureGeometry(1, 2), kRgbChannels, 16384,
                                                 Answer(ImportMode{true, 0}), &reader);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(decodes, c.decodeAsked ? 1 : 0);
    if (r.status == PictureLoadStatus::Ok) {
      EXPECT_EQ(r.width, 3);
      EXPECT_EQ(r.name, "Anim.PNG");
      EXPECT_EQ(r.pixels[0], 1);  // red
      EXPECT_EQ(r.pixels[1], 2);  // green
    }
  }
  // Without a reader those kinds cannot be read.
  EXPECT_EQ(LoadPictureBytes("file bytes", PictureFileKind::Png, "a.png", PictureGeometry(1, 2), kRgbChannels,
                             16384, Answer(ImportMode{true, 0}))
                .status,
            PictureLoadStatus::ReadError);
}

// The PNG's header claiming another size (its checksum left as it was: the
// size is judged before anything is decoded).
std::string PngClaiming(std::string png, uint32_t width, uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  return png;
}

// An icon whose count entries all describe the same bytes (one shared copy)
// or each a copy of its own.
std::string ManyEntryIcon(int count, const std::string& data, bool shared) {
  if (!shared) return IconFile(std::vector<std::pair<int, std::string>>(static_cast<size_t>(count), {256, data}));
  std::string icon;
  Put16(icon, 0);
  Put16(icon, 1);
  Put16(icon, static_cast<uint32_t>(count));
  for (int i = 0; i < count; ++i) {
    icon += std::string(4, '\0');  // 256 x 256, no palette
    Put16(icon, 1);
    Put16(icon, 32);
    Put32(icon, static_cast<uint32_t>(data.size()));
    Put32(icon, 6 + 16 * static_cast<uint32_t>(count));
  }
  return icon + data;
}

// However many entries an icon has and whatever they claim, the reader
// decodes at most a few images within a bounded number of pixels; the work
// is counted, not timed.
TEST(IconReader, ManyEntriesCostNoMoreThanAFewImages) {
  const std::string claims4096 = PngClaiming(PngOf(16, kGreen, 255), 4096, 4096);
  const std::string png256 = PngOf(256, kGreen, 255);
  const std::string cutPng = png256.substr(0, png256.size() - 20);  // a plausible header; fails to decode
  ASSERT_GT(cutPng.size(), 300u);
  const std::string cutDib = IconDib(64, kRed, 255).substr(0, 40);    // too short for its pixels
  const std::string board = IconDib(16, kBlue, 255);
  const struct {
    const char* name;
    std::string icon;
    bool decoded;
    int images;  // decoded (tried)
  } cases[] = {
      {"200 entries, one PNG claiming 4096 x 4096", ManyEntryIcon(200, claims4096, true), false, 0},
      {"2000 entries, one PNG claiming 4096 x 4096", ManyEntryIcon(2000, claims4096, true), false, 0},
      {"2000 entries, each a PNG claiming 4096 x 4096", ManyEntryIcon(2000, claims4096, false), false, 0},
      {"2000 entries, one cut PNG", ManyEntryIcon(2000, cutPng, true), false, 1},
      {"300 entries, each a cut PNG", ManyEntryIcon(300, cutPng, false), false, kMaxIconImagesTried},
      {"300 bitmaps too short for their pixels", ManyEntryIcon(300, cutDib, false), false, 0},
      {"the board's height after 300 cut PNGs", IconFile([&] {
         std::vector<std::pair<int, std::string>> images(300, {256, cutPng});
         images.push_back({16, board});
         return images;
       }()), true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RgbImage image;
    IconDecodeWork work;
    EXPECT_EQ(DecodeIcon(c.icon, 16, image, &work), c.decoded);
    EXPECT_EQ(work.images, c.images);
    EXPECT_LE(work.pixels, kMaxIconDecodePixels);
    if (c.decoded) {
      EXPECT_EQ(image.At(0, 0), kBlue);
    }
  }
  // Entries that point at one image are one image, whatever the directory
  // says of their size.
  RgbImage image;
  IconDecodeWork work;
  ASSERT_TRUE(DecodeIcon(ManyEntryIcon(500, PngOf(48, kGreen, 255), true), 16, image, &work));
  EXPECT_EQ(work.images, 1);
  EXPECT_EQ(image.width, 48);
}

// The first scan's data cut short and the end marker put after it: libjpeg
// fills an arithmetic-coded picture with grey where it warns for a
// Huffman-coded one; both are refused. Whole files decode alike either way.
TEST(PictureImport, JpegWithDataMissingIsRefusedWhateverItsCoding) {
  const auto busy = [](int x, int y) {
    return static_cast<uint32_t>((x * 37 + y * 11) % 256) | static_cast<uint32_t>((x * y) % 256) << 8 |
           static_cast<uint32_t>((x + 3 * y) % 256) << 16;
  };
  struct Case {
    const char* name;
    testing::JpegOptions options;
  };
  std::vector<Case> cases;
  const auto add = [&cases](const char* name, auto change) {
    testing::JpegOptions o;
    change(o);
    cases.push_back({name, o});
  };
  add("sequential", [](testing::JpegOptions&) {});
  add("restarts every 4 MCUs", [](testing::JpegOptions& o) { o.restartInterval = 4; });
  add("progressive", [](testing::JpegOptions& o) { o.progressive = true; });
  add("grey", [](testing::JpegOptions& o) { o.components = 1; });
  add("a scan per component", [](testing::JpegOptions& o) { o.separateScans = true; });
  for (const Case& c : cases) {
    testing::JpegOptions arithmetic = c.options;
    arithmetic.arithmetic = true;
    const std::string huffmanFile = testing::MakeJpeg(640, 480, busy, c.options);
    const std::string arithmeticFile = testing::MakeJpeg(640, 480, busy, arithmetic);
    RgbImage huffmanImage, arithmeticImage;
    ASSERT_TRUE(DecodeJpeg(huffmanFile, 0, 0, -1, -1, huffmanImage)) << c.name;
    ASSERT_TRUE(DecodeJpeg(arithmeticFile, 0, 0, -1, -1, arithmeticImage)) << c.name;
    EXPECT_EQ(arithmeticImage.pixels, huffmanImage.pixels) << c.name;  // the same coefficients
    ASSERT_TRUE(DecodeJpeg(arithmeticFile, 16, 0, -1, -1, arithmeticImage)) << c.name;
    ASSERT_TRUE(DecodeJpeg(arithmeticFile, 0, 30, 16, 50, arithmeticImage)) << c.name;  // a window
    EXPECT_EQ(arithmeticImage.height, 16);

    for (const auto& [coding, file] : {std::pair{"Huffman", huffmanFile}, std::pair{"arithmetic", arithmeticFile}}) {
      // The first scan's coded data: from its header's end to the next
      // marker that is not a restart.
      const size_t header = file.find("\xFF\xDA");
      const size_t data = header + 2 + (static_cast<uint8_t>(file[header + 2]) << 8 | static_cast<uint8_t>(file[header + 3]));
      size_t end = data;
      while ((end = file.find('\xFF', end)) != std::string::npos &&
             (file[end + 1] == '\0' || (static_cast<uint8_t>(file[end + 1]) & 0xF8) == 0xD0))
        end += 2;
      ASSERT_GT(end - data, 2048u) << c.name << ", " << coding;
      for (const size_t keep : {data + 16, data + (end - data) / 2, end - 1024}) {
        SCOPED_TRACE(std::string(c.name) + ", " + coding + ", first scan cut after " + std::to_string(keep - data) +
                     " of " + std::to_string(end - data) + " bytes");
        const std::string damaged = file.substr(0, keep) + "\xFF\xD9";
        RgbImage image;
        EXPECT_FALSE(DecodeJpeg(damaged, 0, 0, -1, -1, image));
        EXPECT_FALSE(DecodeJpeg(damaged, 16, 0, -1, -1, image));
        EXPECT_EQ(LoadPictureBytes(damaged, PictureFileKind::Jpeg, "cut.jpg", PictureGeometry(2, 3), kRgbChannels,
                                   16384, Answer(ImportMode{true, 0}))
                      .status,
                  PictureLoadStatus::ReadError);
      }
    }
  }
}

TEST(PictureImport, JpegIsScaledAndDamagedJpegRefused) {
  const auto colour = [](int x, int) { return x < 200 ? kRed : kBlue; };
  const std::string jpeg = testing::MakeJpeg(400, 300, colour);
  const PictureGeometry g(4, 3);
  PictureLoadResult r = LoadPictureBytes(jpeg, PictureFileKind::Jpeg, "photo.jpg", g, kRgbChannels, 16384,
                                         Answer(ImportMode{true, 0}));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.width, 43);  // 400 * 32 / 300 = 42.67
  EXPECT_EQ(r.pixels[0], 1);
  EXPECT_EQ(r.pixels[42 * 32 + 31], 4);

  r = LoadPictureBytes(jpeg, PictureFileKind::Jpeg, "photo.jpg", g, kRgbChannels, 16384,
                       Answer(ImportMode{false, 100}));
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.width, 400);
  EXPECT_EQ(r.pixels[199 * 32], 1);
  EXPECT_EQ(r.pixels[201 * 32], 4);

  // A file cut short is refused before the operator is asked anything.
  for (const size_t keep : {jpeg.size() * 2 / 3, jpeg.size() - 2}) {
    std::vector<std::pair<int, int>> asked;
    r = LoadPictureBytes(jpeg.substr(0, keep), PictureFileKind::Jpeg, "photo.jpg", g, kRgbChannels,
                         16384, Answer(ImportMode{true, 0}, &asked));
    EXPECT_EQ(r.status, PictureLoadStatus::ReadError) << keep;
    EXPECT_TRUE(asked.empty()) << keep;
  }
  r = LoadPictureBytes("not a jpeg", PictureFileKind::Jpeg, "photo.jpg", g, kRgbChannels, 16384,
                       Answer(ImportMode{true, 0}));
  EXPECT_EQ(r.status, PictureLoadStatus::ReadError);
  r = LoadPictureBytes("", PictureFileKind::Jpeg, "photo.jpg", g, kRgbChannels, 16384, Answer(ImportMode{true, 0}));
  EXPECT_EQ(r.status, PictureLoadStatus::ReadError);

  // A frame header that claims 65000 x 65000 pixels is refused from the header.
  std::string lying = jpeg;
  const size_t sof = lying.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  lying[sof + 5] = static_cast<char>(0xFD), lying[sof + 6] = static_cast<char>(0xE8);
  lying[sof + 7] = static_cast<char>(0xFD), lying[sof + 8] = static_cast<char>(0xE8);
  int w = 0, h = 0;
  EXPECT_FALSE(ReadJpegSize(lying, w, h));
  RgbImage image;
  EXPECT_FALSE(DecodeJpeg(lying, 0, 0, -1, -1, image));
}

TEST(PictureImport, JpegDctScalingKeepsAtLeastTheAskedRows) {
  const std::string jpeg = testing::MakeJpeg(800, 600, [](int, int) { return kGreen; });
  const int cases[][2] = {{32, 75}, {100, 150}, {600, 600}, {1000, 600}, {0, 600}};
  for (const auto& c : cases) {
    RgbImage image;
    ASSERT_TRUE(DecodeJpeg(jpeg, c[0], 0, -1, -1, image)) << c[0];
    EXPECT_EQ(image.height, c[1]) << c[0];
  }
}

TEST(PictureExport, ProposedFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"  logo ", "logo.bmp"},
      {"logo.BMP", "logo.BMP"},
      {"a/b:c*d?e", "a_b_c_d_e.bmp"},
      {".hidden", "_hidden.bmp"},
      {std::string("x\x01y\xC0\xBF", 5), std::string("x_y\xC0_.bmp")},
      {std::string(300, 'a'), std::string(254, 'a') + ".bmp"},
  };
  for (const auto& [name, proposed] : cases) EXPECT_EQ(ProposedBmpName(name), proposed) << name;
}

}  // namespace
}  // namespace lentar
