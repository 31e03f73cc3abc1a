// tarnwell-gui: the wizard.

#include <QApplication>

#include <cstdio>
#include <cstring>

#include "gui/Artwork.h"
#include "gui/WizardApp.h"

namespace {
// Answered before Qt starts, so that they work without a display (help2man
// makes the manual page from them).
bool AnswerWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tarnwell-gui 21.04");
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("Usage: tarnwell-gui [Qt options]\n"
                      "The Tarnwell wizard: choose a drive, a volume or an image file, scan it, and copy\n"
                      "lost and deleted files to a folder on another drive. Sources are only ever read.\n"
                      "\n"
                      "Raw devices need root or membership of the disk group; the desktop entry starts\n"
                      "the wizard through pkexec for that.\n"
                      "\n"
                      "Options:\n"
                      "  -h, --help     Print this help and exit\n"
                      "  --version      Print the version and exit\n"
                      "\n"
                      "The same engine is available as the tarnwell command.");
            return true;
        }
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (AnswerWithoutWindow(argc, argv)) return 0;
    QApplication qt(argc, argv);
    QApplication::setWindowIcon(tarnwell::art::AppIcon());
    QApplication::setDesktopFileName("tarnwell-gui");
    tarnwell::WizardApp app;
    return app.Run();
}
