#include "decode/stream_synth.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/dv_profile.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "base/messages.h"

namespace rv {

namespace {

void PutWord(uint32_t v, uint8_t* dest) { dest[0] = uint8_t(v), dest[1] = uint8_t(v >> 8); }

struct CodecCtx {
  AVCodecContext* c = nullptr;
  ~CodecCtx() { avcodec_free_context(&c); }
};

// Index of the first payload holding the start code 00 00 01 and a byte that pred accepts.
template <class Pred>
size_t FirstWithCode(const std::vector<Bytes>& payloads, Pred pred) {
  for (size_t k = 0; k < payloads.size(); ++k) {
    const Bytes& b = payloads[k];
    for (size_t i = 0; i + 3 < b.size(); ++i)
      if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && pred(b[i + 3])) return k;
  }
  return payloads.size();
}

// Opens the decoder of id and hands it the payloads from first on until a picture comes out;
// the context then holds what the headers said. Null when no picture came.
std::unique_ptr<CodecCtx> DecodeOne(AVCodecID id, const std::vector<Bytes>& payloads,
                                    size_t first) {
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) return nullptr;
  auto ctx = std::make_unique<CodecCtx>();
  ctx->c = avcodec_alloc_context3(codec);
  av_log_set_level(AV_LOG_QUIET);
  if (!ctx->c || avcodec_open2(ctx->c, codec, nullptr) < 0) return nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool got = false;
  for (size_t k = first; k < payloads.size() && k < first + 64 && !got; ++k) {
    Bytes data = payloads[k];
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    pkt->data = data.data();
    pkt->size = int(payloads[k].size());
    if (avcodec_send_packet(ctx->c, pkt) < 0) continue;
    got = avcodec_receive_frame(ctx->c, frame) == 0;
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  if (!got || ctx->c->width <= 0 || ctx->c->height <= 0) return nullptr;
  return ctx;
}

// The display times of the VOPs (in VOL time units), for a VOL without a fixed VOP rate: the
// smallest step between them is one frame.
uint32_t SmallestVopStep(const std::vector<Bytes>& payloads, uint32_t resolution) {
  int bits = 1;
  while (bits < 16 && (1u << bits) < resolution) ++bits;
  std::vector<uint64_t> times;
  uint64_t base = 0, lastBase = 0;
  for (const Bytes& b : payloads) {
    size_t i = 0, gov = b.size();
    while (i + 4 < b.size() && !(b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB6)) {
      if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3) gov = i;
      ++i;
    }
    if (i + 4 >= b.size()) continue;
    size_t bit = 0;
    auto get = [&](int n) {
      uint32_t v = 0;
      for (int k = 0; k < n; ++k, ++bit)
        v = (v << 1) | (bit / 8 < b.size() ? (b[bit / 8] >> (7 - bit % 8)) & 1 : 0);
      return v;
    };
    if (gov < i) {
      // A group of VOPs restarts the seconds at its time code (hours, minutes, marker,
      // seconds): the VOPs after it count their seconds from there.
      bit = (gov + 4) * 8;
      const uint32_t hours = get(5), minutes = get(6);
      get(1);
      base = lastBase = uint64_t(hours) * 3600 + minutes * 60 + get(6);
    }
    bit = (i + 4) * 8;
    const uint32_t type = get(2);
    uint32_t seconds = 0;
    while (get(1) && seconds < 60) ++seconds;
    if (!get(1)) continue;  // marker
    const uint64_t inc = get(bits);
    if (type != 2) {
      lastBase = base;
      base += seconds;
      times.push_back(base * resolution + inc);
    } else {
      times.push_back((lastBase + seconds) * resolution + inc);
    }
  }
  std::sort(times.begin(), times.end());
  uint64_t step = 0;
  for (size_t k = 1; k < times.size(); ++k)
    if (times[k] > times[k - 1] && (!step || times[k] - times[k - 1] < step))
      step = times[k] - times[k - 1];
  return uint32_t(step);
}

// The FOURCC an MPEG-4 Part 2 stream's user data names: DivX's encoders write "DivX", Xvid
// "XviD"; others (FFmpeg's "Lavc") are played as XVID.
std::string Mpeg4Fourcc(const Bytes& b) {
  for (size_t i = 0; i + 8 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB2 &&
        std::memcmp(&b[i + 4], "DivX", 4) == 0)
      return "DIVX";
  return "XVID";
}

