// Functions registered with atexit (destructors of static objects among them).
#ifndef WINRT_EXIT_HANDLERS_H
#define WINRT_EXIT_HANDLERS_H

namespace winrt {

// Runs the registered functions, the last registered first; each runs once.
void RunExitHandlers();

}  // namespace winrt

#endif
