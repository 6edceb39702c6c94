// Saves the whole X screen as a PNG: the tests' eye on what a user would see.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: valmora_screenshot out.png\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "valmora_screenshot: cannot grab or save the screen\n");
        return 1;
    }
    return 0;
}
