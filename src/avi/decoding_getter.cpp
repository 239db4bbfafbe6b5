// Compressed pictures decoded through FFmpeg's libavcodec and converted to
// bottom-up 24-bit bitmaps with libswscale.
//
// This is the body of the decoder module (kestrix-decoders.so): the program
// reaches it only through the module's entry point at the end of this file,
// loaded by avi/decoder_module.cpp when a stream needs a decoder.
//
// How pictures find their place. An AVI stream stores pictures in decoding
// order, one chunk per frame time; decoders with B-frames hand pictures back
// in display order, `has_b_frames` chunks late. Each packet carries its chunk
// number; a picture that comes out when chunk c goes in is shown at frame
// c - has_b_frames. This holds when the decoder drops pictures (B-frames with
// no reference after a seek, not-coded placeholders) and when empty drop
// chunks are skipped, because it counts chunks, not pictures. Packed MPEG-4
// (two pictures in one chunk followed by a placeholder chunk) is first
// unpacked by the mpeg4_unpack_bframes filter into one picture per chunk.
//
// A frame position with no picture of its own shows the previous picture
// (drop frames, placeholders), unless its chunk could not be read or decoded:
// then it has none.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "avi/codec_map.h"
#include "avi/decoder_module.h"
#include "avi/frame_getter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace avi {
namespace {

// Pictures wider or taller than this are refused rather than allocated.
constexpr std::int32_t kMaxPictureSide = 16384;
// Pictures of more pixels than this (a little over 4096 x 2160) are refused,
// so that the decoder's frames and the output bitmap stay well within memory;
// the decoder is held to it too, whatever size the stream itself declares.
constexpr std::int64_t kMaxPicturePixels = 9'000'000;
// The decoder's picture buffers alive at once are held to this many bytes.
// A stream may ask its decoder to keep up to 16 reference pictures (H.264
// does), which at 4096 x 2160 in 10-bit 4:4:4 comes to some 900 MB; a real
// 4096 x 2160 stream in 8-bit 4:2:0 keeps 6 at most (its level allows no
// more), about 80 MB. A buffer that would pass the bound is refused, so that
// picture fails to decode and its frame is skipped and counted.
constexpr std::size_t kMaxDecoderPictureBytes = 96u << 20;
// A chunk larger than this is treated as unreadable rather than allocated.
constexpr std::uint32_t kMaxChunkBytes = 32u << 20;
// How far past a frame its picture may still come out of a decoder: the
// deepest reordering FFmpeg's decoders keep, with room to spare.
constexpr std::int32_t kReorderReach = 20;
// How many key frames a seek goes back at most to find a frame's picture.
constexpr int kMaxStepsBack = 2;
// The bitmap's rows start this far into the output allocation: the header
// sits just before them, and the rows start on a 64-byte boundary for swscale.
constexpr std::size_t kRowsOffset = 64;
constexpr std::size_t kHeaderOffset = kRowsOffset - sizeof(BITMAPINFOHEADER);

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct BsfFree {
  void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct AvFree {
  void operator()(std::uint8_t* p) const { av_free(p); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

std::string AvErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

// A frame's colour fields as plain numbers. Decoders copy them from the
// stream as they stand, so a damaged stream can give values that no
// enumerator has (matrix coefficients of 247, say), and such a value must
// not be read as the enum.
template <typename Enum>
int RawValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(int));
  int value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// The JPEG-range pixel formats, as their plain formats with full range set
// apart (swscale wants the range given rather than implied by the format).
AVPixelFormat WithoutJpegRange(AVPixelFormat f, bool* full) {
  switch (f) {
    case AV_PIX_FMT_YUVJ420P: *full = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *full = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *full = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *full = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *full = true; return AV_PIX_FMT_YUV411P;
    default: return f;
  }
}

// The bytes of the decoder's picture buffers alive now. Every buffer the
// decoder is given is wrapped so that its release is counted.
struct PictureMemory {
  std::size_t live = 0;
};

struct CountedBuffer {
  PictureMemory* memory;
  AVBufferRef* inner;  // the buffer FFmpeg's own allocator handed out
};

void ReleaseCounted(void* opaque, std::uint8_t*) {
  auto* counted = static_cast<CountedBuffer*>(opaque);
  counted->memory->live -= counted->inner->size;
  av_buffer_unref(&counted->inner);
  delete counted;
}

// Replaces *ref by a buffer over the same bytes whose release is counted.
bool Count(PictureMemory* memory, AVBufferRef** ref) {
  auto* counted = new (std::nothrow) CountedBuffer{memory, *ref};
  if (!counted) return false;
  AVBufferRef* outer = av_buffer_create((*ref)->data, (*ref)->size, ReleaseCounted, counted, 0);
  if (!outer) {
    delete counted;
    return false;
  }
  memory->live += (*ref)->size;
  *ref = outer;
  return true;
}

// The decoder's buffer allocator: FFmpeg's own, within kMaxDecoderPictureBytes.
int GetCountedBuffer(AVCodecContext* ctx, AVFrame* frame, int flags) {
  auto* memory = static_cast<PictureMemory*>(ctx->opaque);
  const int err = avcodec_default_get_buffer2(ctx, frame, flags);
  if (err < 0) return err;
  std::size_t bytes = 0;
  for (AVBufferRef* b : frame->buf) bytes += b ? b->size : 0;
  for (int k = 0; k < frame->nb_extended_buf; ++k) bytes += frame->extended_buf[k]->size;
  bool ok = memory->live + bytes <= kMaxDecoderPictureBytes;
  for (AVBufferRef*& b : frame->buf) ok = ok && (!b || Count(memory, &b));
  for (int k = 0; ok && k < frame->nb_extended_buf; ++k) ok = Count(memory, &frame->extended_buf[k]);
  if (!ok) {
    av_frame_unref(frame);
    return AVERROR(ENOMEM);
  }
  return 0;
}

// A decoded picture waiting to be shown, with its frame position.
struct Decoded {
  FramePtr frame;
  std::int32_t position = -1;
};

class DecodingGetter final : public FrameGetter {
 public:
  DecodingGetter(const PictureStream& s, std::int32_t width, std::int32_t height)
      : file_(*s.file), chunks_(s.index->chunks), width_(width), height_(height) {}
  ~DecodingGetter() override { av_buffer_unref(&chunk_); }
  DecodingGetter(const DecodingGetter&) = delete;
  DecodingGetter& operator=(const DecodingGetter&) = delete;

  // Sets up the decoder, the filter and the output bitmap. False with *why set.
  bool Open(const PictureStream& s, const PictureCodec& codec, std::string* why);

  const std::uint8_t* Get(std::int32_t i) override;

 private:
  std::int32_t count() const { return static_cast<std::int32_t>(chunks_.size()); }
  // The latest chunk at or before i that decoding may start from.
  std::int32_t StartBefore(std::int32_t i) const;
  // Flushes the decoder and makes chunk k the next one sent.
  void Restart(std::int32_t k);
  // Sends the next chunk (or the end of the stream) and collects what the
  // decoder returns. False when there is nothing left to send.
  bool Feed();
  void SendToDecoder(AVPacket* packet, std::int32_t chunk);
  void Collect(bool draining);
  std::int32_t PositionOf(std::int64_t trigger) const;
  // Decodes until the picture for frame i (or a later one) is known.
  void DecodeUpTo(std::int32_t i);
  // The answer for frame i once DecodeUpTo(i) has run.
  const std::uint8_t* Answer(std::int32_t i);
  bool Convert(const AVFrame& f);
  FramePtr TakeFrame();
  void GiveBack(FramePtr f);

  const FileReader& file_;
  const std::vector<ChunkEntry>& chunks_;
  const std::int32_t width_;
  const std::int32_t height_;

  // Declared before everything that holds decoded pictures, so that it
  // outlives their releases.
  PictureMemory picture_memory_;
  std::unique_ptr<AVCodecContext, CodecContextFree> ctx_;
  std::unique_ptr<AVBSFContext, BsfFree> bsf_;  // only for MPEG-4
  std::unique_ptr<AVPacket, PacketFree> packet_;
  std::unique_ptr<AVPacket, PacketFree> filtered_;
  AVBufferRef* chunk_ = nullptr;             // reused read buffer, padded
  std::vector<std::uint8_t> palette_;        // AVPALETTE_SIZE bytes, or empty
  std::vector<std::int32_t> keys_;           // chunks decoding may start from
  bool every_chunk_starts_ = false;          // intra-only codec without flags
  std::vector<bool> failed_;                 // chunks that could not be read or decoded

  // Decoding state since the last Restart.
  std::int32_t next_chunk_ = 0;        // next chunk to read
  bool sent_end_ = false;              // the end of the stream was sent
  bool ended_ = false;                 // the decoder has returned everything
  bool send_palette_ = false;          // attach the palette to the next packet
  std::int32_t last_sent_chunk_ = -1;  // chunk of the last packet the decoder took
  std::int64_t last_trigger_ = -1;     // chunk that brought the last picture out
  std::int32_t last_position_ = -1;
  std::deque<Decoded> ready_;          // returned pictures, positions ascending
  Decoded held_;                       // latest picture at or before the target
  std::int32_t answered_ = -1;         // last frame answered since Restart
  std::int32_t shown_ = -1;            // position of the picture in the bitmap
  std::vector<FramePtr> spare_frames_;

  // Conversion.
  std::unique_ptr<SwsContext, SwsFree> sws_;
  int sws_width_ = 0, sws_height_ = 0;
  AVPixelFormat sws_format_ = AV_PIX_FMT_NONE;
  int sws_space_ = AVCOL_SPC_UNSPECIFIED;
  bool sws_full_range_ = false;
  std::unique_ptr<std::uint8_t, AvFree> bitmap_;
  std::size_t stride_ = 0;
};

bool DecodingGetter::Open(const PictureStream& s, const PictureCodec& codec, std::string* why) {
  const AVCodec* decoder = avcodec_find_decoder(codec.id);
  if (!decoder) {
    *why = "no decoder for '" + FourccText(codec.tag) + "' pictures";
    return false;
  }
  ctx_.reset(avcodec_alloc_context3(decoder));
  packet_.reset(av_packet_alloc());
  filtered_.reset(av_packet_alloc());
  if (!ctx_ || !packet_ || !filtered_) {
    *why = "out of memory setting up the decoder";
    return false;
  }
  ctx_->width = width_;
  ctx_->height = height_;
  ctx_->coded_width = width_;
  ctx_->coded_height = height_;
  ctx_->codec_tag = codec.tag;
  ctx_->bits_per_coded_sample = s.header.biBitCount;
  ctx_->thread_count = 1;
  ctx_->max_pixels = kMaxPicturePixels;

  // What follows the 40-byte header is the codec's own setup data (Huffyuv
  // tables, FFV1 and Ut Video parameters, an H.264 avcC record), and for
  // pictures of 8 bits or fewer it ends with the colour table.
  std::span<const std::uint8_t> extra;
  if (s.format.size() > sizeof(BITMAPINFOHEADER)) extra = s.format.subspan(sizeof(BITMAPINFOHEADER));
  if (!extra.empty() && extra.size() < (1u << 28)) {
    ctx_->extradata = static_cast<std::uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) {
      *why = "out of memory setting up the decoder";
      return false;
    }
    std::memcpy(ctx_->extradata, extra.data(), extra.size());
    ctx_->extradata_size = static_cast<int>(extra.size());
  }
  if (!extra.empty() && s.header.biBitCount > 0 && s.header.biBitCount <= 8) {
    std::size_t bytes = std::min<std::size_t>(std::size_t{4} << s.header.biBitCount, extra.size());
    std::span<const std::uint8_t> table = extra.last(bytes - bytes % 4);
    palette_.assign(AVPALETTE_SIZE, 0);
    for (std::size_t e = 0; e < table.size() / 4; ++e) {
      // RGBQUAD is B,G,R,reserved; FFmpeg's palette is native-endian ARGB.
      std::uint32_t argb = 0xFF000000u | std::uint32_t{table[4 * e + 2]} << 16 |
                           std::uint32_t{table[4 * e + 1]} << 8 | table[4 * e];
      std::memcpy(palette_.data() + 4 * e, &argb, 4);
    }
  }

  ctx_->opaque = &picture_memory_;
  ctx_->get_buffer2 = GetCountedBuffer;

  int err = avcodec_open2(ctx_.get(), decoder, nullptr);
  if (err < 0) {
    *why = "cannot open the decoder for '" + FourccText(codec.tag) + "' pictures: " + AvErrorText(err);
    return false;
  }

  if (codec.id == AV_CODEC_ID_MPEG4) {
    const AVBitStreamFilter* unpack = av_bsf_get_by_name("mpeg4_unpack_bframes");
    AVBSFContext* b = nullptr;
    if (unpack && av_bsf_alloc(unpack, &b) >= 0) {
      bsf_.reset(b);
      if (avcodec_parameters_from_context(bsf_->par_in, ctx_.get()) < 0 || av_bsf_init(bsf_.get()) < 0)
        bsf_.reset();
    }
  }

  // Where decoding may start. Without key-frame flags every chunk is a start
  // only when the codec codes each picture on its own.
  const AVCodecDescriptor* desc = avcodec_descriptor_get(codec.id);
  bool intra_only = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
  if (!s.index->has_key_frame_flags) {
    every_chunk_starts_ = intra_only;
  } else {
    for (std::int32_t c = 0; c < count(); ++c)
      if (chunks_[c].key_frame && chunks_[c].size > 0) keys_.push_back(c);
  }
  failed_.assign(chunks_.size(), false);

  stride_ = (static_cast<std::size_t>(width_) * 3 + 3) & ~std::size_t{3};
  std::size_t image = stride_ * static_cast<std::size_t>(height_);
  bitmap_.reset(static_cast<std::uint8_t*>(av_mallocz(kRowsOffset + image)));
  if (!bitmap_) {
    *why = "out of memory for the decoded picture";
    return false;
  }
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width_;
  h.biHeight = height_;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(image);
  std::memcpy(bitmap_.get() + kHeaderOffset, &h, sizeof h);

  Restart(0);
  return true;
}

std::int32_t DecodingGetter::StartBefore(std::int32_t i) const {
  if (every_chunk_starts_) {
    while (i > 0 && chunks_[i].size == 0) --i;
    return i;
  }
  auto it = std::upper_bound(keys_.begin(), keys_.end(), i);
  return it == keys_.begin() ? 0 : *std::prev(it);
}

FramePtr DecodingGetter::TakeFrame() {
  if (spare_frames_.empty()) return FramePtr(av_frame_alloc());
  FramePtr f = std::move(spare_frames_.back());
  spare_frames_.pop_back();
  return f;
}

void DecodingGetter::GiveBack(FramePtr f) {
  if (!f) return;
  av_frame_unref(f.get());
  spare_frames_.push_back(std::move(f));
}

void DecodingGetter::Restart(std::int32_t k) {
  avcodec_flush_buffers(ctx_.get());
  if (bsf_) av_bsf_flush(bsf_.get());
  while (!ready_.empty()) {
    GiveBack(std::move(ready_.front().frame));
    ready_.pop_front();
  }
  GiveBack(std::move(held_.frame));
  held_.position = -1;
  next_chunk_ = k;
  sent_end_ = false;
  ended_ = false;
  send_palette_ = !palette_.empty();
  last_sent_chunk_ = -1;
  last_trigger_ = -1;
  last_position_ = -1;
  answered_ = -1;
  shown_ = -1;
}

std::int32_t DecodingGetter::PositionOf(std::int64_t trigger) const {
  std::int64_t position = trigger - ctx_->has_b_frames;
  position = std::max<std::int64_t>(position, last_position_ + 1);
  return static_cast<std::int32_t>(std::min<std::int64_t>(position, INT32_MAX));
}

void DecodingGetter::Collect(bool draining) {
  for (;;) {
    FramePtr f = TakeFrame();
    if (!f) return;
    int err = avcodec_receive_frame(ctx_.get(), f.get());
    if (err == AVERROR(EAGAIN)) {
      GiveBack(std::move(f));
      return;
    }
    if (err == AVERROR_EOF) {
      GiveBack(std::move(f));
      ended_ = true;
      return;
    }
    if (err < 0) {
      // Decoders that work on their own packet queue report a bad picture
      // here rather than when it was sent.
      GiveBack(std::move(f));
      if (last_sent_chunk_ >= 0 && last_sent_chunk_ < count()) failed_[last_sent_chunk_] = true;
      if (draining) ended_ = true;
      return;
    }
    // While draining, each picture stands for one more chunk after the last.
    std::int64_t trigger = draining ? std::max<std::int64_t>(last_trigger_, last_sent_chunk_) + 1
                                    : std::max<std::int64_t>(last_sent_chunk_, last_trigger_ + 1);
    last_trigger_ = trigger;
    std::int32_t position = PositionOf(trigger);
    last_position_ = position;
    ready_.push_back(Decoded{std::move(f), position});
  }
}

void DecodingGetter::SendToDecoder(AVPacket* packet, std::int32_t chunk) {
  int err = avcodec_send_packet(ctx_.get(), packet);
  if (err == AVERROR(EAGAIN)) {
    Collect(false);
    err = avcodec_send_packet(ctx_.get(), packet);
  }
  if (err < 0 && chunk >= 0 && chunk < count()) failed_[chunk] = true;
  // Any answer but "try again" means the decoder took the packet, even when
  // it could not decode it: it counts towards the decoder's delay.
  if (err != AVERROR(EAGAIN)) last_sent_chunk_ = chunk;
  Collect(false);
}

bool DecodingGetter::Feed() {
  if (ended_) return false;
  if (sent_end_) {
    Collect(true);
    // A decoder that returns nothing more while draining is done.
    if (!ended_ && ready_.empty()) ended_ = true;
    return !ended_ || !ready_.empty();
  }
  // Empty chunks are drop frames: nothing to decode.
  while (next_chunk_ < count() && chunks_[next_chunk_].size == 0) ++next_chunk_;
  if (next_chunk_ >= count()) {
    sent_end_ = true;
    if (bsf_ && av_bsf_send_packet(bsf_.get(), nullptr) >= 0) {
      while (av_bsf_receive_packet(bsf_.get(), filtered_.get()) >= 0) {
        SendToDecoder(filtered_.get(), static_cast<std::int32_t>(filtered_->dts));
        av_packet_unref(filtered_.get());
      }
    }
    avcodec_send_packet(ctx_.get(), nullptr);
    Collect(true);
    return true;
  }
  const std::int32_t c = next_chunk_++;
  const ChunkEntry& e = chunks_[c];
  if (e.size > kMaxChunkBytes) {
    failed_[c] = true;
    return true;
  }
  // Read straight into a reference-counted buffer that the decoder (and the
  // filter, which may keep a picture for later) can hold on to without a
  // copy. The buffer is reused once nobody else holds it.
  int need = static_cast<int>(e.size) + AV_INPUT_BUFFER_PADDING_SIZE;
  if (!chunk_ || !av_buffer_is_writable(chunk_) || chunk_->size < static_cast<std::size_t>(need)) {
    av_buffer_unref(&chunk_);
    chunk_ = av_buffer_alloc(static_cast<std::size_t>(need) + e.size / 2);
    if (!chunk_) {
      failed_[c] = true;
      return true;
    }
  }
  if (!file_.ReadAt(e.offset, std::span<std::uint8_t>(chunk_->data, e.size))) {
    failed_[c] = true;
    return true;
  }
  std::memset(chunk_->data + e.size, 0, AV_INPUT_BUFFER_PADDING_SIZE);

  AVPacket* p = packet_.get();
  av_packet_unref(p);
  p->buf = av_buffer_ref(chunk_);
  if (!p->buf) {
    failed_[c] = true;
    return true;
  }
  p->data = chunk_->data;
  p->size = static_cast<int>(e.size);
  p->pts = c;
  p->dts = c;
  if (e.key_frame) p->flags |= AV_PKT_FLAG_KEY;
  if (send_palette_) {
    if (std::uint8_t* side = av_packet_new_side_data(p, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE)) {
      std::memcpy(side, palette_.data(), AVPALETTE_SIZE);
      send_palette_ = false;
    }
  }
  if (!bsf_) {
    SendToDecoder(p, c);
    av_packet_unref(p);
    return true;
  }
  if (av_bsf_send_packet(bsf_.get(), p) < 0) {
    failed_[c] = true;
    av_packet_unref(p);
    return true;
  }
  while (av_bsf_receive_packet(bsf_.get(), filtered_.get()) >= 0) {
    SendToDecoder(filtered_.get(), static_cast<std::int32_t>(filtered_->dts));
    av_packet_unref(filtered_.get());
  }
  return true;
}

void DecodingGetter::DecodeUpTo(std::int32_t i) {
  for (;;) {
    while (!ready_.empty() && ready_.front().position <= i) {
      GiveBack(std::move(held_.frame));
      held_ = std::move(ready_.front());
      ready_.pop_front();
      if (held_.position == i) return;
    }
    if (!ready_.empty()) return;  // the next picture belongs to a later frame
    // Nothing has come out for frame i within the decoder's reach: it has
    // no picture of its own.
    if (next_chunk_ > i + kReorderReach && !sent_end_) return;
    if (!Feed()) return;
  }
}

const std::uint8_t* DecodingGetter::Answer(std::int32_t i) {
  answered_ = i;
  if (held_.frame && held_.position > shown_) {
    bool ok = Convert(*held_.frame);
    std::int32_t position = held_.position;
    GiveBack(std::move(held_.frame));
    held_.position = -1;
    if (!ok) {
      shown_ = -1;
      return nullptr;
    }
    shown_ = position;
  }
  if (shown_ < 0) return nullptr;
  // A frame without a picture of its own repeats the one before it, unless
  // its own chunk was unreadable or undecodable.
  if (shown_ < i && failed_[i]) return nullptr;
  return bitmap_.get() + kHeaderOffset;
}

const std::uint8_t* DecodingGetter::Get(std::int32_t i) {
  if (i < 0 || i >= count()) return nullptr;
  if (i == answered_ || (shown_ >= 0 && shown_ <= i && i < answered_)) {
    if (shown_ < 0 || (shown_ < i && failed_[i])) return nullptr;
    return bitmap_.get() + kHeaderOffset;
  }
  std::int32_t start = StartBefore(i);
  // Carry on from where decoding stands unless that means going back or
  // decoding past a key frame that could be started from instead.
  bool forward = i > answered_ && start <= next_chunk_;
  if (!forward) {
    // Start from the latest key frame. When its first picture lies past
    // frame i (pictures shown before the key frame but coded after it, which
    // cannot be decoded from it), go back one key frame more, a few times at
    // most. Only the first picture is waited for, and not beyond the
    // decoder's reordering reach past frame i, so that a stretch of
    // undecodable chunks does not cost a decode of the rest of the movie.
    for (int attempt = 0;; ++attempt) {
      Restart(start);
      while (ready_.empty() && next_chunk_ <= i + kReorderReach && Feed()) {
      }
      bool past = !ready_.empty() && ready_.front().position > i;
      if (!past || start == 0 || attempt == kMaxStepsBack) break;
      std::int32_t earlier = StartBefore(start - 1);
      if (earlier >= start) break;
      start = earlier;
    }
  }
  DecodeUpTo(i);
  return Answer(i);
}

bool DecodingGetter::Convert(const AVFrame& f) {
  const int space = RawValue(f.colorspace);
  bool full = RawValue(f.color_range) == AVCOL_RANGE_JPEG;
  auto format = WithoutJpegRange(static_cast<AVPixelFormat>(f.format), &full);
  int w = std::min(f.width, width_);
  int h = std::min(f.height, height_);
  if (w <= 0 || h <= 0 || format == AV_PIX_FMT_NONE) return false;
  if (!sws_ || w != sws_width_ || h != sws_height_ || format != sws_format_ ||
      space != sws_space_ || full != sws_full_range_) {
    sws_.reset(sws_getContext(w, h, format, w, h, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws_) return false;
    // Unknown spaces get swscale's default coefficients.
    const int* coefficients = sws_getCoefficients(space);
    sws_setColorspaceDetails(sws_.get(), coefficients, full ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 0,
                             0, 1 << 16, 1 << 16);
    sws_width_ = w;
    sws_height_ = h;
    sws_format_ = format;
    sws_space_ = space;
    sws_full_range_ = full;
    // A decoded picture smaller than the stream's leaves the rest black.
    if (w != width_ || h != height_)
      std::memset(bitmap_.get() + kRowsOffset, 0, stride_ * static_cast<std::size_t>(height_));
  }
  // Write the top row last in memory: bottom-up rows through a negative stride.
  std::uint8_t* rows = bitmap_.get() + kRowsOffset;
  std::uint8_t* dst[4] = {rows + stride_ * static_cast<std::size_t>(height_ - 1), nullptr, nullptr, nullptr};
  int dst_stride[4] = {-static_cast<int>(stride_), 0, 0, 0};
  return sws_scale(sws_.get(), f.data, f.linesize, 0, h, dst, dst_stride) == h;
}

std::unique_ptr<FrameGetter> OpenFfmpegGetter(const PictureStream& s, std::string* why) {
  if (!s.file || !s.index) {
    *why = "the picture stream has no file or index";
    return nullptr;
  }
  const BITMAPINFOHEADER& h = s.header;
  std::int32_t width = h.biWidth;
  std::int32_t height = h.biHeight == INT32_MIN ? 0 : (h.biHeight < 0 ? -h.biHeight : h.biHeight);
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      std::int64_t{width} * height > kMaxPicturePixels) {
    *why = "the picture size " + std::to_string(h.biWidth) + " x " + std::to_string(h.biHeight) +
           " cannot be decoded";
    return nullptr;
  }
  PictureCodec codec = FindPictureCodec(h.biCompression, s.handler);
  if (codec.id == AV_CODEC_ID_NONE) {
    std::uint32_t named = h.biCompression != BI_RGB ? h.biCompression : s.handler;
    *why = "no decoder for '" + FourccText(named) + "' pictures";
    return nullptr;
  }
  auto getter = std::make_unique<DecodingGetter>(s, width, height);
  if (!getter->Open(s, codec, why)) return nullptr;
  why->clear();
  return getter;
}

}  // namespace
}  // namespace avi

// The module's one entry point (see avi/decoder_module.h).
extern "C" __attribute__((visibility("default"))) avi::FrameGetter* kestrix_open_decoding_getter(
    int version, const avi::PictureStream* s, std::string* why) {
  static_assert(std::is_same_v<decltype(&kestrix_open_decoding_getter), avi::DecoderModuleEntry>);
  if (version != avi::kDecoderModuleVersion) {
    *why = "the decoder module belongs to another build of kestrix (version " +
           std::to_string(avi::kDecoderModuleVersion) + ", the program wants " +
           std::to_string(version) + ")";
    return nullptr;
  }
  // The program reports skipped frames itself; FFmpeg's own messages about
  // damaged data would only interleave with the progress line.
  av_log_set_level(AV_LOG_QUIET);
  return avi::OpenFfmpegGetter(*s, why).release();
}
