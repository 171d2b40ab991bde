#include "decode/decompressor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "riff/header.h"

namespace rv {

BitmapInfo InputFormatFromHeader() {
  const VideoStrfRecord& v = Header().vstrf;
  BitmapInfo b;
  b.biWidth = int32_t(v.biWidth);
  b.biHeight = int32_t(v.biHeight);
  b.biPlanes = v.biPlanes;
  b.biBitCount = v.biBitCount;
  b.biCompression = fcc(v.biCompression);
  b.biSizeImage = v.biBitCount == 24 ? v.biWidth * v.biHeight * 3 : v.biSizeImage;
  b.biXPelsPerMeter = v.biXPelsPerMeter;
  b.biYPelsPerMeter = v.biYPelsPerMeter;
  return b;
}

BitmapInfo OutputFormatFor(const BitmapInfo& in) {
  BitmapInfo o = in;
  o.biCompression = 0;
  return o;
}

size_t PictureStride(const BitmapInfo& out) {
  return (size_t(std::abs(int64_t(out.biWidth))) * 3 + 3) & ~size_t(3);
}

size_t PictureSize(const BitmapInfo& out) {
  return PictureStride(out) * size_t(std::abs(int64_t(out.biHeight)));
}

namespace {

// Probing a chunk alone makes decoders complain about every frame that is not a keyframe;
// that is the expected outcome, not news for the user.
void QuietDecoders() {
  static bool once = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)once;
}

const AVCodecTag* const* RiffTables() {
  static const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
  return tables;
}

AVCodecID CodecFor(uint32_t fourcc) {
  if (fourcc == 0) return AV_CODEC_ID_NONE;
  AVCodecID id = av_codec_get_id(RiffTables(), fourcc);
  if (id == AV_CODEC_ID_NONE) {
    // The tables are case-sensitive; FOURCCs in the wild are not always.
    std::string s = cff(fourcc);
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    id = av_codec_get_id(RiffTables(), fcc(s));
  }
  return id;
}

std::string Printable(uint32_t fourcc) {
  std::string s = cff(fourcc);
  for (char& c : s)
    if (uint8_t(c) < 32 || uint8_t(c) > 126) c = ' ';
  return s;
}

}  // namespace

std::vector<DecoderEntry> InstalledDecoders() {
  std::vector<DecoderEntry> list;
  void* it = nullptr;
  while (const AVCodec* c = av_codec_iterate(&it)) {
    if (!av_codec_is_decoder(c) || c->type != AVMEDIA_TYPE_VIDEO) continue;
    unsigned int tag = av_codec_get_tag(RiffTables(), c->id);
    if (tag == 0) continue;
    list.push_back({Printable(tag), c->long_name ? c->long_name : c->name});
  }
  return list;
}

std::vector<std::string> DecompressorChoices() {
  std::vector<std::string> out = {"auto"};
  for (const DecoderEntry& d : InstalledDecoders())
    out.push_back(d.fourcc + " (" + d.description + ")");
  return out;
}

struct Decompressor::Impl {
  const AVCodec* codec = nullptr;
  uint32_t handler = 0;
  BitmapInfo in;
  Bytes extradata;
  AVCodecContext* ctx = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* sws = nullptr;
  Bytes scratch;

  ~Impl() {
    Close();
    if (sws) sws_freeContext(sws);
  }
  void Close() {
    if (ctx) avcodec_free_context(&ctx);
    if (packet) av_packet_free(&packet);
    if (frame) av_frame_free(&frame);
  }
  int Open() {
    Close();
    ctx = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!ctx || !packet || !frame) return -1;
    ctx->width = std::abs(in.biWidth);
    ctx->height = std::abs(in.biHeight);
    ctx->codec_tag = in.biCompression;
    ctx->bits_per_coded_sample = in.biBitCount;
    // One thread: frame threads would only add delay to a search that decodes every chunk
    // twice on two decoders anyway.
    ctx->thread_count = 1;
    if (!extradata.empty()) {
      ctx->extradata =
          static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (ctx->extradata) {
        std::memcpy(ctx->extradata, extradata.data(), extradata.size());
        ctx->extradata_size = int(extradata.size());
      }
    }
    return avcodec_open2(ctx, codec, nullptr) == 0 ? 0 : -1;
  }
  // The frame as a bottom-up 24-bit DIB of the declared size.
  bool ToPicture(Bytes& picture) {
    const int w = std::abs(in.biWidth), h = std::abs(in.biHeight);
    if (w == 0 || h == 0 || frame->width <= 0 || frame->height <= 0) return false;
    sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), w, h,
                               AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return false;
    // The scaler may write past the end of a row, so it writes top-down into a padded
    // scratch picture; the rows are then copied bottom-up into the DIB.
    const size_t row = size_t(w) * 3;
    const size_t scratchStride = (row + 63) & ~size_t(63);
    scratch.resize(scratchStride * size_t(h) + 64);
    uint8_t* dst[4] = {scratch.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(scratchStride), 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    const size_t stride = (row + 3) & ~size_t(3);
    picture.assign(stride * size_t(h), 0);
    for (int y = 0; y < h; ++y)
      std::memcpy(picture.data() + stride * size_t(h - 1 - y),
                  scratch.data() + scratchStride * size_t(y), row);
    return true;
  }
};

