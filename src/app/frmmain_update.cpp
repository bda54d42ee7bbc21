// The window's update workflow: the target's replies, the download engine and the short
// bootloader commands.
#include "app/frmmain.h"

#include "update/bootframes.h"
#include "app/formtimer.h"
#include "link/bytes.h"
#include "update/messages.h"

#include <QProgressBar>

namespace morven {

void FrmMain::CommRec(const QByteArray &RecData, qint16 L)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(RecData.constData());
    switch (dispatchReply(reply, engine, bytes, std::size_t(RecData.size()), L)) {
    case ReplyAction::None:
        break;
    case ReplyAction::UpdateMode:
        // The probe stops before the message, so no link test goes out while it is open.
        Timer4->setEnabled(false);
        dialogs_->message(QLatin1String(msg::UpdateMode));
        break;
    case ReplyAction::UserProgram:
        Timer4->setEnabled(false);
        dialogs_->message(QLatin1String(msg::UserProgram));
        break;
    case ReplyAction::EraseFailure:
        dialogs_->message(QLatin1String(msg::EraseFailure));
        break;
    case ReplyAction::EraseSuccess:
        dialogs_->message(QLatin1String(msg::EraseSuccess));
        break;
    case ReplyAction::EraseCheckEmpty:
        dialogs_->message(QLatin1String(msg::EraseCheckEmpty));
        break;
    case ReplyAction::StepO:
        Timer2_Timer();
        break;
    case ReplyAction::StepW:
        Timer3_Timer();
        break;
    }
}

// --- Download engine -----------------------------------------------------------------------

void FrmMain::Command4_Click()
{
    Timer4->setEnabled(false);
    if (List2Items.count() == 0) {
        dialogs_->message(QLatin1String(msg::OpenFileFirst));
        Command10_Click();
        if (List2Items.count() == 0)
            return;
    }
    sendAnnounce('W');
}

void FrmMain::Command1_Click()
{
    sendAnnounce('O');
}

void FrmMain::sendAnnounce(char letter)
{
    const std::size_t n = List2Items.count();
    // The line index is a 16-bit number: a longer list could never be sent to its end.
    if (n > MaxDownloadLines) {
        dialogs_->message(QStringLiteral("The download list holds %1 lines; one download can send at most %2.")
                              .arg(n)
                              .arg(MaxDownloadLines));
        return;
    }
    SendComm(bytesOf(announceFrame(letter, n)));
}

void FrmMain::Timer2_Timer()
{
    Timer2->setEnabled(false);
    engineStep();
}

void FrmMain::Timer3_Timer()
{
    Timer3->setEnabled(false);
    engineStep();
}

void FrmMain::engineStep()
{
    const StepOutcome step = morven::engineStep(engine, List2Items.count());
    if (step.kind == StepOutcome::Failure) {
        dialogs_->message(QLatin1String(msg::UpdateFailure));
        return;
    }
    if (step.setProgress) {
        // An empty list shows a full bar rather than a bar with no range at all.
        const int maximum = int(std::min<std::size_t>(step.maximum, INT_MAX));
        ProgressBar1->setRange(0, maximum > 0 ? maximum : 1);
        ProgressBar1->setValue(maximum > 0 ? int(step.value) : 1);
    }
    if (step.kind == StepOutcome::SendLine)
        SendSTRComm(List2Items.lines().at(step.line));
    else if (step.kind == StepOutcome::Success)
        dialogs_->message(QLatin1String(msg::UpdateSuccess));
}

// --- Bootloader commands -------------------------------------------------------------------

void FrmMain::Command13_Click()
{
    SendComm(bytesOf(frames::LinkTest));
}

void FrmMain::Command5_Click()
{
    Command33_Click();
    dialogs_->message(QLatin1String(msg::PowerUp));
    Timer4->setEnabled(true);
}

void FrmMain::Command15_Click()
{
    const QByteArray frame = bytesOf(frames::EraseFlash);
    Timer4->setEnabled(false);
    SendComm(frame);
}

void FrmMain::Command8_Click()
{
    SendComm(bytesOf(frames::EraseData));
}

void FrmMain::Command9_Click()
{
    engine.LineNo = 29;
    Timer2->setEnabled(true);
}

} // namespace morven
