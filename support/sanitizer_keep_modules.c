/* Linked into every program of a sanitizer build, never into a normal one.

   Libraries loaded at run time stay loaded until the process ends. The MPI
   library loads transport modules and may unload them while it shuts down;
   memory such a module allocated and kept is reported by LeakSanitizer after
   that, with frames it can no longer name ("<unknown module>"), which no
   suppression can match, so the report fails a run at random. Kept loaded,
   the frames name the module and the suppressions, which name MPI's libraries
   and modules (never ours), match them. The program's own definition of
   dlclose comes before the C library's for every library of the process. */
#include <dlfcn.h>

int dlclose(void *handle)
{
    (void)handle;
    return 0;
}
