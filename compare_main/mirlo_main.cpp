// Placeholder until the main program lands.
#include "mirlo_main.hpp"

int mirlo_main(int, char **)
{
    return 0;
}
