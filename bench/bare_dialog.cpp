// Floors for a Qt dialog: a bare white 351 x 234 QDialog; with --text, the same dialog
// with the module's labels and buttons (so that fonts and the style are loaded too).
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include <cstring>

int main(int argc, char *argv[])
{
    const bool withText = argc > 1 && std::strcmp(argv[1], "--text") == 0;
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setFixedSize(351, 234);
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, Qt::white);
    dialog.setPalette(palette);
    if (withText) {
        (new QLabel(QStringLiteral("Une fois votre chiffrage terminé veuillez : "), &dialog))->move(22, 136);
        (new QPushButton(QStringLiteral("Récupérer le devis"), &dialog))->setGeometry(22, 158, 125, 50);
        (new QLabel(QStringLiteral("ou "), &dialog))->move(169, 175);
        (new QPushButton(QStringLiteral("Annuler"), &dialog))->setGeometry(202, 158, 125, 50);
        (new QLabel(QStringLiteral("Version 1.3 du 08/01/2024"), &dialog))->move(200, 216);
    }
    dialog.show();
    return app.exec();
}
