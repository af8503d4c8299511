#include "panel/uStyles.h"

#include <QApplication>
#include <QColor>

namespace {

// The colours a style is made of.
struct TzStyleColours
{
    const char *Window;
    const char *Base;
    const char *Text;
    const char *ButtonTop;
    const char *ButtonBottom;
    const char *Border;
    const char *Highlight;
    const char *HighlightText;
    int Radius;
};

// In the order of StyleNames().
const TzStyleColours Styles[] = {
    {"#d5e4f7", "#ffffff", "#15428b", "#e3efff", "#afd2ff", "#6593cf", "#ffd98a", "#15428b", 3}, // Office 2003 Blue
    {"#eaeaf0", "#ffffff", "#2c2c3c", "#f3f3f7", "#c9c9d6", "#7c7c94", "#ffd98a", "#2c2c3c", 3}, // Office 2003 Silver
    {"#eef0dc", "#ffffff", "#37461a", "#f5f7e8", "#cfd8a5", "#778b4a", "#ffd98a", "#37461a", 3}, // Office 2003 Olive
    {"#d4d0c8", "#ffffff", "#000000", "#e8e6e1", "#c4c0b8", "#808080", "#0a246a", "#ffffff", 0}, // Office 2003 Classic
    {"#bfdbff", "#ffffff", "#15428b", "#e4efff", "#a9cbf7", "#7da2ce", "#ffe48c", "#15428b", 4}, // Office 2007 Blue
    {"#dde1e7", "#ffffff", "#3b3b3b", "#f5f6f8", "#c6cbd3", "#9199a4", "#ffe48c", "#3b3b3b", 4}, // Office 2007 Silver
    {"#53565c", "#f2f2f2", "#ffffff", "#6e7177", "#3c3e42", "#2a2b2e", "#ffbd45", "#000000", 4}, // Office 2007 Black
    {"#ece9d8", "#ffffff", "#000000", "#fdfdfb", "#d6d0c0", "#003c74", "#316ac5", "#ffffff", 3}, // Windows XP
    {"#e9ecef", "#ffffff", "#1e1e1e", "#f2f2f2", "#cfcfcf", "#707070", "#3399ff", "#ffffff", 3}, // Windows Vista
    {"#eef2f7", "#ffffff", "#1e1e1e", "#f6f6f6", "#dcdcdc", "#8e8f8f", "#cce8ff", "#000000", 3}, // Windows 7
    {"#f0f0f0", "#ffffff", "#000000", "#e5e5e5", "#e5e5e5", "#acacac", "#3399ff", "#ffffff", 0}, // Windows 8
    {"#f0f0f0", "#ffffff", "#000000", "#e1e1e1", "#e1e1e1", "#adadad", "#0078d7", "#ffffff", 0}, // Windows 10
    {"#e6e6e6", "#ffffff", "#1a1a1a", "#f4f4f4", "#d2d2d2", "#8c8c8c", "#4a6f9c", "#ffffff", 2}, // Terminal
    {"#d9e4f2", "#ffffff", "#1e395b", "#edf3fa", "#c7d7ec", "#8ba0bc", "#fce28b", "#1e395b", 2}, // Office 2010 Blue
    {"#e9edf1", "#ffffff", "#3b3b3b", "#f9fafb", "#dfe3e8", "#a5acb5", "#fce28b", "#3b3b3b", 2}, // Office 2010 Silver
    {"#6a6a6a", "#f0f0f0", "#ffffff", "#878787", "#505050", "#333333", "#fce28b", "#000000", 2}, // Office 2010 Black
    {"#ffffff", "#ffffff", "#444444", "#ffffff", "#ffffff", "#d4d4d4", "#cde6f7", "#262626", 0}, // Office 2013 White
    {"#f3f3f3", "#ffffff", "#444444", "#f3f3f3", "#f3f3f3", "#c6c6c6", "#cde6f7", "#262626",
     0}, // Office 2013 Light gray
    {"#dfdfdf", "#ffffff", "#262626", "#e9e9e9", "#e9e9e9", "#ababab", "#cde6f7", "#262626", 0}, // Office 2013 Gray
    {"#ffffff", "#ffffff", "#262626", "#fdfdfd", "#fdfdfd", "#c5c5c5", "#2b579a", "#ffffff", 0}, // Office 2016 White
    {"#b2b2b2", "#f0f0f0", "#262626", "#d4d4d4", "#d4d4d4", "#6a6a6a", "#2b579a", "#ffffff", 0}, // Office 2016 Gray
    {"#363636", "#e6e6e6", "#f0f0f0", "#4a4a4a", "#4a4a4a", "#262626", "#0f6fc6", "#ffffff", 0}, // Office 2016 Black
    {"#f5efe6", "#fffdf8", "#3a2e1f", "#fbf6ee", "#e6d7c1", "#a88d67", "#c9822b", "#ffffff", 5}, // Custom
};
static_assert(std::size(Styles) == 23);

bool InRange(int aIndex)
{
    return aIndex >= 0 && aIndex < int(std::size(Styles));
}

} // namespace

