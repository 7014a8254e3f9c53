// The thread that closes pooled news connections once they have been idle
// past their time (quillnet/engine/news_pool.h).
#pragma once

namespace quillnet {

// Installs the watcher's starter in the pool, once per process.
void InstallNewsPoolWatcher();

}  // namespace quillnet
