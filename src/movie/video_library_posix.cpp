// The stand-in library's explanations of failures.
#include "movie/video_library.h"

namespace movie {

std::string DescribeStatus(HRESULT status) {
  switch (status) {
    case AVIERR_FILEOPEN: return "the file cannot be opened";
    case AVIERR_FILEREAD: return "the file cannot be read";
    case AVIERR_BADFORMAT: return "it is not an AVI movie this program can read";
    case AVIERR_UNSUPPORTED: return "it uses a feature this program does not support";
    case AVIERR_MEMORY: return "there is not enough memory";
    case AVIERR_NODATA: return "the stream holds no data there";
    case AVIERR_BUFFERTOOSMALL: return "the buffer is too small";
    default: return "the video-file library failed";
  }
}

std::string DescribeMissingGetter(PAVISTREAM stream, const BITMAPINFOHEADER&) {
  const char* problem = AviStreamGetFrameProblem(stream);
  return problem && *problem ? problem : "the pictures cannot be decoded";
}

}  // namespace movie
