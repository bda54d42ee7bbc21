// Scripted answers to the window's questions.
#pragma once

#include "app/dialogs.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace morven::test {

// Answers the window's questions from a script and keeps what it was shown, so tests never block.
class ScriptedDialogs final : public Dialogs
{
public:
    struct Shown
    {
        QString kind; // "message", "yesno", "open", "save"
        QString text; // message text or dialog title
        QString extra; // question title or filter
    };

    void message(const QString &text) override { shown.push_back({QStringLiteral("message"), text, {}}); }
    bool askYesNo(const QString &text, const QString &title) override
    {
        shown.push_back({QStringLiteral("yesno"), text, title});
        return take(yesNoAnswers, false);
    }
    QString openFile(const QString &title, const QString &filter) override
    {
        shown.push_back({QStringLiteral("open"), title, filter});
        if (whileOpen)
            whileOpen();
        return take(paths, QString());
    }
    QString saveFile(const QString &title, const QString &filter) override
    {
        shown.push_back({QStringLiteral("save"), title, filter});
        return take(paths, QString());
    }

    QStringList messages() const
    {
        QStringList out;
        for (const Shown &s : shown)
            if (s.kind == QLatin1String("message"))
                out << s.text;
        return out;
    }

    // Runs while a file dialog is open, e.g. to take the chosen file away.
    std::function<void()> whileOpen;
    std::deque<bool> yesNoAnswers;
    std::deque<QString> paths; // an empty path cancels the dialog
    std::vector<Shown> shown;

private:
    template <class T> static T take(std::deque<T> &queue, T fallback)
    {
        if (queue.empty())
            return fallback;
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};

} // namespace morven::test
