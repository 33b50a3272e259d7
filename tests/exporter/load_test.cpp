// Many scrapes at once on the current server: every answer whole, the exporter's memory flat,
// the BMC's repository read once; and the requests it refuses change nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "tests/exporter/support.h"

namespace {

using namespace exporter_test;

// One Get SDR Repository Info and one Get SDR per record: what one discovery of the current
// server's repository sends, measured by the library itself on one scrape.
struct Discovery {
    int info, records;
};

Discovery Requests(const std::string& transcript) {
    return {CountRequests(transcript, "0A 20"), CountRequests(transcript, "0A 23")};
}

class Exporter : public ::testing::Test {
protected:
    void SetUp() override {
        Process* process = nullptr;
        port_ = StartExporter(process, {"--machine", QARVEL_CURRENT_MACHINE},
                              {"QARVEL_BMC_TRANSCRIPT=" + transcript()}, dir_.path() + "/log");
        process_.reset(process);
        ASSERT_GT(port_, 0) << ReadFile(dir_.path() + "/log");
    }
    std::string transcript() const { return dir_.path() + "/bmc"; }
    // Scrapes through `connections` connections at once, `each` on every one; how many were
    // answered 200 with their whole body holding every collector's verdict.
    int Scrapes(int connections, int each) {
        std::atomic<int> good{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < connections; ++c)
            threads.emplace_back([&] {
                auto connection = std::make_unique<HttpConnection>(port_);
                for (int i = 0; i < each; ++i) {
                    HttpAnswer answer = connection->Get("/metrics");
                    if (answer.status == 200 && answer.complete &&
                        answer.body.find("qarvel_collector_up{collector=\"bmc_watchdog\"} 1\n") != std::string::npos &&
                        answer.body.find("ipmi_temperature_celsius{id=\"1\",name=\"CPU1 Temp\"} 45\n") !=
                            std::string::npos)
                        ++good;
                    if (!answer.keep_alive) connection = std::make_unique<HttpConnection>(port_);
                }
            });
        for (std::thread& t : threads) t.join();
        return good;
    }

    TempDir dir_;
    std::unique_ptr<Process> process_;
    int port_ = 0;
};

TEST_F(Exporter, ThousandScrapesThroughTwentyConnections) {
    ASSERT_EQ(Scrapes(1, 1), 1);
    const Discovery one = Requests(transcript());
    ASSERT_GT(one.records, 0);

    // 200 to settle the threads' arenas and the library's caches, then 800 more.
    EXPECT_EQ(Scrapes(20, 10), 200);
    const long settled = process_->ResidentKiB();
    EXPECT_EQ(Scrapes(20, 40), 800);
    const long after = process_->ResidentKiB();
    ASSERT_GT(settled, 0);
    // The allocator's per-thread arenas may still take a page here and there; anything kept
    // per scrape (an exposition is 20 KB, the smallest record read 3 KB) would pass 2 MiB.
#ifndef QARVEL_SANITIZE
    EXPECT_LT(after - settled, 2048) << "resident memory grew from " << settled << " KiB to " << after << " KiB";
#else
    // AddressSanitizer's allocator keeps freed memory in quarantine and per-thread caches, so
    // resident memory says nothing of the exporter's own; the unsanitized build checks it.
    (void)after;
#endif

    // The repository was read once; only the once-a-minute check of its timestamps may recur.
    const Discovery all = Requests(transcript());
    EXPECT_EQ(all.records, one.records);
    EXPECT_LE(all.info, one.info + 1);
}

TEST_F(Exporter, ReleaseMakesTheNextScrapeDiscoverAgain) {
    ASSERT_EQ(Scrapes(1, 2), 2);
    const Discovery one = Requests(transcript());
    process_->Signal(SIGHUP);
    // The release happens in the exporter's main thread; a scrape after it rediscovers.
    int records = one.records;
    for (int i = 0; i < 100 && records == one.records; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(Scrapes(1, 1), 1);
        records = Requests(transcript()).records;
    }
    EXPECT_EQ(records, 2 * one.records);
}

TEST_F(Exporter, RefusedRequestsChangeNothing) {
    ASSERT_EQ(Scrapes(1, 1), 1);
    const std::string before = ReadFile(transcript());
    ASSERT_FALSE(before.empty());

    struct Refused {
        const char* what;
        std::string request;
        int status;
    };
    const std::string huge(1 << 20, 'a');
    const Refused refused[] = {
        {"a POST", "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 405},
        {"a PUT", "PUT / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405},
        {"a 1 MB header", "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + huge + "\r\n\r\n", 431},
        {"another path", "GET /metrics/../admin HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"a query of another path", "GET /api/v1/admin?x=1 HTTP/1.1\r\nHost: x\r\n\r\n", 404},
    };
    for (const Refused& r : refused) {
        HttpConnection connection(port_);
        HttpAnswer answer = connection.Exchange(r.request);
        EXPECT_EQ(answer.status, r.status) << r.what;
        EXPECT_EQ(answer.body.find("qarvel_"), std::string::npos) << r.what;
    }
    // Not one request reached the BMC, and the exporter still answers.
    EXPECT_EQ(ReadFile(transcript()), before);
    HttpConnection connection(port_);
    HttpAnswer index = connection.Get("/");
    EXPECT_EQ(index.status, 200);
    EXPECT_NE(index.body.find("/metrics"), std::string::npos);
    EXPECT_EQ(ReadFile(transcript()), before);
    EXPECT_EQ(Scrapes(1, 1), 1);
}

}  // namespace
