#include "quillnet/engine/news_pool.h"

#include <algorithm>
#include <atomic>
#include <iterator>

namespace quillnet::engine {

void NewsConnectionPool::take_expired(Clock::time_point now, std::vector<Entry>& closing) {
    const auto expired =
        std::stable_partition(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.expires > now; });
    std::move(expired, entries_.end(), std::back_inserter(closing));
    entries_.erase(expired, entries_.end());
}

bool NewsConnectionPool::park(const std::string& key, IdleNewsConnection connection, Clock::duration idle,
                              Clock::time_point now) {
    std::vector<Entry> closing;
    bool start_watcher = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        take_expired(now, closing);
        if (capacity_ == 0 || !connection.transport) return false;
        if (entries_.size() >= capacity_) {
            closing.push_back(std::move(entries_.front()));
            entries_.erase(entries_.begin());
        }
        entries_.push_back(Entry{key, std::move(connection), now + idle});
        start_watcher = !watched_;
        watched_ = true;
    }
    return start_watcher;
}

std::optional<IdleNewsConnection> NewsConnectionPool::take(const std::string& key, Clock::time_point now) {
    std::vector<Entry> closing;
    std::optional<IdleNewsConnection> found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        take_expired(now, closing);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->key != key) continue;
            found = std::move(it->connection);
            entries_.erase(std::next(it).base());
            break;
        }
    }
    return found;
}

bool NewsConnectionPool::reap(Clock::time_point now) {
    std::vector<Entry> closing;
    std::lock_guard<std::mutex> lock(mutex_);
    take_expired(now, closing);
    if (entries_.empty()) watched_ = false;
    return watched_;
}

size_t NewsConnectionPool::idle_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void NewsConnectionPool::clear() {
    std::vector<Entry> closing;
    std::lock_guard<std::mutex> lock(mutex_);
    closing.swap(entries_);
}

namespace {
std::atomic<void (*)()> g_watcher{nullptr};
}  // namespace

void set_news_pool_watcher(void (*start)()) { g_watcher.store(start); }

void start_news_pool_watcher() {
    if (auto start = g_watcher.load()) start();
}

NewsConnectionPool& news_connection_pool() {
    // Room for the connections of a busy site's pages to one or two servers;
    // beyond it the oldest idle one is closed.
    static NewsConnectionPool pool(16);
    return pool;
}

}  // namespace quillnet::engine
