// The window's file and record buttons: load, save and clear the two lists, and convert
// record lines into chunk lines.
#include "app/frmmain.h"

#include "link/commsetting.h"
#include "records/listfiles.h"

#include <QFile>
#include <QLabel>

namespace morven {

namespace {
const QString InvalidFile = QStringLiteral("Invalid file name,please re open the file!");
const QString OpenTitle = QStringLiteral("Open file...");
const QString SaveTitle = QStringLiteral("Save file...");
} // namespace

void FrmMain::Command10_Click()
{
    const QString path = dialogs_->openFile(OpenTitle,
        QStringLiteral("ZMA file(*.ZMA)|*.ZMA|ZMB file(*.ZMB)|*.ZMB|HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|"
                       "all file(*.*)|*.*||"));
    if (path.isEmpty())
        return;
    if (!CommSetting::FileExists(path)) {
        dialogs_->message(InvalidFile);
        return;
    }
    CommSetting::LoadFileToList2(path, List1Items, List2Items);
    Label3->setText(QLatin1String("File:") + path);
}

void FrmMain::Command54_Click()
{
    const QString path = dialogs_->openFile(
        OpenTitle, QStringLiteral("HEX file(*.HEX)|*.HEX|txt file(*.txt)|*.txt|all file(*.*)|*.*||"));
    if (path.isEmpty())
        return;
    if (!CommSetting::FileExists(path)) {
        dialogs_->message(InvalidFile);
        return;
    }
    CommSetting::LoadFileToList1(path, List1Items);
}

void FrmMain::Command55_Click()
{
    saveList(List1Items, QStringLiteral("HEX file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||"));
}

void FrmMain::Command3_Click()
{
    saveList(List2Items, QStringLiteral("file(*.HEX)|*.HEX|TXT file(*.TXT)|*.TXT|all file(*.*)|*.*||"));
}

void FrmMain::saveList(const LineListModel &list, const QString &filter)
{
    const QString path = dialogs_->saveFile(SaveTitle, filter);
    if (path.isEmpty())
        return;
    if (CommSetting::FileExists(path)) {
        if (!dialogs_->askYesNo(QStringLiteral("Do you want to overwrite the file?"), QStringLiteral("Save file")))
            return;
        // A file that cannot be deleted gets the items after its old content.
        QFile::remove(path);
    }
    CommSetting::AppendLinesToFile(path, list.lines());
}

void FrmMain::Command7_Click()
{
    List1Items.clear();
}

void FrmMain::Command6_Click()
{
    List2Items.clear();
}

void FrmMain::Command2_Click()
{
    convertRecordList(Format::O);
}

void FrmMain::Command14_Click()
{
    convertRecordList(Format::W);
}

void FrmMain::Command16_Click()
{
    convertRecordList(Format::PW);
}

void FrmMain::convertRecordList(Format format)
{
    ConversionResult result = convertRecords(List1Items.lines(), format);
    List2Items.setLines(std::move(result.lines));
    // A refused record stops the run; the lines made before it stay in the list.
    if (result.error)
        dialogs_->message(
            QStringLiteral("Line %1: %2").arg(result.error->line).arg(QString::fromStdString(result.error->message)));
}

} // namespace morven
