// varn-probe view: the service's live state in a terminal, through its view
// channel, or one snapshot of it (as text or JSON) for scripts.
#pragma once

#include "tools/probe/probe_options.h"

namespace kiv::tools {

int view(const ProbeOptions& options);

}  // namespace kiv::tools
