// powerlog-icons: writes the program's icon as PNG files of the sizes desktops look for, drawn
// by the same code that paints it in the window, so the menu entry and the window agree.
// Usage: powerlog-icons OUTPUT_FOLDER SIZE... (writes OUTPUT_FOLDER/SIZExSIZE/powerlog.png)

#include "ui/common/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Drawing needs no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments().mid(1);
    if (arguments.size() < 2) {
        std::fputs("usage: powerlog-icons OUTPUT_FOLDER SIZE...\n", stderr);
        return 2;
    }
    const QDir output(arguments.first());
    for (const QString& sizeText : arguments.mid(1)) {
        bool ok = false;
        const int size = sizeText.toInt(&ok);
        const QString folder = output.filePath(QStringLiteral("%1x%1").arg(size));
        const QString file = QDir(folder).filePath(QStringLiteral("powerlog.png"));
        if (!ok || size <= 0 || !QDir().mkpath(folder) ||
            !powerlog::appIcon().pixmap(size, size).save(file, "PNG")) {
            std::fprintf(stderr, "powerlog-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
