// lentar-cli picture import and export, run as a script would run them.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "markup/picture.h"
#include "markup/picturefile.h"
#include "support/cli_test_support.h"

namespace {

namespace fs = std::filesystem;

// Red, green and blue channels; one-byte font, one channel unless an option
// says otherwise.
const char* kIni = "[Settings]\r\nDefFontHeight=1\r\nColorChannelCount=1\r\n"
                   "ChannelColors=255,65280,16711680,255,65280,16711680,16777215,16777215\r\n";

const std::array<int32_t, 8> kColours = {0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF,
                                         0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};

// width x height board picture, pixel (x, y) of index (x + y) % 8 over three
// channels, as a BMP.
std::string PatternBmp(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) pixels[static_cast<size_t>(x) * height + y] = static_cast<uint8_t>((x + y) % 8);
  return lentar::EncodePictureBmp(width, height, pixels.data(), kColours, 3);
}

// The same picture as PatternBmp in another format Qt writes.
std::string PatternSaved(int width, int height, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  const std::vector<uint32_t> palette = lentar::PicturePalette(kColours, 3);
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) {
      const uint32_t c = palette[static_cast<size_t>((x + y) % 8)];
      image.setPixel(x, y, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, 100);
  return bytes.toStdString();
}

class CliPictureTest : public lentar::cli::testing::CliFolderTest {
 protected:
  CliPictureTest() : CliFolderTest("lentar_cli_picture") {}
  void SetUp() override {
    CliFolderTest::SetUp();
    Write("lentar.ini", kIni);
  }
};

