// The save entry of the repair tab: the save picture ImageSA starts the writer (or saves the
// index alone) after its own checks, and CheckSAID switches the output name between the
// index file and the proposed repaired file. The handlers are members of the main window
// (TFormMain::ImageSAClick, TFormMain::CheckSAIDClick); this file holds their texts.
#pragma once

namespace save_entry {

inline constexpr const char* kCheckStreamFirst = "• проведите проверку потока";
// After a check that ended before the end of the stream.
inline constexpr const char* kCheckEndedEarly =
    "• проверка потока не дошла до конца: продолжите её (кнопка пуска в окне проверки) или, "
    "чтобы сохранить найденное, отметьте «типа.. . я знаю, что делаю»";
inline constexpr const char* kContinueCheckFirst =
    "• после вырезания фрагментов продолжите проверку потока";
inline constexpr const char* kSameAsSource = "• выходной файл совпадает с исходным";
inline constexpr const char* kOverwriteQuestion =
    "файл с таким именем уже существует. перезаписать?";
// The index file beside the source.
inline constexpr const char* kIndexSuffix = ".idx1";

}  // namespace save_entry
