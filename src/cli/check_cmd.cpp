#include "cli/check_cmd.h"

#include <cstdio>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/file_state.h"
#include "check/index.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "cli/cli.h"
#include "cli/common.h"
#include "cli/console_host.h"
#include "cli/json.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace rv::cli {

const char* const kCheckOptionsHelp =
    "  --no-key-00db        do not mark ..db chunks as keyframes\n"
    "  --no-key-01wb        do not mark ..wb chunks as keyframes\n"
    "  --ask-search         ask before searching byte by byte behind a broken link\n"
    "  --scan-to-eof        ignore the movi size and scan to the end of the file\n"
    "  --bad-over KB        blocks larger than KB x 1000 bytes are bad\n"
    "  --no-beyond-eof      a block reaching past the end of the file is not bad\n"
    "  --streams-01         only stream numbers 00 and 01 are valid in chunk IDs\n"
    "  --buffer MB          read cache of MB x 1'024'000 bytes (2, 5, 10, 50, 100)\n"
    "  --yes, --no          answer every question (on a terminal without them it asks)\n";

namespace {

const char* kCheckUsage =
    "usage: rivetta-cli check FILE... [options]\n"
    "\n"
    "Walks the movi list block by block as \"проверка потока и создание индекса\" does,\n"
    "builds a new index and prints the bad-block grid and a summary. With several files\n"
    "each is checked in turn and a line per file ends the output.\n"
    "\n"
    "options:\n";

const char* kCheckFileHelp =
    "  --save-errors F.2fix        keep the bad blocks and the index in F.2fix\n"
    "  --load-errors F.2fix        start from a saved check\n"
    "  --continue                  with --load-errors: continue that check\n"
    "  --list F.errors.txt         write the bad-block grid as a text table\n"
    "  --index-out F.idx1          write the new index alone\n"
    "  --json                      print one JSON document (an array for several files)\n"
    "\n"
    "exit status: 0 the scan reached the end, 3 it ended early, 1 error, 2 bad usage;\n"
    "for several files the worst of them: 1 over 3 over 0\n";

bool TakeValue(std::vector<std::string>& args, size_t& i, std::string& value) {
  if (i + 1 >= args.size()) return false;
  value = args[i + 1];
  args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
  return true;
}

}  // namespace

bool ParseCheckOptions(std::vector<std::string>& args, std::string& error) {
  Options& o = Opt();
  for (size_t i = 0; i < args.size();) {
    const std::string a = args[i];
    std::string v;
    auto flag = [&](std::atomic<bool>& target, bool value) {
      target = value;
      args.erase(args.begin() + long(i));
    };
    if (a == "--no-key-00db")
      flag(o.key00db, false);
    else if (a == "--no-key-01wb")
      flag(o.key01wb, false);
    else if (a == "--ask-search")
      flag(o.searchNext, false);
    else if (a == "--scan-to-eof")
      flag(o.scanToEof, true);
    else if (a == "--no-beyond-eof")
      flag(o.beyondEof, false);
    else if (a == "--streams-01")
      flag(o.streams01, true);
    else if (a == "--yes" || a == "--no") {
      SetAlwaysAnswer(a == "--yes" ? 1 : 0);
      args.erase(args.begin() + long(i));
    } else if (a == "--bad-over") {
      if (!TakeValue(args, i, v) || !IsNumber(v) || v[0] == '-') {
        error = "--bad-over needs a number of kilobytes";
        return false;
      }
      o.bigIsBad = true;
      o.bigLimitBytes = SizeLimitFromText(v);
    } else if (a == "--buffer") {
      if (!TakeValue(args, i, v) || !IsNumber(v) || v[0] == '-' || v.size() > 4 ||
          std::stoul(v) == 0 || std::stoul(v) > 1000) {
        error = "--buffer needs a number of megabytes (1 to 1000)";
        return false;
      }
      SetCacheSize(uint32_t(std::stoul(v)) * kCacheUnit);
    } else {
      ++i;
    }
  }
  return true;
}

bool OpenForCheck(const std::string& file, bool* opened) {
  ResetFileState();
  ClearMessages();
  InputFileName() = file;
  OpenResult r = OpenAndReadHeader(file);
  if (opened) *opened = r.opened;
  for (const auto& m : MessageLines()) std::printf("%s\n", m.c_str());
  return r.opened && !Blocks().empty();
}

bool RunStreamCheck() { return RunTask("createIDX1").result == 1; }

void PrintGrid() {
  const auto& rows = Grid().rows;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r == 1 && GridIsEmpty()) break;  // the blank row of an empty grid
    std::printf("%s\n", GridTextLine(rows[r], false).c_str());
  }
}

std::string BadBlocksJson() {
  std::vector<std::string> items;
  const auto& list = BadBlocks();
  for (size_t i = 0; i < list.size(); ++i) {
    const BadBlock& b = list[i];
    const GridRow cells = BadBlockRow(b, int(i + 1), false);
    JsonObject repeat, o;
    repeat.Num("length", b.RepeatLength).Num("byte", b.RepeatByte).Num("at", b.RepeatStart);
    o.Num("row", int64_t(i + 1))
        .Num("index", b.EntryIndex)
        .Str("id", cells[2])
        .Num("file_offset", int64_t(b.FileOffset))
        .Num("stream_offset", int64_t(b.MoviOffset))
        .Num("declared_size", b.DeclaredSize)
        .Num("real_size", b.RealSize)
        .Num("delta", b.Delta())
        .Raw("repeat", repeat.Text());
    items.push_back(o.Text());
  }
  return JsonArray(items);
}

