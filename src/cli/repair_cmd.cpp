#include "cli/repair_cmd.h"

#include <cstdio>
#include <filesystem>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "check/verify.h"
#include "cli/check_cmd.h"
#include "cli/cli.h"
#include "cli/common.h"
#include "cli/console_host.h"
#include "cli/json.h"
#include "decode/stream_synth.h"
#include "output/naming.h"
#include "output/reconstruction.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "riff/source.h"

namespace rv::cli {

namespace {

const char* kVerifyUsage =
    "usage: rivetta-cli verify FILE [--json]\n"
    "\n"
    "Checks the file's own indexes against its stream, entry by entry, as\n"
    "\"проверить поток по индексу\" does, and prints the result: idx1, and the OpenDML\n"
    "indexes (indx, ix##) of a file in several RIFF parts, naming the one that disagrees.\n"
    "\n"
    "  --json     print the result as one JSON document\n"
    "\n"
    "exit status: 0 the index matches the stream, 3 it does not, 1 error, 2 bad usage\n";

const char* kRepairUsage =
    "usage: rivetta-cli repair FILE [-o OUT] [options]\n"
    "       rivetta-cli repair FILE... [-d DIR] [options]\n"
    "\n"
    "Opens FILE, checks its stream, repairs the bad blocks and writes a repaired copy with a\n"
    "new idx1. FILE itself is never written. A copy larger than a RIFF part (1 GiB) is\n"
    "written as OpenDML: an idx1 for the first part, indx and ix## indexes for all.\n"
    "With several files each is repaired in turn, also after one that fails, and a line\n"
    "per file ends the output.\n"
    "\n"
    "  -o OUT               the repaired file (default: FILE's name numbered, e.g. clip.001.avi)\n"
    "  -d DIR               write each repaired file into DIR under its own name\n"
    "  --json               print one JSON document (an array for several files)\n"
    "  --fix LIST           repairs in the order given, comma-separated (default eq,isall):\n"
    "                         eq    cut repeat runs whose length equals the delta\n"
    "                         reis  cut repeat runs and set the size to real - run\n"
    "                         reno  cut repeat runs, keep sizes that already fit\n"
    "                         rere  cut repeat runs and measure the blocks again\n"
    "                         isme  keep a declared size below the real one, else fix it\n"
    "                         isall set every bad block's size to its real size\n"
    "                         none  no repair\n"
    "  --any-delta          cut runs also in blocks whose delta is not positive\n"
    "  --any-byte           cut runs of any byte, not only of zeros\n"
    "  --min-run N          shortest run to cut (default 100)\n"
    "  --header MODE        built (default), assembled or copied\n"
    "  --no-idx1            write no idx1\n"
    "  --part-size N        OpenDML part size in bytes (default 1073741824; 0: one RIFF)\n"
    "  --keep-sizes         keep the size fields of the copied chunks as found\n"
    "  --frames             put the video frame count into the headers\n"
    "  --rates              compute avih TimeScale and DataRate from TimeBetweenFrames\n"
    "  --audio-length       put the sum of the audio chunk sizes into the audio header\n"
    "  --audio-rate         with --audio-length: audio rate from the video duration\n"
    "  --reconstruct        rebuild the header from header blocks found anywhere in FILE\n"
    "                       (done by itself when the header has no avih or video strh/strf);\n"
    "                       what it cannot find is made from the stream's own chunks\n"
    "  --donor GOOD.avi     when the header must be rebuilt: avih and the streams' strh/strf\n"
    "                       from a healthy file of the same source; counts from FILE's stream\n"
    "                       (a donor whose format differs from the stream needs --yes)\n"
    "  --set REC.FIELD=V    change a header field before writing (repeatable); REC is avih,\n"
    "                       vstrh, astrh, vstrf or astrf; `rivetta-cli info --fields` lists them\n"
    "  --use-index          keep the file's own index when it matches the stream\n"
    "  --strict             save only after a check that reached the end of the stream\n"
    "  --force              save even when the check was stopped\n"
    "  --yes                also replace an existing OUT without asking\n"
    "  --no                 answer no to the search questions\n"
    "\n"
    "check options:\n";

const char* kRepairExit =
    "\nexit status: 0 written complete, 3 written but incomplete (stopped, cut short), 1 error;\n"
    "for several files the worst of them: 1 over 3 over 0\n";

// What the command line asks of a repair.
struct RepairArgs {
  std::string file, out, dir, donor;
  std::vector<std::string> files;
  bool json = false;
  std::vector<std::string> radios;  // the repairs of --fix, as the repair tab's radio names
  bool useIndex = false, strict = false, force = false, reconstruct = false;
  bool answerNo = false, replace = false;
  std::vector<std::pair<const FieldDef*, std::string>> edits;
  RepairOptions ro;
};

// Parses args into ra and the engine's options; an exit code on bad usage, else -1.
int ParseRepairArgs(std::vector<std::string> args, RepairArgs& ra) {
  for (const auto& a : args) {
    if (a == "--no") ra.answerNo = true;
    if (a == "--yes") ra.replace = true;
  }
  std::string error;
  if (!ParseCheckOptions(args, error)) {
    std::fprintf(stderr, "rivetta-cli repair: %s\n", error.c_str());
    return kExitUsage;
  }
  // Runs of zeros whose length is the delta are cut first; every bad block left then gets its
  // real size. Measured on inserted zeros, random size fields, holes and cut files, this keeps
  // at least as many intact frames as keeping declared sizes below the real one, and more when
  // a damaged size field claims less than the chunk holds.
  std::string fix = "eq,isall";
  Options& o = Opt();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    bool ok = true;
    if (a == "-o")
      ok = NextValue(args, i, ra.out);
    else if (a == "-d")
      ok = NextValue(args, i, ra.dir);
    else if (a == "--json")
      ra.json = true;
    else if (a == "--fix")
      ok = NextValue(args, i, fix);
    else if (a == "--any-delta")
      ra.ro.positiveDeltaOnly = false;
    else if (a == "--any-byte")
      ra.ro.zeroRunsOnly = false;
    else if (a == "--min-run")
      ok = NextValue(args, i, v) && MinRunFromText(v, ra.ro.minRun);
    else if (a == "--header") {
      ok = NextValue(args, i, v);
      if (v == "built")
        o.headerMode = 'M';
      else if (v == "assembled")
        o.headerMode = 'I';
      else if (v == "copied")
        o.headerMode = 'O';
      else
        ok = false;
    } else if (a == "--no-idx1") {
      o.noIdx1 = true;
    } else if (a == "--part-size") {
      ok = NextValue(args, i, v) && ParsePartSize(v);
    } else if (a == "--keep-sizes")
      o.noFixSize = true;
    else if (a == "--frames")
      o.totalFrames = true;
    else if (a == "--rates")
      o.ratesFromTbf = true;
    else if (a == "--audio-length")
      o.audioLength = true;
    else if (a == "--audio-rate")
      o.audioRate = true;
    else if (a == "--use-index")
      ra.useIndex = true;
    else if (a == "--reconstruct")
      ra.reconstruct = true;
    else if (a == "--donor")
      ok = NextValue(args, i, ra.donor);
    else if (a == "--set") {
      ok = NextValue(args, i, v);
      size_t dot = v.find('.'), eq = v.find('=');
      const FieldDef* f = nullptr;
      if (ok && dot != std::string::npos && eq != std::string::npos && dot < eq)
        f = FindField(v.substr(0, dot), v.substr(dot + 1, eq - dot - 1));
      if (!f) {
        std::fprintf(stderr,
                     "rivetta-cli repair: --set needs RECORD.FIELD=VALUE with a field "
                     "that `rivetta-cli info --fields` lists, not '%s'\n",
                     v.c_str());
        return kExitUsage;
      }
      ra.edits.push_back({f, v.substr(eq + 1)});
    } else if (a == "--strict")
      ra.strict = true;
    else if (a == "--force")
      ra.force = true;
    else if (!a.empty() && a[0] == '-')
      ok = false;
    else
      ra.files.push_back(a);
    if (!ok) {
      std::fprintf(stderr, "rivetta-cli repair: bad argument '%s'\n\n", a.c_str());
      return Usage({kRepairUsage, kCheckOptionsHelp});
    }
  }
  for (std::string rest = fix; !rest.empty();) {
    std::string f = CutToken(rest, ",");
    const char* radio = f == "eq"      ? "RadioEQ"
                        : f == "reis"  ? "RadioREIS"
                        : f == "reno"  ? "RadioRENO"
                        : f == "rere"  ? "RadioRERE"
                        : f == "isme"  ? "RadioISME"
                        : f == "isall" ? "RadioISALL"
                                       : nullptr;
    if (f == "none") continue;
    if (!radio) {
      std::fprintf(stderr, "rivetta-cli repair: unknown repair '%s' in --fix\n", f.c_str());
      return kExitUsage;
    }
    ra.radios.push_back(radio);
  }
  if (ra.files.empty() || (!ra.out.empty() && (ra.files.size() > 1 || !ra.dir.empty())))
    return Usage({kRepairUsage, kCheckOptionsHelp});
  return -1;
}

// False when OUT exists and may not be replaced (--yes, or yes at the terminal).
bool MayReplace(const std::string& out, bool replace) {
  if (!FileExists(out) || replace) return true;
  auto* host = dynamic_cast<ConsoleHost*>(&CurrentHost());
  if (host && host->interactive()) {
    Question q;
    q.text = "файл с таким именем уже существует. перезаписать?";
    if (host->Ask(q)) return true;
  }
  std::printf("• %s уже существует; --yes заменит его\n", out.c_str());
  return false;
}

// A line in the message list (and so in --json's messages), printed at once.
void Say(const std::string& line, size_t& shown) {
  AddMessage(line);
  PrintNewMessages(shown);
}

// The header from the stream's own chunks, and from the donor when one is named; a donor
// whose format differs from the stream is taken only with --yes. An exit code, or -1.
int SynthesizeHeader(const RepairArgs& ra, size_t& shown) {
  // What the search found is read into the records: a surviving audio header is kept.
  FinishReconstruction();
  bool ok = OpenSource(ra.file);
  if (ok) {
    // Without --yes a donor that differs is taken only on a yes at the terminal.
    auto takeDifferent = [&](const std::string& question) {
      PrintNewMessages(shown);
      if (ra.replace) return true;
      auto* host = dynamic_cast<ConsoleHost*>(&CurrentHost());
      Question q;
      q.text = question;
      return host && host->interactive() && host->Ask(q);
    };
    ok = MakeHeader(ra.donor, takeDifferent, " (--yes возьмёт его)");
    CloseSource();
  }
  PrintNewMessages(shown);
  return ok ? -1 : kExitError;
}

// Reads the stream formats the size checks rejected, rebuilds the header when it lacks what
// a repair needs (or when asked), and applies the --set edits. An exit code, or -1.
int PrepareHeader(RepairArgs& ra, size_t& shown) {
  if (!ra.reconstruct && HasBlock("LIST", "movi") && OpenSource(ra.file)) {
    // A stream format that the size checks rejected (a 16-byte PCM wave format, an
    // uncompressed video format) is read as it is, so the built header keeps the stream and
    // a healthy header is not taken for a missing one.
    ReadRejectedFormats();
    CloseSource();
    PrintNewMessages(shown);
  }
  if (!ra.reconstruct && !(IFpresent("avih") && IFpresent("vstrh") && IFpresent("vstrf"))) {
    Say("• в заголовке нет avih или видео strh/strf: заголовок восстанавливается по блокам, "
        "найденным в файле",
        shown);
    ra.reconstruct = true;
  }
  if (ra.reconstruct) {
    SignsOff();  // the labels tell what the search finds, not what the walk found
    bool found = Execute("reconstruction").result == 1;
    if (found) FinishReconstruction();
    PrintNewMessages(shown);
    if (!found || !HasBlock("LIST", "movi")) {
      Say("• реконструкция не нашла всех нужных блоков", shown);
      if (int rc = SynthesizeHeader(ra, shown); rc >= 0) return rc;
    } else if (!ra.donor.empty()) {
      Say("• реконструкция нашла заголовок: донор не нужен", shown);
    }
    Opt().headerMode = 'M';
  } else if (!HasBlock("LIST", "movi")) {
    std::printf("• не найден поток\n");
    return kExitError;
  } else if (!ra.donor.empty()) {
    Say("• заголовок цел: донор не нужен", shown);
  }
  for (const auto& [f, text] : ra.edits) {
    std::string err;
    if (!ApplyField(*f, text, err)) {
      std::fprintf(stderr, "rivetta-cli repair: %s.%s: %s\n", f->record, f->name, err.c_str());
      return kExitUsage;
    }
    FinishFormatEdit(f->record);
  }
  return -1;
}

struct CheckOutcome {
  bool checked = false, stopped = false;
  size_t badFound = 0;
  int rounds = 0;  // stream checks run
};

// The file's own index when asked and sound; else the stream check and the repairs, again
// while a repair cuts fragments out (up to three rounds).
CheckOutcome CheckAndRepair(const RepairArgs& ra, size_t& shown) {
  CheckOutcome r;
  InterruptAsStop interrupt;
  bool fromIndex = false;
  if (ra.useIndex && HasOwnIndex()) {
    fromIndex = Execute("verifyIDX1").result == 1;
    PrintNewMessages(shown);
    r.checked = fromIndex;
  }
  if (!fromIndex) {
    // A repair that cut fragments out may have pulled chunks back inside the movi list that
    // inserted bytes had pushed past its declared end: check again through the exclusions.
    for (int round = 0; round < 3; ++round) {
      Index().continueCheck = 0;
      r.checked = RunStreamCheck();
      ++r.rounds;
      r.stopped = StopRequested() || LastScan().stopped;
      r.badFound += BadBlocks().size();
      PrintNewMessages(shown);
      if (r.stopped) break;
      auto excluded = [] {
        uint64_t n = 0;
        for (const Exclusion& e : Exclusions()) n += e.count;
        return n;
      };
      uint64_t before = excluded();
      for (const auto& radio : ra.radios) RunBulkAction(radio, ra.ro, ra.file);
      if (excluded() == before) break;
    }
  }
  return r;
}

// Writes the repaired copy and prints what it holds; its line of the batch summary in text.
int WriteRepaired(const RepairArgs& ra, const CheckOutcome& c, size_t& shown, std::string& text) {
  ClearStop();
  OutputFileName() = ra.out;
  Execute("saveOUT");
  EndProgress();
  PrintNewMessages(shown);
  const WriteSummary& w = LastWrite();
  const char* out = ra.out.c_str();
  if (!w.written) {
    text = "файл не записан";
    std::printf("%s: %s\n", out, text.c_str());
    return kExitError;
  }
  // Chunks handed to a file that could not take them are not in it: no count is given.
  if (w.writeError) {
    text = "файл записан не полностью (ошибка записи)";
    std::printf("%s: %s\n", out, text.c_str());
    return kExitError;
  }
  char line[200];
  std::snprintf(line, sizeof line,
                "записано блоков %zu из %zu, найдено битых блоков %zu, исключено фрагментов %zu",
                w.chunksWritten - w.fromOwnIndex, Index().entries.size(), c.badFound,
                Exclusions().size());
  text = line;
  if (w.fromOwnIndex) text += ", взято из индекса файла " + std::to_string(w.fromOwnIndex);
  std::printf("%s: %s\n", out, text.c_str());
  return w.complete && c.checked ? kExitOk : kExitIncomplete;
}

}  // namespace

