#include "cli/cli.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/file_state.h"
#include "cli/check_cmd.h"
#include "cli/common.h"
#include "cli/console_host.h"
#include "cli/decode_cmd.h"
#include "cli/json.h"
#include "cli/repair_cmd.h"
#include "cli/sample.h"
#include "output/reconstruction.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "riff/source.h"

namespace rv::cli {

namespace {

const char* kUsage =
    "rivetta-cli: inspect and repair damaged AVI files\n"
    "\n"
    "usage: rivetta-cli COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  info FILE [--json]     read the header: messages, block tree, block labels\n"
    "  check FILE...          check the stream block by block, build a new index\n"
    "  verify FILE            check the file's own index against its stream\n"
    "  repair FILE...         check, repair the bad blocks, write repaired copies\n"
    "  reconstruct FILE       rebuild the header from header blocks found anywhere\n"
    "  join A B ... -o OUT    join AVI files under the header of the first\n"
    "  codecs                 the video decoders the keyframe search can use\n"
    "  keyframes FILE         find the keyframes by decoding, set the index flags\n"
    "  make-sample OUT.avi    write a small damaged AVI to try the tool on\n"
    "\n"
    "rivetta-cli COMMAND --help shows the options of one command. With --json, info,\n"
    "check, verify, repair, reconstruct, keyframes and join print one JSON document on\n"
    "stdout and nothing else; progress stays on stderr.\n"
    "exit status: 0 done, 1 error, 2 bad usage, 3 ended early; for several files the\n"
    "worst of them (1 over 3 over 0)\n";

const char* kInfoUsage =
    "usage: rivetta-cli info FILE [--json] [--fields]\n"
    "       rivetta-cli info --fields\n"
    "\n"
    "Opens FILE read-only, walks its RIFF blocks and reads the header records, as the\n"
    "button \"открыть и прочитать заголовок\" does, and prints the message list, the block\n"
    "tree with the field lines of the header records, and the seven block labels.\n"
    "\n"
    "  --json     print the same as one JSON document\n"
    "  --fields   list the header fields that repair --set RECORD.FIELD=VALUE can change\n"
    "             (with FILE: with their values)\n"
    "\n"
    "exit status: 0 the file was read (messages are not errors), 1 it could not be opened\n"
    "or has no RIFF signature, 2 bad usage\n";

const char* kSampleUsage =
    "usage: rivetta-cli make-sample OUT.avi\n"
    "\n"
    "Writes a small AVI (video and audio chunks, hdrl, idx1) with 4096 zero bytes inserted\n"
    "into one video chunk and one broken size field.\n";

const char* ColorName(LabelColor c) {
  switch (c) {
    case LabelColor::Blue: return "blue";
    case LabelColor::Maroon: return "maroon";
    default: return "gray";
  }
}

const char* ColorNameRu(LabelColor c) {
  switch (c) {
    case LabelColor::Blue: return "синий (прочитан)";
    case LabelColor::Maroon: return "бордовый (есть)";
    default: return "серый (нет)";
  }
}

// Depth of a tree line, for indentation.
int Depth(const TreeModel& t, int32_t line) {
  int d = 0;
  for (int32_t p = t.lines[size_t(line)].parent; p >= 0; p = t.lines[size_t(p)].parent) ++d;
  return d;
}

// Tree lines in display order: each line followed by its children.
std::vector<int32_t> DisplayOrder(const TreeModel& t) {
  std::vector<std::vector<int32_t>> children(t.lines.size());
  std::vector<int32_t> roots;
  for (size_t i = 0; i < t.lines.size(); ++i) {
    int32_t p = t.lines[i].parent;
    (p >= 0 ? children[size_t(p)] : roots).push_back(int32_t(i));
  }
  std::vector<int32_t> order, stack(roots.rbegin(), roots.rend());
  while (!stack.empty()) {
    int32_t l = stack.back();
    stack.pop_back();
    order.push_back(l);
    const auto& c = children[size_t(l)];
    stack.insert(stack.end(), c.rbegin(), c.rend());
  }
  return order;
}

void PrintText() {
  std::printf("сообщения:\n");
  for (const auto& m : MessageLines()) std::printf("%s\n", m.c_str());
  std::printf("\nблоки:\n");
  const TreeModel& t = Tree();
  for (int32_t l : DisplayOrder(t))
    std::printf("%*s%s\n", 2 * Depth(t, l), "", t.lines[size_t(l)].text.c_str());
  std::printf("\nметки:\n");
  for (int i = 0; i < kLabelCount; ++i)
    std::printf("%-7s %s\n", kLabelCaptions[size_t(i)], ColorNameRu(GetLabel(i)));
}

std::string FieldsJson(int32_t node) {
  // The field lines under a block's tree line ("Name = value").
  const TreeModel& t = Tree();
  std::string out = "{";
  bool first = true;
  for (const TreeLine& l : t.lines) {
    if (l.parent != node || l.block >= 0) continue;
    size_t eq = l.text.find(" = ");
    if (eq == std::string::npos) continue;
    out += first ? "" : ",";
    first = false;
    out += JsonString(l.text.substr(0, eq)) + ":" + JsonString(l.text.substr(eq + 3));
  }
  return out + "}";
}

// The file's header as read: messages, blocks, labels, the movi position.
JsonObject HeaderJson(const std::string& file) {
  std::string j = "[";
  const auto& blocks = Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    const BlockRecord& b = blocks[i];
    j += i ? "," : "";
    j += "{\"index\":" + std::to_string(i) + ",\"name\":" + JsonString(b.Name) +
         ",\"type\":" + JsonString(b.TypeTag) + ",\"parent\":" + std::to_string(b.Parent) +
         ",\"offset\":" + std::to_string(b.Offset) + ",\"size\":" + std::to_string(b.Size);
    if (b.Kind) j += ",\"kind\":" + JsonString(std::string(1, b.Kind));
    std::string fields = FieldsJson(b.Node);
    if (fields != "{}") j += ",\"fields\":" + fields;
    j += "}";
  }
  j += "]";
  JsonObject labels, o;
  for (int i = 0; i < kLabelCount; ++i)
    labels.Str(kElementNames[size_t(i)], ColorName(GetLabel(i)));
  o.Str("file", file).Raw("messages", MessagesJson()).Raw("blocks", j);
  o.Raw("labels", labels.Text())
      .Raw("movi_position", HasBlock("LIST", "movi") ? std::to_string(Header().moviPos) : "null")
      .Bool("extended", Header().extended == 'y');
  return o;
}

const char* KindText(FieldKind k) {
  switch (k) {
    case FieldKind::Chars4: return "4 characters";
    case FieldKind::Signed32: return "signed decimal";
    case FieldKind::Hex32: return "hex";
    case FieldKind::Low16: return "decimal, 16 bits";
    case FieldKind::CbSize: return "decimal, 16 bits";
    case FieldKind::VideoCodec:
    case FieldKind::AudioCodec: return "hex bytes, comma-separated";
  }
  return "";
}

void PrintFields(bool withValues) {
  for (const FieldDef& f : EditableFields()) {
    std::string name = std::string(f.record) + "." + f.name;
    if (withValues)
      std::printf("%-30s %-28s %s\n", name.c_str(), KindText(f.kind), FieldText(f).c_str());
    else
      std::printf("%-30s %s\n", name.c_str(), KindText(f.kind));
  }
}

int Info(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kInfoUsage})) return kExitOk;
  bool json = false, fields = false;
  std::string file;
  for (const auto& a : args) {
    if (a == "--json")
      json = true;
    else if (a == "--fields")
      fields = true;
    else if (!a.empty() && a[0] == '-')
      return Usage({kInfoUsage});
    else if (file.empty())
      file = a;
    else
      return Usage({kInfoUsage});
  }
  if (file.empty() && fields) {
    PrintFields(false);
    return kExitOk;
  }
  if (file.empty()) return Usage({kInfoUsage});
  ResetFileState();
  ClearMessages();
  OpenResult r = OpenAndReadHeader(file);
  if (fields) {
    PrintFields(true);
    return r.opened ? kExitOk : kExitError;
  }
  if (json)
    std::printf("%s\n", HeaderJson(file).Text().c_str());
  else
    PrintText();
  return r.opened && !Blocks().empty() ? kExitOk : kExitError;
}

