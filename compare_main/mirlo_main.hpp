// The pmirlo main program.
#pragma once

int mirlo_main(int argc, char **argv);
