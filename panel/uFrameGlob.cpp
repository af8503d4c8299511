#include "panel/uFrameGlob.h"

#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QWidget>

namespace {

QList<TzDevFrameInfo> &DevFrameList()
{
    static QList<TzDevFrameInfo> list;
    return list;
}

QHash<QString, TzFrameFactory> &FrameClasses()
{
    static QHash<QString, TzFrameFactory> classes;
    return classes;
}

} // namespace

void RegisterFrameClass(const QString &aFrameName, TzFrameFactory aFactory)
{
    FrameClasses().insert(aFrameName, std::move(aFactory));
}

void RegisterDevFrame(const QString &DevName, int DevVer, const QString &FrameName)
{
    DevFrameList().append(TzDevFrameInfo{DevName, DevVer, FrameName});
}

TzFrameFactory FindDevFrameClass(const QString &DevName, int DevVer)
{
    for (const TzDevFrameInfo &info : DevFrameList())
        if (info.DevName == DevName && info.DevVer == DevVer)
            return FrameClasses().value(info.FrameName);
    return nullptr;
}

QWidget *CreateDevFrame(const QString &DevName, int DevVer, QWidget *aOwner, QWidget *aParent)
{
    const TzFrameFactory factory = FindDevFrameClass(DevName, DevVer);
    if (!factory)
        return nullptr;
    QWidget *frame = factory(aOwner);
    if (!frame)
        return nullptr;
    QRandomGenerator *random = QRandomGenerator::global();
    frame->setObjectName(QStringLiteral("Frame%1%2").arg(random->bounded(2147483647)).arg(random->bounded(2147483647)));
    frame->setParent(aParent);
    return frame;
}
