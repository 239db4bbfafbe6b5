// The video-file library as this platform provides it.
//
// On Windows the movie source uses the system's own library through its own
// header; elsewhere it uses kestrix's stand-in, which offers the same calls
// under the same names. The few things the two do differently, such as how a
// failure can be explained to the user, sit behind the functions below, with
// one implementation file per platform.
#ifndef KESTRIX_MOVIE_VIDEO_LIBRARY_H_
#define KESTRIX_MOVIE_VIDEO_LIBRARY_H_

#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#else
#include "avi/avifile.h"
#endif

#include <string>

namespace movie {

// Words for a failed library call's status, e.g. "it is not an AVI movie
// this program can read". The codes both libraries share are worded in
// movie_source.cpp; DescribeOtherStatus words the rest, per platform.
std::string DescribeStatus(HRESULT status);
std::string DescribeOtherStatus(HRESULT status);

// Why the library gave no frame getter for a picture stream whose format is
// `format`, e.g. "no decoder for 'MJPG' pictures".
std::string DescribeMissingGetter(PAVISTREAM stream, const BITMAPINFOHEADER& format);

}  // namespace movie

#endif  // KESTRIX_MOVIE_VIDEO_LIBRARY_H_
