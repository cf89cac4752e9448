// Element-by-element comparison of two buffers of any HDF5 element type.
#pragma once
#include "mirlo_options.hpp"

// Compares block_element_count elements of options->mem_type_id in buf1 and
// buf2; container1/2 are the datasets or attributes the buffers came from.
nfound_t diff_array(void *buf1, void *buf2, diff_options *options, hid_t container1, hid_t container2);
