#include "riff/header_edit.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "base/messages.h"
#include "riff/source.h"

namespace rv {

namespace {

using K = FieldKind;

const std::vector<FieldDef> kFields = {
    {"avih", "signature", "EditAsig", "signature:", K::Chars4},
    {"avih", "TimeBetweenFrames", "EditATBF", "TimeBetweenFrames:", K::Signed32},
    {"avih", "MaximumDataRate", "EditAMDR", "MaximumDataRate:", K::Signed32},
    {"avih", "PaddingGranularity", "EditAPG", "PaddingGranularity:", K::Signed32},
    {"avih", "Flags", "EditAF", "Flags:", K::Signed32},
    {"avih", "TotalNumberOfFrames", "EditATNF", "TotalNumberOfFrames:", K::Signed32},
    {"avih", "NumberOfInitialFrames", "EditANIF", "NumberOfInitialFrames:", K::Signed32},
    {"avih", "NumberOfStreams", "EditANOS", "NumberOfStreams:", K::Signed32},
    {"avih", "SuggestedBufferSize", "EditASBS", "SuggestedBufferSize:", K::Signed32},
    {"avih", "Width", "EditAW", "width:", K::Signed32},
    {"avih", "Height", "EditAH", "height:", K::Signed32},
    {"avih", "TimeScale", "EditATS", "TimeScale:", K::Signed32},
    {"avih", "DataRate", "EditADR", "DataRate:", K::Signed32},
    {"avih", "StartTime", "EditAST", "StartTime:", K::Signed32},
    {"avih", "DataLength", "EditADL", "DataLength:", K::Signed32},
#define STRH_FIELDS(rec)                                                             \
  {rec, "signature", "EditSsig", "signature:", K::Chars4},                           \
      {rec, "DataType", "EditSDT", "DataType:", K::Chars4},                          \
      {rec, "DeviceHandler", "EditSDH", "DeviceHandler:", K::Chars4},                \
      {rec, "Flags", "EditSF", "Flags (hex):", K::Hex32},                            \
      {rec, "Priority", "EditSPRI", "Priority:", K::Signed32},                       \
      {rec, "InitialFrames", "EditSIF", "InitialFrames:", K::Signed32},              \
      {rec, "TimeScale", "EditSTS", "TimeScale:", K::Signed32},                      \
      {rec, "DataRate", "EditSDR", "DataRate:", K::Signed32},                        \
      {rec, "StartTime", "EditSST", "StartTime:", K::Signed32},                      \
      {rec, "DataLength", "EditSDL", "DataLength:", K::Signed32},                    \
      {rec, "SuggestedBufferSize", "EditSSBS", "SuggestedBufferSize:", K::Signed32}, \
      {rec, "Quality", "EditSQ", "Qualiy (hex):", K::Hex32},                         \
      {rec, "SampleSize", "EditSSS", "SampleSize:", K::Signed32},                    \
      {rec, "xz1", "EditSXZ1", "xз 1 (hex):", K::Hex32}, {                           \
    rec, "xz2", "EditSXZ2", "xз 2 (hex):", K::Hex32                                  \
  }
    STRH_FIELDS("vstrh"),
    STRH_FIELDS("astrh"),
#undef STRH_FIELDS
    {"vstrf", "signature", "EditVFsig", "signature:", K::Chars4},
    {"vstrf", "biSize", "EditVFss", "Size of structure:", K::Signed32},
    {"vstrf", "biWidth", "EditVFwi", "Width of DIB:", K::Signed32},
    {"vstrf", "biHeight", "EditVFhe", "Height of DIB:", K::Signed32},
    {"vstrf", "biPlanes", "EditVFnp", "Number of planes:", K::Low16},
    {"vstrf", "biBitCount", "EditVFbp", "Number of bits/pixel:", K::Low16},
    {"vstrf", "biCompression", "EditVFcf", "Compression format:", K::Chars4},
    {"vstrf", "biSizeImage", "EditVFsi", "Size of the image:", K::Signed32},
    {"vstrf", "biXPelsPerMeter", "EditVFhr",
     "Horizontal resolution of target device:", K::Signed32},
    {"vstrf", "biYPelsPerMeter", "EditVFvr", "Vertical resolution of target device:", K::Signed32},
    {"vstrf", "biClrUsed", "EditVFnu", "Number of colors used:", K::Signed32},
    {"vstrf", "biClrImportant", "EditVFni", "Number of colors important:", K::Signed32},
    {"vstrf", "CodecSpecificData", "EditVFcsd", "Codec Specific Data:", K::VideoCodec},
    {"astrf", "signature", "EditAFsig", "signature:", K::Chars4},
    {"astrf", "wFormatTag", "EditAFft", "wFormatTag:", K::Low16},
    {"astrf", "nChannels", "EditAFnc", "nChannels:", K::Low16},
    {"astrf", "nSamplesPerSec", "EditAFsps", "nSamplesPerSec:", K::Signed32},
    {"astrf", "nAvgBytesPerSec", "EditAFab", "nAvgBytesPerSec:", K::Signed32},
    {"astrf", "nBlockAlign", "EditAFba", "nBlockAlign:", K::Low16},
    {"astrf", "wBitsPerSample", "EditAFbps", "wBitsPerSample:", K::Low16},
    {"astrf", "cbSize", "EditAFcbs", "cbSize:", K::CbSize},
    {"astrf", "CodecSpecificData", "EditAFcsd", "Codec Specific Data:", K::AudioCodec},
};

// Where a field lives in its record.
struct Slot {
  std::string* chars = nullptr;
  uint32_t* u32 = nullptr;
  uint16_t* u16 = nullptr;
};

Slot SlotOf(const FieldDef& f) {
  HeaderState& h = Header();
  const std::string rec = f.record, n = f.name;
  if (rec == "avih") {
    AvihRecord& r = h.avih;
    if (n == "signature") return {&r.signature};
    std::pair<const char*, uint32_t*> m[] = {{"TimeBetweenFrames", &r.TimeBetweenFrames},
                                             {"MaximumDataRate", &r.MaximumDataRate},
                                             {"PaddingGranularity", &r.PaddingGranularity},
                                             {"Flags", &r.Flags},
                                             {"TotalNumberOfFrames", &r.TotalNumberOfFrames},
                                             {"NumberOfInitialFrames", &r.NumberOfInitialFrames},
                                             {"NumberOfStreams", &r.NumberOfStreams},
                                             {"SuggestedBufferSize", &r.SuggestedBufferSize},
                                             {"Width", &r.Width},
                                             {"Height", &r.Height},
                                             {"TimeScale", &r.TimeScale},
                                             {"DataRate", &r.DataRate},
                                             {"StartTime", &r.StartTime},
                                             {"DataLength", &r.DataLength}};
    for (auto& [name, p] : m)
      if (n == name) return {nullptr, p};
  } else if (rec == "vstrh" || rec == "astrh") {
    StrhRecord& r = rec == "vstrh" ? h.vstrh : h.astrh;
    if (n == "signature") return {&r.signature};
    if (n == "DataType") return {&r.DataType};
    if (n == "DeviceHandler") return {&r.DeviceHandler};
    std::pair<const char*, uint32_t*> m[] = {{"Flags", &r.Flags},
                                             {"Priority", &r.Priority},
                                             {"InitialFrames", &r.InitialFrames},
                                             {"TimeScale", &r.TimeScale},
                                             {"DataRate", &r.DataRate},
                                             {"StartTime", &r.StartTime},
                                             {"DataLength", &r.DataLength},
                                             {"SuggestedBufferSize", &r.SuggestedBufferSize},
                                             {"Quality", &r.Quality},
                                             {"SampleSize", &r.SampleSize},
                                             {"xz1", &r.xz1},
                                             {"xz2", &r.xz2}};
    for (auto& [name, p] : m)
      if (n == name) return {nullptr, p};
  } else if (rec == "vstrf") {
    VideoStrfRecord& r = h.vstrf;
    if (n == "signature") return {&r.signature};
    if (n == "biCompression") return {&r.biCompression};
    if (n == "biPlanes") return {nullptr, nullptr, &r.biPlanes};
    if (n == "biBitCount") return {nullptr, nullptr, &r.biBitCount};
    std::pair<const char*, uint32_t*> m[] = {{"biSize", &r.biSize},
                                             {"biWidth", &r.biWidth},
                                             {"biHeight", &r.biHeight},
                                             {"biSizeImage", &r.biSizeImage},
                                             {"biXPelsPerMeter", &r.biXPelsPerMeter},
                                             {"biYPelsPerMeter", &r.biYPelsPerMeter},
                                             {"biClrUsed", &r.biClrUsed},
                                             {"biClrImportant", &r.biClrImportant}};
    for (auto& [name, p] : m)
      if (n == name) return {nullptr, p};
  } else if (rec == "astrf") {
    AudioStrfRecord& r = h.astrf;
    if (n == "signature") return {&r.signature};
    if (n == "nSamplesPerSec") return {nullptr, &r.nSamplesPerSec};
    if (n == "nAvgBytesPerSec") return {nullptr, &r.nAvgBytesPerSec};
    std::pair<const char*, uint16_t*> m[] = {{"wFormatTag", &r.wFormatTag},
                                             {"nChannels", &r.nChannels},
                                             {"nBlockAlign", &r.nBlockAlign},
                                             {"wBitsPerSample", &r.wBitsPerSample},
                                             {"cbSize", &r.cbSize}};
    for (auto& [name, p] : m)
      if (n == name) return {nullptr, nullptr, p};
  }
  return {};
}

std::string Four(const std::string& s) {
  uint8_t b[4];
  PutString(s, b, 4);
  return std::string(reinterpret_cast<const char*>(b), 4);
}

// Four stored characters as the text of a field: up to the first zero byte.
std::string CharsText(const std::string& s) {
  std::string t = s.substr(0, std::min<size_t>(4, s.find('\0')));
  return ShowChars(t);
}

}  // namespace

const std::vector<FieldDef>& EditableFields() { return kFields; }

const FieldDef* FindField(const std::string& record, const std::string& name) {
  for (const FieldDef& f : kFields)
    if (record == f.record && name == f.name) return &f;
  return nullptr;
}

std::string SignedText(uint32_t v) { return std::to_string(int32_t(v)); }

// A decimal text as a number, leading zeros allowed; false past the 64-bit range.
static bool ParseDecimal(const std::string& text, int64_t& n) {
  if (!IsNumber(text)) return false;
  const bool negative = text[0] == '-';
  uint64_t v = 0;
  for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
    if (v > (uint64_t(INT64_MAX) - 9) / 10) return false;
    v = v * 10 + uint64_t(text[i] - '0');
  }
  n = negative ? -int64_t(v) : int64_t(v);
  return true;
}

