// Found by fuzzing the tessel command line: sizes large enough that the
// parameters report's products (bytes per process times process counts and
// dataset counts, squared in 2D) overflow a signed 64-bit integer, which is
// undefined behaviour (the sanitizer build stops on it).
#include "tessel_test_support.hpp"
#include "tessel_usage.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The parameters report of a command line, as text.
std::string report_of(std::vector<const char *> words)
{
    const bench_options o = tessel_test::options_of(std::move(words));
    tessel_test::captured_file out;
    print_bench_parameters(tessel_test::self_context(out.get()), &o);
    return out.text();
}

TEST(FuzzRegressTesselReport, LargeSizesWithinRangeAreReported)
{
    std::string r = report_of({"-e", "8G", "-P", "4"});
    EXPECT_NE(r.find("rank 0: Number of bytes per process per dataset=8GB\n"), std::string::npos) << r;
    EXPECT_NE(r.find("rank 0: Size of dataset(s)=8GB:32GB\n"), std::string::npos) << r;
    EXPECT_NE(r.find("rank 0: File size=8GB:32GB\n"), std::string::npos) << r;
}

TEST(FuzzRegressTesselReport, SizesWhoseProductsOverflowDoNotBreakTheReport)
{
    // 1D: 4 processes times the largest size; 2D: the size squared.
    for (auto words : {std::vector<const char *>{"-e", "9223372036854775807"},
                       std::vector<const char *>{"-e", "4444444444444444444", "-d", "3"},
                       std::vector<const char *>{"-g", "-e", "4G"},
                       std::vector<const char *>{"-g", "-e", "3037000500", "-d", "2"}}) {
        std::string r = report_of(words);
        EXPECT_NE(r.find("rank 0: ==== End of Parameters ====\n"), std::string::npos) << r;
    }
}

} // namespace
