// Picture files: importing BMP, ICO, JPEG, PNG, GIF, WebP and text files into
// board pictures, and exporting a picture as a BMP.
//
// Every reader works on bytes in memory and refuses a damaged or hostile file
// with false (never a crash): sizes are checked against the file's length and
// against kMaxRasterPixels before anything is allocated, so a header that lies
// about its size costs nothing. JPEG goes through libjpeg; BMP (1, 4, 8, 16,
// 24 and 32 bits, run-length and bit-field forms, top-down or bottom-up) and
// ICO (bitmap and PNG images, the PNG ones through libpng) have readers here.
// PNG, GIF and WebP files come through the image readers of the programs'
// graphics library (PictureLibraryReader), which this layer does not link;
// their stated size is checked against the same cap before they are decoded.
//
// Import (LoadPictureFile) follows the editor: by the file's extension, a text
// file is handed back as text for the picture tag reader; a bitmap whose
// height is not the board's H rows is either scaled to H rows or cut at a
// chosen start row, as the caller's question decides; every pixel then
// becomes the board colour nearest to it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "markup/picture.h"

namespace lentar {

// An RGB picture, row after row from the top; colours 0x00BBGGRR (red in the
// low byte, like the channel colours of the settings).
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

// Largest decoded picture a reader allocates, in pixels (16 megapixels).
inline constexpr uint64_t kMaxRasterPixels = uint64_t{1} << 24;
// Largest JPEG accepted, in pixels as its header states (64 megapixels): the
// importer decodes only what it needs of it, so it may exceed the raster cap.
inline constexpr uint64_t kMaxJpegPixels = uint64_t{1} << 26;
// Largest text file read as a picture tag; the rest of a longer file is
// ignored.
inline constexpr size_t kMaxPictureTextBytes = 262144;
// Largest picture file read (128 MiB); a larger one is a read error.
inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{1} << 27;
// Pixels the image editor takes from one import.
inline constexpr int kPictureImportCapacity = 16384;

// ---- Readers --------------------------------------------------------------

// A BMP file (with its 14-byte file header).
bool DecodeBmp(std::string_view bytes, RgbImage& out);

// Icon images decoded at most for one icon, and the pixels they may have
// together: an icon is a handful of sizes of one picture, so a file of
// thousands of entries costs no more than a few pictures.
inline constexpr int kMaxIconImagesTried = 4;
inline constexpr uint64_t kMaxIconDecodePixels = 2 * kMaxRasterPixels;
// The work an icon took: images decoded and their pixels.
struct IconDecodeWork {
  int images = 0;
  uint64_t pixels = 0;
};
// An icon file: the image whose height is rows when there is one, else the
// largest (the deepest colour among equals), drawn onto black. Every entry's
// own header (bitmap or PNG) is read first and gives its true size; an entry
// whose header is damaged, over the cap, or whose data is too short to hold
// its pixels is passed over without being decoded. Of the others at most
// kMaxIconImagesTried are decoded, in that order, within
// kMaxIconDecodePixels; an entry whose decode fails gives way to the next.
bool DecodeIcon(std::string_view bytes, int rows, RgbImage& out, IconDecodeWork* work = nullptr);
// Width and height a JPEG's header states.
bool ReadJpegSize(std::string_view bytes, int& width, int& height);
// Whether the JPEG ends with its end-of-image marker: false for a file cut
// short, which no decoder can finish.
bool JpegIsComplete(std::string_view bytes);
// Whether a GIF holds its first frame whole: every block up to the end of the
// first image's data is within the file. A cut file would decode to a frame
// padded with whatever the decoder leaves in the missing rows.
bool GifFirstFrameIsComplete(std::string_view bytes);
// Decodes a JPEG. With minHeight > 0 libjpeg's DCT scaling shrinks it by the
// largest of 1/8, 2/8 ... 8/8 that still leaves at least minHeight rows. Only
// rows firstRow .. firstRow + rowCount - 1 (rowCount < 0: to the end) and the
// first maxColumns columns (< 0: all) of the decoded picture are kept. Any
// libjpeg warning (a truncated or corrupt stream) counts as a failure, and so
// does an arithmetic-coded scan whose data runs out before its pixels do
// (libjpeg would fill the rest with grey and say nothing). At
// scale 1/8 the quick reader of markup/jpegeighth.h decodes the files it
// takes, with libjpeg's pixels; the others go to libjpeg.
bool DecodeJpeg(std::string_view bytes, int minHeight, int firstRow, int rowCount,
                int maxColumns, RgbImage& out);

// Resamples image to width x height by averaging the area each new pixel
// covers (shrinking) or repeating the nearest pixel (enlarging). With
// maxColumns > 0 only the first maxColumns columns of the result are made.
RgbImage ResampleImage(const RgbImage& image, int width, int height, int maxColumns = 0);

// round(width * rows / height), halves to even, at least 1.
int ScaledWidth(int width, int height, int rows);

// ---- Import ---------------------------------------------------------------

enum class PictureFileKind { Unknown, Bmp, Jpeg, Icon, Text, Png, Gif, WebP };
// By the extension of the file name, in any letter case: bmp, jpg (and jpeg),
// png, gif, webp, ico, txt.
PictureFileKind PictureKindOf(std::string_view fileName);
// The kinds PictureKindOf knows, for messages: "BMP, JPG, PNG, GIF, WebP, ICO,
// TXT".
const char* ReadablePictureKinds();

// Reads the kinds left to the graphics library (Png, Gif, WebP); both
// functions get the whole file.
struct PictureLibraryReader {
  // The width and height the file's header states, found without decoding
  // its pixels; false when the file is not of that kind.
  std::function<bool(std::string_view bytes, PictureFileKind kind, int& width, int& height)> readSize;
  // The pixels (of the first frame of an animation), drawn onto black; false
  // for a damaged or cut file. Called only for a stated size within
  // kMaxRasterPixels.
  std::function<bool(std::string_view bytes, PictureFileKind kind, RgbImage& out)> decode;
};

// How a picture whose height is not H is taken: scaled to H rows, or its rows
// from startRow on (a shorter picture fills the top rows only).
struct ImportMode {
  bool scale = true;
  int startRow = 0;
};
// Asked with H and the picture's height when they differ; nullopt cancels.
using ImportQuestion = std::function<std::optional<ImportMode>(int rows, int pictureHeight)>;

enum class PictureLoadStatus { Ok, Cancelled, UnknownType, ReadError };

struct PictureLoadResult {
  PictureLoadStatus status = PictureLoadStatus::ReadError;
  bool isText = false;
  std::string text;  // a text file's contents without final line breaks (isText)
  int width = 0;     // columns of pixels
  int height = 0;    // H
  std::vector<uint8_t> pixels;  // width * H colour indexes, column after column
  std::string name;             // the file name without its folder
};

// Reads a picture file for a board of geometry g with the given channel
// colours. capacity limits the pixels taken (width at most capacity / H).
// PNG, GIF and WebP files need a library reader; without one they are read
// errors.
PictureLoadResult LoadPictureFile(const std::string& path, const PictureGeometry& g,
                                  const std::array<int32_t, 8>& channelColours, int capacity,
                                  const ImportQuestion& ask,
                                  const PictureLibraryReader* library = nullptr);
// The same on bytes already read; fileName gives the name and (with kind
// Unknown) the type.
PictureLoadResult LoadPictureBytes(std::string_view bytes, PictureFileKind kind,
                                   const std::string& fileName, const PictureGeometry& g,
                                   const std::array<int32_t, 8>& channelColours, int capacity,
                                   const ImportQuestion& ask,
                                   const PictureLibraryReader* library = nullptr);

// ---- Export ---------------------------------------------------------------

// The BMP file (24 bits per pixel, bottom-up) of width columns of rows pixels
// (column-major colour indexes), each painted in its board colour.
std::string EncodePictureBmp(int width, int rows, const uint8_t* pixels,
                             const std::array<int32_t, 8>& channelColours, int channelCount);
// Writes it crash-safe over path; false on any failure.
bool SavePictureBmp(const std::string& path, int width, int rows, const uint8_t* pixels,
                    const std::array<int32_t, 8>& channelColours, int channelCount);

// The file name the export proposes for a picture name: trimmed; control
// characters, bytes 128..191 and " * / : < > ? \ | replaced by "_", as are a
// leading space or full stop; cut to 254 characters; ".bmp" appended unless
// the extension already is bmp. Empty for an empty name.
std::string ProposedBmpName(std::string_view pictureName);

}  // namespace lentar
