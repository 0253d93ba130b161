// The object map: registers every class of the library (class factories, ProgIDs) and the
// type libraries with the runtime. Idempotent.
#pragma once

namespace velk::server {

void RegisterClasses();

}  // namespace velk::server