bool ParseSigned(const std::string& text, uint32_t& v) {
  int64_t n = 0;
  if (!ParseDecimal(text, n) || n < INT32_MIN || n > int64_t(UINT32_MAX)) return false;
  v = uint32_t(n);
  return true;
}

Bytes ParseVideoCodecData(const std::string& textIn) {
  size_t b = textIn.find_first_not_of(' ');
  size_t e = textIn.find_last_not_of(' ');
  std::string text = b == std::string::npos ? std::string() : textIn.substr(b, e - b + 1);
  Bytes out;
  while (!text.empty()) {
    std::string token = CutToken(text, ",");
    if (IsHexByte(token)) out.push_back(uint8_t(HexByteValue(token)));
  }
  return out;
}

Bytes ParseAudioCodecData(const std::string& textIn, uint16_t cbSize) {
  std::string text = textIn;
  Bytes out(cbSize, 0);
  for (uint16_t i = 0; i < cbSize; ++i) {
    std::string token = CutToken(text, ",");
    if (IsHexByte(token)) out[i] = uint8_t(HexByteValue(token));
  }
  return out;
}

std::string AudioCodecText(const AudioStrfRecord& r) {
  std::string t = BytesToHex(r.codecData, 0, std::min<size_t>(r.codecData.size(), r.cbSize));
  for (size_t i = r.codecData.size(); i < r.cbSize; ++i) t += t.empty() ? "??" : ",??";
  return t;
}

