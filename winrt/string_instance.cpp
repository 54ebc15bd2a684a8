// The members of std::string that the compiler does not expand inline. The standard library's
// archive holds them too, but there all of them share one unwind table and so are kept whole;
// instantiated here, without unwind tables, the linker keeps only those a program calls.
// No exception passes through them: their error reports and operator new end the process.
#include <string>

template class std::basic_string<char>;
