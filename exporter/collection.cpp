#include "exporter/collection.h"

#include <thread>

namespace exporter {

struct Collection::Run {
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    bool ok = false;
    std::string why;
    Exposition out;
};

Collection::Collection(const Library& library, std::vector<Collector> collectors, std::chrono::milliseconds limit)
    : library_(library), collectors_(std::move(collectors)), limit_(limit), late_(collectors_.size()) {}

std::uint64_t Collection::collections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

std::shared_ptr<const std::string> Collection::Scrape() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (running_) {
        // The running collection began before this scrape arrived, but it is as fresh as any
        // answer could be by the time it ends: share it rather than queue another.
        const std::uint64_t seen = generation_;
        finished_.wait(lock, [&] { return generation_ != seen; });
        return last_;
    }
    running_ = true;
    lock.unlock();
    auto text = std::make_shared<const std::string>(CollectAll());
    lock.lock();
    last_ = text;
    running_ = false;
    ++generation_;
    finished_.notify_all();
    return text;
}

std::string Collection::CollectAll() {
    Exposition out, meta;
    meta.family("qarvel_collector_up", "gauge", "Whether the collector's source answered (1) or not (0).");
    meta.family("qarvel_collector_duration_seconds", "gauge", "How long the collector took.");
    for (std::size_t i = 0; i < collectors_.size(); ++i) {
        const Collector& collector = collectors_[i];
        const Labels label = {{"collector", collector.name}};
        if (late_[i]) {
            std::lock_guard<std::mutex> lock(late_[i]->mutex);
            if (!late_[i]->done) {  // still in the library since an earlier scrape
                meta.sample("qarvel_collector_up", label, 0);
                meta.sample("qarvel_collector_duration_seconds", label, 0);
                continue;
            }
        }
        late_[i].reset();
        auto run = std::make_shared<Run>();
        const auto start = std::chrono::steady_clock::now();
        std::thread([run, collector, this] {
            Exposition samples;
            std::string why;
            bool ok = collector.collect(library_, samples, why);
            std::lock_guard<std::mutex> lock(run->mutex);
            run->out = std::move(samples);
            run->ok = ok;
            run->why = why;
            run->done = true;
            run->done_signal.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(run->mutex);
        const bool in_time = run->done_signal.wait_for(lock, limit_, [&] { return run->done; });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (in_time) {
            if (run->ok) out.merge(run->out);
        } else {
            late_[i] = run;
        }
        meta.sample("qarvel_collector_up", label, in_time && run->ok ? 1 : 0);
        meta.sample("qarvel_collector_duration_seconds", label, seconds);
    }
    out.merge(meta);
    return out.text();
}

}  // namespace exporter
