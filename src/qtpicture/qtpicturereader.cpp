#include "qtpicture/qtpicturereader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

namespace lentar {

namespace {

// The largest picture the import takes is 16 megapixels, 64 MiB as 32-bit
// pixels; a decoder may need a second buffer of that size (a GIF's canvas).
constexpr int kAllocationLimitMb = 128;

QByteArray FormatOf(PictureFileKind kind) {
  switch (kind) {
    case PictureFileKind::Png: return QByteArrayLiteral("png");
    case PictureFileKind::Gif: return QByteArrayLiteral("gif");
    case PictureFileKind::WebP: return QByteArrayLiteral("webp");
    default: return QByteArray();
  }
}

// A reader over the bytes, by the kind's format only; the bytes must outlive
// it.
class BytesReader {
 public:
  BytesReader(std::string_view bytes, PictureFileKind kind)
      : data_(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))), buffer_(&data_) {
    const QByteArray format = FormatOf(kind);
    if (format.isEmpty() || bytes.empty() || !buffer_.open(QIODevice::ReadOnly)) return;
    reader_.setDevice(&buffer_);
    reader_.setFormat(format);
    reader_.setAutoDetectImageFormat(false);
    usable_ = true;
  }
  // The size the header states; an empty size when it states none.
  QSize StatedSize() {
    if (!usable_ || !reader_.canRead()) return QSize();
    const QSize size = reader_.size();
    return size.isValid() && !size.isEmpty() ? size : QSize();
  }
  QImageReader& Reader() { return reader_; }

 private:
  QByteArray data_;
  QBuffer buffer_;
  QImageReader reader_;
  bool usable_ = false;
};

bool ReadSize(std::string_view bytes, PictureFileKind kind, int& width, int& height) {
  BytesReader reader(bytes, kind);
  const QSize size = reader.StatedSize();
  if (size.isEmpty()) return false;
  width = size.width();
  height = size.height();
  return true;
}

bool Decode(std::string_view bytes, PictureFileKind kind, RgbImage& out) {
  BytesReader source(bytes, kind);
  const QSize size = source.StatedSize();
  if (size.isEmpty() || static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height()) > kMaxRasterPixels)
    return false;
  QImageReader::setAllocationLimit(kAllocationLimitMb);
  QImage image;
  if (!source.Reader().read(&image) || image.isNull()) return false;
  // Premultiplied colours are the colours drawn onto black, as icons are.
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return false;
  out.width = image.width();
  out.height = image.height();
  out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
  for (int y = 0; y < out.height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uint32_t* dest = out.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(out.width);
    for (int x = 0; x < out.width; ++x)
      dest[x] = static_cast<uint32_t>(qRed(line[x])) | static_cast<uint32_t>(qGreen(line[x])) << 8 |
                static_cast<uint32_t>(qBlue(line[x])) << 16;
  }
  return true;
}

}  // namespace

const PictureLibraryReader& QtPictureReader() {
  static const PictureLibraryReader reader{ReadSize, Decode};
  return reader;
}

}  // namespace lentar