TEST_F(CliPictureTest, ImportPrintsTheTagAndExportPaintsItBack) {
  Write("logo.bmp", PatternBmp(4, 8));
  ASSERT_EQ(Run("picture import logo.bmp --channels 3 --ini lentar.ini"), 0) << err_;
  lentar::PictureData picture;
  picture.geometry = lentar::PictureGeometry(1, 3);
  ASSERT_TRUE(lentar::DecodePictureTag(out_.substr(0, out_.find('\n')), picture)) << out_;
  EXPECT_EQ(picture.width, 4);
  EXPECT_EQ(picture.name, "logo.bmp");
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 8; ++y) EXPECT_EQ(picture.Pixel(x, y), (x + y) % 8) << x << "," << y;

  ASSERT_EQ(Run("picture import logo.bmp --channels 3 -o logo.tag --ini lentar.ini"), 0) << err_;
  ASSERT_EQ(Run("picture export logo.tag -o again.bmp --channels 3 --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("again.bmp"), Read("logo.bmp"));

  // The tag through a pipe.
  ASSERT_EQ(Run("picture import logo.bmp --channels 3 --ini lentar.ini | '" LENTAR_BIN_DIR
                "/lentar-cli' picture export - -o piped.bmp --channels 3 --ini lentar.ini"),
            0)
      << err_;
  EXPECT_EQ(Read("piped.bmp"), Read("logo.bmp"));
}

TEST_F(CliPictureTest, PngAndWebPImportAsTheSameBmpDoes) {
  Write("logo.bmp", PatternBmp(5, 16));
  Write("logo.png", PatternSaved(5, 16, "png"));
  Write("logo.webp", PatternSaved(5, 16, "webp"));
  ASSERT_EQ(Run("picture import logo.bmp --channels 3 --font-height 2 -o bmp.tag --ini lentar.ini"), 0) << err_;
  for (const char* name : {"logo.png", "logo.webp"}) {
    ASSERT_EQ(Run(std::string("picture import ") + name + " --channels 3 --font-height 2 -o got.tag --ini lentar.ini"),
              0)
        << name << ": " << err_;
    std::string want = Read("bmp.tag");
    want.replace(want.find("logo.bmp"), 8, name);
    EXPECT_EQ(Read("got.tag"), want) << name;
  }
}

TEST_F(CliPictureTest, TallPicturesAreScaledOrKeptFromTheStartRow) {
  Write("tall.bmp", PatternBmp(6, 32));
  ASSERT_EQ(Run("picture import tall.bmp --font-height 2 --channels 3 -o scaled.tag --ini lentar.ini"), 0) << err_;
  lentar::PictureData picture;
  picture.geometry = lentar::PictureGeometry(2, 3);
  std::string tag = Read("scaled.tag");
  while (!tag.empty() && (tag.back() == '\n' || tag.back() == '\r')) tag.pop_back();
  ASSERT_TRUE(lentar::DecodePictureTag(tag, picture)) << tag;
  EXPECT_EQ(picture.width, 3);

  ASSERT_EQ(Run("picture import tall.bmp --font-height 2 --channels 3 --keep --start-row 8 -o kept.tag "
                "--ini lentar.ini"),
            0)
      << err_;
  tag = Read("kept.tag");
  tag.resize(tag.size() - 2);
  ASSERT_TRUE(lentar::DecodePictureTag(tag, picture)) << tag;
  EXPECT_EQ(picture.width, 6);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(picture.Pixel(2, y), (2 + y + 8) % 8) << y;

  EXPECT_EQ(Run("picture import tall.bmp --font-height 2 --keep --start-row 17 --ini lentar.ini"), 2);
  EXPECT_NE(err_.find("0..16"), std::string::npos) << err_;
}

TEST_F(CliPictureTest, RefusalsAndUsageErrors) {
  Write("cut.jpg", "\xFF\xD8\xFF\xE0");
  Write("photo.gif", "GIF89a");
  Write("photo.tif", "II*");
  {
    // 2000 icon entries, all one PNG claiming 4096 x 4096 pixels: refused
    // from the entries' headers, nothing decoded.
    std::string png = PatternSaved(4, 4, "png");
    ASSERT_LT(png.size(), 256u);
    png.replace(16, 8, std::string("\0\0\x10\0\0\0\x10\0", 8));
    std::string icon = std::string("\0\0\1\0", 4) + std::string("\xD0\x07", 2);
    for (int i = 0; i < 2000; ++i)
      icon += std::string("\0\0\0\0\1\0\x20\0", 8) + std::string(1, static_cast<char>(png.size())) +
              std::string("\0\0\0", 3) + std::string("\x06\x7D\0\0", 4);  // at 6 + 16 * 2000
    Write("many.ico", icon + png);
  }
  Write("empty.tag", "no tag here");
  Write("logo.bmp", PatternBmp(2, 8));
  EXPECT_EQ(Run("picture import cut.jpg --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("не удаётся прочитать картинку"), std::string::npos) << err_;
  EXPECT_EQ(Run("picture import photo.gif --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("не удаётся прочитать картинку"), std::string::npos) << err_;
  EXPECT_EQ(Run("picture import many.ico --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("не удаётся прочитать картинку"), std::string::npos) << err_;
  EXPECT_EQ(Run("picture import photo.tif --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("неизвестный тип картинки (читаются: BMP, JPG, PNG, GIF, WebP, ICO, TXT)"), std::string::npos) << err_;
  EXPECT_EQ(Run("picture import missing.bmp --ini lentar.ini"), 1);
  EXPECT_EQ(Run("picture export empty.tag -o x.bmp --ini lentar.ini"), 1);
  EXPECT_FALSE(fs::exists(Path("x.bmp")));
  EXPECT_EQ(Run("picture export logo.tag --ini lentar.ini"), 2);        // no -o
  EXPECT_EQ(Run("picture import logo.bmp --start-row 2 --ini lentar.ini"), 2);  // without --keep
  EXPECT_EQ(Run("picture import logo.bmp --channels 9 --ini lentar.ini"), 2);
  EXPECT_EQ(Run("picture rotate logo.bmp --ini lentar.ini"), 2);
  EXPECT_EQ(Run("picture --help"), 0);
  EXPECT_NE(out_.find("picture import ФАЙЛ"), std::string::npos);
}

}  // namespace
