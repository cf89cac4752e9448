/* A module that keeps an allocation in its own data and loses it when it is
   unloaded, as a transport module of the MPI library may. */
#include <stdlib.h>
#include <string.h>

static void *kept;

void leaky_module_allocate(void)
{
    kept = malloc(777);
    memset(kept, 2, 777);
}
