// The stand-in library's explanations of failures.
#include "movie/video_library.h"

namespace movie {

std::string DescribeOtherStatus(HRESULT) { return "the video-file library failed"; }

std::string DescribeMissingGetter(PAVISTREAM stream, const BITMAPINFOHEADER&) {
  const char* problem = AviStreamGetFrameProblem(stream);
  return problem && *problem ? problem : "the pictures cannot be decoded";
}

}  // namespace movie