std::string FieldText(const FieldDef& f) {
  const HeaderState& h = Header();
  if (f.kind == K::VideoCodec) return BytesToHex(h.vstrf.codecData, 0, h.vstrf.codecData.size());
  if (f.kind == K::AudioCodec) return AudioCodecText(h.astrf);
  Slot s = SlotOf(f);
  if (s.chars) return CharsText(*s.chars);
  if (s.u16) return std::to_string(*s.u16);
  if (!s.u32) return {};
  if (f.kind == K::Hex32) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", *s.u32);
    return buf;
  }
  return SignedText(*s.u32);
}

bool ApplyField(const FieldDef& f, const std::string& text, std::string& error) {
  HeaderState& h = Header();
  Slot s = SlotOf(f);
  switch (f.kind) {
    case K::Chars4: *s.chars = Four(text); return true;
    case K::Hex32: *s.u32 = HexToInt(text); return true;
    case K::CbSize: {
      int64_t n = 0;
      *s.u16 = ParseDecimal(text, n) ? uint16_t(uint64_t(n)) : 0;
      return true;
    }
    case K::VideoCodec: h.vstrf.codecData = ParseVideoCodecData(text); return true;
    case K::AudioCodec: h.astrf.codecData = ParseAudioCodecData(text, h.astrf.cbSize); return true;
    case K::Signed32:
    case K::Low16: {
      uint32_t v = 0;
      if (!ParseSigned(text, v)) {
        error = "'" + text + "' — не целое число";
        return false;
      }
      if (s.u32) *s.u32 = v;
      if (s.u16) *s.u16 = uint16_t(v);
      return true;
    }
  }
  return false;
}

