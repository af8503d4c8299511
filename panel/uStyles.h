#pragma once
// The panel's 23 visual styles: each a palette and a style sheet of its own, applied to the whole
// application. "Terminal" is the style of a fresh installation. The style sheets dress buttons,
// headers and tabs only, so the red flashing of a rejected field (a palette change) still shows.

#include <QObject>
#include <QPalette>
#include <QString>
#include <QStringList>

const QStringList &StyleNames();
constexpr int DefaultStyleIndex = 12; // "Terminal"

QPalette StylePalette(int aIndex);
QString StyleSheetOf(int aIndex);

// The form styler: holds the current style and applies it.
class TzFormStyler : public QObject
{
    Q_OBJECT

public:
    explicit TzFormStyler(QObject *aParent = nullptr);

    int Style() const { return fStyle; }
    // Applies a style (0..22); false, and nothing changes, for any other number.
    bool SetStyle(int aIndex);

signals:
    void Changed(int aIndex);

private:
    int fStyle = -1;
};
