// Snapshots: every device as it was, so that a test can run the layer again from the same
// start without building a large tree anew.
#include <memory>
#include "devsim_internal.h"

DevsimSnapshot DevsimTakeSnapshot()
{
    DevsimLock lock;
    DevsimSnapshot snapshot;
    snapshot.state = std::make_shared<const std::vector<SimDevice>>(Sim().devices);
    return snapshot;
}

void DevsimRestoreSnapshot(const DevsimSnapshot &snapshot)
{
    if (!snapshot.state) return;
    DevsimLock lock;
    Sim().devices = *static_cast<const std::vector<SimDevice> *>(snapshot.state.get());
}