const QStringList &StyleNames()
{
    static const QStringList names{
        QStringLiteral("Office 2003 Blue"),
        QStringLiteral("Office 2003 Silver"),
        QStringLiteral("Office 2003 Olive"),
        QStringLiteral("Office 2003 Classic"),
        QStringLiteral("Office 2007 Blue"),
        QStringLiteral("Office 2007 Silver"),
        QStringLiteral("Office 2007 Black"),
        QStringLiteral("Windows XP"),
        QStringLiteral("Windows Vista"),
        QStringLiteral("Windows 7"),
        QStringLiteral("Windows 8"),
        QStringLiteral("Windows 10"),
        QStringLiteral("Terminal"),
        QStringLiteral("Office 2010 Blue"),
        QStringLiteral("Office 2010 Silver"),
        QStringLiteral("Office 2010 Black"),
        QStringLiteral("Office 2013 White"),
        QStringLiteral("Office 2013 Light gray"),
        QStringLiteral("Office 2013 Gray"),
        QStringLiteral("Office 2016 White"),
        QStringLiteral("Office 2016 Gray"),
        QStringLiteral("Office 2016 Black"),
        QStringLiteral("Custom"),
    };
    return names;
}

QPalette StylePalette(int aIndex)
{
    const TzStyleColours &c = Styles[InRange(aIndex) ? aIndex : DefaultStyleIndex];
    const QColor window(c.Window), base(c.Base), text(c.Text), button(c.ButtonTop), highlight(c.Highlight);
    QPalette palette(button, window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, base.darker(104));
    // Fields are light in every style, so their text is dark.
    palette.setColor(QPalette::Text, base.lightness() > 128 ? QColor(0x1a, 0x1a, 0x1a) : QColor(Qt::white));
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText,
                     QColor(c.ButtonBottom).lightness() > 110 ? QColor(0x1a, 0x1a, 0x1a) : QColor(Qt::white));
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, QColor(c.HighlightText));
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, QColor(0x1a, 0x1a, 0x1a));
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     window.lightness() > 128 ? text.lighter(250) : text.darker(160));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    return palette;
}

QString StyleSheetOf(int aIndex)
{
    const TzStyleColours &c = Styles[InRange(aIndex) ? aIndex : DefaultStyleIndex];
    const QString buttonText = QColor(c.ButtonBottom).lightness() > 110 ? QStringLiteral("#1a1a1a")
                                                                        : QStringLiteral("#ffffff");
    return QStringLiteral(
               "QPushButton { color: %8; border: 1px solid %5; border-radius: %9px; padding: 2px 6px;"
               " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %3, stop:1 %4); }\n"
               "QPushButton:hover { border-color: %6; }\n"
               "QPushButton:pressed, QPushButton:checked { background: %6; color: %7; }\n"
               "QPushButton:disabled { color: #8a8a8a; background: %1; }\n"
               "QHeaderView::section { color: %2; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
               " stop:0 %3, stop:1 %4); border: 0px; border-right: 1px solid %5; border-bottom: 1px solid %5;"
               " padding: 2px; }\n"
               "QTabBar::tab { color: %2; background: %3; border: 1px solid %5; padding: 3px 10px; }\n"
               "QTabBar::tab:selected { background: %1; border-bottom-color: %1; }\n")
        .arg(QLatin1String(c.Window), QLatin1String(c.Text), QLatin1String(c.ButtonTop), QLatin1String(c.ButtonBottom),
             QLatin1String(c.Border), QLatin1String(c.Highlight), QLatin1String(c.HighlightText), buttonText)
        .arg(c.Radius);
}

TzFormStyler::TzFormStyler(QObject *aParent) : QObject(aParent) {}

bool TzFormStyler::SetStyle(int aIndex)
{
    if (!InRange(aIndex))
        return false;
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance())) {
        app->setPalette(StylePalette(aIndex));
        app->setStyleSheet(StyleSheetOf(aIndex));
    }
    const bool changed = aIndex != fStyle;
    fStyle = aIndex;
    if (changed)
        emit Changed(aIndex);
    return true;
}
