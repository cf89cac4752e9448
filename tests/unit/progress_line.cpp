// The progress line: counts with thousands separators, bytes in the unit of
// their total, the rate, and the time left only once the listing is done.
// Also the counting of the parts of a split pair.
#include "mirlo_progress.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint64_t KIB = 1024, MIB = KIB * 1024, GIB = MIB * 1024;

struct line_case {
    const char *what;
    progress_counts counts;
    const char *line;
};

progress_counts counts(uint64_t done, uint64_t listed, uint64_t bytes_done, uint64_t bytes_known, bool listing_done,
                       double elapsed, double work = -1)
{
    progress_counts c;
    c.pairs_done = done;
    c.pairs_listed = listed;
    c.bytes_done = bytes_done;
    c.bytes_known = bytes_known;
    c.listing_done = listing_done;
    c.elapsed = elapsed;
    c.work_done = work < 0 ? static_cast<double>(done) : work;
    return c;
}

TEST(ProgressLine, SaysCountsBytesRateAndTimeLeft)
{
    const line_case cases[] = {
        {"the example: 2.1 of 4.0 GiB in 3.5 s, 1,204 of 3,000 pairs",
         counts(1204, 3000, 2254857830, 4 * GIB, true, 3.5),
         "mirlo: 1,204 of 3,000 pairs, 2.1 of 4.0 GiB, 614 MiB/s, 5 s left"},
        {"still listing: no time left", counts(1204, 3000, 2254857830, 4 * GIB, false, 3.5),
         "mirlo: 1,204 of 3,000 pairs, 2.1 of 4.0 GiB, 614 MiB/s"},
        {"nothing yet", counts(0, 0, 0, 0, false, 0), "mirlo: 0 of 0 pairs, 0 of 0 B, 0 B/s"},
        {"listing done, nothing compared: no estimate", counts(0, 7, 0, 0, true, 2), "mirlo: 0 of 7 pairs, 0 of 0 B, 0 B/s"},
        {"bytes below a KiB stay whole", counts(3, 6, 24, 56, true, 1), "mirlo: 3 of 6 pairs, 24 of 56 B, 24 B/s, 1 s left"},
        {"millions of pairs, KiB, a slow rate", counts(1234567, 10000000, 1536, 3 * KIB, true, 1234.5),
         "mirlo: 1,234,567 of 10,000,000 pairs, 1.5 of 3.0 KiB, 1 B/s, 2 h 26 min left"},
        {"minutes left, rate below 10 of its unit", counts(1, 4, 3 * GIB, 12 * GIB, true, 60),
         "mirlo: 1 of 4 pairs, 3.0 of 12.0 GiB, 51 MiB/s, 3 min 0 s left"},
        {"a rate of GiB/s", counts(2, 2, 5 * GIB, 5 * GIB, true, 2), "mirlo: 2 of 2 pairs, 5.0 of 5.0 GiB, 2.5 GiB/s, 0 s left"},
        {"a split pair half done counts half a pair", counts(0, 1, 512 * MIB, GIB, true, 10, 0.5),
         "mirlo: 0 of 1 pairs, 0.5 of 1.0 GiB, 51 MiB/s, 10 s left"},
        {"bytes done beyond what is known: the total follows them", counts(1, 1, 2 * MIB, MIB, true, 1),
         "mirlo: 1 of 1 pairs, 2.0 of 2.0 MiB, 2.0 MiB/s, 0 s left"},
    };
    for (const line_case &c : cases)
        EXPECT_EQ(mirlo_progress_line(c.counts), c.line) << c.what;
}

TEST(ProgressCounts, SplitPairCountsItsPartsThenOnePair)
{
    mirlo_progress p;
    mirlo_progress_begin(&p, 0, 2); // counts only; two file pairs to list
    mirlo_progress_listed(&p, 3);
    EXPECT_FALSE(p.counts.listing_done);
    mirlo_progress_listed(&p, 0);
    EXPECT_TRUE(p.counts.listing_done);
    mirlo_progress_compared(&p, 1, 100);
    mirlo_progress_known(&p, 4000); // a pair split into three pieces and its attributes
    for (int piece = 0; piece < 3; ++piece)
        mirlo_progress_piece(&p, piece < 2 ? 1500 : 1000, 0.25);
    EXPECT_EQ(p.counts.pairs_done, 1u);
    mirlo_progress_piece(&p, 0, 0.25);
    mirlo_progress_split_done(&p);
    mirlo_progress_compared(&p, 1, 0);
    EXPECT_EQ(p.counts.pairs_done, 3u);
    EXPECT_EQ(p.counts.pairs_listed, 3u);
    EXPECT_DOUBLE_EQ(p.counts.work_done, 3.0);
    EXPECT_EQ(p.counts.bytes_done, 4100u);
    EXPECT_EQ(p.counts.bytes_known, 4100u);
    EXPECT_FALSE(p.printed); // an interval of 0 prints nothing
}

} // namespace
