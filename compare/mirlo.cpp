// Placeholder until the file comparison lands.
#include "mirlo.hpp"

int mpi_size = 1;

nfound_t mirlo(const char *, const char *, const char *, const char *, diff_options *)
{
    return 0;
}
