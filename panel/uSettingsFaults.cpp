// What the panel says about its settings files: failed saves, files set aside, the start notice.

#include "panel/uSettingsFaults.h"

#include "common/uSafeSave.h"
#include "diagnostics/uTempLog.h"
#include "panel/uAutorunPanel.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <utility>

void TzSettingsFaults::ReportSave(const QString &aFileName, bool aSaved, const QString &aError)
{
    if (aSaved) {
        fSaveErrors.remove(aFileName);
        return;
    }
    if (fSaveErrors.value(aFileName) == aError)
        return;
    fSaveErrors.insert(aFileName, aError);
    TempLogAdd(QStringLiteral("Ошибка: настройки не сохранены, ") + aError, LogNavy);
}

void TzSettingsFaults::Note(const QString &aText)
{
    TempLogAdd(aText, LogNavy);
    if (fAtStart)
        fStartNotes.append(aText);
}

void TzSettingsFaults::ShowStartNotes(QWidget *aParent, bool aSilent)
{
    fAtStart = false;
    const QStringList notes = std::exchange(fStartNotes, {});
    // An unattended start says it in the log only (also when the file that would make it silent
    // is the one that could not be read).
    if (notes.isEmpty() || aSilent || StartedByAutorun())
        return;
    // Shown once the window is up, and not modal: nothing waits for it to be closed.
    QTimer::singleShot(0, aParent, [aParent, notes] {
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Уведомление"),
                                    notes.join(QStringLiteral("\n\n")), QMessageBox::Ok, aParent);
        box->setObjectName(QStringLiteral("StartNotes"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
}

bool TzSettingsFaults::SetAside(const QString &aFileName, const QString &aWhat, const QString &aMark,
                                const QString &aReason, const QString &aConsequence)
{
    QString error;
    const QString aside = SetFileAside(aFileName, aMark, &error);
    if (aside.isEmpty()) {
        Note(QStringLiteral("%1 %2 не используется: %3. Отложить его не удалось (%4): он останется "
                            "как есть и не будет перезаписан; %5.")
                 .arg(aWhat, QuotedPath(aFileName), aReason, error, aConsequence));
        return false;
    }
    Note(QStringLiteral("%1 %2 не используется: %3. Он сохранён под именем %4; %5.")
             .arg(aWhat, QuotedPath(aFileName), aReason, QuotedPath(QFileInfo(aside).fileName()), aConsequence));
    return true;
}
