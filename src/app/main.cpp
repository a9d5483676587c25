// veltra-utility: drives a Veltra shutter controller over COM1 to COM4.

#include "app_options.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/port_memory.h"
#include "gui/qt_prompter.h"
#include "gui/resources.h"
#include "quit_signals.h"
#include "serial/ccomportlink.h"
#include "traffic_log.h"
#include "veltra_version.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// The remembered ports, or nothing, said on standard error, when their file is not one.
std::unique_ptr<QSettings> openPortMemoryOrSay() {
    QString refused;
    std::unique_ptr<QSettings> memory = veltra::openPortMemory(&refused);
    if (!memory)
        std::fprintf(stderr, "veltra-utility: %s\n", refused.toLocal8Bit().constData());
    return memory;
}

}  // namespace

int main(int argc, char** argv) {
    // From the very start a termination signal ends the program with status 0,
    // once there is a panel to end as soon as it runs.
    veltra::catchQuitSignals();
    QCoreApplication::setApplicationName(QStringLiteral("veltra-utility"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRA_VERSION_TEXT));
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

    // A traffic log that cannot be opened is told, and the program runs without it.
    veltra::TrafficLog traffic;
    QString trafficFailure;
    if (QString reason; !options.trafficLog.isEmpty() && !traffic.open(options.trafficLog, &reason)) {
        trafficFailure = veltra::trafficLogFailure(options.trafficLog, reason);
        std::fprintf(stderr, "veltra-utility: %s\n", trafficFailure.toLocal8Bit().constData());
    }

    veltra::PanelOptions panelOptions;
    panelOptions.devices = options.devices;
    panelOptions.logLines = options.logLines;
    // A port that does not open is told on standard error too, not only in
    // its status tooltip.
    panelOptions.portFailureReporter = [](const QString& line) {
        std::fprintf(stderr, "veltra-utility: %s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    };
    // What "Configurate" chose, per COM port: the user's configuration folder
    // (~/.config/Veltra/veltra-utility.conf) on Linux, the registry on Windows.
    const std::unique_ptr<QSettings> portMemory = openPortMemoryOrSay();
    panelOptions.portMemory = portMemory.get();
    veltra::CShutterPanelDlg panel(panelOptions);
    if (traffic.isOpen()) {
        traffic.attach(panel.ports());
        // A log that stops (a full disk, its reader gone) is told once; the panel runs on.
        traffic.setFailureHandler([&panel](const QString& text) {
            std::fprintf(stderr, "veltra-utility: %s\n", text.toLocal8Bit().constData());
            std::fflush(stderr);
            QTimer::singleShot(0, &panel, [&panel, text] {
                panel.act([&panel, text](veltra::PanelState&) {
                    veltra::showErrorBox(&panel, QStringLiteral("Warning"), text);
                });
            });
        });
    }
    // A logout, kill or Ctrl+C ends the panel as "Exit" does, without asking:
    // the ports close (their lock files go with them) and the status is 0.
    veltra::onQuitSignals(&panel, [&panel](int) { panel.quit(0); });
    panel.startUp();
    if (!trafficFailure.isEmpty())
        QTimer::singleShot(0, &panel, [&] { veltra::showErrorBox(&panel, QStringLiteral("Warning"), trafficFailure); });
    panel.exec();
    for (int port = 1; port <= veltra::kPortCount; ++port) {
        if (const veltra::CComPortLink& link = panel.ports().link(port); link.isOpen())
            traffic.writeEvent(port, link.deviceName(), QStringLiteral("closed: Veltra Utility ends"));
    }
    // -1 after "Exit" or the close button, 0 after a termination signal.
    return panel.exitStatus();
}