bool Mpeg4(const std::vector<Bytes>& payloads, VideoGuess& g) {
  const size_t vol = FirstWithCode(payloads, [](uint8_t c) { return c >= 0x20 && c <= 0x2F; });
  if (vol == payloads.size()) return false;
  auto ctx = DecodeOne(AV_CODEC_ID_MPEG4, payloads, vol);
  if (!ctx) return false;
  g.codec = "MPEG-4 Part 2";
  g.fourcc = Mpeg4Fourcc(payloads[vol]);
  g.width = uint32_t(ctx->c->width), g.height = uint32_t(ctx->c->height);
  const AVRational r = ctx->c->framerate;
  if (r.num > 0 && r.den > 1) {  // fixed_vop_rate: the VOL gives the frame time
    SnapRate(uint64_t(r.num), uint64_t(r.den), g.rateNum, g.rateDen);
    g.rateFrom = "заголовку VOL (постоянная частота VOP)";
  } else if (r.num > 0) {
    if (const uint32_t step = SmallestVopStep(payloads, uint32_t(r.num))) {
      SnapRate(uint64_t(r.num), step, g.rateNum, g.rateDen);
      g.rateFrom = "времени VOP (шаг " + std::to_string(step) + " из " + std::to_string(r.num) +
                   " в секунду)";
    }
  }
  return true;
}

bool H264(const std::vector<Bytes>& payloads, VideoGuess& g) {
  const size_t sps = FirstWithCode(payloads, [](uint8_t c) { return (c & 0x9F) == 7; });
  if (sps == payloads.size()) return false;
  auto ctx = DecodeOne(AV_CODEC_ID_H264, payloads, sps);
  if (!ctx) return false;
  g.codec = "H.264";
  g.fourcc = "H264";
  g.width = uint32_t(ctx->c->width), g.height = uint32_t(ctx->c->height);
  const AVRational r = ctx->c->framerate;
  if (r.num > 0 && r.den > 0) {
    SnapRate(uint64_t(r.num), uint64_t(r.den), g.rateNum, g.rateDen);
    g.rateFrom = "SPS (timing info)";
  }
  return true;
}

bool Mjpeg(const std::vector<Bytes>& payloads, VideoGuess& g) {
  size_t k = 0;
  while (k < payloads.size() &&
         !(payloads[k].size() > 4 && payloads[k][0] == 0xFF && payloads[k][1] == 0xD8))
    ++k;
  if (k == payloads.size()) return false;
  auto ctx = DecodeOne(AV_CODEC_ID_MJPEG, payloads, k);
  if (!ctx) return false;
  g.codec = "MJPEG";
  g.fourcc = "MJPG";
  g.width = uint32_t(ctx->c->width), g.height = uint32_t(ctx->c->height);
  return true;
}

bool Dv(const std::vector<Bytes>& payloads, VideoGuess& g) {
  for (const Bytes& b : payloads) {
    const AVDVProfile* p = av_dv_frame_profile(nullptr, b.data(), unsigned(b.size()));
    if (!p || unsigned(p->frame_size) != b.size()) continue;
    g.codec = p->height >= 576 ? "DV (PAL)" : "DV (NTSC)";
    g.fourcc = "dvsd";
    g.width = uint32_t(p->width), g.height = uint32_t(p->height);
    SnapRate(uint64_t(p->time_base.den), uint64_t(p->time_base.num), g.rateNum, g.rateDen);
    g.rateFrom = "размеру кадра DV";
    return true;
  }
  return false;
}

// Hands the payloads to the parser of id (whole frames or not) and reads what its frame
// headers said; true when two frames in a row agreed. frameBytes: their mean size (the
// parser's own bit rate lags behind the frames).
bool ParseAudio(AVCodecID id, const std::vector<Bytes>& payloads, AVCodecContext*& out,
                double& frameBytes) {
  AVCodecParserContext* parser = av_parser_init(id);
  if (!parser) return false;
  out = avcodec_alloc_context3(nullptr);
  int frames = 0, lastRate = 0, total = 0, bytes = 0;
  for (const Bytes& b : payloads) {
    Bytes data = b;
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* p = data.data();
    int left = int(b.size());
    while (left > 0 && frames < 32) {
      uint8_t* frame = nullptr;
      int frameSize = 0;
      const int used = av_parser_parse2(parser, out, &frame, &frameSize, p, left, AV_NOPTS_VALUE,
                                        AV_NOPTS_VALUE, 0);
      if (used < 0 || (used == 0 && frameSize <= 0)) break;
      p += used, left -= used;
      if (frameSize <= 0) continue;
      ++total, bytes += frameSize;
      frames = out->sample_rate > 0 && out->sample_rate == lastRate ? frames + 1 : 1;
      lastRate = out->sample_rate;
    }
  }
  av_parser_close(parser);
  frameBytes = total ? double(bytes) / total : 0;
  return frames >= 2 && out->ch_layout.nb_channels > 0 && frameBytes > 0;
}

}  // namespace

VideoGuess RecogniseVideo(const std::vector<Bytes>& payloads) {
  VideoGuess g;
  if (Dv(payloads, g) || Mjpeg(payloads, g) || H264(payloads, g) || Mpeg4(payloads, g)) return g;
  return VideoGuess{};
}

