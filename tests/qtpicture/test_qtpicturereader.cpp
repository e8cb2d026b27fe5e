// PNG, GIF and WebP files through Qt's image readers: imported exactly as the
// same picture in a BMP is, and damaged or hostile files refused.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "markup/picture.h"
#include "markup/picturefile.h"
#include "qtpicture/qtpicturereader.h"

namespace lentar {
namespace {

const std::array<int32_t, 8> kColours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
const PictureGeometry kGeometry(2, 3);  // 16 rows, 8 colours
using Pattern = std::function<int(int x, int y)>;

uint32_t BoardColour(int index) { return PicturePalette(kColours, 3)[static_cast<size_t>(index)]; }

QImage PatternImage(int width, int height, const Pattern& index) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t c = BoardColour(index(x, y));
      image.setPixel(x, y, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    }
  return image;
}

std::string Saved(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return bytes.toStdString();
}

std::string PatternBmp(int width, int height, const Pattern& index) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) pixels[static_cast<size_t>(x) * height + y] = static_cast<uint8_t>(index(x, y));
  return EncodePictureBmp(width, height, pixels.data(), kColours, 3);
}

// A GIF of the board's eight colours, one frame per pattern.
std::string PatternGif(int width, int height, const std::vector<Pattern>& frames) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* file, const GifByteType* data, int length) {
        static_cast<std::string*>(file->UserData)->append(reinterpret_cast<const char*>(data), length);
        return length;
      },
      &error);
  GifColorType colours[8];
  for (int i = 0; i < 8; ++i) {
    const uint32_t c = BoardColour(i);
    colours[i] = {static_cast<GifByteType>(c & 0xFF), static_cast<GifByteType>((c >> 8) & 0xFF),
                  static_cast<GifByteType>((c >> 16) & 0xFF)};
  }
  ColorMapObject* map = GifMakeMapObject(8, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 8, 0, map);
  std::vector<GifPixelType> line(static_cast<size_t>(width));
  for (const Pattern& frame : frames) {
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) line[x] = static_cast<GifPixelType>(frame(x, y));
      EGifPutLine(gif, line.data(), width);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

PictureLoadResult Import(const std::string& bytes, const std::string& name, ImportMode mode) {
  return LoadPictureBytes(bytes, PictureFileKind::Unknown, name, kGeometry, kColours, kPictureImportCapacity,
                          [mode](int, int) { return std::optional<ImportMode>(mode); }, &QtPictureReader());
}

const Pattern kStripes = [](int x, int y) { return (y / 4 + x) % 8; };
const Pattern kOther = [](int x, int y) { return (x + y) % 3; };

TEST(QtPictureReader, ImportsAsTheSamePictureInABmpDoes) {
  const int width = 7, height = 32;
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"p.png", Saved(PatternImage(width, height, kStripes), "png")},
      {"p.webp", Saved(PatternImage(width, height, kStripes), "webp", 100)},
      {"first frame.gif", PatternGif(width, height, {kStripes, kOther})},
  };
  const std::string bmp = PatternBmp(width, height, kStripes);
  for (const ImportMode mode : {ImportMode{true, 0}, ImportMode{false, 8}}) {
    const PictureLoadResult want = Import(bmp, "p.bmp", mode);
    ASSERT_EQ(want.status, PictureLoadStatus::Ok);
    for (const auto& file : files) {
      SCOPED_TRACE(std::string(file.name) + (mode.scale ? ", scaled" : ", kept from row 8"));
      const PictureLoadResult got = Import(file.bytes, file.name, mode);
      ASSERT_EQ(got.status, PictureLoadStatus::Ok);
      EXPECT_EQ(got.width, want.width);
      EXPECT_EQ(got.pixels, want.pixels);
      EXPECT_EQ(got.name, file.name);
    }
  }
}

