// pmirlo: compares two HDF5 files, groups or objects under MPI.
#include "mirlo_main.hpp"

int main(int argc, char **argv)
{
    return mirlo_main(argc, argv);
}
