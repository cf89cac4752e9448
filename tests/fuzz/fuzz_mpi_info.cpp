// Fuzzes the reading of MPI hints from HDF5_MPI_INFO: the split into keys and
// values, the info object built from them, and its dump (to /dev/null).
#include "fuzz_common.hpp"
#include "mpi_info.hpp"

#include <mpi.h>

FUZZ_DEFINE_EXIT_HOOK()

namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    MPI_Init(argc, argv);
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    MPI_Comm_set_errhandler(MPI_COMM_SELF, MPI_ERRORS_RETURN);
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::text text(data, size);
    for (const auto &[key, value] : parse_mpi_hints(text.s)) {
        if (key.find(';') != std::string::npos || value.find(';') != std::string::npos ||
            key.find('=') != std::string::npos)
            __builtin_trap();
        if (!key.empty() && (blank(key.front()) || blank(key.back())))
            __builtin_trap();
        if (!value.empty() && (blank(value.front()) || blank(value.back())))
            __builtin_trap();
    }
    setenv("HDF5_MPI_INFO", text.s, 1);
    MPI_Info info = MPI_INFO_NULL;
    (void)read_mpi_info(&info, false);
    if (info == MPI_INFO_NULL)
        __builtin_trap(); // the variable is set, so the object exists
    dump_mpi_info(stdout, info);
    MPI_Info_free(&info);
    unsetenv("HDF5_MPI_INFO");
    return 0;
}
