// The window's message boxes and file dialogs, made with Qt's.
#pragma once

#include "app/dialogs.h"

class QWidget;

namespace morven {

class QtDialogs final : public Dialogs
{
public:
    QtDialogs(QWidget *parent, QString appTitle);

    void message(const QString &text) override;
    bool askYesNo(const QString &text, const QString &title) override;
    QString openFile(const QString &title, const QString &filter) override;
    QString saveFile(const QString &title, const QString &filter) override;

private:
    QString showFileDialog(const QString &title, const QString &filter, bool save);

    QWidget *parent_;
    QString appTitle_;
};

} // namespace morven
