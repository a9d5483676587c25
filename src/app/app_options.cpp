#include "app_options.h"

#include "serial/serial_platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include "serial/net_transport.h"  // which devices are network ports

namespace veltra {

namespace {

AppOptions error(const QString& message) {
    AppOptions o;
    o.action = AppOptions::Action::Error;
    o.text = QStringLiteral("veltra-utility: %1\nTry 'veltra-utility --help' for more information.\n").arg(message);
    return o;
}

}  // namespace

AppOptions parseAppOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Veltra Utility - COM"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): it also offers Qt's own options, which this program does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Open DEVICE as COM port N (1 to 4) for this run, instead of the last one Configurate "
                       "chose or the default: a device, socket://HOST:PORT, rfc2217://HOST:PORT. Repeatable."),
        QStringLiteral("N=DEVICE"));
    parser.addOption(port);
    const QCommandLineOption logLines(
        QStringLiteral("log-lines"),
        QStringLiteral("Keep the newest N lines in the received-data list (default %1); older ones are "
                       "dropped in blocks.").arg(ReceivedLog::kDefaultMaxLines),
        QStringLiteral("N"));
    parser.addOption(logLines);
    const QCommandLineOption trafficLog(
        QStringLiteral("traffic-log"),
        QStringLiteral("Append every byte sent and received on every port to FILE, one line per write "
                       "and per received chunk, and each port's opening, closing and reconnecting."),
        QStringLiteral("FILE"));
    parser.addOption(trafficLog);

    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (parser.isSet(help)) {
        AppOptions o;
        o.action = AppOptions::Action::Help;
        // Parsing runs before the application object exists, when the parser
        // cannot name the program itself.
        o.text = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("veltra-utility"));
        return o;
    }
    if (parser.isSet(version)) {
        AppOptions o;
        o.action = AppOptions::Action::Version;
        o.text = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                               QCoreApplication::applicationVersion());
        return o;
    }
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));

    AppOptions o;
    if (parser.isSet(logLines)) {
        const QString value = parser.value(logLines).trimmed();
        bool numeric = false;
        const qulonglong n = value.toULongLong(&numeric);
        if (!numeric || n < 1 || n > 1'000'000'000ull)
            return error(QStringLiteral("invalid --log-lines value '%1': expected a number from 1 to 1000000000")
                             .arg(parser.value(logLines)));
        o.logLines = static_cast<std::size_t>(n);
    }
    if (parser.isSet(trafficLog)) {
        o.trafficLog = parser.value(trafficLog);
        if (o.trafficLog.isEmpty())
            return error(QStringLiteral("--traffic-log needs a file name"));
    }
    std::array<bool, kPortCount> seen{};
    for (const QString& value : parser.values(port)) {
        const qsizetype eq = value.indexOf(u'=');
        bool numeric = false;
        const int n = eq > 0 ? value.left(eq).trimmed().toInt(&numeric) : 0;
        const QString device = eq > 0 ? value.mid(eq + 1) : QString();
        if (!numeric || n < 1 || n > kPortCount || device.isEmpty())
            return error(QStringLiteral("invalid --port value '%1': expected N=DEVICE with N from 1 to 4").arg(value));
        const auto slot = static_cast<std::size_t>(n - 1);
        if (seen[slot])
            return error(QStringLiteral("--port %1 given more than once").arg(n));
        seen[slot] = true;
        o.devices[slot] = serial_platform::devicePath(device);
    }
    return o;
}

}  // namespace veltra
