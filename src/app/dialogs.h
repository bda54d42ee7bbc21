// The modal questions the window asks, behind an interface the tests can script.
#pragma once

#include <QString>
#include <QStringList>

namespace morven {

// The modal questions the window asks: message boxes and the file dialog.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A text with an OK button, under the application's title.
    virtual void message(const QString &text) = 0;
    // Yes and No under a title of its own; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &title) = 0;
    // The chosen path, or an empty text when the operator cancels. The filter comes as
    // "description|pattern|description|pattern||".
    virtual QString openFile(const QString &title, const QString &filter) = 0;
    virtual QString saveFile(const QString &title, const QString &filter) = 0;
};

// "ZMA file(*.ZMA)|*.ZMA|...||" as the file dialog's name filters. Patterns also match in
// lower case, since firmware files come named either way, and "*.*" matches every file, with a
// dot in its name or not.
QStringList nameFiltersFromBarList(const QString &filter);

} // namespace morven
