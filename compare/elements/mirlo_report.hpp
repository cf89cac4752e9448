// The difference report: table header, positions, escaped characters, and the
// small printers and labels shared by the comparison messages.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_output.hpp"
#include "zarn.hpp"

#include <cstddef>
#include <string>

// A name as messages print it: control characters escaped (empty for null).
std::string shown(const char *name);
inline std::string shown(const std::string &name)
{
    return shown(name.c_str());
}

// True when difference rows are printed (-r or -v, and not -q).
inline bool rows_printed(const mirlo_settings &settings)
{
    return (settings.report_mode || settings.verbose_mode) && !settings.quiet_mode;
}

// Header (when pending) and the position column of one difference row.
void print_position(pair_context *ctx, uint64_t elem_idx, size_t char_idx);
// Coordinates in the full extent of the element at elem_idx of the buffer
// being compared (through the first object's subset when there is one, plus
// the block start), into position[0..rank-1].
void element_position(const pair_context *ctx, uint64_t elem_idx, uint64_t *position);
// Fills position[0..rank-1] from a linear index; returns what is left of it.
uint64_t index_to_position(int rank, uint64_t index, const uint64_t *accumulators, uint64_t *position);
// Row-major element strides of the extent dims in accumulators.
void init_accumulators(int rank, const uint64_t *dims, uint64_t *accumulators);
nfound_t diff_char_pair(const unsigned char *c1, const unsigned char *c2, uint64_t elem_idx, size_t char_idx,
                        pair_context *ctx);
void print_escaped_char(output_sink *out, int c);
void print_block_corners(output_sink *out, uint64_t block, const hsize_t *coords, int rank);

void print_extent(output_sink *out, int rank, const hsize_t *dims);
void print_file_type_name(output_sink *out, hid_t type);
const char *object_type_label(int type);
const char *sign_label(int sign);
const char *class_label(int cls);
void print_difference_count(output_sink *out, nfound_t n);
const char *last_path_component(const char *path);

// "[ i j ... ]": the coordinates, in the whole extent, of the element at
// elem_idx of the buffer being compared (as the position column shows them);
// empty for a scalar.
std::string element_position_label(const pair_context *ctx, uint64_t elem_idx);

// Says on standard error that a comparison could not be made, as one line
// "mirlo error: <file>: <object>: reason" with the names escaped. Every
// failure that makes the exit status 2 is told this way by the process that
// met it; the standard output keeps its report lines.
// loc is any identifier in the file (the file itself, an object in it).
void print_failure_in(hid_t loc, const char *path, const char *fmt, ...) ZARN_FORMAT(3, 4);
// The same for an open object (dataset, group, named datatype, attribute),
// whose path is looked up too; an attribute is named before the reason.
void print_failure_of(hid_t id, const char *fmt, ...) ZARN_FORMAT(2, 3);
