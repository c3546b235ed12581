#include "gui/gui_main.hpp"

#include "core/instance.hpp"
#include "gui/window/main_window.hpp"
#include "gui/window/pictures.hpp"

#include <vntr/platform/paths.hpp>

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

namespace vntr::gui {

int Run(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: vtbench32 [SESSION.qbl]      the evaluator's window\n"
                        "       vtbench32 --batch --help     the comparison without a window\n");
            return 0;
        }
    }
    // The single-instance check comes first: a second copy needs no display.
    const auto tempDir = platform::UserTempDirectory();
    std::unique_ptr<evaluator::InstanceLock> lock;
    if (tempDir) {
        lock = evaluator::InstanceLock::Acquire(*tempDir);
        if (!lock) return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("vtbench32");
    QApplication::setApplicationVersion("5.00");
    QApplication::setWindowIcon(ProgramIcon());
    if (!tempDir) {
        QMessageBox::critical(nullptr, evaluator::kErrorTitle, "Cannot create the temporary folder.");
        return 1;
    }
    const QStringList arguments = QApplication::arguments();
    const QString session = arguments.size() > 1 ? arguments.at(1) : QString();

    MainWindow::Setup setup;
    setup.config.tempDir = *tempDir;
    MainWindow window(std::move(setup));
    if (!window.Start(session)) return 1;
    return QApplication::exec();
}

} // namespace vntr::gui
