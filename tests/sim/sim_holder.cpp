// Starts a simulator through SimProcess, prints "<pid> <device>" and waits to be killed:
// the end-to-end test kills this process with SIGKILL and checks the simulator goes too.
#include "support/SimProcess.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    hx::test::SimProcess sim({"--static"});
    if (!sim.start()) return 1;
    std::printf("%lld %s\n", static_cast<long long>(sim.processId()), qPrintable(sim.devicePath()));
    std::fflush(stdout);
    return app.exec();
}
