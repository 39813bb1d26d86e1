// memcpy and memset for the harness: the compiler emits calls to them for
// aggregate copies and zeroing, and the kernel links no C library. Volatile
// pointers keep the loops from being recognised as the calls they implement.
#include <stddef.h>

extern "C" void* memcpy(void* Destination, const void* Source, size_t Count) {
  volatile unsigned char* To = static_cast<unsigned char*>(Destination);
  const volatile unsigned char* From = static_cast<const unsigned char*>(Source);
  while (Count-- != 0) {
    *To++ = *From++;
  }
  return Destination;
}

extern "C" void* memset(void* Destination, int Value, size_t Count) {
  volatile unsigned char* To = static_cast<unsigned char*>(Destination);
  while (Count-- != 0) {
    *To++ = static_cast<unsigned char>(Value);
  }
  return Destination;
}
