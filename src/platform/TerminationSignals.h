#pragma once
// SIGTERM, SIGINT (and others a caller names) turned into a call on the event loop's thread: the
// handler itself only wakes the loop, which is all a signal handler may safely do.
#include <QObject>
#include <functional>
#include <initializer_list>

namespace qv {

// From now on each of `which` runs `handler` with its number from the event loop of `parent`'s
// thread. Once per process; a second call changes nothing.
void HandleTerminationSignals(QObject* parent, std::function<void(int signal)> handler,
                              std::initializer_list<int> which);

}  // namespace qv
