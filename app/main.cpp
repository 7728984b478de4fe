// kova-gadget: serves the gadget page on 127.0.0.1 and runs the control behind it until SIGINT or SIGTERM,
// or until its own app window has gone.

#include "host/KovaGadgetDemo.h"
#include "host/KovaGadgetHost.h"
#include "host/KovaGadgetHostOptions.h"

#include <iostream>

int main(int argc, char** argv) {
    TKovaGadgetHostOptions options;
    try {
        options = ParseKovaGadgetHostOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "kova-gadget: " << e.what() << "\n" << KovaGadgetUsage << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << KovaGadgetUsage << std::endl;
        return 0;
    }
    if (!options.Autostart.empty()) return RunKovaGadgetAutostart(options, std::cout);
    if (options.Demo) return RunKovaGadgetDemo(options);
    return RunKovaGadgetHost(options);
}
