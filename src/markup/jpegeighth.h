// A quick decoder for ordinary photos at one eighth of their size.
//
// A photo imported into a board picture ends up a few dozen rows high, so the
// importer decodes it at libjpeg's smallest DCT scale, 1/8, where every 8 x 8
// block becomes one pixel computed from its DC coefficient alone. Even then
// libjpeg Huffman-decodes every coefficient of every block, one code at a
// time, to find where the next block begins; on a large, grainy photo that is
// nearly all of its work. This reader does the same walk through the entropy
// data with wider tables that step over several AC coefficients per lookup
// without storing them.
//
// It takes the files cameras and editors write: baseline or extended
// sequential Huffman JPEGs with 8-bit samples, grey or YCbCr, in one scan,
// with luma sampled 1x1, 2x1, 1x2 or 2x2 and chroma 1x1, with or without
// restart markers. For those it gives exactly the pixels libjpeg gives at
// scale 1/8 with plain upsampling (with 2x2 luma libjpeg builds the chroma
// pixels with its 2 x 2 reduced inverse DCT instead of upsampling, and so does
// this reader). Anything else - another process, other sampling, an Adobe or
// RGB colour transform, an unexpected marker, damage of any kind - is left to
// libjpeg: the reader answers false and the caller decodes the file with
// libjpeg, which then decides, and reports damage, as it always did.
#pragma once

#include <string_view>

#include "markup/picturefile.h"

namespace lentar {

// Decodes a JPEG at scale 1/8 (ceil(width / 8) x ceil(height / 8) pixels)
// when it is one this reader takes and 1/8 of its height is still at least
// minHeight rows; rows firstRow .. firstRow + rowCount - 1 (rowCount < 0: to
// the end) and the first maxColumns columns (< 0: all) are kept, as
// DecodeJpeg keeps them. False (out untouched) means: decode it with libjpeg.
bool DecodeJpegEighth(std::string_view bytes, int minHeight, int firstRow, int rowCount, int maxColumns,
                      RgbImage& out);

}  // namespace lentar
