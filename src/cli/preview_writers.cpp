#include "cli/preview_writers.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cli/cli_common.h"

namespace lentar::cli {

namespace {

// An unlit LED: dark grey, so the matrix stays visible as on a real board.
constexpr uint32_t kUnlitColour = 0x282828;

}  // namespace

int LedSizeForPitch(int pitch) {
  const int size = static_cast<int>(std::lround(pitch / 1.5));
  return std::clamp(size, 1, std::max(pitch, 1));
}

// ---- Painting ---------------------------------------------------------------

BoardPainter::BoardPainter(const BoardEmulation& board, const LedStyle& style)
    : columns_(board.BoardColumns()), rows_(board.RowsPerColumn()), style_(style) {
  style_.pitch = std::max(style_.pitch, 1);
  style_.ledSize = std::clamp(style_.ledSize, 1, style_.pitch);
  width_ = columns_ * style_.pitch;
  height_ = rows_ * style_.pitch;

  auto entry = [this](uint32_t colour) {
    const auto it = std::find(palette_.begin(), palette_.end(), colour);
    if (it != palette_.end()) return static_cast<uint8_t>(it - palette_.begin());
    palette_.push_back(colour);
    return static_cast<uint8_t>(palette_.size() - 1);
  };
  palette_.push_back(0);  // background
  // Black, the unlit colour and the board's colours must fit 256 entries;
  // with eight channels of distinct colours the unlit LEDs stay black.
  std::vector<uint32_t> distinct;
  for (int i = 1; i < board.PaletteSize(); ++i) {
    const uint32_t c = board.Colour(static_cast<uint8_t>(i));
    if (c != 0) distinct.push_back(c);
  }
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  const bool roomForUnlit = 1 + distinct.size() + 1 <= 256;
  entryOf_.fill(0);
  if (board.Colour(0) == 0 && roomForUnlit)
    entryOf_[0] = entry(kUnlitColour);
  else
    entryOf_[0] = entry(board.Colour(0));
  for (int i = 1; i < board.PaletteSize(); ++i)
    entryOf_[static_cast<size_t>(i)] = entry(board.Colour(static_cast<uint8_t>(i)));

  // The LED inside its cell: a square of the LED size, or the disc within it.
  cellMask_.assign(static_cast<size_t>(style_.pitch) * static_cast<size_t>(style_.pitch), 0);
  const int offset = (style_.pitch - style_.ledSize) / 2;
  const double radius = style_.ledSize / 2.0;
  for (int y = 0; y < style_.ledSize; ++y) {
    for (int x = 0; x < style_.ledSize; ++x) {
      const double dx = x + 0.5 - radius, dy = y + 0.5 - radius;
      if (style_.round && style_.ledSize >= 3 && dx * dx + dy * dy > radius * radius) continue;
      cellMask_[static_cast<size_t>(y + offset) * static_cast<size_t>(style_.pitch) +
                static_cast<size_t>(x + offset)] = 1;
    }
  }
  pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
}

void BoardPainter::Paint(const uint8_t* frame) {
  const size_t pitch = static_cast<size_t>(style_.pitch);
  const size_t width = static_cast<size_t>(width_);
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < columns_; ++c) {
      const uint8_t value = entryOf_[frame[static_cast<size_t>(c) * static_cast<size_t>(rows_) +
                                           static_cast<size_t>(r)]];
      uint8_t* cell = pixels_.data() + static_cast<size_t>(r) * pitch * width + static_cast<size_t>(c) * pitch;
      for (size_t y = 0; y < pitch; ++y) {
        const uint8_t* mask = cellMask_.data() + y * pitch;
        uint8_t* line = cell + y * width;
        for (size_t x = 0; x < pitch; ++x) line[x] = mask[x] ? value : 0;
      }
    }
  }
}

bool EncodePng(const BoardPainter& painter, std::string& png) {
  QImage image(painter.Width(), painter.Height(), QImage::Format_Indexed8);
  QList<QRgb> table;
  for (uint32_t c : painter.Palette()) table.push_back(qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  image.setColorTable(table);
  const auto& pixels = painter.Pixels();
  for (int y = 0; y < painter.Height(); ++y) {
    std::memcpy(image.scanLine(y), pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(painter.Width()),
                static_cast<size_t>(painter.Width()));
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return false;
  png.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

// ---- GIF ----------------------------------------------------------------------

namespace {

int WriteToStream(GifFileType* gif, const GifByteType* data, int size) {
  auto* file = static_cast<AtomicFileWriter*>(gif->UserData);
  const std::string_view bytes(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  return file->Write(bytes) ? size : 0;
}

}  // namespace

GifWriter::GifWriter(const std::string& path, int width, int height,
                     const std::vector<uint32_t>& palette)
    : path_(path), width_(width), height_(height), palette_(palette) {}

GifWriter::~GifWriter() {
  if (gif_ != nullptr) {
    int error = 0;
    EGifCloseFile(static_cast<GifFileType*>(gif_), &error);
  }
}

bool GifWriter::Open(std::string& error) {
  if (!file_.Open(CorePath(path_))) {
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  int code = 0;
  GifFileType* gif = EGifOpen(&file_, WriteToStream, &code);
  if (gif == nullptr) {
    error = std::string("не удаётся начать GIF: ") + GifErrorString(code);
    return false;
  }
  gif_ = gif;
  EGifSetGifVersion(gif, true);

  int bits = 1;
  while ((1u << bits) < palette_.size()) ++bits;
  std::vector<GifColorType> colours(static_cast<size_t>(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette_.size() && i < colours.size(); ++i) {
    colours[i].Red = static_cast<GifByteType>(palette_[i] & 0xFF);
    colours[i].Green = static_cast<GifByteType>((palette_[i] >> 8) & 0xFF);
    colours[i].Blue = static_cast<GifByteType>((palette_[i] >> 16) & 0xFF);
  }
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  if (map == nullptr) {
    error = "не удаётся составить палитру GIF";
    return false;
  }
  const bool ok = EGifPutScreenDesc(gif, width_, height_, bits, 0, map) == GIF_OK;
  GifFreeMapObject(map);
  if (!ok) {
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  // Loop for ever (the NETSCAPE2.0 application extension, count 0).
  static const GifByteType kAppName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kLoop[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
      EGifPutExtensionBlock(gif, sizeof kAppName, kAppName) != GIF_OK ||
      EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) != GIF_OK ||
      EGifPutExtensionTrailer(gif) != GIF_OK) {
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  return true;
}

bool GifWriter::PutFrame(const std::vector<uint8_t>& pixels, int delay) {
  auto* gif = static_cast<GifFileType*>(gif_);
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = delay;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) != GIF_OK) return false;
  if (EGifPutImageDesc(gif, 0, 0, width_, height_, false, nullptr) != GIF_OK) return false;
  for (int y = 0; y < height_; ++y) {
    auto* line = const_cast<GifPixelType*>(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width_));
    if (EGifPutLine(gif, line, width_) != GIF_OK) return false;
  }
  return true;
}

bool GifWriter::AddFrame(const std::vector<uint8_t>& pixels, int delay) {
  if (gif_ == nullptr) return false;
  do {
    const int part = std::min(delay, 65535);
    if (!PutFrame(pixels, part)) return false;
    delay -= part;
  } while (delay > 0);
  return true;
}

bool GifWriter::Close(std::string& error) {
  auto* gif = static_cast<GifFileType*>(gif_);
  gif_ = nullptr;
  int code = 0;
  if (gif == nullptr || EGifCloseFile(gif, &code) != GIF_OK || !file_.Commit()) {
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  return true;
}

}  // namespace lentar::cli
