// Server.ScriptTimeout, enforced. One watching thread looks at every pool
// thread's running page; a page past its timeout is stopped through its
// engine's interrupt (IActiveScript::InterruptScriptThread, which may be
// called from another thread), and the pool thread answers 500 and serves
// the next request.
//
// An engine that does not implement the interrupt (Wine's engines answer
// E_NOTIMPL) is stopped by the host instead: the pool thread is suspended
// at a moment it runs the engine's own code (never inside the heap, the
// loader or a component, so it holds no lock of theirs) and resumed at the
// host's resume point in run_page, below the engine's frames. That engine
// and what the page created are then abandoned, never touched again: a
// small leak for each timed-out page, instead of a thread lost for good.
#pragma once

#include <activscp.h>

#include <atomic>

namespace host {

// Starts the watching thread for pool threads numbered 1..threads.
void start_script_watch(int threads);

// While alive, the calling pool thread's page is watched.
class WatchedRun {
  public:
    // thread: the pool thread's number; timeout: the page's
    // Server.ScriptTimeout in seconds, read as the page changes it.
    WatchedRun(int thread, IActiveScript* engine, const std::atomic<long>& timeout);
    ~WatchedRun();
    WatchedRun(const WatchedRun&) = delete;
    WatchedRun& operator=(const WatchedRun&) = delete;

    // The buffer for __builtin_setjmp that the host resumes at; null when
    // this thread is not watched (not a pool thread).
    void** resume_point();
    // Called once __builtin_setjmp(resume_point()) has returned 0: from
    // then on the host may resume the thread there.
    void arm();
    // The page went past its timeout; with stopped_by_host, the engine
    // could not interrupt it and must not be used again.
    bool timed_out() const;
    bool stopped_by_host() const;

  private:
    struct Slot* slot_;
};

}  // namespace host
