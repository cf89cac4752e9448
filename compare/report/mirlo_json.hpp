// The JSON report of a comparison (--json): the document of a run, and the
// byte form in which a worker sends its pair's record to the manager.
//
// Names are bytes. Every name is written as a JSON string in which each byte
// that is not part of valid UTF-8 stands as U+FFFD; a name that is not valid
// UTF-8 also gets a companion field, the same key with "_bytes" appended,
// holding its exact bytes in hexadecimal (two lower-case digits a byte). The
// layout is described in the README ("format": 1).
#pragma once
#include "mirlo_record.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Version of the document layout.
constexpr int MIRLO_JSON_FORMAT = 1;

// The record of a pair as it travels from a worker to the manager, and back
// (-1 when the bytes are not a record).
std::string record_to_bytes(const object_record &record);
int record_from_bytes(const char *bytes, size_t size, object_record *record);

// What the document says about the run besides the pairs.
struct json_run {
    std::string file1, file2;
    std::optional<std::string> object1, object2;
    std::string options;  // the options in effect, as json_options_text made them
    int processes = 1;
    double elapsed_seconds = 0;
    int exit_status = 0;
    nfound_t differences = 0;
    bool not_comparable = false;
    bool contents_equal = true;
};

// Sets what the document says of a run's result: its exit status, its
// differences and its flags.
void json_run_set_outcome(json_run *run, int exit_status, const run_outcome &outcome);

// The options in effect, as a JSON object.
std::string json_options_text(const mirlo_settings &settings);

// Writes the whole document on out. Returns 0, or -1 when it could not be
// written.
int json_write_document(FILE *out, const json_run &run, const run_report &report);

// The counts of a job of many file pairs, as its summary line gives them.
struct job_totals {
    uint64_t compared = 0;      // file pairs compared
    uint64_t differing = 0;     // of them, pairs with differences (status 1)
    uint64_t one_side_only = 0; // files found under one folder only
    uint64_t failed = 0;        // of them, pairs whose comparison failed (status 2)
};

// What the document of a job of many file pairs says about the job.
struct json_job {
    std::string dir1, dir2; // the two folders compared, or
    std::string pair_list;  // the pair list (--pairs), when one was given
    std::string options;    // as json_options_text made them
    int processes = 1;
    double elapsed_seconds = 0;
    int exit_status = 0;
    job_totals totals;
    std::vector<std::string> only_in_first_dir, only_in_second_dir; // relative paths
};

// The document of one comparison as compact text: what a job keeps of each
// file pair, and what travels from the worker that compared it.
std::string json_document_text(const json_run &run, const run_report &report);

// Writes the document of a job: its run, the document of each file pair
// (json_document_text) under "files", in the order compared, and the files
// found under one folder only. Returns 0, or -1 when it could not be written
// (or a pair's document is not one).
int json_write_job(FILE *out, const json_job &job, const std::vector<std::string> &files);

// Names as the document writes them: valid UTF-8 unchanged, every other byte
// as U+FFFD; and the exact bytes in hexadecimal.
bool json_is_utf8(std::string_view text);
std::string json_replace_invalid(std::string_view text);
std::string json_hex_bytes(std::string_view text);
