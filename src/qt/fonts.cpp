#include "qt/fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QString>

namespace platform {
namespace {

// Debian's fonts-wine keeps the Windows dialog fonts here, outside fontconfig's folders.
constexpr const char *kWineFontFolder = "/usr/share/wine/fonts/";

void addWineFontsIfMissing()
{
    static const bool done = [] {
        if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
            return true;
        for (const char *name : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
            const QString path = QString::fromLatin1(kWineFontFolder) + QString::fromLatin1(name);
            if (QFile::exists(path))
                QFontDatabase::addApplicationFont(path);
        }
        return true;
    }();
    Q_UNUSED(done);
}

QFont pixelFont(const QString &family, bool bold)
{
    addWineFontsIfMissing();
    QFont font(family);
    font.setPixelSize(11); // 8 points at 96 dots per inch
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

QFont dialogFont() { return pixelFont(QStringLiteral("Tahoma"), false); }

QFont captionFont()
{
    // Wine's MS Sans Serif has no bold face and Qt does not embolden it: Tahoma bold
    // is the nearest face that is really bold.
    const QString family = QStringLiteral("MS Sans Serif");
    QFont font = pixelFont(family, true);
    if (!QFontDatabase::styles(family).contains(QStringLiteral("Bold")))
        font = pixelFont(QStringLiteral("Tahoma"), true);
    return font;
}

} // namespace platform