int Verify(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kVerifyUsage})) return kExitOk;
  std::string file;
  bool json = false;
  for (const auto& a : args) {
    if (a == "--json") {
      json = true;
      continue;
    }
    if ((!a.empty() && a[0] == '-') || !file.empty()) return Usage({kVerifyUsage});
    file = a;
  }
  if (file.empty()) return Usage({kVerifyUsage});
  JsonStdout out(json);
  std::string error;
  int rc = kExitError;
  bool opened = false;
  if (!OpenForCheck(file, &opened)) {
    error = "файл не прочитан";
    if (opened) PrintRepairRebuildsHint();
  } else if (!HasBlock("LIST", "movi")) {
    error = "не найден поток";
  } else if (!HasOwnIndex()) {
    error = "не найден индекс";
  } else {
    size_t shown = MessageLines().size();
    rc = RunTask("verifyIDX1").result == 1 ? kExitOk : kExitIncomplete;
    PrintNewMessages(shown);
  }
  if (!error.empty() && error != "файл не прочитан") std::printf("• %s\n", error.c_str());
  if (error == "не найден поток") PrintRepairRebuildsHint();
  JsonObject j;
  j.Str("file", file).Num("exit_status", rc).Bool("index_matches", rc == kExitOk);
  if (!error.empty()) j.Str("error", error);
  j.Raw("messages", MessagesJson());
  if (json) out.Emit(j.Text());
  return rc;
}

