#include <malloc.h>

#include "app/programentry.h"

int main(int argc, char** argv) {
  // Large scratch blocks (formatted lines, transfer buffers) stay in the
  // process's heap when released, for the next file: fresh pages cost a fault
  // each, which on a virtual machine is far more than the work done on them.
  mallopt(M_MMAP_THRESHOLD, 512 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return program_entry(argc, argv);
}
