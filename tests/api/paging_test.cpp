// Cutting pages from a reading (api/paging.h), without a machine: thousands of entries, the
// drives' two counts, and which reading a page is served from.
#include "api/paging.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using qarvel::PageShape;
using qarvel::Reading;

const PageShape<DeviceInformation, DEV, 64> kPci = {
    &DeviceInformation::dev, qarvel::CountIn<DeviceInformation, &DeviceInformation::quantity>};

// A reading of `count` PCI functions, function i carrying i as its IRQ.
std::unique_ptr<Reading<DeviceInformation, DEV>> Functions(int count) {
    auto r = std::make_unique<Reading<DeviceInformation, DEV>>();
    r->entries.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) r->entries[static_cast<std::size_t>(i)].IRQ = i;
    return r;
}

TEST(PageCutting, ThousandsOfEntriesEachOnceInOrder) {
    auto reading = Functions(5000);
    std::set<int> seen;
    int first = 0, total = 0, pages = 0;
    auto page = std::make_unique<DeviceInformation>();
    while (first < 5000) {
        std::memset(page.get(), 0xEE, sizeof *page);  // what a page does not fill must not show
        ASSERT_EQ(qarvel::ServePage(*reading, kPci, first, page.get(), &total), 0);
        ASSERT_EQ(total, 5000);
        ASSERT_EQ(page->quantity, std::min(64, 5000 - first));
        for (int i = 0; i < page->quantity; ++i) {
            EXPECT_EQ(page->dev[i].IRQ, first + i);
            EXPECT_TRUE(seen.insert(page->dev[i].IRQ).second);
        }
        for (int i = page->quantity; i < 64; ++i) EXPECT_EQ(page->dev[i].IRQ, 0) << "left over in a short page";
        first += page->quantity;
        ++pages;
    }
    EXPECT_EQ(seen.size(), 5000u);
    EXPECT_EQ(pages, 79);  // 78 full pages and 8 entries

    // At the end, and an empty reading: no entry, the total still told.
    ASSERT_EQ(qarvel::ServePage(*reading, kPci, 5000, page.get(), &total), 0);
    EXPECT_EQ(page->quantity, 0);
    auto none = Functions(0);
    total = -1;
    ASSERT_EQ(qarvel::ServePage(*none, kPci, 0, page.get(), &total), 0);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(page->quantity, 0);
}

TEST(PageCutting, AFailedReadingAnswersItsFailureAndWritesNothing) {
    auto reading = Functions(10);
    reading->result = -1;
    auto page = std::make_unique<DeviceInformation>();
    std::memset(page.get(), 0x11, sizeof *page);
    int total = 7;
    EXPECT_EQ(qarvel::ServePage(*reading, kPci, 0, page.get(), &total), -1);
    EXPECT_EQ(total, 7);
    EXPECT_EQ(page->quantity, 0x11111111);
}

// IDE disks come first: a page that straddles them counts each kind it holds.
TEST(PageCutting, DrivesCountTheirKindsPerPage) {
    Reading<StorageInformation, DriveInfo> r;
    r.head.quantityIDE = 30;
    r.head.quantitySCSI = 20;
    r.entries.resize(50);
    const PageShape<StorageInformation, DriveInfo, 24> shape = {&StorageInformation::driveArray,
                                                                qarvel::CountDrives};
    auto page = std::make_unique<StorageInformation>();
    const int expected[][3] = {{0, 24, 0}, {24, 6, 18}, {48, 0, 2}};
    for (const auto& e : expected) {
        ASSERT_EQ(qarvel::ServePage(r, shape, e[0], page.get(), nullptr), 0);
        EXPECT_EQ(page->quantityIDE, e[1]) << e[0];
        EXPECT_EQ(page->quantitySCSI, e[2]) << e[0];
    }
}

// A first page takes a new reading; any other page is served from the one kept, and takes
// one only when none of its kind is kept.
TEST(PageCutting, ReadingKeptUntilTheNextFirstPage) {
    qarvel::PagedReadings kept;
    int taken = 0;
    auto take = [&](Reading<DeviceInformation, DEV>& r) { r.entries.resize(static_cast<std::size_t>(++taken)); };
    using R = Reading<DeviceInformation, DEV>;
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "pci", 3, take).entries.size(), 1u);  // none kept: taken
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "pci", 64, take).entries.size(), 1u);
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "pci", 0, take).entries.size(), 2u);  // a new walk
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "pci", 128, take).entries.size(), 2u);
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "disks", 1, take).entries.size(), 3u);  // each command its own
    EXPECT_EQ(qarvel::ReadingFor<R>(kept, "pci", 1, take).entries.size(), 2u);
    EXPECT_EQ(taken, 3);
}

}  // namespace
