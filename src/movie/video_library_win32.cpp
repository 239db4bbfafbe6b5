// The system library's failures, explained from their status codes.
#include "movie/video_library.h"

#include <cstdio>

namespace movie {

std::string DescribeOtherStatus(HRESULT status) {
  switch (status) {
    case REGDB_E_CLASSNOTREG: return "no file handler of the system reads this kind of file";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "the video-file library failed (status 0x%08lX)",
                    static_cast<unsigned long>(status));
      return text;
    }
  }
}

std::string DescribeMissingGetter(PAVISTREAM, const BITMAPINFOHEADER& format) {
  DWORD c = format.biCompression;
  if (c == BI_RGB || c == BI_BITFIELDS) {
    return "the system cannot lay out its uncompressed pictures";
  }
  char code[5];
  for (int k = 0; k < 4; ++k) {
    char ch = static_cast<char>((c >> (8 * k)) & 0xFF);
    code[k] = (ch >= 32 && ch < 127) ? ch : '?';
  }
  code[4] = 0;
  return std::string("no codec installed on this system decodes '") + code + "' pictures";
}

}  // namespace movie
