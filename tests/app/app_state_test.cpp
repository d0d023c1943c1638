// The settings' one owner and one lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/app_state.h"

namespace tessaly {
namespace {

// The owner changes the cut as a whole (moved, its size kept) while another
// thread copies the settings: every copy is one whole state, never half a
// change. Under ThreadSanitizer an unguarded read or write shows as a race.
TEST(SharedSettings, CopiesOnAnotherThreadSeeWholeChanges) {
    SharedSettings settings;
    const int32_t width = settings->XL2 - settings->XL1;
    std::atomic<bool> done{false};
    std::vector<int32_t> seenWidths;
    int32_t lastSeenXL1 = settings->XL1;
    std::thread reader([&] {
        while (!done.load()) {
            const AppSettings copy = settings.Copy();
            seenWidths.push_back(copy.XL2 - copy.XL1);
            lastSeenXL1 = copy.XL1;
        }
    });
    for (int32_t step = 1; step <= 2000; ++step) {
        settings.Change([step](AppSettings& s) {
            s.XL1 = kDefaultCut.XL1 + step;
            s.XL2 = kDefaultCut.XL2 + step;
        });
    }
    done = true;
    reader.join();
    for (int32_t seen : seenWidths) ASSERT_EQ(seen, width);
    EXPECT_GE(lastSeenXL1, kDefaultCut.XL1);
    EXPECT_LE(lastSeenXL1, kDefaultCut.XL1 + 2000);
    // The owner reads its own writes in place; Set replaces every value.
    EXPECT_EQ(settings->XL1, kDefaultCut.XL1 + 2000);
    AppSettings other;
    other.APATH = "/tmp/elsewhere";
    other.lens.fov = 200;
    settings.Set(other);
    EXPECT_EQ(settings.Copy(), other);
}

}  // namespace
}  // namespace tessaly