const char* kReconstructUsage =
    "usage: rivetta-cli reconstruct FILE [--json]\n"
    "\n"
    "Searches the whole file for the header blocks a repair needs (avih, strh, strf, indx and\n"
    "the movi list), as \"реконструкция заголовка\" does, and prints the blocks found, the\n"
    "messages and the resulting tree.\n"
    "\n"
    "  --json     print the same as one JSON document, as info --json does\n"
    "\n"
    "exit status: 0 the blocks needed were found, 3 the search ran to the end, 1 error\n";

int Reconstruct(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kReconstructUsage})) return kExitOk;
  std::vector<std::string> rest = args;
  const bool json = std::erase(rest, "--json") > 0;
  if (rest.size() != 1 || rest[0].empty() || rest[0][0] == '-') return Usage({kReconstructUsage});
  ResetFileState();
  ClearMessages();
  InputFileName() = rest[0];
  Completion c = RunTask("reconstruction");
  if (c.result == 1) FinishReconstruction();
  const int rc = Blocks().empty() ? kExitError : c.result == 1 ? kExitOk : kExitIncomplete;
  if (!json)
    PrintText();
  else
    std::printf(
        "%s\n",
        HeaderJson(rest[0]).Num("exit_status", rc).Bool("complete", rc == kExitOk).Text().c_str());
  return rc;
}

int MakeSampleCmd(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kSampleUsage})) return kExitOk;
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') return Usage({kSampleUsage});
  SampleInfo info;
  if (!WriteSample(args[0], &info)) {
    std::fprintf(stderr, "rivetta-cli: не удалось записать %s\n", args[0].c_str());
    return kExitError;
  }
  std::printf(
      "%s: %d видео- и %d звуковых блоков; нули вставлены в видеоблок %d, "
      "размер видеоблока %d испорчен\n",
      args[0].c_str(), info.videoChunks, info.audioChunks, info.zeroRunChunk, info.brokenSizeChunk);
  return kExitOk;
}

}  // namespace

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage({kUsage});
  std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  static ConsoleHost host;
  SetHost(&host);
  if (cmd == "info") return Info(args);
  if (cmd == "make-sample") return MakeSampleCmd(args);
  if (cmd == "reconstruct") return Reconstruct(args);
  if (cmd == "join") return JoinCmd(args);
  if (cmd == "codecs") return Codecs(args);
  if (cmd == "keyframes") return KeyframesCmd(args);
  if (cmd == "check") return Check(args);
  if (cmd == "verify") return Verify(args);
  if (cmd == "repair") return Repair(args);
  std::fprintf(stderr, "rivetta-cli: неизвестная команда '%s'\n\n", cmd.c_str());
  return Usage({kUsage});
}

}  // namespace rv::cli
