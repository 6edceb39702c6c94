// Saves the X screen, or a rectangle of it, as a PNG: the tests' eye on what a user would see.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: valmora_screenshot out.png [x y width height]\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    QPixmap shot;
    if (screen != nullptr) {
        shot = argc == 6 ? screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                                              std::atoi(argv[5]))
                         : screen->grabWindow(0);
    }
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "valmora_screenshot: cannot grab or save the screen\n");
        return 1;
    }
    return 0;
}
