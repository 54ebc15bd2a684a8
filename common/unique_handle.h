// An owner of one handle of any kind, in the style of a unique_any: it closes the handle when it
// goes, hands it over when moved and never copies it. Free of any header so that it builds
// without a C runtime.
//
// Traits give the type, the value that means "no handle" and how to close one:
//   struct Traits { using Type = ...; static Type Invalid(); static void Close(Type); };
#ifndef COMMON_UNIQUE_HANDLE_H
#define COMMON_UNIQUE_HANDLE_H

namespace common {

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() : handle_(Traits::Invalid()) {}
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type Get() const { return handle_; }
    bool IsOpen() const { return handle_ != Traits::Invalid(); }
    // Where a Win32 call stores a new handle (the old one is closed first).
    Type* Receive() {
        Reset();
        return &handle_;
    }
    // Gives the handle up without closing it.
    Type Release() {
        Type handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }
    // Closes the handle held, if any, and holds the new one.
    void Reset(Type handle = Traits::Invalid()) {
        if (handle_ != Traits::Invalid()) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Type handle_;
};

}  // namespace common

#endif
