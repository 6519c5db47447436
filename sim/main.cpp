// hx5800-sim: the HX5800 instrument on a Modbus RTU line. Options and commands: --help.
#include "sim/LineServer.h"
#include "sim/SimOptions.h"

#include <cstdio>

int main(int argc, char** argv) {
    const hx::sim::ParsedOptions parsed =
        hx::sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.options.help) {
        std::fputs(hx::sim::helpText().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "hx5800-sim: %s\n(--help lists the options)\n", parsed.error.c_str());
        return 2;
    }
    hx::sim::LineServer server(parsed.options);
    std::string error;
    if (!server.open(error)) {
        std::fprintf(stderr, "hx5800-sim: %s\n", error.c_str());
        return 1;
    }
    return server.run();
}
