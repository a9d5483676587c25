// The least a status request can cost: a Qt Core program that opens the
// device, sends 0xCC and reads the 20-byte answer (echo and 19 status bytes).
// The yardstick for `veltractl status`.
#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: status_baseline DEVICE [BAUD]\n");
        return 2;
    }
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) return 3;
    port.setBaudRate(argc > 2 ? std::atoi(argv[2]) : 9600);
    port.clear();
    port.write("\xCC", 1);
    QByteArray answer;
    while (answer.size() < 20 && port.waitForReadyRead(2000)) answer += port.readAll();
    return answer.size() >= 20 ? 0 : 4;
}
