#pragma once
// Whether the system says it is online. The answer comes from Qt's network information
// (the system's own connection manager); nothing is sent over the network to find out.
#include <QString>

namespace reachability {

enum class State { Online, Offline, Unknown };

// Loads the named backend of Qt's network information (the system's own choice when the
// name is empty, or any other the system has when that one cannot start) and reads
// what it reports. Unknown when no backend can be loaded or the
// backend cannot tell. Needs the application object; call it from the main thread.
State currentState(const QString& backend = {});

}  // namespace reachability
