// The C++ run time's failure paths and printf for setup.exe alone (not for the
// Windows test programs, which keep the full run time).
//
// setup.exe is built without exception support: its own code throws and
// catches nothing, so the only exceptions that could ever be raised are the
// library's own (an allocation that fails, a string past its maximum size).
// None is caught anywhere, so each already ended the program through
// std::terminate and abort(). Here each ends it through abort() directly,
// which keeps that outcome and leaves out the unwinder, the exception
// classes, the copy-on-write strings they carry and the demangler of the
// verbose terminate handler, more than half of the program's former size.
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// One allocation as the library's operator new makes it: the new handler,
// when one is set, may free memory and is asked again; without one the
// throwing forms end the program, the nothrow forms give null.
void* Allocate(std::size_t size, bool endOnFailure) {
  for (;;) {
    if (void* block = std::malloc(size ? size : 1)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) {
      if (endOnFailure) std::abort();
      return nullptr;
    }
    handler();
  }
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, true); }
void* operator new[](std::size_t size) { return Allocate(size, true); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, false);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, false);
}

// What the library's headers call where they would throw.
namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_bad_function_call() { std::abort(); }
}  // namespace std

// A call of a pure virtual function (a program error) ends the program as
// std::terminate would, without the terminate machinery.
extern "C" void __cxa_pure_virtual() { std::abort(); }

// The library's headers switch the C++ printf family to mingw-w64's own
// implementation, which brings its floating-point conversion along (about
// 30 KB). The program formats integers and strings only, whose conversions
// the system's msvcrt.dll makes alike, so they go to msvcrt's _vsnprintf
// (in every msvcrt.dll since Windows 95). It neither terminates a text that
// fills the buffer nor tells the full length of one that was cut (-1): here
// the text is always terminated, and a cut one returns the buffer's size.
// Every caller only asks whether the text was cut (a result at least the
// buffer's size), as the C99 rule answers too; mingw-w64's C99 wrapper,
// which measures the whole text once more, is left out.
extern "C" int __cdecl _vsnprintf(char* buffer, size_t size, const char* format, va_list args);
extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format,
                                         va_list args) {
  if (size == 0) return static_cast<int>(size) + 1;
  int length = _vsnprintf(buffer, size, format, args);
  if (length >= 0 && static_cast<size_t>(length) < size) return length;
  buffer[size - 1] = '\0';
  return static_cast<int>(size);
}

// The start-up pieces below are the shipped i686 program's: the x86_64 twin,
// which stands in for it in the tests, keeps the library's own.
#if defined(__i386__)

// mingw-w64's start-up calls this to apply the pseudo-relocations: fix-ups
// of data that a program imports from a DLL by address (auto-import). A
// static program of ours has none, so the library's version, with the
// section walker and the error reporting it brings (about 3 KB), has nothing
// to do. Should a change ever bring one in, the linker's list is not empty
// and the program ends at its first start, before it could use a wrong
// address.
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST__;
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST_END__;
extern "C" void _pei386_runtime_relocator() {
  if (&__RUNTIME_PSEUDO_RELOC_LIST__ != &__RUNTIME_PSEUDO_RELOC_LIST_END__) std::abort();
}

// The C run time's handler of a failed math function (a domain or range
// error), which mingw-w64's start-up installs: its default prints to stderr,
// which a windowed program has not, and brings fprintf and the stream table
// along. The program calls no math function; a failure is reported as not
// handled, which leaves the function's own result and errno as they are.
struct _exception;
extern "C" int __cdecl _matherr(struct _exception*) { return 0; }

// mingw-w64's TLS callback hands each thread's end to the destructors of
// the thread keys registered with __mingwthr_key_dtor (libgcc's thread
// layer registers one for each key it makes). The program makes none: its
// one thread, its C++ code built without exceptions, nothing that asks for
// a key. The library's version, with its lock and its list, is left out;
// should anything register a key, it brings that version in with its
// registration function, and the link fails on the second definition.
extern "C" int __mingw_TLScallback(void*, unsigned long, void*) { return 1; }

#endif  // __i386__
