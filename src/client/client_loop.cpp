#include "client/client_loop.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace veltra {

namespace {

class CallingThreadLoop : public ClientLoop {
public:
    void run(const std::function<void()>& f) override { f(); }
    void wait(const std::function<bool()>& ready, int maxMs) override {
        if (ready()) return;
        QTimer tick;  // wakes the loop to look at the deadline and the interrupt check
        tick.setSingleShot(true);
        tick.start(std::max(0, maxMs));
        QEventLoop loop;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
};

}  // namespace

ClientLoop& callingThreadLoop() {
    static CallingThreadLoop loop;
    return loop;
}

}  // namespace veltra
