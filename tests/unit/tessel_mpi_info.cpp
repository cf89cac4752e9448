// Hints from HDF5_MPI_INFO: splitting of the text and the info object.
#include <gtest/gtest.h>

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

TEST(MpiHints, ReadingFillsTheInfoObject)
{
    ASSERT_EQ(bench_info, MPI_INFO_NULL);
    unsetenv("HDF5_MPI_INFO");
    EXPECT_EQ(read_mpi_info(), 0);
    EXPECT_EQ(bench_info, MPI_INFO_NULL);

    // An empty variable creates an empty object.
    setenv("HDF5_MPI_INFO", "", 1);
    EXPECT_EQ(read_mpi_info(), 0);
    ASSERT_NE(bench_info, MPI_INFO_NULL);
    int nkeys = -1;
    MPI_Info_get_nkeys(bench_info, &nkeys);
    EXPECT_EQ(nkeys, 0);

    setenv("HDF5_MPI_INFO", "cb_nodes = 2 ; romio_cb_write=enable", 1);
    EXPECT_EQ(read_mpi_info(), 0);
    MPI_Info_get_nkeys(bench_info, &nkeys);
    EXPECT_EQ(nkeys, 2);
    char value[64] = {};
    int flag = 0;
    MPI_Info_get(bench_info, "cb_nodes", 63, value, &flag);
    EXPECT_TRUE(flag);
    EXPECT_STREQ(value, "2");
    MPI_Info_free(&bench_info);
    bench_info = MPI_INFO_NULL;
    unsetenv("HDF5_MPI_INFO");
}

} // namespace
