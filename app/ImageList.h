#pragma once

#include <QIcon>

// The glyph list shared by the menu and the toolbar: 28 images of 16 x 16 pixels, kept as resources
// (drawn by app/resources/make_glyphs.py). Which command shows which index is in Main.ui.
class TImageList {
public:
    static constexpr int kCount = 28;
    int Count() const { return kCount; }
    QSize ImageSize() const { return QSize(16, 16); }
    // The image at the index; a null icon outside 0 .. Count() - 1.
    QIcon Icon(int index) const
    {
        if (index < 0 || index >= kCount)
            return {};
        return QIcon(QStringLiteral(":/glyphs/%1.png").arg(index, 2, 10, QLatin1Char('0')));
    }
};
