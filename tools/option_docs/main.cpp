// varn-option-docs: writes what the option tables say, for the files that
// list the options (tools/package/update-option-docs.sh puts it there):
//   varn-option-docs help|man|default PROGRAM
// help: the program's --help; man: its manual page's OPTIONS section;
// default: the options part of the commented /etc/default/varnwin32.
#include <cstdio>
#include <string>

#include "base/service_options.h"
#include "tools/beacon/beacon_options.h"
#include "tools/probe/probe_options.h"

namespace {

const kiv::ProgramOptions* programNamed(const std::string& name)
{
    if (name == "varnwin32" || name == "varnwin32-service")
        return &kiv::serviceProgramOptions();
    if (name == "varn-beacon")
        return &kiv::tools::beaconProgramOptions();
    if (name == "varn-probe")
        return &kiv::tools::probeProgramOptions();
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    const kiv::ProgramOptions* program = argc == 3 ? programNamed(argv[2]) : nullptr;
    const std::string what = argc == 3 ? argv[1] : "";
    if (program == nullptr || (what != "help" && what != "man" && what != "default")) {
        std::fputs("usage: varn-option-docs help|man|default varnwin32|varnwin32-service|varn-beacon|varn-probe\n",
                   stderr);
        return 2;
    }
    const std::string text = what == "help" ? kiv::helpText(*program)
                             : what == "man" ? kiv::manOptions(*program)
                                             : kiv::commentedOptions(*program);
    std::fputs(text.c_str(), stdout);
    return 0;
}
