#pragma once
// The registry through which the main window finds the frame class for a device model and version.

#include <QString>

#include <functional>

class QWidget;

class TzDevFrameInfo
{
public:
    QString DevName;
    int DevVer = 0;
    QString FrameName;
};

using TzFrameFactory = std::function<QWidget *(QWidget *aOwner)>;

// The toolkit has no class-name registry of its own: frame classes register a factory by name.
void RegisterFrameClass(const QString &aFrameName, TzFrameFactory aFactory);
void RegisterDevFrame(const QString &DevName, int DevVer, const QString &FrameName);
// The factory registered for the first entry matching the name exactly and the version; null if none.
TzFrameFactory FindDevFrameClass(const QString &DevName, int DevVer);
// Builds the frame, names it "Frame" plus two random numbers and places it in aParent; null if no
// frame is registered for that model and version.
QWidget *CreateDevFrame(const QString &DevName, int DevVer, QWidget *aOwner, QWidget *aParent);
