// The window's message boxes and file dialogs, made with Qt's.
#include "app/qtdialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace morven {

QStringList nameFiltersFromBarList(const QString &filter)
{
    QStringList parts = filter.split(QLatin1Char('|'));
    while (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            // "*.*" is every file where the window comes from, dot or not; here it would hide a
            // firmware file named without an extension.
            if (pattern == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << pattern;
            if (pattern.toLower() != pattern)
                patterns << pattern.toLower();
        }
        result << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

QtDialogs::QtDialogs(QWidget *parent, QString appTitle)
    : parent_(parent)
    , appTitle_(std::move(appTitle))
{ }

void QtDialogs::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, appTitle_, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::askYesNo(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::openFile(const QString &title, const QString &filter)
{
    return showFileDialog(title, filter, false);
}

QString QtDialogs::saveFile(const QString &title, const QString &filter)
{
    return showFileDialog(title, filter, true);
}

QString QtDialogs::showFileDialog(const QString &title, const QString &filter, bool save)
{
    QFileDialog dialog(parent_, title);
    dialog.setNameFilters(nameFiltersFromBarList(filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A typed name that names nothing reaches the window, which has its own message for it.
    dialog.setFileMode(QFileDialog::AnyFile);
    // The window asks about overwriting itself, with its own words.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace morven
