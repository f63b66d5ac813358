// Bounded scanning and formatting of numbers inside value text forms.
//
// The scanners advance `p` past what they consumed and return false, leaving
// `p` where it was, when the text holds no number or one that does not fit the
// target type. Nothing here reads past the terminating NUL or writes past a
// buffer.
#pragma once

#include <cstdint>
#include <string>

namespace bg::text {

bool scanInt32(const char*& p, int32_t* out);
bool scanInt64(const char*& p, int64_t* out);
// Rejects magnitudes that overflow a double; accepts "inf" and "nan".
bool scanDouble(const char*& p, double* out);
// A decimal count of 0 or more, at most `limit`.
bool scanCount(const char*& p, uint64_t limit, uint64_t* out);
// A field name of 1 to maxLength characters other than ':', then the ':'.
bool scanFieldName(const char*& p, int maxLength);
// Consumes `c` when it is next.
bool scanChar(const char*& p, char c);

// printf into a string of whatever length the result needs.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Shortest text that reads back as the same double.
std::string exactDouble(double v);

} // namespace bg::text