namespace {

// Checks one file: prints what the single check prints, fills its summary line and its JSON
// object, and gives its exit status.
int CheckOne(const CheckArgs& ca, std::string& text, std::string& json) {
  int rc = kExitOk;
  bool reached = false;
  std::string error;
  bool opened = false;
  if (!OpenForCheck(ca.file, &opened)) {
    rc = kExitError;
    error = "файл не прочитан";
    if (opened) PrintRepairRebuildsHint();
  } else if (!HasBlock("LIST", "movi")) {
    rc = kExitError;
    error = "не найден поток";
    std::printf("• %s\n", error.c_str());
    PrintRepairRebuildsHint();
  } else if (!ca.loadErrors.empty() && !RestoreCrashedBlo(ca.loadErrors, ca.file)) {
    std::fprintf(stderr, "rivetta-cli check: %s is not a saved check of this file\n",
                 ca.loadErrors.c_str());
    rc = kExitError;
    error = "сохраненная проверка не подходит к файлу";
  } else {
    if (!ca.loadErrors.empty()) {
      ClearExclusions();
      ResetReadCache();
      Crashed2SG();
      Index().continueCheck = ca.continueCheck ? 'y' : 0;
    }
    reached = RunStreamCheck();
    PrintGrid();
    char summary[160];
    std::snprintf(summary, sizeof summary, "записей в индексе: %zu, битых блоков: %zu, %s",
                  Index().entries.size(), BadBlocks().size(),
                  reached ? "поток проверен до конца" : "проверка закончилась раньше конца потока");
    std::printf("%s\n", summary);
    text = summary;
    rc = reached ? kExitOk : kExitIncomplete;
    auto report = [&](SaveOutcome o, const std::string& f) {
      if (o == SaveOutcome::Failed) {
        std::fprintf(stderr, "rivetta-cli check: cannot write %s\n", f.c_str());
        rc = kExitError;
      }
    };
    size_t shown = MessageLines().size();
    if (!ca.saveErrors.empty()) report(SaveCrashedBlo(ca.saveErrors, ca.file), ca.saveErrors);
    if (!ca.listFile.empty()) report(SaveErrorsList(ca.listFile), ca.listFile);
    if (!ca.indexOut.empty()) report(SaveIndexOnly(ca.indexOut), ca.indexOut);
    PrintNewMessages(shown);  // why a side file was not written
  }
  if (!error.empty()) text = "ошибка: " + error;
  JsonObject j;
  j.Str("file", ca.file).Num("exit_status", rc).Bool("complete", reached);
  if (!error.empty()) j.Str("error", error);
  j.Num("index_entries", int64_t(Index().entries.size()))
      .Raw("bad_blocks", BadBlocksJson())
      .Raw("messages", MessagesJson());
  json = j.Text();
  return rc;
}

}  // namespace

int Check(const std::vector<std::string>& argsIn) {
  if (ShowHelp(argsIn, {kCheckUsage, kCheckOptionsHelp, kCheckFileHelp})) return kExitOk;
  std::vector<std::string> args = argsIn;
  std::string error;
  if (!ParseCheckOptions(args, error)) {
    std::fprintf(stderr, "rivetta-cli check: %s\n", error.c_str());
    return kExitUsage;
  }
  CheckArgs ca;
  std::vector<std::string> files;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool ok = true;
    if (a == "--save-errors")
      ok = NextValue(args, i, ca.saveErrors);
    else if (a == "--load-errors")
      ok = NextValue(args, i, ca.loadErrors);
    else if (a == "--list")
      ok = NextValue(args, i, ca.listFile);
    else if (a == "--index-out")
      ok = NextValue(args, i, ca.indexOut);
    else if (a == "--continue")
      ca.continueCheck = true;
    else if (a == "--json")
      json = true;
    else if (!a.empty() && a[0] == '-')
      ok = false;
    else
      files.push_back(a);
    if (!ok) {
      std::fprintf(stderr, "rivetta-cli check: bad argument '%s'\n\n", a.c_str());
      return Usage({kCheckUsage, kCheckOptionsHelp, kCheckFileHelp});
    }
  }
  const bool sideFiles = !(ca.saveErrors + ca.loadErrors + ca.listFile + ca.indexOut).empty();
  if (files.empty() || (files.size() > 1 && sideFiles)) {
    if (!files.empty()) std::fprintf(stderr, "rivetta-cli check: side files need one FILE\n\n");
    return Usage({kCheckUsage, kCheckOptionsHelp, kCheckFileHelp});
  }
  return RunBatch(files, json, [&](const std::string& f, std::string& text, std::string& object) {
    ca.file = f;
    return CheckOne(ca, text, object);
  });
}

}  // namespace rv::cli
