#include "serial/standard_descriptors.h"

// The port and the wake-up event are handles here, never C runtime descriptors: nothing can take the
// standard descriptors' numbers.
void guardStandardDescriptors() {}
