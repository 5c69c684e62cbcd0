#include "shell/registry_settings.h"

namespace kiv {

// The Linux service takes its settings from its command line only
// (/etc/default/varnwin32).
std::vector<RegistrySetting> readRegistrySettings(const char*)
{
    return {};
}

}  // namespace kiv
