// Turning an installed font into a board font: every printable Windows-1251
// character cut to the board's rows, cropped to its ink (proportional), packed
// into column bytes.
#pragma once

#include <climits>
#include <string>
#include <vector>

#include "markup/fonts.h"
#include "source_font.h"

namespace lentar::fontpack {

struct ConvertOptions {
  std::string name;         // Windows-1251
  int heightBytes = 1;      // board rows / 8
  int charSpacing = 1;      // blank columns after every character
  int spaceWidth = -1;      // columns of the space; -1: from the cell width
  int firstRow = INT_MIN;   // cell row shown in the board's top row; INT_MIN: chosen by ink
};

struct ConvertReport {
  std::vector<int> missing;  // printable codes left without ink
  int firstRow = 0;          // the cell row that became the top row
};

// The Unicode character of a Windows-1251 code; 0 for the codes that are not
// printable characters (controls, 0x7F and the unassigned 0x98).
char32_t PrintableUnicodeOf(int code);

bool ConvertFont(SourceFont& source, const ConvertOptions& options, TTabFont& font,
                 ConvertReport& report, std::string& error);

}  // namespace lentar::fontpack
