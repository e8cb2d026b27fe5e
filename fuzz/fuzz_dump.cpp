// The board image reader on arbitrary bytes: its entries cover the image once,
// in order; text runs hold no 0x00 and end at one; every record's length byte
// matches its size and its code is known; every entry can be described.
#include <cstdint>
#include <cstdlib>

#include "fuzz_check.h"
#include "markup/encoder.h"
#include "markup/imagedump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lentar::ImageEntry;
  size_t covered = 0;
  ImageEntry::Kind previous = ImageEntry::Kind::Record;
  for (const ImageEntry& e : lentar::ReadBoardImage(data, size)) {
    CHECK(e.offset == covered && e.size > 0 && e.size <= size - covered);
    covered += e.size;
    switch (e.kind) {
      case ImageEntry::Kind::Text:
        CHECK(previous != ImageEntry::Kind::Text);  // runs are maximal
        for (size_t i = 0; i < e.size; ++i) CHECK(data[e.offset + i] != 0);
        CHECK(covered == size || data[covered] == 0);
        break;
      case ImageEntry::Kind::Record: {
        CHECK(data[e.offset] == 0 && e.size >= 4);
        CHECK(size_t{data[e.offset + 1]} + 2 == e.size);
        CHECK(e.code == data[e.offset + 3] && lentar::FindRecordInfo(e.code) != nullptr);
        break;
      }
      case ImageEntry::Kind::Unparsable:
        CHECK(data[e.offset] == 0);
        break;
    }
    previous = e.kind;
    CHECK(!lentar::DescribeImageEntry(e, data).empty());
  }
  CHECK(covered == size);
  return 0;
}
