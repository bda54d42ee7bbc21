// List files: loading the two lists from files and saving them.
#include "records/listfiles.h"

#include "records/linelistmodel.h"
#include "records/linestore.h"
#include "records/logging.h"

#include <QFile>
#include <QFileInfo>

namespace morven {

FileBytes readFileBytes(const QString &path)
{
    FileBytes result;
    QFile file(path);
    // A folder opens on some systems but reads nothing: it is not a file to load.
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        qCInfo(lcRecords) << path << "cannot be read:" << (QFileInfo(path).isDir() ? "a folder" : file.errorString());
        return result;
    }
    const qint64 size = file.size();
    // A list holds at most this much text; a larger file counts as one that cannot be read.
    if (size > qint64(LineStore::MaxBytes))
        return result;
    if (size > 0)
        result.bytes.reserve(std::size_t(size));
    char chunk[1 << 16];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n == 0) {
            result.complete = true;
            break;
        }
        if (n < 0) {
            qCInfo(lcRecords) << path << "stopped reading:" << file.errorString();
            // Keep only whole lines: a line cut by the failure was never read.
            const auto lastEnd = result.bytes.find_last_of('\r');
            result.bytes.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
            break;
        }
        result.bytes.append(chunk, std::size_t(n));
    }
    return result;
}

namespace CommSetting {

namespace {
bool loadInto(const QString &path, LineListModel &list1, LineListModel &into)
{
    if (path.isEmpty())
        return false;
    list1.clear();
    FileBytes file = readFileBytes(path);
    const bool complete = file.complete;
    return into.appendFileBytes(std::move(file.bytes)) && complete;
}
} // namespace

bool LoadFileToList2(const QString &path, LineListModel &list1, LineListModel &list2)
{
    return loadInto(path, list1, list2);
}

bool LoadFileToList1(const QString &path, LineListModel &list1)
{
    return loadInto(path, list1, list1);
}

bool AppendLinesToFile(const QString &path, const LineStore &items)
{
    if (path.isEmpty())
        return false;
    QFile file(path);
    bool opened = false;
    bool ok = true;
    writeItems(items, [&](std::string_view batch) {
        if (!ok)
            return;
        if (!opened && !(opened = file.open(QIODevice::WriteOnly | QIODevice::Append))) {
            ok = false;
            return;
        }
        ok = file.write(batch.data(), qint64(batch.size())) == qint64(batch.size());
    });
    if (opened)
        ok = file.flush() && ok;
    if (!ok)
        qCInfo(lcRecords) << path << "not written:" << file.errorString();
    return opened && ok;
}

} // namespace CommSetting
} // namespace morven
