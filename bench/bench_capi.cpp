// A status read through the C library (veltra_get_status) against the same
// read through the C++ client, each on a simulator of its own that paces both
// directions at 19200 baud; reads alternate, so drift hits both alike. The
// client runs in a thread host of its own, as the C library's does. Exits 1
// when the ratio of the medians is above the bound.
#include "client/thread_host.h"
#include "client/veltra_client.h"

#include <veltra.h>

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr double kBound = 1.05;
constexpr int kPairs = 200;

struct Sim {
    QProcess process;
    QString device;
    Sim() {
        process.start(QStringLiteral(VELTRA_SIM_PATH), {QStringLiteral("--pace-baud"), QStringLiteral("19200")});
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F>
double seconds(F&& read) {
    const auto start = std::chrono::steady_clock::now();
    read();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// One half of the run: the C library on `cDevice`, the client on `cppDevice`,
// reads alternating; false when a read failed.
bool half(const QString& cDevice, const QString& cppDevice, std::vector<double>& c, std::vector<double>& cpp) {
    veltra_controller* h = nullptr;
    if (veltra_open(cDevice.toLocal8Bit().constData(), 9600, 2000, &h) != VELTRA_OK) return false;
    bool failed = false;
    {
        veltra::ClientOptions o;
        o.device = cppDevice;
        o.loop = &veltra::ThreadHost::get();
        veltra::Client client(o);
        const auto readC = [&] {
            veltra_status st;
            failed |= veltra_get_status(h, &st, VELTRA_TIMEOUT_DEFAULT) != VELTRA_OK;
        };
        const auto readCpp = [&] { client.status(); };
        // Each simulator notices its client on its next look at the line: untimed.
        for (int i = 0; i < 3; ++i) readC(), readCpp();
        for (int r = 0; r < kPairs / 2; ++r) {  // read by read, each side first in turn
            if (r % 2) c.push_back(seconds(readC)), cpp.push_back(seconds(readCpp));
            else cpp.push_back(seconds(readCpp)), c.push_back(seconds(readC));
        }
    }
    veltra_free(h);
    return !failed;
}

int main() {
    // Two simulators, each side on each for half of the reads: neither
    // simulator's own timing favours one side.
    Sim a, b;
    if (a.device.isEmpty() || b.device.isEmpty()) {
        std::fprintf(stderr, "bench_capi: veltra-sim did not start\n");
        return 1;
    }
    std::vector<double> c, cpp;
    try {
        if (!half(a.device, b.device, c, cpp) || !half(b.device, a.device, c, cpp)) {
            std::fprintf(stderr, "bench_capi: a status read through the C library failed\n");
            return 1;
        }
    } catch (const veltra::ClientError& e) {
        std::fprintf(stderr, "bench_capi: %s\n", e.what());
        return 1;
    }
    const double ratio = median(c) / median(cpp);
    std::printf("status through the C library %.3f ms, through the C++ client %.3f ms (medians of %d reads each): "
                "ratio %.3f (bound %.2f)\n",
                median(c) * 1e3, median(cpp) * 1e3, kPairs, ratio, kBound);
    return ratio <= kBound ? 0 : 1;
}
