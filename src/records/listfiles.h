// List files: loading the two lists from files and saving them. This header holds the list half
// of the CommSetting module (LoadFileToList2, LoadFileToList1 and the line writer); its link half
// (FileExists, OpenComm) is in link/commsetting.h.
#pragma once

#include <QString>

#include <string>

namespace morven {

class LineListModel;
class LineStore;

// The bytes of a file. When reading fails part way, `bytes` holds the complete lines read
// before the failure and `complete` is false.
struct FileBytes
{
    std::string bytes;
    bool complete = false;
};
FileBytes readFileBytes(const QString &path);

// CommSetting, list half: the routines behind "Open file", "Open file1" and the two "Save as".
// The link half (FileExists, OpenComm) is in link/commsetting.h; the window includes both.
namespace CommSetting {

// Empties list1, then adds the file's lines at the end of list2. False when path is empty or
// reading failed; the lines read before a failure stay.
bool LoadFileToList2(const QString &path, LineListModel &list1, LineListModel &list2);
// Empties list1, then adds the file's lines to it.
bool LoadFileToList1(const QString &path, LineListModel &list1);

// Appends every non-empty item to the file at path, each followed by CR LF, creating the file
// when needed; a list without non-empty items creates nothing. The file is opened once for
// the whole list rather than once per item, which is what makes big lists fast to save.
// False when nothing could be written or writing stopped part way.
bool AppendLinesToFile(const QString &path, const LineStore &items);

} // namespace CommSetting
} // namespace morven
