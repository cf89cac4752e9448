// A JSON document written as it is produced, without building a tree first:
// a report of 10^4 iterations holds hundreds of thousands of values, and a
// tree of them costs more to build and print than the text itself. The text
// has the layout of nlohmann-json's dump(2) (two blanks per level, "key":
// value, "{}" and "[]" for empty containers, floating-point values with a
// decimal point or an exponent, null for NaN and infinities), so readers see
// the same document whichever wrote it.
#pragma once
#include <string>
#include <vector>

class tessel_json_writer {
public:
    // Appends to *out, which must outlive the writer.
    explicit tessel_json_writer(std::string *out) : out_(out) {}

    // Containers and values. Inside an object every call names its key;
    // inside an array (and for the outermost value) key is nullptr.
    void begin_object(const char *key = nullptr);
    void end_object();
    void begin_array(const char *key = nullptr);
    void end_array();

    void number(const char *key, double v); // the shortest text that reads back as v
    void integer(const char *key, long long v);
    void boolean(const char *key, bool v);
    void null(const char *key);
    // A string of bytes; bytes that are not valid UTF-8 are written as
    // U+FFFD (JSON holds Unicode text only).
    void string(const char *key, const std::string &v);

    // A number, or null when it is not above 0 (a rate or a ratio that
    // could not be measured).
    void positive(const char *key, double v)
    {
        if (v > 0.0)
            number(key, v);
        else
            null(key);
    }

private:
    void element(const char *key); // separator, indentation and key of the next element
    void end(char close);

    std::string *out_;
    // One entry per open container: whether it holds an element yet.
    std::vector<bool> filled_;
};
