// One collection: every chosen collector run in turn, each within its time limit, on
// demand. Scrapes that arrive while a collection runs wait for it and share its answer, so
// requests never pile up on the library.
#ifndef QARVEL_EXPORTER_COLLECTION_H
#define QARVEL_EXPORTER_COLLECTION_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exporter/collectors.h"

namespace exporter {

class Collection {
public:
    Collection(const Library& library, std::vector<Collector> collectors, std::chrono::milliseconds limit);
    // The exposition of a collection that started at or after this call.
    std::shared_ptr<const std::string> Scrape();
    // How many collections ran.
    std::uint64_t collections() const;

private:
    struct Run;  // one collector's run, which may outlive its time limit
    std::string CollectAll();

    const Library& library_;
    std::vector<Collector> collectors_;
    std::chrono::milliseconds limit_;
    // A collector still running past its limit from an earlier scrape: not started again
    // until it returns.
    std::vector<std::shared_ptr<Run>> late_;

    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool running_ = false;
    std::uint64_t generation_ = 0;
    std::shared_ptr<const std::string> last_;
};

}  // namespace exporter

#endif
