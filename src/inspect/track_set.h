// The tracks of one movie, in order, with frames numbered across them.
//
// A record carries no frame number: frame n is the n-th record found
// counting through the tracks in the order given. TrackSet opens and scans
// every track once, keeps the files open, and reads any frame's record on
// demand.
#ifndef KESTRIX_INSPECT_TRACK_SET_H_
#define KESTRIX_INSPECT_TRACK_SET_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inspect/byte_source.h"
#include "inspect/track_scan.h"

namespace inspect {

class TrackSet {
 public:
  struct Track {
    std::unique_ptr<ByteSource> source;
    TrackScan scan;
    std::uint64_t first_frame = 0;  // number of its first record
  };

  // Opens and scans each path in turn; fails on the first that cannot be read.
  Status Open(const std::vector<std::string>& paths);
  // Takes already-open sources (tests).
  Status Open(std::vector<std::unique_ptr<ByteSource>> sources);

  std::uint64_t frame_count() const { return frames_; }
  const std::vector<Track>& tracks() const { return tracks_; }

  // The record of frame n (n < frame_count()).
  Status ReadFrame(std::uint64_t n, track::RecordBytes* out);
  const RecordInfo& FrameInfo(std::uint64_t n) const;

 private:
  std::size_t TrackOf(std::uint64_t n) const;

  std::vector<Track> tracks_;
  std::uint64_t frames_ = 0;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_TRACK_SET_H_
