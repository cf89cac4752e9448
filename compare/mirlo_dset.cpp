// Placeholder until the dataset comparison lands.
#include "mirlo_dset.hpp"

nfound_t diff_datasetid(hid_t, hid_t, const char *, const char *, diff_options *)
{
    return 0;
}
