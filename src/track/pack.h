// PackPicture: the 4-bit colour mosaic of one picture.
//
// The source is a packed bitmap of fixed shape: a 40-byte header, then 160
// rows of 432 pixels, three bytes each (blue, green, red), stored bottom-up.
// Nothing in the header is consulted; the caller guarantees the shape (the
// picture converter makes every other frame into this one).
//
// Each line of the payload keeps one colour component of every other pixel
// (the upper four bits of its byte): even lines the odd pixels, colours red,
// green, blue in turn; odd lines the even pixels, colours green, blue, red in
// turn. Two samples share a byte, the first in the low four bits.
#ifndef KESTRIX_TRACK_PACK_H_
#define KESTRIX_TRACK_PACK_H_

#include <cstddef>
#include <cstdint>

#include "track/frame_record.h"

namespace track {

constexpr std::size_t kSourceHeaderBytes = 40;
constexpr std::size_t kSourceWidth = 432;
constexpr std::size_t kSourceRowBytes = kSourceWidth * 3;  // 1,296
constexpr std::size_t kSourceFrameBytes = kSourceHeaderBytes + kSourceRowBytes * kPictureLines;

// Reads kSourceFrameBytes from `frame` and fills `payload` completely.
void PackPicture(const std::uint8_t* frame, PicturePayload& payload);

}  // namespace track

#endif  // KESTRIX_TRACK_PACK_H_