AudioGuess RecogniseAudio(const std::vector<Bytes>& payloads) {
  AudioGuess g;
  for (AVCodecID id : {AV_CODEC_ID_MP3, AV_CODEC_ID_AC3}) {
    AVCodecContext* c = nullptr;
    double frameBytes = 0;
    const bool ok = ParseAudio(id, payloads, c, frameBytes);
    if (ok) {
      const AVCodecID found = c->codec_id == AV_CODEC_ID_NONE ? id : c->codec_id;
      g.sampleRate = uint32_t(c->sample_rate);
      g.channels = uint16_t(c->ch_layout.nb_channels);
      g.frameSamples = uint32_t(c->frame_size);
      const bool ac3 = id == AV_CODEC_ID_AC3;
      const bool layer3 = found == AV_CODEC_ID_MP3;
      g.codec = ac3 ? "AC-3" : layer3 ? "MPEG audio Layer III" : "MPEG audio Layer I/II";
      g.formatTag = ac3 ? 0x2000 : layer3 ? 0x55 : 0x50;
      if (!g.frameSamples)
        g.frameSamples = ac3 ? 1536 : layer3 && g.sampleRate < 32000 ? 576 : 1152;
      // The bit rate in whole kbit/s from the frames' mean size.
      g.byteRate = uint32_t(std::llround(frameBytes * g.sampleRate / g.frameSamples / 125.0) * 125);
      // One frame per chunk: each chunk starts with a sync word and holds about one frame.
      // (Empty chunks, which FFmpeg writes for the interleave, hold no frame.)
      uint64_t total = 0, chunks = 0;
      bool synced = true;
      for (const Bytes& b : payloads) {
        if (b.empty()) continue;
        total += b.size(), ++chunks;
        synced = synced && b.size() > 2 &&
                 (ac3 ? b[0] == 0x0B && b[1] == 0x77 : b[0] == 0xFF && (b[1] & 0xE0) == 0xE0);
      }
      g.framePerChunk = synced && chunks && total < 1.5 * frameBytes * double(chunks);
      g.blockAlign = g.framePerChunk ? uint16_t(ac3 ? uint32_t(frameBytes) : g.frameSamples) : 1;
      if (layer3) {  // MPEGLAYER3WAVEFORMAT: ID, flags, block size, frames per block, delay
        g.extra = {1, 0, 2, 0, 0, 0, 0, 0, 1, 0, 0x71, 0x05};
        PutWord(uint16_t(frameBytes), &g.extra[6]);
      } else if (!ac3) {  // MPEG1WAVEFORMAT: layer, bit rate, mode, mode ext, emphasis, flags
        g.extra.assign(22, 0);
        PutWord(c->codec_id == AV_CODEC_ID_MP1 ? 1 : 2, &g.extra[0]);
        PutDWord(g.byteRate * 8, &g.extra[2]);
        PutWord(g.channels == 1 ? 8 : 1, &g.extra[6]);
        PutWord(1, &g.extra[10]);
        PutWord(g.sampleRate >= 32000 ? 0x10 : 0, &g.extra[12]);
      }
    }
    avcodec_free_context(&c);
    if (ok) return g;
    g = AudioGuess{};
  }
  return g;
}

bool MakeHeader(const std::string& donorFile,
                const std::function<bool(const std::string& question)>& takeDifferentDonor,
                const std::string& refusalHint) {
  AddMessage(donorFile.empty() ? "• заголовок составляется по данным потока"
                               : "• заголовок составляется по данным потока и донора");
  HeaderPlan plan;
  if (!PlanHeader(donorFile, plan)) return false;
  const std::vector<std::string> differ = DonorMismatches(plan);
  for (const std::string& d : differ) AddMessage("• донор не совпадает с потоком: " + d);
  if (!differ.empty() &&
      !takeDifferentDonor("формат донора не совпадает с потоком. взять его заголовок?")) {
    AddMessage("• донор не взят: его формат не совпадает с потоком" + refusalHint);
    return false;
  }
  return ApplyHeaderPlan(plan);
}

bool PlanHeader(const std::string& donorFile, HeaderPlan& plan) {
  plan = HeaderPlan{};
  plan.movi = SampleMovi();
  if (const StreamSample* v = plan.movi.Find('v')) plan.video = RecogniseVideo(v->payloads);
  if (const StreamSample* a = plan.movi.Find('a')) plan.audio = RecogniseAudio(a->payloads);
  for (const StreamSample& s : plan.movi.streams)
    if (s.kind == 'a' && &s != plan.movi.Find('a'))
      plan.moreAudio.push_back(RecogniseAudio(s.payloads));
  if (donorFile.empty()) return true;
  std::string error;
  if (!ReadDonorHeader(donorFile, plan.donor, error)) {
    AddMessage("• донор " + donorFile + ": " + error);
    return false;
  }
  plan.withDonor = true;
  return true;
}

}  // namespace rv