TEST(QtPictureReader, TransparentPixelsAreDrawnOntoBlack) {
  QImage image(2, 16, QImage::Format_ARGB32);
  image.fill(qRgba(255, 0, 0, 255));
  image.setPixel(0, 0, qRgba(0, 0, 255, 0));
  image.setPixel(1, 0, qRgba(0, 255, 0, 40));
  const PictureLoadResult r = Import(Saved(image, "png"), "a.png", ImportMode{true, 0});
  ASSERT_EQ(r.status, PictureLoadStatus::Ok);
  EXPECT_EQ(r.pixels[0], 0);   // fully transparent: dark
  EXPECT_EQ(r.pixels[16], 0);  // nearly transparent green: dark
  EXPECT_EQ(r.pixels[1], 1);   // red
}

// The PNG's header with another size and its checksum mended.
std::string PngClaiming(std::string png, uint32_t width, uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= static_cast<uint8_t>(png[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  crc ^= 0xFFFFFFFF;
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

TEST(QtPictureReader, DamagedAndHostileFilesAreRefused) {
  const std::string png = Saved(PatternImage(7, 32, kStripes), "png");
  const std::string gif = PatternGif(7, 32, {kStripes});
  const std::string webp = Saved(PatternImage(7, 32, kStripes), "webp", 100);
  std::string hugeGif = gif;  // logical screen 65535 x 65535
  hugeGif[6] = hugeGif[7] = hugeGif[8] = hugeGif[9] = '\xFF';
  std::string hugeWebp = webp;  // lossless bit stream of 16384 x 16384
  ASSERT_EQ(hugeWebp.substr(12, 4), "VP8L");
  hugeWebp[21] = '\xFF';
  hugeWebp[22] = '\xFF';
  hugeWebp[23] = '\xFF';
  hugeWebp[24] = static_cast<char>((hugeWebp[24] & 0xF0) | 0x0F);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty.png", ""},
      {"cut.png", png.substr(0, png.size() / 2)},
      {"header only.png", png.substr(0, 33)},
      {"huge.png", PngClaiming(png, 20000, 20000)},
      {"giant.png", PngClaiming(png, 0x7FFFFFFF, 1)},
      {"signature only.gif", "GIF89a"},
      {"cut.gif", gif.substr(0, gif.size() / 2)},
      {"huge.gif", hugeGif},
      {"cut.webp", webp.substr(0, webp.size() / 2)},
      {"huge.webp", hugeWebp},
      {"not a picture.webp", "RIFF\x10\0\0\0WEBPxxxxyyyy"},
      // The kind goes by the name: a file that is something else is refused.
      {"bmp inside.png", PatternBmp(7, 32, kStripes)},
      {"png inside.gif", png},
      {"gif inside.webp", gif},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool asked = false;
    const PictureLoadResult r =
        LoadPictureBytes(c.bytes, PictureFileKind::Unknown, c.name, kGeometry, kColours, kPictureImportCapacity,
                         [&asked](int, int) {
                           asked = true;
                           return std::optional<ImportMode>(ImportMode{true, 0});
                         },
                         &QtPictureReader());
    EXPECT_EQ(r.status, PictureLoadStatus::ReadError);
    EXPECT_FALSE(asked);  // refused before the operator is asked how to take it
  }
  // An animation cut anywhere before the end of its first frame is refused;
  // cut after it, the first frame is whole and imports. The one-frame file
  // is the same bytes up to its trailer.
  const std::string animation = PatternGif(7, 32, {kStripes, kOther});
  const size_t firstFrameEnd = gif.size() - 1;
  ASSERT_EQ(animation.substr(0, firstFrameEnd), gif.substr(0, firstFrameEnd));
  for (size_t length = 0; length < animation.size(); ++length) {
    const PictureLoadResult r = Import(animation.substr(0, length), "cut.gif", ImportMode{true, 0});
    EXPECT_EQ(r.status, length < firstFrameEnd ? PictureLoadStatus::ReadError : PictureLoadStatus::Ok) << length;
  }
}

}  // namespace
}  // namespace lentar
