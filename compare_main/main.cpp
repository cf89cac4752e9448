// pmirlo: compares two HDF5 files, groups or objects under MPI.
#include "mirlo_cmdline.hpp"
#include "mirlo_main.hpp"
#include "mirlo_object_paths.hpp"

#include <cstdio>

int main(int argc, char **argv)
{
    // Shell completion asks for object paths while the user types: that runs
    // at once, without MPI and without the comparison's banner.
    const char *file = nullptr;
    const char *prefix = nullptr;
    if (mirlo_object_paths_request(argc, argv, &file, &prefix))
        return mirlo_list_object_paths(stdout, file, prefix);
    return mirlo_main(argc, argv);
}
