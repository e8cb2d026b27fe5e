// The picture import's reader for PNG, GIF and WebP files: Qt's image
// readers, chosen by the file's kind (never by guessing from its contents),
// with the stated size checked before a pixel is decoded and Qt's own
// allocation limit set low, so a hostile file is refused, not decoded.
#pragma once

#include "markup/picturefile.h"

namespace lentar {

// The reader to hand to LoadPictureFile and LoadPictureBytes.
const PictureLibraryReader& QtPictureReader();

}  // namespace lentar