void FinishFormatEdit(const std::string& record) {
  HeaderState& h = Header();
  if (record == "vstrf") h.vstrf.size = uint32_t(h.vstrf.codecData.size()) + 40;
  if (record == "astrf") {
    h.astrf.size = uint32_t(h.astrf.cbSize) + 18;
    h.astrf.codecData.resize(h.astrf.cbSize, 0);
  }
}

void RefreshBlockLines(int32_t b, const std::string& record) {
  auto& blocks = Blocks();
  if (b < 0 || size_t(b) >= blocks.size()) return;
  const BlockRecord& r = blocks[size_t(b)];
  TreeModel& t = Tree();
  if (r.Node < 0 || size_t(r.Node) >= t.lines.size()) return;
  const HeaderState& h = Header();
  std::string sig;
  if (record == "avih")
    sig = h.avih.signature;
  else if (record == "vstrh")
    sig = h.vstrh.signature;
  else if (record == "astrh")
    sig = h.astrh.signature;
  else if (record == "vstrf")
    sig = h.vstrf.signature;
  else
    sig = h.astrf.signature;
  std::string text = "'" + CharsText(sig) + "' " + std::to_string(r.Size);
  if (record == "vstrh") text += " '" + CharsText(h.vstrh.DataType) + "'";
  if (record == "astrh") text += " '" + CharsText(h.astrh.DataType) + "'";
  t.lines[size_t(r.Node)].text = text;
  t.RemoveChildren(r.Node);
  if (record == "avih")
    avih2TV(r.Node, h.avih);
  else if (record == "vstrh")
    strh2TV(r.Node, h.vstrh);
  else if (record == "astrh")
    strh2TV(r.Node, h.astrh);
  else if (record == "vstrf")
    strf2TV(r.Node, 'v');
  else
    strf2TV(r.Node, 'a');
}

bool MIread(int32_t b, char kind) {
  auto& blocks = Blocks();
  if (b < 0 || size_t(b) >= blocks.size()) return false;
  const BlockRecord& r = blocks[size_t(b)];
  const uint32_t n = kind == 'v' ? 52 : 30;
  Bytes buf(n, 0);
  const uint64_t avail = Source().size > r.Offset ? Source().size - r.Offset : 0;
  const uint32_t take = uint32_t(std::min<uint64_t>({n, r.Size, avail}));
  Bytes got;
  if (take == 0 || !ReadFileDirect(r.Offset, take, got)) return false;
  std::copy(got.begin(), got.end(), buf.begin());
  PutDWord(n - 8, buf, 4);
  HeaderState& h = Header();
  if (kind == 'v') {
    h.vstrf = {};
    readVideoSTRF(buf, h.vstrf);
    strf2TV(r.Node, 'v');
    SetLabel(kLabelVSTRF, LabelColor::Blue);
  } else {
    h.astrf = {};
    readAudioSTRF(buf, h.astrf);
    // The size follows the cbSize read (zero for a 16-byte wave format), so that a header
    // built from the record declares exactly the bytes it writes.
    h.astrf.size = 18u + h.astrf.cbSize;
    strf2TV(r.Node, 'a');
    SetLabel(kLabelASTRF, LabelColor::Blue);
  }
  return true;
}

void ReadRejectedFormats() {
  for (size_t i = 0; i < Blocks().size(); ++i) {
    if (Blocks()[i].Name != "strf") continue;
    const char kind = FormatStreamKind(i);
    if (kind != 'v' && kind != 'a') continue;
    if (IFpresent(kind == 'v' ? "vstrf" : "astrf")) continue;
    if (MIread(int32_t(i), kind))
      AddMessage(std::string("• блок strf ") + (kind == 'v' ? "видео" : "звука") +
                 " не прошёл проверку размера и прочитан как есть");
  }
}

}  // namespace rv
