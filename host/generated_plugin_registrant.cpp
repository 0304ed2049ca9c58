#include "host/generated_plugin_registrant.h"

#include <string>

namespace pilvo::host {

void RegisterGeneratedPlugins(channels::FlutterPluginRegistry& registry) {
  for (std::string_view key : kGeneratedPluginKeys) {
    registry.registrarForPlugin(std::string(key));
  }
}

}  // namespace pilvo::host
