// Editing the header records: the fields of the four edit panels, their texts and the rules
// by which a text is stored back, shared by the panels and the command line's --set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff/header.h"

namespace rv {

enum class FieldKind {
  Chars4,      // four characters, zero-filled
  Signed32,    // a 32-bit field shown and read as a signed decimal number
  Hex32,       // eight upper-case hex digits; read with HexToInt
  Low16,       // a 16-bit field: decimal, the low 16 bits stored
  CbSize,      // 16-bit, a text that is not a number counts as 0
  VideoCodec,  // codec data: the bytes typed, the size field follows
  AudioCodec,  // codec data: cbSize bytes, bad or missing tokens give 0
};

struct FieldDef {
  const char* record;  // "avih", "vstrh", "astrh", "vstrf", "astrf"
  const char* name;    // the field's name, as in the tree lines
  const char* edit;    // the panel's text field (objectName)
  const char* label;   // its caption
  FieldKind kind;
};

// Every editable field, in panel order.
const std::vector<FieldDef>& EditableFields();
const FieldDef* FindField(const std::string& record, const std::string& name);

// The text a panel shows for a field.
std::string FieldText(const FieldDef& f);
// Stores a field's text into its record. False with a message naming the value when a
// number field does not hold a number; the record keeps its value then.
bool ApplyField(const FieldDef& f, const std::string& text, std::string& error);
// After a format panel is applied: the size fields that follow the codec data.
void FinishFormatEdit(const std::string& record);

// Signed decimal text of a 32-bit pattern, and back (accepts -2^31 .. 2^32-1).
std::string SignedText(uint32_t v);
bool ParseSigned(const std::string& text, uint32_t& v);
// Codec-data texts.
Bytes ParseVideoCodecData(const std::string& text);
Bytes ParseAudioCodecData(const std::string& text, uint16_t cbSize);
// The audio codec data as text: the bytes held, a missing one as "??".
std::string AudioCodecText(const AudioStrfRecord& r);

// Refreshes the tree line of block b and its field lines after its record was edited.
void RefreshBlockLines(int32_t b, const std::string& record);
// "прочитать сколько есть": reads a rejected strf block into the video ('v') or audio record
// straight from the open source file. False when the file holds nothing at the block.
bool MIread(int32_t b, char kind);
// The first video and audio formats that the size checks turned down (a 16-byte PCM wave
// format, an odd size) read as they stand, each with a message, so that a header built from
// the records keeps their streams. The source file must be open.
void ReadRejectedFormats();

}  // namespace rv
