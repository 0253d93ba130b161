// The shared library's entry: the object map registers the classes when it is loaded.
#include "server/object_map.h"

namespace {
[[gnu::constructor]] void RegisterOnLoad() { velk::server::RegisterClasses(); }
}  // namespace
