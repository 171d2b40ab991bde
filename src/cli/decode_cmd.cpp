#include "cli/decode_cmd.h"

#include <algorithm>
#include <cstdio>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/index.h"
#include "check/side_files.h"
#include "cli/check_cmd.h"
#include "cli/cli.h"
#include "cli/common.h"
#include "cli/console_host.h"
#include "cli/json.h"
#include "decode/decompressor.h"
#include "decode/keyframes.h"
#include "join/join.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace rv::cli {

namespace {

const char* kJoinUsage =
    "usage: rivetta-cli join A.avi B.avi ... -o OUT [--part-size N] [--yes] [--json]\n"
    "\n"
    "Joins the streams of the files under the header of the first, with a new idx1 whose\n"
    "keyframe flags come from each file's own index. Every file must be sound and indexed.\n"
    "\n"
    "  -o OUT          the joined file\n"
    "  --part-size N   OpenDML part size in bytes (default 1073741824; 0: one RIFF)\n"
    "  --yes           replace an existing OUT\n"
    "  --json          print the result as one JSON document\n"
    "\n"
    "exit status: 0 \"операция завершена\", 1 error, 3 stopped, 2 bad usage\n";

const char* kCodecsUsage =
    "usage: rivetta-cli codecs\n"
    "\n"
    "Lists the video decoders the keyframe search can use, as the codec choice shows them.\n";

const char* kKeyframesUsage =
    "usage: rivetta-cli keyframes FILE [--codec FOURCC|auto] [--use-index] [-o OUT] [--yes]\n"
    "                              [--json]\n"
    "\n"
    "Decides for every video chunk whether it is a keyframe by decoding it alone and in\n"
    "sequence, and sets the keyframe flags of the index accordingly.\n"
    "\n"
    "  --codec C     the decoder: auto (the stream header's handler) or a FOURCC\n"
    "  --use-index   take the file's own idx1 instead of checking the stream\n"
    "  -o OUT        write the repaired file with the corrected flags\n"
    "  --yes         replace an existing OUT\n"
    "  --json        print the result as one JSON document\n"
    "\n"
    "exit status: 0 \"поиск завершен\", 3 stopped, 1 error, 2 bad usage\n";

}  // namespace

int JoinCmd(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kJoinUsage})) return kExitOk;
  JoinState& j = Join();
  j.files.clear();
  j.output.clear();
  bool yes = false, json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size())
      j.output = args[++i];
    else if (args[i] == "--part-size" && i + 1 < args.size()) {
      if (!ParsePartSize(args[++i])) return Usage({kJoinUsage});
    } else if (args[i] == "--yes")
      yes = true;
    else if (args[i] == "--json")
      json = true;
    else if (!args[i].empty() && args[i][0] == '-')
      return Usage({kJoinUsage});
    else
      j.files.push_back(args[i]);
  }
  if (j.files.empty() || j.output.empty()) return Usage({kJoinUsage});
  JsonStdout out(json);
  std::string status;
  int rc = kExitError;
  if (FileExists(j.output) && !yes) {
    status = j.output + " уже существует; --yes заменит его";
  } else {
    // The join reports no progress of its own: its gauge and status line are drawn as the
    // join tab shows them, while the task runs on a thread of its own.
    RunTaskPolled("doJOIN", [&j] { DrawProgress(j.gauge, j.Status()); });
    status = j.Status();
    rc = status == "операция завершена"       ? kExitOk
         : status == "прервано пользователем" ? kExitIncomplete
                                              : kExitError;
  }
  std::printf("%s\n", status.c_str());
  JsonObject o;
  o.Raw("files", JsonStrings(j.files))
      .Str("output", j.output)
      .Num("exit_status", rc)
      .Bool("complete", rc == kExitOk)
      .Str("status", status);
  if (json) out.Emit(o.Text());
  return rc;
}

int Codecs(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kCodecsUsage})) return kExitOk;
  if (!args.empty()) return Usage({kCodecsUsage});
  for (const std::string& c : DecompressorChoices()) std::printf("%s\n", c.c_str());
  return kExitOk;
}

namespace {

// The keyframe search over the index of the open file, and the copy with the new flags.
int FindKeyframes(const std::string& file, const std::string& out, const std::string& codec,
                  bool useIndex, bool replace) {
  bool opened = false;
  if (!OpenForCheck(file, &opened) || !HasBlock("LIST", "movi")) {
    if (opened && !Blocks().empty()) std::printf("• не найден поток\n");
    if (opened) PrintRepairRebuildsHint();
    return kExitError;
  }
  if (!out.empty() && FileExists(out) && !replace) {
    std::printf("%s уже существует; --yes заменит его\n", out.c_str());
    return kExitError;
  }
  if (useIndex) {
    if (!LoadOwnIndex(file)) return std::printf("в исходном файле индекс не найден\n"), kExitError;
  } else {
    SetAlwaysAnswer(1);
    RunStreamCheck();
  }
  Keyframes().SetChoice(codec);
  Keyframes().showKeyframes = false;
  RunTask("findKK");
  const std::string result = Keyframes().Text("LabelIO");
  std::printf("%s\n%s\nопорных кадров: %u\n%s\n", Keyframes().Text("LabelKA").c_str(),
              Keyframes().Text("LabelKK").c_str(), Keyframes().keyframes.load(), result.c_str());
  if (result != "поиск завершен")
    return result == "прервано пользователем" ? kExitIncomplete : kExitError;
  if (!out.empty()) {
    size_t shown = MessageLines().size();
    OutputFileName() = out;
    RunTask("saveOUT");
    PrintNewMessages(shown);
    if (!LastWrite().complete) return kExitError;
  }
  return kExitOk;
}

}  // namespace

int KeyframesCmd(const std::vector<std::string>& argsIn) {
  if (ShowHelp(argsIn, {kKeyframesUsage})) return kExitOk;
  std::vector<std::string> args = argsIn;
  // --yes both answers the check's questions and replaces OUT; the check options take it.
  bool replace = std::find(args.begin(), args.end(), "--yes") != args.end();
  std::string error;
  if (!ParseCheckOptions(args, error)) {
    std::fprintf(stderr, "rivetta-cli keyframes: %s\n", error.c_str());
    return kExitUsage;
  }
  std::string file, out, codec = "auto";
  bool useIndex = false, json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--codec" && i + 1 < args.size())
      codec = args[++i];
    else if (a == "-o" && i + 1 < args.size())
      out = args[++i];
    else if (a == "--use-index")
      useIndex = true;
    else if (a == "--yes")
      replace = true;
    else if (a == "--json")
      json = true;
    else if (!a.empty() && a[0] == '-')
      return Usage({kKeyframesUsage});
    else if (file.empty())
      file = a;
    else
      return Usage({kKeyframesUsage});
  }
  if (file.empty()) return Usage({kKeyframesUsage});
  JsonStdout stdoutForJson(json);
  Keyframes().keyframes = 0;
  const int rc = FindKeyframes(file, out, codec, useIndex, replace);
  KeyframeState& k = Keyframes();
  JsonObject o;
  o.Str("file", file)
      .Num("exit_status", rc)
      .Bool("complete", rc == kExitOk)
      .Str("status", k.Text("LabelIO"))
      .Str("decoder", k.Text("LabelKA"))
      .Str("header_codec", k.Text("LabelKK"))
      .Num("keyframes", k.keyframes.load())
      .Num("index_entries", int64_t(Index().entries.size()))
      .Raw("output", out.empty() ? "null" : JsonString(out))
      .Raw("messages", MessagesJson());
  if (json) stdoutForJson.Emit(o.Text());
  return rc;
}

}  // namespace rv::cli
