// Hints from HDF5_MPI_INFO: splitting of the text and the info object.
#include "tessel_test_support.hpp"

#include "mpi_info.hpp"

#include <cstdlib>

namespace {

using pairs = mpi_hint_list;

TEST(MpiHints, ItemsAreSplitAtSemicolonsAndBlanksTrimmed)
{
    EXPECT_EQ(parse_mpi_hints("striping_factor=4; cb_buffer_size = 1048576"),
              (pairs{{"striping_factor", "4"}, {"cb_buffer_size", "1048576"}}));
    EXPECT_EQ(parse_mpi_hints(" \ta = b c \t"), (pairs{{"a", "b c"}}));
}

TEST(MpiHints, EmptyItemsAndItemsWithoutEqualsAreIgnored)
{
    EXPECT_EQ(parse_mpi_hints("a=1;;b=2"), (pairs{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(parse_mpi_hints("a=1;"), (pairs{{"a", "1"}}));
    EXPECT_EQ(parse_mpi_hints(";a=1"), (pairs{{"a", "1"}}));
    EXPECT_EQ(parse_mpi_hints("word; a=1 ;   ; \t"), (pairs{{"a", "1"}}));
    EXPECT_EQ(parse_mpi_hints(""), pairs{});
    EXPECT_EQ(parse_mpi_hints(";;;"), pairs{});
}

TEST(MpiHints, TheFirstEqualsSeparatesKeyAndValue)
{
    EXPECT_EQ(parse_mpi_hints("k=v=w"), (pairs{{"k", "v=w"}}));
    EXPECT_EQ(parse_mpi_hints("k = = w"), (pairs{{"k", "= w"}}));
    EXPECT_EQ(parse_mpi_hints("=v"), (pairs{{"", "v"}}));
    EXPECT_EQ(parse_mpi_hints(" = v"), (pairs{{"", "v"}}));
    EXPECT_EQ(parse_mpi_hints("k="), (pairs{{"k", ""}}));
}

TEST(MpiHints, ReadingFillsTheInfoObjectAndTheDumpGoesToTheReport)
{
    tessel_test::env_guard env;
    MPI_Info info = MPI_INFO_NULL;
    env.set("HDF5_MPI_INFO", nullptr);
    EXPECT_EQ(read_mpi_info(&info, true), 0);
    EXPECT_EQ(info, MPI_INFO_NULL);
    tessel_test::captured_file none;
    dump_mpi_info(none.get(), info);
    EXPECT_EQ(none.text(), "Dumping MPI Info Object (up to 1024 bytes per item):\nobject is MPI_INFO_NULL\n");

    // An empty variable creates an empty object.
    env.set("HDF5_MPI_INFO", "");
    EXPECT_EQ(read_mpi_info(&info, true), 0);
    ASSERT_NE(info, MPI_INFO_NULL);
    EXPECT_EQ(mpi_info_pairs(info), pairs{});

    env.set("HDF5_MPI_INFO", "cb_nodes = 2 ; romio_cb_write=enable");
    EXPECT_EQ(read_mpi_info(&info, true), 0);
    EXPECT_EQ(mpi_info_pairs(info), (pairs{{"cb_nodes", "2"}, {"romio_cb_write", "enable"}}));
    tessel_test::captured_file out;
    dump_mpi_info(out.get(), info);
    EXPECT_EQ(out.text(), "Dumping MPI Info Object (up to 1024 bytes per item):\nobject has 2 items\n"
                          "cb_nodes=2\nromio_cb_write=enable\n");
    MPI_Info_free(&info);
}

} // namespace