namespace {

// Repairs one file: prints what the single repair prints, fills the summary text and the
// JSON object, and gives its exit status.
int RepairOne(RepairArgs ra, std::string& text, std::string& json) {
  CheckOutcome c;
  bool tried = false;  // the write was tried
  size_t shown = 0;
  auto run = [&]() -> int {
    bool opened = false;
    OpenForCheck(ra.file, &opened);
    if (!opened) return text = "файл не открыт", kExitError;
    shown = MessageLines().size();
    // On the command line a bare file name means the current directory, not the program's.
    if (!ra.dir.empty())
      ra.out = (std::filesystem::path(ra.dir) / std::filesystem::path(ra.file).filename()).string();
    if (ra.out.empty()) ra.out = makeOutFN(std::filesystem::absolute(ra.file).string());
    if (SameFile(ra.out, ra.file)) {
      text = "выходной файл совпадает с исходным";
      return std::printf("• %s\n", text.c_str()), kExitError;
    }
    if (!MayReplace(ra.out, ra.replace)) return text = ra.out + " уже существует", kExitError;
    if (int rc = PrepareHeader(ra, shown); rc >= 0)
      return text = "файл не записан: заголовок не восстановлен", rc;

    c = CheckAndRepair(ra, shown);
    EndProgress();
    if (c.stopped && !ra.force) {
      text = "проверка прервана: файл не записан";
      std::printf("• %s (--force запишет найденное)\n", text.c_str());
      return kExitIncomplete;
    }
    if (ra.strict && !c.checked && !ra.force) {
      text = "проверка не дошла до конца потока: файл не записан";
      std::printf("• %s (--strict)\n", text.c_str());
      return kExitIncomplete;
    }
    tried = true;
    return WriteRepaired(ra, c, shown, text);
  };
  const char headerMode = Opt().headerMode;
  const int rc = run();
  Opt().headerMode = headerMode;  // a reconstruction chose the built header for this file only
  const WriteSummary& w = LastWrite();
  JsonObject j;
  j.Str("file", ra.file).Num("exit_status", rc).Str("summary", text);
  j.Raw("output", ra.out.empty() ? "null" : JsonString(ra.out));
  j.Bool("written", tried && w.written && !w.writeError)
      .Bool("complete", rc == kExitOk)
      .Num("chunks_written", tried ? int64_t(w.chunksWritten - w.fromOwnIndex) : 0)
      .Num("chunks_total", int64_t(Index().entries.size()))
      .Num("from_own_index", tried ? int64_t(w.fromOwnIndex) : 0)
      .Num("bytes_written", tried ? int64_t(w.bytes) : 0)
      .Num("bad_blocks_found", int64_t(c.badFound))
      .Raw("bad_blocks", BadBlocksJson())
      .Num("fragments_cut", int64_t(Exclusions().size()))
      .Num("rounds", c.rounds)
      .Raw("messages", MessagesJson());
  json = j.Text();
  return rc;
}

}  // namespace

int Repair(const std::vector<std::string>& args) {
  if (ShowHelp(args, {kRepairUsage, kCheckOptionsHelp, kRepairExit})) return kExitOk;
  RepairArgs ra;
  if (int rc = ParseRepairArgs(args, ra); rc >= 0) return rc;
  // The search questions are answered yes unless --no: a repair needs the searches.
  SetAlwaysAnswer(ra.answerNo ? 0 : 1);
  if (!ra.dir.empty() && !std::filesystem::is_directory(ra.dir)) {
    std::fprintf(stderr, "rivetta-cli repair: %s is not a directory\n", ra.dir.c_str());
    return kExitError;
  }
  return RunBatch(ra.files, ra.json,
                  [&](const std::string& f, std::string& text, std::string& object) {
                    ra.file = f;
                    return RepairOne(ra, text, object);
                  });
}

}  // namespace rv::cli