Decompressor::Decompressor(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Decompressor::~Decompressor() = default;

std::unique_ptr<Decompressor> Decompressor::Open(uint32_t handler, const BitmapInfo& in,
                                                 const Bytes& extradata) {
  const AVCodec* c = avcodec_find_decoder(CodecFor(handler));
  if (!c) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->codec = c;
  impl->handler = handler;
  impl->in = in;
  impl->extradata = extradata;
  return std::unique_ptr<Decompressor>(new Decompressor(std::move(impl)));
}

std::unique_ptr<Decompressor> Decompressor::Locate(uint32_t handler, const BitmapInfo& in,
                                                   const Bytes& extradata) {
  if (auto d = Open(handler, in, extradata); d && d->Query()) return d;
  return Open(in.biCompression, in, extradata);
}

bool Decompressor::Query() const {
  AVCodecID format = CodecFor(impl_->in.biCompression);
  return format == AV_CODEC_ID_NONE || format == impl_->codec->id;
}

int Decompressor::Begin() {
  QuietDecoders();
  return impl_->Open();
}

int Decompressor::Send(const uint8_t* data, size_t size, int64_t tag, bool alone) {
  Impl& d = *impl_;
  if (!d.ctx || size > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return -1;
  av_packet_unref(d.packet);
  if (av_new_packet(d.packet, int(size)) < 0) return -1;
  if (size) std::memcpy(d.packet->data, data, size);
  d.packet->pts = tag;
  if (alone) d.packet->flags |= AV_PKT_FLAG_KEY;
  const int r = avcodec_send_packet(d.ctx, d.packet);
  av_packet_unref(d.packet);
  return r < 0 ? -1 : 0;
}

void Decompressor::Drain() {
  if (impl_->ctx) avcodec_send_packet(impl_->ctx, nullptr);
}

bool Decompressor::Receive(int64_t& tag, Bytes& picture) {
  Impl& d = *impl_;
  if (!d.ctx) return false;
  // A picture that cannot be converted is skipped: its chunk simply has no picture.
  while (avcodec_receive_frame(d.ctx, d.frame) == 0) {
    tag = d.frame->pts != AV_NOPTS_VALUE ? d.frame->pts : d.frame->best_effort_timestamp;
    const bool ok = tag != AV_NOPTS_VALUE && d.ToPicture(picture);
    av_frame_unref(d.frame);
    if (ok) return true;
  }
  return false;
}

int Decompressor::DecodeAlone(const uint8_t* data, size_t size, Bytes& picture) {
  constexpr int64_t kTag = 0;
  if (Send(data, size, kTag, true) != 0) return -1;
  Drain();
  int64_t tag = -1;
  while (Receive(tag, picture))
    if (tag == kTag) return 0;
  return -1;
}

void Decompressor::End() { impl_->Close(); }

std::string Decompressor::Handler() const {
  unsigned int tag = av_codec_get_tag(RiffTables(), impl_->codec->id);
  // The handler asked for when it names this decoder, else the decoder's own FOURCC.
  if (impl_->handler && CodecFor(impl_->handler) == impl_->codec->id) return cff(impl_->handler);
  return cff(tag);
}

std::string Decompressor::Description() const {
  return impl_->codec->long_name ? impl_->codec->long_name : impl_->codec->name;
}

SearchDecoders OpenForSearch(const std::string& choice, const BitmapInfo& in,
                             const Bytes& extradata) {
  SearchDecoders s;
  std::string name;
  if (choice == "auto") {
    name = Header().vstrh.DeviceHandler;
  } else {
    name = choice.substr(0, std::min<size_t>(4, choice.size()));
  }
  s.handlerName = ShowChars(name);
  const uint32_t handler = fcc(name);
  if (choice != "auto") {
    auto named = Decompressor::Open(handler, in, extradata);
    if (!named) {
      s.error = "ошибка открытия декомпрессора для " + s.handlerName;
      return s;
    }
    if (!named->Query()) {
      s.error = "декомпрессор " + s.handlerName + " отказался это распаковывать";
      return s;
    }
  }
  s.running = Decompressor::Locate(handler, in, extradata);
  s.probe = Decompressor::Locate(handler, in, extradata);
  if (!s.running || !s.probe) {
    s.running.reset();
    s.probe.reset();
    s.error = "ошибка открытия декомпрессора для " + s.handlerName;
  }
  return s;
}

}  // namespace rv
