// A status read through the C library (veltra_get_status) against the same
// read through the C++ client, each on a simulator of its own that paces both
// directions at 19200 baud. The client runs in a thread host of its own, as
// the C library's does.
//
// The reads come in pairs, one of each side, in an order drawn at random
// (fixed seed) for each pair, so neither side always follows the other. The
// run is made of rounds; the sides swap simulators from one round to the
// next. Each round gives the ratio of its medians (C library over client);
// the verdict is the median of those ratios, printed with their spread and
// with the median of the pairs' differences (what the C library adds, in
// microseconds). Exits 1 when the median ratio is above the bound.
// With --unpaced the simulators answer at once: the ratio then shows what the
// library's own work costs beside the client's, and no bound applies.
//   bench_capi [--rounds N] [--pairs N] [--unpaced]
#include "client/thread_host.h"
#include "client/veltra_client.h"

#include <veltra.h>

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr double kBound = 1.05;

struct Sim {
    QProcess process;
    QString device;
    explicit Sim(bool paced) {
        QStringList args;
        if (paced) args << QStringLiteral("--pace-baud") << QStringLiteral("19200");
        process.start(QStringLiteral(VELTRA_SIM_PATH), args);
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// The value at fraction q (0..1) of the sorted values.
double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}
double median(const std::vector<double>& v) { return quantile(v, 0.5); }

template <class F>
double seconds(F&& read) {
    const auto start = std::chrono::steady_clock::now();
    read();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Round {
    std::vector<double> c, cpp;  // seconds, pair by pair
};

// One round: the C library on `cDevice`, the client on `cppDevice`; false
// when a read through the C library failed (the client throws).
bool round(const QString& cDevice, const QString& cppDevice, int pairs, std::mt19937& order, Round& out) {
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
        std::bernoulli_distribution cFirst(0.5);
        for (int i = 0; i < pairs; ++i) {
            if (cFirst(order)) {
                out.c.push_back(seconds(readC));
                out.cpp.push_back(seconds(readCpp));
            } else {
                out.cpp.push_back(seconds(readCpp));
                out.c.push_back(seconds(readC));
            }
        }
    }
    veltra_free(h);
    return !failed;
}

int argument(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

bool flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argument(argc, argv, "--rounds", 9);
    const int pairs = argument(argc, argv, "--pairs", 40);
    const bool paced = !flag(argc, argv, "--unpaced");
    Sim a(paced), b(paced);
    if (a.device.isEmpty() || b.device.isEmpty()) {
        std::fprintf(stderr, "bench_capi: veltra-sim did not start\n");
        return 1;
    }
    std::mt19937 order(20240611);
    std::vector<double> ratios, c, cpp, extraUs;
    try {
        for (int r = 0; r < rounds; ++r) {
            Round one;
            const bool ok = r % 2 ? round(b.device, a.device, pairs, order, one) : round(a.device, b.device, pairs, order, one);
            if (!ok) {
                std::fprintf(stderr, "bench_capi: a status read through the C library failed\n");
                return 1;
            }
            ratios.push_back(median(one.c) / median(one.cpp));
            for (std::size_t i = 0; i < one.c.size(); ++i) extraUs.push_back((one.c[i] - one.cpp[i]) * 1e6);
            c.insert(c.end(), one.c.begin(), one.c.end());
            cpp.insert(cpp.end(), one.cpp.begin(), one.cpp.end());
        }
    } catch (const veltra::ClientError& e) {
        std::fprintf(stderr, "bench_capi: %s\n", e.what());
        return 1;
    }
    const double ratio = median(ratios);
    std::printf("status through the C library %.3f ms, through the C++ client %.3f ms (medians of %zu reads each)\n",
                median(c) * 1e3, median(cpp) * 1e3, c.size());
    std::printf("the C library adds %+.0f us a read (median of the pairs' differences; quartiles %+.0f to %+.0f us)\n",
                median(extraUs), quantile(extraUs, 0.25), quantile(extraUs, 0.75));
    std::printf("ratio %.3f, median of %d rounds of %d pairs (rounds from %.3f to %.3f, quartiles %.3f to %.3f)",
                ratio, rounds, pairs, quantile(ratios, 0), quantile(ratios, 1), quantile(ratios, 0.25),
                quantile(ratios, 0.75));
    if (!paced) {
        std::printf(", simulators unpaced: no bound\n");
        return 0;
    }
    std::printf("; bound %.2f\n", kBound);
    return ratio <= kBound ? 0 : 1;
}
