#pragma once
// Starting the panel when the user logs on, with the argument "/autorun". Windows keeps the
// command as the value "Panel Quadrel" under the current user's Run key; elsewhere it is the XDG
// autostart entry $XDG_CONFIG_HOME/autostart/panel-quadrel.desktop. Both sit behind one small
// interface.

#include <QString>

#include <memory>

class IzAutorunRegistration
{
public:
    virtual ~IzAutorunRegistration() = default;
    // The registered command, empty when there is none.
    virtual QString Command() const = 0;
    virtual bool Write(const QString &aCommand, QString *aError) = 0;
    virtual bool Delete(QString *aError) = 0;
};

std::unique_ptr<IzAutorunRegistration> NewAutorunRegistration();

// The command that starts aProgramPath at logon: the quoted path followed by " /autorun".
QString AutorunCommand(const QString &aProgramPath);

// The autostart entry of the desktop, and its Exec line for a command (quoted and escaped as the
// desktop entry format wants).
QString AutostartEntryFileName();
QString DesktopExecLine(const QString &aProgramPath);

// Whether the registered command is exactly the one of this program (a copy moved to another
// folder does not match).
bool RunKeyValueMatches();
bool RunKeyWrite(QString *aError = nullptr);
bool RunKeyDelete(QString *aError = nullptr);
