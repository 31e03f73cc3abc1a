// tarnwell-gui: the wizard.

#include <QApplication>

#include "app/Artwork.h"
#include "app/CKorvaneApp.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setWindowIcon(tarnwell::art::AppIcon());
    QApplication::setDesktopFileName("tarnwell-gui");
    tarnwell::CKorvaneApp app;
    return app.Run();
}
