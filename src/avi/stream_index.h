// Where one stream's chunks lie in the file.
//
// A StreamIndex lists a stream's data chunks in stream order, whatever index
// they were found through (idx1, the OpenDML indexes, or a scan of the movi
// lists). Offsets are absolute file positions of the chunk's data (past its
// 8-byte chunk header); every entry has been checked to lie inside the file.
#ifndef KESTRIX_AVI_STREAM_INDEX_H_
#define KESTRIX_AVI_STREAM_INDEX_H_

#include <cstdint>
#include <vector>

namespace avi {

struct ChunkEntry {
  std::uint64_t offset;  // absolute position of the chunk's first data byte
  std::uint32_t size;    // data bytes; 0 for an empty (drop) chunk
  bool key_frame;        // the index marks it as a key frame
};

struct StreamIndex {
  std::vector<ChunkEntry> chunks;
  // False when the index that was found carries no key-frame flags at all
  // (a scanned index, or one with every flag clear); then key_frame is set
  // on every entry and means nothing.
  bool has_key_frame_flags = false;
};

}  // namespace avi

#endif  // KESTRIX_AVI_STREAM_INDEX_H_
