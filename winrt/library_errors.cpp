// The standard library's error reports (a std::string grown past its maximum size and the like).
// They would throw exceptions that the programs never catch, which ends the process; here they
// end it directly, as abort does (exit code 3), so no exception classes are linked in.
#include <stdlib.h>

namespace std {
void __throw_logic_error(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
}  // namespace std
