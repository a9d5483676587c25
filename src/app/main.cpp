// veltra-utility: drives a Veltra shutter controller over COM1 to COM4.

#include "app_options.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/resources.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("veltra-utility"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.2.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltra"));

    // The command line is read before any window system is needed, so --help
    // and --version work on a machine without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const veltra::AppOptions options = veltra::parseAppOptions(arguments);
    switch (options.action) {
    case veltra::AppOptions::Action::Help:
    case veltra::AppOptions::Action::Version:
        std::fputs(options.text.toLocal8Bit().constData(), stdout);
        return 0;
    case veltra::AppOptions::Action::Error:
        std::fputs(options.text.toLocal8Bit().constData(), stderr);
        return veltra::kUsageExitCode;
    case veltra::AppOptions::Action::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setWindowIcon(veltra::appIcon());

    veltra::PanelOptions panelOptions;
    panelOptions.devices = options.devices;
    // A port that does not open is told on standard error too, not only in
    // its status tooltip.
    panelOptions.portFailureReporter = [](const QString& line) {
        std::fprintf(stderr, "veltra-utility: %s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    };
    veltra::CShutterPanelDlg panel(panelOptions);
    panel.startUp();
    panel.exec();
    // -1 after "Exit" or the close button, 0 after Escape.
    return panel.exitStatus();
}
